#include "mCodeSite.h"
#include "mCodeSiteHelper.h"

#include <codesite/Capture.h>
#include <rtl/Assert.h>
#include <rtl/SysUtils.h>
#include <rtl/Units.h>

#include <QRegularExpression>
#include <QTest>

#include <optional>

#include <dlfcn.h>

static void ThisProgramMarker() {}

class TestCodeSiteHelper : public QObject {
    Q_OBJECT

    std::optional<TUnits> FUnits;

private slots:
    void init()
    {
        FUnits.emplace(std::initializer_list<TUnitInit>{
            {mCodeSite::Initialization, mCodeSite::Finalization},
            {mCodeSiteHelper::Initialization, mCodeSiteHelper::Finalization},
        });
    }
    void cleanup() { FUnits.reset(); }

    void startUpInstallsTheHandlerAndShutDownLeavesIt()
    {
        QVERIFY(AssertErrorProc == &AssertErrorHandler);
        FUnits.reset();
        QVERIFY(AssertErrorProc == &AssertErrorHandler);
    }

    void handlerLogsThenRaises_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("line");
        QTest::addColumn<quint64>("address");
        QTest::addColumn<QString>("expected");
        QTest::newRow("observer index check")
            << "Assertion failure" << "C:\\Work\\Updater\\dvclib\\source\\m.dvcObserver.pas" << 281 << quint64(0x0052A3F4)
            << "AssertionFiled - File: m.dvcObserver.pas, Line: 281, Addr: 0052A3F4, Msg: Assertion failure";
        QTest::newRow("empty message")
            << QString() << "/home/build/dvclib/source/m.dvcObserver.cpp" << 305 << quint64(0xABCDEF)
            << "AssertionFiled - File: m.dvcObserver.cpp, Line: 305, Addr: 00ABCDEF, Msg: Assertion failed";
        QTest::newRow("no separator")
            << "x" << "m.dvcObserver.pas" << 1 << quint64(0)
            << "AssertionFiled - File: m.dvcObserver.pas, Line: 1, Addr: 00000000, Msg: x";
        QTest::newRow("drive only")
            << "x" << "C:m.dvcObserver.pas" << 2 << quint64(1)
            << "AssertionFiled - File: m.dvcObserver.pas, Line: 2, Addr: 00000001, Msg: x";
        QTest::newRow("mixed separators, last wins")
            << "x" << "C:\\a/b\\c/unit.cpp" << 3 << quint64(2)
            << "AssertionFiled - File: unit.cpp, Line: 3, Addr: 00000002, Msg: x";
        QTest::newRow("wide address keeps its low 32 bits")
            << "x" << "/a/b.cpp" << 4 << quint64(0x00007F12DEADBEEFull)
            << "AssertionFiled - File: b.cpp, Line: 4, Addr: DEADBEEF, Msg: x";
        QTest::newRow("negative line")
            << "x" << "b.cpp" << -1 << quint64(3)
            << "AssertionFiled - File: b.cpp, Line: -1, Addr: 00000003, Msg: x";
    }
    void handlerLogsThenRaises()
    {
        QFETCH(QString, message);
        QFETCH(QString, path);
        QFETCH(int, line);
        QFETCH(quint64, address);
        QFETCH(QString, expected);
        TCodeSiteCapture capture;
        try {
            AssertErrorHandler(message, path, line, reinterpret_cast<void*>(quintptr(address)));
            QFAIL("no exception");
        } catch (const EAssertionFailed& e) {
            QCOMPARE(e.Message(), expected);
        }
        const QList<TCodeSiteRecord> records = capture.Records();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().Logger, CodeSite());
        QCOMPARE(records.first().Kind, TCodeSiteMsgKind::Error);
        QCOMPARE(records.first().Text, expected);
    }

    void failedAssertGoesThroughTheHandler()
    {
        // Even with an owned logger around, the record goes to the global logger.
        TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("TdvcObserver"), 0, 0);
        TCodeSiteCapture capture;
        int line = 0;
        QString raised;
        try {
            line = __LINE__ + 1;
            Assert(capture.Records().size() > 5, QStringLiteral("Assertion failure"));
        } catch (const EAssertionFailed& e) {
            raised = e.Message();
        }
        const QRegularExpression shape(QStringLiteral(
            "^AssertionFiled - File: tst_mcodesitehelper\\.cpp, Line: %1, Addr: [0-9A-F]{8}, Msg: Assertion failure$").arg(line));
        QVERIFY2(shape.match(raised).hasMatch(), qPrintable(raised));
        QCOMPARE(capture.Records().size(), 1);
        QCOMPARE(capture.Records().first().Text, raised);
        QCOMPARE(capture.Records().first().Logger, CodeSite());
        QVERIFY(!raised.contains(QStringLiteral("Addr: 00000000")));

        // The address is an offset in this program, the same on every run: added to the
        // program's load address it lands inside the program again.
        Dl_info self{};
        QVERIFY(::dladdr(reinterpret_cast<void*>(&ThisProgramMarker), &self) != 0);
        bool ok = false;
        const quintptr offset = raised.section(QStringLiteral("Addr: "), 1).left(8).toULongLong(&ok, 16);
        QVERIFY(ok);
        Dl_info there{};
        QVERIFY(::dladdr(static_cast<char*>(self.dli_fbase) + offset, &there) != 0);
        QCOMPARE(there.dli_fbase, self.dli_fbase);
    }

    void logExitMethodCarriesTheResult_data()
    {
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("lineEnd");
        QTest::newRow("False") << false << "[TsvcBsl430] Exit CustomSelectedFirmware = False";
        QTest::newRow("True") << true << "[TsvcBsl430] Exit CustomSelectedFirmware = True";
    }
    void logExitMethodCarriesTheResult()
    {
        QFETCH(bool, result);
        QFETCH(QString, lineEnd);
        TCodeSiteLogger* logger = TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("TsvcBsl430"), 14745599, 0);
        TCodeSiteCapture capture;
        LogExitMethod(logger, QStringLiteral("CustomSelectedFirmware"), result);
        const QList<TCodeSiteRecord> records = capture.Records();
        QCOMPARE(records.size(), 1);
        const TCodeSiteRecord& r = records.first();
        QCOMPARE(r.Logger, logger);
        QCOMPARE(r.Kind, TCodeSiteMsgKind::Exit);
        QCOMPARE(r.Text, QStringLiteral("CustomSelectedFirmware"));
        QCOMPARE(r.Value, QVariant(result));
        QVERIFY2(r.Line().endsWith(lineEnd), qPrintable(r.Line()));
    }

    void enterAndExitAroundAFailingOperation()
    {
        // The callers' pattern: the exit record is written also when an exception leaves.
        TCodeSiteLogger* logger = TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("TsvcBsl430"), 14745599, 0);
        TCodeSiteCapture capture;
        auto operation = [&] {
            bool result = false;
            logger->EnterMethod(QStringLiteral("Initialize"));
            struct TExit {
                TCodeSiteLogger* Logger;
                bool& Result;
                ~TExit() { LogExitMethod(Logger, QStringLiteral("Initialize"), Result); }
            } exit{logger, result};
            throw EListError(QStringLiteral("broken"));
        };
        QVERIFY_THROWS_EXCEPTION(EListError, operation());
        const QList<TCodeSiteRecord> records = capture.RecordsOf(logger);
        QCOMPARE(records.size(), 2);
        QCOMPARE(records.at(0).Kind, TCodeSiteMsgKind::Enter);
        QCOMPARE(records.at(1).Kind, TCodeSiteMsgKind::Exit);
        QCOMPARE(records.at(1).ValueText(), QStringLiteral("False"));
    }
};

QTEST_GUILESS_MAIN(TestCodeSiteHelper)
#include "tst_mcodesitehelper.moc"
