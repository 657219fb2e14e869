// Close signals taken on the main loop: each one reaches the handler there, by name, and the
// dispositions found before are back once the object has gone.

#include <linux/CloseSignals.h>

#include <QCoreApplication>
#include <QTest>

#include <csignal>

class TestCloseSignals : public QObject {
    Q_OBJECT
private slots:
    void signalsReachTheLoop()
    {
        // What was there before: ignored.
        for (const int signal : {SIGTERM, SIGINT, SIGHUP})
            std::signal(signal, SIG_IGN);
        QStringList received;
        {
            const TCloseSignals taker([&](int ASignal) { received << TCloseSignals::Name(ASignal); });
            QVERIFY(taker.Active());
            for (const int signal : {SIGTERM, SIGINT, SIGHUP})
                QCOMPARE(::raise(signal), 0);
            // Raised on this thread: the handler ran already, the loop has not yet.
            QVERIFY(received.isEmpty());
            QTRY_COMPARE(received, (QStringList{"SIGTERM", "SIGINT", "SIGHUP"}));
        }
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            struct sigaction now {};
            QCOMPARE(::sigaction(signal, nullptr, &now), 0);
            QVERIFY(now.sa_handler == SIG_IGN);
            std::signal(signal, SIG_DFL);
        }
    }
};

QTEST_GUILESS_MAIN(TestCloseSignals)
#include "tst_close_signals.moc"
