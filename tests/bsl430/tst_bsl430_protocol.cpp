// The framing layer over a scripted link: answers that come late, after the command that
// asked for them has given up, must never be taken as the answer to the next command.

#include "Protocol.h"
#include "bsl430.h"

#include <QtTest>

#include <array>
#include <deque>

namespace {

using namespace bsl430;

constexpr int kTimeoutMs = 2000;

// A link on a virtual clock: each command's answer arrives a set time after the command; a
// read waits (virtually) up to its timeout.
class ScriptedLink final : public Transport {
public:
    struct Answer {
        std::uint8_t message;
        int delayMs;
    };
    std::deque<Answer> script;  // one per command written, in order
    long long nowMs = 0;
    int written = 0;

    bool open(std::uint16_t, std::uint16_t, int, int) override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    int count(std::uint16_t, std::uint16_t) override { return 1; }
    std::string lastError() const override { return {}; }

    bool write(const Report&) override {
        ++written;
        if (script.empty()) return true;
        const Answer a = script.front();
        script.pop_front();
        Report r{};
        r[0] = kReportId;
        r[1] = 2;
        r[2] = kAnswerMessage;
        r[3] = a.message;
        FPending.push_back({nowMs + a.delayMs, r});
        return true;
    }

    ReadStatus read(Report& AReport, int ATimeoutMs) override {
        if (!FPending.empty() && FPending.front().at <= nowMs + ATimeoutMs) {
            nowMs = std::max(nowMs, FPending.front().at);
            AReport = FPending.front().report;
            FPending.pop_front();
            return ReadStatus::Ok;
        }
        nowMs += ATimeoutMs;
        return ReadStatus::Timeout;
    }

private:
    struct Pending {
        long long at;
        Report report;
    };
    std::deque<Pending> FPending;
};

}  // namespace

class TestBslProtocol : public QObject {
    Q_OBJECT

private slots:
    void lateAnswerIsDropped_data() {
        QTest::addColumn<int>("lateByMs");
        QTest::newRow("just after the timeout") << 1;
        QTest::newRow("50 ms late") << 50;
        QTest::newRow("90 ms late") << 90;
    }

    void lateAnswerIsDropped() {
        QFETCH(int, lateByMs);
        ScriptedLink link;
        Protocol protocol(link, kTimeoutMs);
        // The mass erase answers "success" too late; the erase that follows is refused.
        link.script = {{BSL430_MSG_OK, kTimeoutMs + lateByMs},
                       {BSL430_MSG_FLASH_FAIL_BIT_SET, 10},
                       {BSL430_MSG_OK, 10}};
        QCOMPARE(protocol.massErase().code, BSL430_ERR_NO_ANSWER);
        protocol.newSession();  // closed and opened again
        QCOMPARE(protocol.eraseSegment(0xFE00).code, BSL430_MSG_FLASH_FAIL_BIT_SET);
        // Settled again: the next command waits for nothing but its own answer.
        const long long before = link.nowMs;
        QCOMPARE(protocol.toggleInfo().code, BSL430_MSG_OK);
        QCOMPARE(link.nowMs - before, 10);
    }

    // A device that went silent costs one time-out, not one per command: the session's later
    // commands fail at once, unsent, until the boot loader is opened anew.
    void silentDeviceFailsLaterCommandsAtOnce() {
        ScriptedLink link;
        Protocol protocol(link, kTimeoutMs);
        QCOMPARE(protocol.eraseSegment(0x8000).code, BSL430_ERR_NO_ANSWER);  // never answered
        const long long silentAt = link.nowMs;
        const std::uint8_t chunk[4] = {1, 2, 3, 4};
        for (int i = 0; i < 100; ++i) QCOMPARE(protocol.eraseSegment(0x8200).code, BSL430_ERR_NO_ANSWER);
        QCOMPARE(protocol.rxDataBlockFast(0x8000, chunk).code, BSL430_ERR_NO_ANSWER);
        const Reply crc = protocol.crcCheck(0x8000, 4);
        QCOMPARE(crc.code, BSL430_ERR_NO_ANSWER);
        QVERIFY(crc.error.find("not sent") != std::string::npos);
        QCOMPARE(link.nowMs, silentAt);
        QCOMPARE(link.written, 1);

        protocol.newSession();
        link.script = {{BSL430_MSG_OK, 5}};
        QCOMPARE(protocol.toggleInfo().code, BSL430_MSG_OK);
        QCOMPARE(link.written, 2);
    }

    // A message byte in the range of the library's own codes is no boot loader message.
    void messageInLibraryRangeIsBadAnswer() {
        ScriptedLink link;
        Protocol protocol(link, kTimeoutMs);
        link.script = {{BSL430_ERR_NO_ANSWER, 5}, {BSL430_MSG_PASSWORD_ERROR, 5}};
        const std::array<std::uint8_t, 32> password{};
        QCOMPARE(protocol.rxPassword(password).code, BSL430_ERR_BAD_ANSWER);
        QCOMPARE(protocol.rxPassword(password).code, BSL430_MSG_PASSWORD_ERROR);
    }

    void answersInTimeNeedNoSettling() {
        ScriptedLink link;
        Protocol protocol(link, kTimeoutMs);
        link.script = {{BSL430_MSG_OK, 30}, {BSL430_MSG_PASSWORD_ERROR, 5}};
        QCOMPARE(protocol.massErase().code, BSL430_MSG_OK);
        QCOMPARE(protocol.eraseSegment(0xFE00).code, BSL430_MSG_PASSWORD_ERROR);
        QCOMPARE(link.nowMs, 35);
    }
};

QTEST_GUILESS_MAIN(TestBslProtocol)
#include "tst_bsl430_protocol.moc"
