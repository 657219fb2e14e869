#include <rtl/Assert.h>
#include <rtl/SysUtils.h>

#include <QTest>

namespace {

struct TSeen {
    int Calls = 0;
    QString Message, FileName;
    std::int32_t Line = 0;
    void* Address = nullptr;
} Seen;

void RecordingProc(const QString& AMessage, const QString& AFileName, std::int32_t ALineNumber, void* AErrorAddr)
{
    ++Seen.Calls;
    Seen.Message = AMessage;
    Seen.FileName = AFileName;
    Seen.Line = ALineNumber;
    Seen.Address = AErrorAddr;
}

// Restores the hook after each test.
struct THookGuard {
    TAssertErrorProc Saved = AssertErrorProc;
    ~THookGuard() { AssertErrorProc = Saved; }
};

}  // namespace

class TestAssert : public QObject {
    Q_OBJECT
private slots:
    void init() { Seen = TSeen(); }

    void defaultRaisesAssertionFailed_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expectedStart");
        QTest::newRow("with message") << "Index out of range" << "Index out of range (";
        QTest::newRow("empty message") << QString() << "Assertion failed (";
    }
    void defaultRaisesAssertionFailed()
    {
        QFETCH(QString, message);
        QFETCH(QString, expectedStart);
        const int line = __LINE__ + 2;
        try {
            Assert(1 + 1 == 3, message);
            QFAIL("no exception");
        } catch (const EAssertionFailed& e) {
            QCOMPARE(e.Message(), expectedStart + QString::fromUtf8(__FILE__) + QStringLiteral(", line %1)").arg(line));
        }
    }

    void hookGetsMessageFileLineAndAddress()
    {
        THookGuard guard;
        AssertErrorProc = RecordingProc;
        const int line = __LINE__ + 1;
        Assert(false, QStringLiteral("Assertion failure"));
        // An installed hook that returns lets the program go on here.
        QCOMPARE(Seen.Calls, 1);
        QCOMPARE(Seen.Message, QStringLiteral("Assertion failure"));
        QCOMPARE(Seen.FileName, QString::fromUtf8(__FILE__));
        QCOMPARE(Seen.Line, line);
        QVERIFY(Seen.Address != nullptr);

        void* first = Seen.Address;
        Assert(false);
        QCOMPARE(Seen.Calls, 2);
        QCOMPARE(Seen.Message, QString());
        QVERIFY(Seen.Address != first);  // each assertion has its own code address
    }

    void holdingConditionDoesNothing()
    {
        THookGuard guard;
        AssertErrorProc = RecordingProc;
        int evaluated = 0;
        auto message = [&] {
            ++evaluated;
            return QStringLiteral("never");
        };
        Assert(true, message());
        Assert(2 > 1);
        QCOMPARE(Seen.Calls, 0);
        QCOMPARE(evaluated, 0);
    }
};

QTEST_GUILESS_MAIN(TestAssert)
#include "tst_assert.moc"
