// The simulated analyzer's boot loaders driven with raw HID reports.

#include "SimHost.h"

#include <QtTest>

using namespace simtest;
using sim::Analyzer;
using sim::Mode;

class TestSimBootLoader : public QObject {
    Q_OBJECT
private slots:
    void happyPath();
};

void TestSimBootLoader::happyPath()
{
    auto a = Analyzer::create();
    SimHost host(a);
    QVERIFY(host.startRamBsl());
    QCOMPARE(a->mode(), Mode::RamBsl);
    QCOMPARE(host.call({0x19}), (Bytes{0x3A, 0x00, 0x07, 0x08, 0x38}));
    QCOMPARE(host.call(SimHost::rxBlock(0x8000, {0x12, 0x34})), SimHost::ok());
    QCOMPARE(a->read(0x8000, 2), (Bytes{0x12, 0x34}));
}

QTEST_APPLESS_MAIN(TestSimBootLoader)
#include "tst_sim_bootloader.moc"
