#include "mCodeSite.h"

#include <codesite/Capture.h>
#include <rtl/SysUtils.h>
#include <rtl/Units.h>

#include <QTest>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>
#include <memory>
#include <optional>

namespace {

const TColor Grey = 8421504;
const TColor LightYellow = 14745599;
const TColor Lavender = 16443110;

class TLoggingObject : public TCodeSiteLogObject {
public:
    explicit TLoggingObject(bool* ADestroyed = nullptr) : FDestroyed(ADestroyed) {}
    ~TLoggingObject() override
    {
        if (FDestroyed)
            *FDestroyed = true;
    }

private:
    bool* FDestroyed;
};

class TLoggingThread : public TCodeSiteLogThread {
protected:
    void Execute() override { Log()->EnterMethod(QStringLiteral("Execute")); }
};

class TLoggingDataModule : public TCodeSiteLogDataModule {
public:
    TLoggingDataModule()
    {
        OnCreate = [this](TObject*) { Log()->EnterMethod(QStringLiteral("DataModuleCreate")); };
    }
};

// Creates one object of the named base and hands out its ICodeSiteLog; frees it on destruction.
struct TBaseUnderTest {
    explicit TBaseUnderTest(const QString& AKind)
    {
        if (AKind == QLatin1String("object")) {
            Object = TInterfaceRef<TCodeSiteLogObject>(new TLoggingObject);
            Intf = Object.Get();
        } else if (AKind == QLatin1String("thread")) {
            Thread.reset(TThread::Create<TLoggingThread>());
            Thread->WaitFor();
            Intf = Thread.get();
        } else {
            DataModule = CreateDataModule<TLoggingDataModule>();
            Intf = DataModule.get();
        }
    }
    TInterfaceRef<TCodeSiteLogObject> Object;
    TThreadPtr<TLoggingThread> Thread;
    TOwned<TLoggingDataModule> DataModule;
    ICodeSiteLog* Intf = nullptr;
};

}  // namespace

class TestCodeSiteFactory : public QObject {
    Q_OBJECT

    std::optional<TUnits> FUnits;

private slots:
    void init() { FUnits.emplace(std::initializer_list<TUnitInit>{{mCodeSite::Initialization, mCodeSite::Finalization}}); }
    void cleanup() { FUnits.reset(); }

    void eachObserverThreadInstanceGetsItsOwnCategory()
    {
        TCodeSiteLogger* first = TCodeSiteLoggerFactory::CreateCodeSiteLogger(QStringLiteral("TdvcObserverTh"), Grey, 0);
        TCodeSiteLogger* second = TCodeSiteLoggerFactory::CreateCodeSiteLogger(QStringLiteral("TdvcObserverTh"), Grey, 0);
        TCodeSiteLogger* third = TCodeSiteLoggerFactory::CreateCodeSiteLogger(QStringLiteral("TdvcObserverTh"), Grey, 0);
        QCOMPARE(first->Category(), QStringLiteral("TdvcObserverTh"));
        QCOMPARE(second->Category(), QStringLiteral("TdvcObserverTh[1]"));
        QCOMPARE(third->Category(), QStringLiteral("TdvcObserverTh[2]"));
        for (TCodeSiteLogger* logger : {first, second, third}) {
            QCOMPARE(logger->CategoryColor(), Grey);
            QCOMPARE(logger->CategoryFontColor(), TColor(0));
            QCOMPARE(TCodeSiteLoggerFactory::GetLoggers(logger->Category()), logger);
        }
        QVERIFY(first != second && second != third && first != third);

        // Records show the new category and its colours.
        TCodeSiteCapture capture;
        third->EnterMethod(QStringLiteral("Execute"));
        const TCodeSiteRecord r = capture.Records().first();
        QCOMPARE(r.Category, QStringLiteral("TdvcObserverTh[2]"));
        QCOMPARE(r.CategoryColor, Grey);
    }

    void counterTakesTheFirstFreeName_data()
    {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("expected");
        QTest::newRow("bare name free") << QStringList{"TdvcObserverTh[1]"} << "TdvcObserverTh";
        QTest::newRow("skips a taken counter") << QStringList{"TdvcObserverTh", "TdvcObserverTh[1]", "TdvcObserverTh[3]"} << "TdvcObserverTh[2]";
        QTest::newRow("case differs") << QStringList{"tdvcobserverth"} << "TdvcObserverTh";
        QTest::newRow("ten and more") << QStringList{"T", "T[1]", "T[2]", "T[3]", "T[4]", "T[5]", "T[6]", "T[7]", "T[8]", "T[9]"} << "T[10]";
    }
    void counterTakesTheFirstFreeName()
    {
        QFETCH(QStringList, present);
        QFETCH(QString, expected);
        for (const QString& category : present)
            TCodeSiteLoggerFactory::CreateCodeSiteLogger(category);
        const QString base = expected.left(expected.indexOf(u'[') < 0 ? expected.size() : expected.indexOf(u'['));
        QCOMPARE(TCodeSiteLoggerFactory::CreateCodeSiteLogger(base, Grey, 0)->Category(), expected);
    }

    void createOrSelectKeepsTheFirstLoggerAndItsColours()
    {
        TCodeSiteLogger* first = TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("TsvcBsl430"), LightYellow, 0);
        TCodeSiteLogger* again = TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("TsvcBsl430"), Lavender, 0x0000FF);
        QCOMPARE(again, first);
        QCOMPARE(first->Category(), QStringLiteral("TsvcBsl430"));
        QCOMPARE(first->CategoryColor(), LightYellow);
        QCOMPARE(first->CategoryFontColor(), TColor(0));
    }

    void createOrSelectSelectsWhatTheCounterFormMade()
    {
        TCodeSiteLogger* made = TCodeSiteLoggerFactory::CreateCodeSiteLogger(QStringLiteral("BSL"), Lavender, 0);
        QCOMPARE(TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("BSL"), Grey, 0), made);
    }

    void categoriesMatchExactly()
    {
        TCodeSiteLogger* upper = TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("BSL"), Lavender, 0);
        TCodeSiteLogger* lower = TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("bsl"), Grey, 0);
        QVERIFY(upper != lower);
        QCOMPARE(lower->Category(), QStringLiteral("bsl"));
        QCOMPARE(lower->CategoryColor(), Grey);
        QCOMPARE(upper->CategoryColor(), Lavender);
        QVERIFY_THROWS_EXCEPTION(EListError, TCodeSiteLoggerFactory::GetLoggers(QStringLiteral("Bsl")));
    }

    void oneArgumentFormKeepsDefaultColours()
    {
        TCodeSiteLogger* logger = TCodeSiteLoggerFactory::CreateCodeSiteLogger(QStringLiteral("Plain"));
        QCOMPARE(logger->Category(), QStringLiteral("Plain"));
        QCOMPARE(logger->CategoryColor(), TCodeSiteLogger::DefaultCategoryColor);
        QCOMPARE(logger->CategoryFontColor(), TCodeSiteLogger::DefaultCategoryFontColor);
        QCOMPARE(TCodeSiteLoggerFactory::Loggers(QStringLiteral("Plain")), logger);
    }

    void oneArgumentFormOverAStoredCategoryLeavesTheOldLoggerAlive()
    {
        const int before = TCodeSiteCapture::LiveLoggerCount();
        TCodeSiteLogger* old = TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("TsvcBsl430"), LightYellow, 0);
        TCodeSiteLogObject* holder = new TLoggingObject;
        TInterfaceRef<TCodeSiteLogObject> ref(holder);
        holder->SetLog(old);

        TCodeSiteLogger* replacement = TCodeSiteLoggerFactory::CreateCodeSiteLogger(QStringLiteral("TsvcBsl430"));
        QVERIFY(replacement != old);
        QCOMPARE(TCodeSiteLoggerFactory::GetLoggers(QStringLiteral("TsvcBsl430")), replacement);
        QCOMPARE(TCodeSiteCapture::LiveLoggerCount(), before + 2);

        // The holder still logs through its (retired) logger.
        TCodeSiteCapture capture;
        holder->Log()->EnterMethod(QStringLiteral("Initialize"));
        QCOMPARE(capture.RecordsOf(old).size(), 1);
        QCOMPARE(capture.Records().first().CategoryColor, LightYellow);

        FUnits.reset();
        QCOMPARE(TCodeSiteCapture::LiveLoggerCount(), before);
    }

    void unknownCategoryIsItemNotFound_data()
    {
        QTest::addColumn<bool>("withDictionary");
        QTest::newRow("after start-up") << true;
        QTest::newRow("after shut-down") << false;
    }
    void unknownCategoryIsItemNotFound()
    {
        QFETCH(bool, withDictionary);
        if (!withDictionary)
            FUnits.reset();
        try {
            TCodeSiteLoggerFactory::GetLoggers(QStringLiteral("TsvcResMng"));
            QFAIL("no exception");
        } catch (const EListError& e) {
            QCOMPARE(e.Message(), QStringLiteral("Item not found"));
        }
    }

    void everyBaseFallsBackToTheGlobalLogger_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("object") << "object";
        QTest::newRow("thread") << "thread";
        QTest::newRow("data module") << "datamodule";
    }
    void everyBaseFallsBackToTheGlobalLogger()
    {
        QFETCH(QString, kind);
        TCodeSiteCapture capture;
        TBaseUnderTest base(kind);
        // What the object logged while being made went to the global logger.
        if (kind != QLatin1String("object"))
            QCOMPARE(capture.RecordsOf(CodeSite()).size(), 1);
        QCOMPARE(base.Intf->Log(), CodeSite());

        TCodeSiteLogger* own = TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("Own"), Grey, 0);
        base.Intf->SetLog(own);
        QCOMPARE(base.Intf->Log(), own);
        QCOMPARE(base.Intf->GetLog(), own);
        base.Intf->Log()->Send(QStringLiteral("AValue"), QStringLiteral("1"));
        QCOMPARE(capture.RecordsOf(own).size(), 1);

        base.Intf->SetLog(nullptr);
        QCOMPARE(base.Intf->Log(), CodeSite());
    }

    void referenceCounting()
    {
        // The plain-object base goes with its last interface reference ...
        bool destroyed = false;
        {
            TInterfaceRef<ICodeSiteLog> outer;
            {
                TInterfaceRef<TCodeSiteLogObject> inner(new TLoggingObject(&destroyed));
                outer = inner;
                QCOMPARE(inner->RefCount(), 2);
            }
            QVERIFY(!destroyed);
        }
        QVERIFY(destroyed);

        // ... the thread and data-module bases do not count.
        TThreadPtr<TLoggingThread> thread(TThread::Create<TLoggingThread>());
        QCOMPARE(thread->AddRef(), -1);
        QCOMPARE(thread->Release(), -1);
        { TInterfaceRef<ICodeSiteLog> ref(thread.get()); }
        thread->WaitFor();
        auto dataModule = CreateDataModule<TLoggingDataModule>();
        QCOMPARE(dataModule->AddRef(), -1);
        QCOMPARE(dataModule->Release(), -1);
        { TInterfaceRef<ICodeSiteLog> ref(dataModule.get()); }
        QCOMPARE(dataModule->Log(), CodeSite());
    }

    void shutDownFreesEveryFactoryLoggerAndKeepsTheGlobalOne()
    {
        CodeSite();
        const int before = TCodeSiteCapture::LiveLoggerCount();
        TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("TsvcBsl430"), LightYellow, 0);
        TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("BSL"), Lavender, 0);
        for (int i = 0; i < 3; ++i)
            TCodeSiteLoggerFactory::CreateCodeSiteLogger(QStringLiteral("TdvcObserverTh"), Grey, 0);
        QCOMPARE(TCodeSiteCapture::LiveLoggerCount(), before + 5);
        QVERIFY(TCodeSiteLoggerFactory::HasLoggers());

        FUnits.reset();
        QVERIFY(!TCodeSiteLoggerFactory::HasLoggers());
        QCOMPARE(TCodeSiteCapture::LiveLoggerCount(), before);
        TCodeSiteCapture capture;
        CodeSite()->SendError(QStringLiteral("still here"));
        QCOMPARE(capture.RecordsOf(CodeSite()).size(), 1);

        // A second start-up begins with an empty dictionary.
        FUnits.emplace(std::initializer_list<TUnitInit>{{mCodeSite::Initialization, mCodeSite::Finalization}});
        QCOMPARE(TCodeSiteLoggerFactory::CreateCodeSiteLogger(QStringLiteral("BSL"), Lavender, 0)->Category(), QStringLiteral("BSL"));
    }

    void threadsSelectingOneCategoryAtOnceShareOneLogger()
    {
        CodeSite();
        const int before = TCodeSiteCapture::LiveLoggerCount();
        constexpr int Threads = 8;
        std::vector<TCodeSiteLogger*> got(Threads, nullptr);
        std::latch start(Threads);
        std::vector<std::thread> threads;
        for (int i = 0; i < Threads; ++i)
            threads.emplace_back([&, i] {
                start.arrive_and_wait();
                got[i] = TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("TTask"), Grey, 0);
            });
        for (std::thread& thread : threads)
            thread.join();
        for (TCodeSiteLogger* logger : got)
            QCOMPARE(logger, got.front());
        QCOMPARE(TCodeSiteCapture::LiveLoggerCount(), before + 1);
    }

    void aCallAfterShutDownGetsTheGlobalLoggerAndMakesNothing()
    {
        CodeSite();
        FUnits.reset();
        const int before = TCodeSiteCapture::LiveLoggerCount();
        QCOMPARE(TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("late"), Grey, 0), CodeSite());
        QCOMPARE(TCodeSiteLoggerFactory::CreateCodeSiteLogger(QStringLiteral("late")), CodeSite());
        QCOMPARE(TCodeSiteLoggerFactory::CreateCodeSiteLogger(QStringLiteral("late"), Grey, 0), CodeSite());
        QVERIFY(!TCodeSiteLoggerFactory::HasLoggers());
        QCOMPARE(TCodeSiteCapture::LiveLoggerCount(), before);
    }
};

QTEST_GUILESS_MAIN(TestCodeSiteFactory)
#include "tst_mcodesite.moc"
