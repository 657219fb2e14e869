// The simulated analyzer as a device: injected faults, the timing model, links, the bus and
// the command log.

#include "SimHost.h"

#include <atomic>
#include <thread>

#include <QtTest>

using namespace simtest;
using sim::Analyzer;
using sim::Bus;
using sim::Faults;
using sim::Mode;

Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(sim::Faults)

namespace {

const Bytes kNone = {};
const Bytes kReopen = {};  // in a command list: reopen the device

// Faults with only the given members set.
template <class F>
Faults faultsWith(F ASet)
{
    Faults f;
    ASet(f);
    return f;
}

sim::Options withFaults(const Faults& AFaults)
{
    sim::Options o;
    o.faults = AFaults;
    return o;
}

Bytes loadPc(std::uint32_t A) { return SimHost::cat({0x17}, SimHost::addr(A)); }

Bytes pattern(std::size_t ACount, std::uint8_t ASeed)
{
    Bytes b(ACount);
    for (std::size_t i = 0; i < ACount; ++i)
        b[i] = std::uint8_t(ASeed + i * 13);
    return b;
}

}  // namespace

class TestSimDevice : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { Bus::instance().unplugAll(); }

    void absentDeviceNeverEnumerates();
    void unplugAtAnyTime();
    void unplugAfterCommand_data();
    void unplugAfterCommand();
    void passwordFaults_data();
    void passwordFaults();
    void wrongRamBslVersion();
    void flippedBitOnFlashWrites();
    void refusedCrcCheck();
    void refusedSegmentErase();
    void timing_data();
    void timing();
    void commandLogKeepsCoreCommands();
    void busFindsEnumeratedAnalyzers();
    void concurrentHostAndTestSide();
};

void TestSimDevice::absentDeviceNeverEnumerates()
{
    auto a = Analyzer::create(withFaults(faultsWith([](Faults& f) { f.absent = true; })));
    Bus::instance().plug(a);
    QVERIFY(!a->enumerated());
    QVERIFY(!a->open());
    QVERIFY(!Bus::instance().find(sim::kVendorId, sim::kProductId, 0));

    // Going absent later kills the open link for good, even once the fault is lifted.
    auto b = Analyzer::create();
    SimHost host(b);
    b->setFaults(faultsWith([](Faults& f) { f.absent = true; }));
    QVERIFY(!host.link()->alive());
    QVERIFY(!host.send({0x1A}));
    b->setFaults({});
    QVERIFY(!host.link()->alive());
    QVERIFY(host.reopen());
    QCOMPARE(host.call(SimHost::password()), SimHost::ok());
}

void TestSimDevice::unplugAtAnyTime()
{
    auto a = Analyzer::create();
    Bus::instance().plug(a);
    SimHost host(a);
    QVERIFY(host.startRamBsl());
    host.send({0x1A});  // an answer waits
    a->unplug();
    QCOMPARE(a->mode(), Mode::Unplugged);
    QVERIFY(!host.link()->alive());
    QVERIFY(!host.link()->read());
    QVERIFY(!host.send({0x1A}));
    QVERIFY(!a->open());
    QVERIFY(!Bus::instance().find(sim::kVendorId, sim::kProductId, 0));
}

void TestSimDevice::unplugAfterCommand_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<Bytes>>("commands");  // kReopen reopens
    QTest::addColumn<int>("accepted");           // commands whose report was taken
    QTest::addColumn<bool>("lastAnswered");      // the last taken command's answer arrived

    const Bytes fastRam = SimHost::rxBlock(0x2400, {1, 2}, true);
    const QList<Bytes> startUp{SimHost::password(), SimHost::rxBlock(0x2500, SimHost::ramBsl(), true),
                               loadPc(0x2504), kReopen, SimHost::password(), {0x19}};
    QTest::newRow("first password") << 0x11 << 1 << startUp << 1 << false;
    QTest::newRow("second password") << 0x11 << 2 << startUp << 4 << false;
    QTest::newRow("ram bsl block") << 0x1B << 1 << startUp << 2 << false;
    QTest::newRow("third fast block")
        << 0x1B << 3 << QList<Bytes>{SimHost::password(), fastRam, fastRam, fastRam, fastRam} << 4 << false;
    QTest::newRow("never reached")
        << 0x16 << 1 << startUp << 5 << true;
    QTest::newRow("version") << 0x19 << 1 << startUp << 5 << false;
}

void TestSimDevice::unplugAfterCommand()
{
    QFETCH(int, code);
    QFETCH(int, count);
    QFETCH(QList<Bytes>, commands);
    QFETCH(int, accepted);
    QFETCH(bool, lastAnswered);
    auto a = Analyzer::create(withFaults(faultsWith([&](Faults& f) {
        f.unplugAfterCommand = std::uint8_t(code);
        f.unplugAfterCount = count;
    })));
    SimHost host(a);
    int taken = 0;
    bool answered = false;
    for (const Bytes& c : commands) {
        if (c.empty()) {
            host.reopen();
            continue;
        }
        if (!host.send(c))
            break;
        ++taken;
        answered = !host.answer().empty();
    }
    QCOMPARE(taken, accepted);
    QCOMPARE(answered, lastAnswered);
    QCOMPARE(a->mode(), lastAnswered ? Mode::RamBsl : Mode::Unplugged);
    QCOMPARE(a->enumerated(), lastAnswered);
    // The command that preceded the unplugging was carried out.
    QCOMPARE(int(a->commandLog().size()), taken);
}

void TestSimDevice::passwordFaults_data()
{
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<bool>("fileAccepted");     // the flash BSL, device password
    QTest::addColumn<bool>("defaultAccepted");  // the flash BSL after the mass erase
    QTest::addColumn<bool>("ramAccepted");      // the RAM BSL, default password

    QTest::newRow("none") << Faults{} << true << true << true;
    QTest::newRow("refuse password") << faultsWith([](Faults& f) { f.refusePassword = true; }) << false << true << true;
    QTest::newRow("refuse both")
        << faultsWith([](Faults& f) { f.refusePassword = f.refuseDefaultPassword = true; }) << false << false << false;
    QTest::newRow("refuse ram bsl") << faultsWith([](Faults& f) { f.refuseRamBslPassword = true; }) << true << true << false;
}

void TestSimDevice::passwordFaults()
{
    QFETCH(Faults, faults);
    QFETCH(bool, fileAccepted);
    QFETCH(bool, defaultAccepted);
    QFETCH(bool, ramAccepted);
    auto a = Analyzer::create(withFaults(faults));
    a->load(0x8000, pattern(0x100, 1));
    a->load(0xFFE0, pattern(32, 7));
    SimHost host(a);

    const Bytes file = SimHost::cat({0x11}, pattern(32, 7));
    QCOMPARE(host.call(file), SimHost::message(fileAccepted ? 0x00 : 0x05));
    QCOMPARE(a->read(0x8000, 0x100) == pattern(0x100, 1), fileAccepted);
    if (fileAccepted) {
        a->load(0xFFE0, Bytes(32, 0xFF));  // as if the host wiped the vectors
    }
    QCOMPARE(host.call(SimHost::password()), SimHost::message(defaultAccepted ? 0x00 : 0x05));
    if (!defaultAccepted)
        return;
    host.send(SimHost::rxBlock(0x2500, SimHost::ramBsl(), true));
    host.send(loadPc(0x2504));
    QCOMPARE(a->mode(), Mode::RamBsl);
    QVERIFY(host.reopen());
    QCOMPARE(host.call(SimHost::password()), SimHost::message(ramAccepted ? 0x00 : 0x05));
    // The version answers whatever the password did.
    QCOMPARE(host.call({0x19}), (Bytes{0x3A, 0x00, 0x07, 0x08, 0x38}));
    QCOMPARE(host.call({0x1A}), ramAccepted ? (Bytes{0x3A, 0x00, 0x01}) : SimHost::message(0x04));
}

void TestSimDevice::wrongRamBslVersion()
{
    auto a = Analyzer::create(withFaults(faultsWith([](Faults& f) { f.ramBslVersion = {{0x00, 0x06, 0x05, 0x34}}; })));
    SimHost host(a);
    QVERIFY(host.startRamBsl());
    QCOMPARE(host.call({0x19}), (Bytes{0x3A, 0x00, 0x06, 0x05, 0x34}));
    QCOMPARE(a->read(0x2500, 4), (Bytes{0x00, 0x07, 0x08, 0x38}));
    // Lifting or setting the fault takes effect at once.
    a->setFaults({});
    QCOMPARE(host.call({0x19}), (Bytes{0x3A, 0x00, 0x07, 0x08, 0x38}));
    a->setFaults(faultsWith([](Faults& f) { f.ramBslVersion = {{0x01, 0x02, 0x03, 0x04}}; }));
    QCOMPARE(host.call({0x19}), (Bytes{0x3A, 0x01, 0x02, 0x03, 0x04}));
}

void TestSimDevice::flippedBitOnFlashWrites()
{
    auto a = Analyzer::create(withFaults(faultsWith([](Faults& f) { f.flipBitAt = 0x8011u; })));
    SimHost host(a);
    QVERIFY(host.startRamBsl());
    const Bytes data = pattern(58, 0x30);
    host.send(SimHost::rxBlock(0x8000, data, true));
    Bytes expected = data;
    expected[0x11] ^= 0x01;
    QCOMPARE(a->read(0x8000, 58), expected);
    // Answered writes notice it in their write check.
    QCOMPARE(host.call(SimHost::cat({0x12}, SimHost::addr(0x8000))), SimHost::ok());
    QCOMPARE(host.call(SimHost::rxBlock(0x8010, {0xF0, 0xF0})), SimHost::message(0x01));
    QCOMPARE(host.call(SimHost::rxBlock(0x8012, {0xF0, 0xF0})), SimHost::ok());
    // RAM is not flash.
    a->setFaults(faultsWith([](Faults& f) { f.flipBitAt = 0x3000u; }));
    QCOMPARE(host.call(SimHost::rxBlock(0x3000, {0xF0})), SimHost::ok());
    QCOMPARE(a->read(0x3000, 1), Bytes{0xF0});
}

void TestSimDevice::refusedCrcCheck()
{
    auto a = Analyzer::create();
    SimHost host(a);
    QVERIFY(host.startRamBsl());
    const Bytes crc = SimHost::withLength(0x16, 0x8000, 512);
    const Bytes computed = host.call(crc);
    QCOMPARE(computed.size(), 3u);
    QCOMPARE(computed[0], 0x3A);
    a->setFaults(faultsWith([](Faults& f) { f.refuseCrcCheck = true; }));
    const Bytes refused = host.call(crc);
    QCOMPARE(refused.size(), 2u);
    QCOMPARE(refused[0], 0x3B);
    QVERIFY(refused[1] != 0x00);
    QCOMPARE(host.answer(), kNone);
}

void TestSimDevice::refusedSegmentErase()
{
    auto a = Analyzer::create(withFaults(faultsWith([](Faults& f) { f.refuseSegmentErase = true; })));
    a->load(0xFC00, pattern(512, 3));
    SimHost host(a);
    QVERIFY(host.startRamBsl());
    QCOMPARE(host.call(SimHost::cat({0x12}, SimHost::addr(0xFC00))), SimHost::message(0x02));
    QCOMPARE(a->read(0xFC00, 512), pattern(512, 3));
    QCOMPARE(a->stats().segmentErases, 0u);
    a->setFaults({});
    QCOMPARE(host.call(SimHost::cat({0x12}, SimHost::addr(0xFC00))), SimHost::ok());
    QCOMPARE(a->read(0xFC00, 512), Bytes(512, 0xFF));
}

// Modeled time of command sequences after the RAM BSL was started and unlocked.
void TestSimDevice::timing_data()
{
    QTest::addColumn<QList<Bytes>>("commands");
    QTest::addColumn<quint64>("micros");
    QTest::addColumn<quint64>("toDevice");
    QTest::addColumn<quint64>("toHost");

    QList<Bytes> flash, ram;
    for (int k = 0; k < 100; ++k) {
        flash << SimHost::rxBlock(0x8000 + 58 * k, Bytes(58, 0x00), true);
        ram << SimHost::rxBlock(0x2600 + 58 * k, Bytes(58, 0x00), true);
    }
    flash << Bytes{0x1A};
    ram << Bytes{0x1A};
    // One report each way, plus the device's work.
    QTest::newRow("question") << QList<Bytes>{{0x1A}} << 2000ull << 1ull << 1ull;
    QTest::newRow("wrong password") << QList<Bytes>{SimHost::password(0)} << 27000ull << 1ull << 1ull;
    QTest::newRow("segment erase") << QList<Bytes>{SimHost::cat({0x12}, SimHost::addr(0xFFFF))} << 27000ull << 1ull << 1ull;
    QTest::newRow("mass erase") << QList<Bytes>{{0x15}} << 27000ull << 1ull << 1ull;
    QTest::newRow("crc of 5000") << QList<Bytes>{SimHost::withLength(0x16, 0x8000, 5000)} << 7000ull << 1ull << 1ull;
    QTest::newRow("tx of 256") << QList<Bytes>{SimHost::withLength(0x18, 0x8000, 256)} << 6000ull << 1ull << 5ull;
    QTest::newRow("3 bytes on 2 words") << QList<Bytes>{SimHost::rxBlock(0x8001, {0, 0, 0})} << 2150ull << 1ull << 1ull;
    QTest::newRow("restart ram bsl") << QList<Bytes>{loadPc(0x2504)} << 1001000ull << 1ull << 0ull;
    // Fast blocks stream one per frame, unless programming takes longer (29 words: 2175 us).
    QTest::newRow("100 fast ram blocks") << ram << 102000ull << 101ull << 1ull;
    QTest::newRow("100 fast flash blocks") << flash << 2000ull + 100 * 2175 << 101ull << 1ull;
}

void TestSimDevice::timing()
{
    QFETCH(QList<Bytes>, commands);
    QFETCH(quint64, micros);
    QFETCH(quint64, toDevice);
    QFETCH(quint64, toHost);
    for (const auto timing : {sim::Timing::Instant, sim::Timing::Realistic}) {
        const bool realistic = timing == sim::Timing::Realistic;
        auto a = Analyzer::create(sim::Options{timing, {}});
        SimHost host(a);
        QVERIFY(host.startRamBsl());
        const sim::Stats before = a->stats();
        // Flash BSL password, RAM BSL block, Load PC, re-enumeration, RAM BSL password.
        QCOMPARE(before.modeledMicros, realistic ? 1006000ull : 0ull);
        for (const Bytes& c : commands)
            host.send(c);
        while (!host.answer().empty()) {
        }
        const sim::Stats after = a->stats();
        QCOMPARE(after.modeledMicros - before.modeledMicros, realistic ? micros : 0ull);
        QCOMPARE(after.reportsToDevice - before.reportsToDevice, toDevice);
        QCOMPARE(after.reportsToHost - before.reportsToHost, toHost);
    }
}

void TestSimDevice::commandLogKeepsCoreCommands()
{
    auto a = Analyzer::create();
    SimHost host(a);
    host.send(SimHost::password());
    host.send({0x19});
    sim::Report foreign{};
    foreign[0] = 0x01;
    host.link()->write(foreign);
    sim::Report oversize{};
    oversize[0] = 0x3F;
    oversize[1] = 63;
    host.link()->write(oversize);
    host.send(SimHost::rxBlock(0x2400, {9, 8}, true));
    const auto log = a->commandLog();
    QCOMPARE(log.size(), 3u);
    QCOMPARE(log[0], SimHost::password());
    QCOMPARE(log[1], Bytes{0x19});
    QCOMPARE(log[2], SimHost::rxBlock(0x2400, {9, 8}, true));
    QCOMPARE(a->stats().reportsToDevice, 5u);
}

void TestSimDevice::busFindsEnumeratedAnalyzers()
{
    Bus& bus = Bus::instance();
    auto a = Analyzer::create();
    auto b = Analyzer::create();
    auto c = Analyzer::create();
    bus.plug(a);
    bus.plug(a);  // once only
    bus.plug(b);
    bus.plug(c);
    QCOMPARE(bus.find(sim::kVendorId, sim::kProductId, 0), a);
    QCOMPARE(bus.find(sim::kVendorId, sim::kProductId, 1), b);
    QCOMPARE(bus.find(sim::kVendorId, sim::kProductId, 2), c);
    QVERIFY(!bus.find(sim::kVendorId, sim::kProductId, 3));
    QVERIFY(!bus.find(sim::kVendorId, sim::kProductId, -1));
    QVERIFY(!bus.find(sim::kVendorId, 0x0201, 0));
    QVERIFY(!bus.find(0x2048, sim::kProductId, 0));
    b->unplug();
    QCOMPARE(bus.find(sim::kVendorId, sim::kProductId, 1), c);

    SimHost host(c);
    bus.unplugAll();
    QVERIFY(!host.link()->alive());
    QVERIFY(!bus.find(sim::kVendorId, sim::kProductId, 0));
}

// The host runs on one thread while the test side inspects the device from another.
void TestSimDevice::concurrentHostAndTestSide()
{
    auto a = Analyzer::create(sim::Options{sim::Timing::Realistic, {}});
    Bus::instance().plug(a);
    std::atomic<bool> done{false};
    std::atomic<int> sent{0};
    std::thread hostThread([&] {
        SimHost host(a);
        if (host.startRamBsl()) {
            for (int k = 0; k < 2000; ++k) {
                host.send(SimHost::rxBlock(0x8000 + 58 * k, pattern(58, std::uint8_t(k)), true));
                ++sent;
            }
        }
        done = true;
    });
    std::uint64_t lastMicros = 0;
    bool monotonic = true;
    while (!done) {
        const auto s = a->stats();
        monotonic = monotonic && s.modeledMicros >= lastMicros;
        lastMicros = s.modeledMicros;
        (void)a->commandLog().size();
        (void)a->read(0x8000, 64);
        (void)Bus::instance().find(sim::kVendorId, sim::kProductId, 0);
    }
    hostThread.join();
    QVERIFY(monotonic);
    QCOMPARE(sent.load(), 2000);
    QCOMPARE(a->read(0x8000 + 58 * 1999, 58), pattern(58, std::uint8_t(1999)));
    QCOMPARE(a->commandLog().size(), 2004u);
}

QTEST_APPLESS_MAIN(TestSimDevice)
#include "tst_sim_device.moc"
