// The simulated analyzer's boot loaders, driven with raw HID reports as a host would.

#include "SimHost.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

using namespace simtest;
using sim::Analyzer;
using sim::Mode;

Q_DECLARE_METATYPE(Bytes)

namespace {

const Bytes kLocked = SimHost::message(0x04);
const Bytes kUnknown = SimHost::message(0x07);
const Bytes kNone = {};

Bytes filled(std::size_t ACount, std::uint8_t AValue) { return Bytes(ACount, AValue); }

// A device whose main flash, info memory and vectors hold a known pattern; the password is
// the vector area 0xFFE0-0xFFFF.
std::shared_ptr<Analyzer> programmedDevice()
{
    auto a = Analyzer::create();
    a->load(0x1800, filled(0x200, 0x11));
    a->load(0x8000, filled(0x40000, 0x22));
    Bytes vectors(32);
    for (int i = 0; i < 32; ++i)
        vectors[i] = std::uint8_t(0x40 + i);
    a->load(0xFFE0, vectors);
    return a;
}

Bytes devicePassword()
{
    Bytes p{0x11};
    for (int i = 0; i < 32; ++i)
        p.push_back(std::uint8_t(0x40 + i));
    return p;
}

bool allEqual(const Bytes& ABytes, std::uint8_t AValue)
{
    return std::all_of(ABytes.begin(), ABytes.end(), [&](std::uint8_t b) { return b == AValue; });
}

}  // namespace

class TestSimBootLoader : public QObject {
    Q_OBJECT
private slots:
    void lockedAtEachEntry_data();
    void lockedAtEachEntry();
    void password_data();
    void password();
    void flashBslRefusesOtherCommands_data();
    void flashBslRefusesOtherCommands();
    void flashBslFastWritesOnlyIntoRam();
    void ramBslStartsFromLoadPc();
    void ramBslReportsItsOwnVersion();
    void loadPcElsewhereLeavesTheBootLoader_data();
    void loadPcElsewhereLeavesTheBootLoader();
    void writesFollowTheMemoryMap_data();
    void writesFollowTheMemoryMap();
    void programmingOnlyClearsBits();
    void segmentErase_data();
    void segmentErase();
    void massEraseKeepsInfoMemory();
    void infoALockToggles();
    void crcMatchesPython();
    void txDataBlock_data();
    void txDataBlock();
    void bufferSize();
    void framing_data();
    void framing();
    void forcedReset_data();
    void forcedReset();
};

// Every command but RX Password is refused until a password was accepted; the RAM BSL still
// tells its version. Fast writes never answer.
void TestSimBootLoader::lockedAtEachEntry_data()
{
    QTest::addColumn<bool>("ramBsl");
    QTest::addColumn<Bytes>("command");
    QTest::addColumn<Bytes>("answer");

    const Bytes crc = SimHost::withLength(0x16, 0x8000, 16);
    const Bytes tx = SimHost::withLength(0x18, 0x8000, 16);
    for (bool ram : {false, true}) {
        const char* b = ram ? "ram" : "flash";
        QTest::addRow("%s rx data block", b) << ram << SimHost::rxBlock(0x2400, {1, 2}) << kLocked;
        QTest::addRow("%s fast block", b) << ram << SimHost::rxBlock(0x2400, {1, 2}, true) << kNone;
        QTest::addRow("%s erase segment", b) << ram << SimHost::cat({0x12}, SimHost::addr(0xFFFF)) << kLocked;
        QTest::addRow("%s info toggle", b) << ram << Bytes{0x13} << kLocked;
        QTest::addRow("%s mass erase", b) << ram << Bytes{0x15} << kLocked;
        QTest::addRow("%s crc", b) << ram << crc << kLocked;
        QTest::addRow("%s load pc", b) << ram << SimHost::cat({0x17}, SimHost::addr(0x2504)) << kLocked;
        QTest::addRow("%s tx data", b) << ram << tx << kLocked;
        QTest::addRow("%s buffer size", b) << ram << Bytes{0x1A} << kLocked;
        QTest::addRow("%s unknown code", b) << ram << Bytes{0x14} << kUnknown;
    }
    QTest::newRow("flash version") << false << Bytes{0x19} << kLocked;
    QTest::newRow("ram version") << true << Bytes{0x19} << Bytes{0x3A, 0x00, 0x07, 0x08, 0x38};
}

void TestSimBootLoader::lockedAtEachEntry()
{
    QFETCH(bool, ramBsl);
    QFETCH(Bytes, command);
    QFETCH(Bytes, answer);
    auto a = Analyzer::create();
    SimHost host(a);
    if (ramBsl)
        QVERIFY(host.startRamBsl({0x00, 0x07, 0x08, 0x38}, false));
    const auto before = a->read(0x2400, 2);
    QCOMPARE(host.call(command), answer);
    QCOMPARE(host.answer(), kNone);
    QCOMPARE(a->read(0x2400, 2), before);
    QCOMPARE(a->mode(), ramBsl ? Mode::RamBsl : Mode::FlashBsl);
}

void TestSimBootLoader::password_data()
{
    QTest::addColumn<bool>("erased");    // the device starts mass-erased (vectors 0xFF)
    QTest::addColumn<Bytes>("password");
    QTest::addColumn<bool>("accepted");

    Bytes wrongLast = devicePassword();
    wrongLast.back() ^= 0x01;
    Bytes shortOne = devicePassword();
    shortOne.pop_back();
    Bytes longOne = devicePassword();
    longOne.push_back(0x00);

    QTest::newRow("right") << false << devicePassword() << true;
    QTest::newRow("last byte wrong") << false << wrongLast << false;
    QTest::newRow("default on programmed") << false << SimHost::password() << false;
    QTest::newRow("31 bytes") << false << shortOne << false;
    QTest::newRow("33 bytes") << false << longOne << false;
    QTest::newRow("default on erased") << true << SimHost::password() << true;
    QTest::newRow("zeros on erased") << true << SimHost::password(0x00) << false;
}

void TestSimBootLoader::password()
{
    QFETCH(bool, erased);
    QFETCH(Bytes, password);
    QFETCH(bool, accepted);
    auto a = erased ? Analyzer::create() : programmedDevice();
    const auto mainBefore = a->read(0x8000, 0x40000);
    SimHost host(a);

    QCOMPARE(host.call(password), accepted ? SimHost::ok() : SimHost::message(0x05));
    QCOMPARE(a->stats().massErases, accepted ? 0u : 1u);
    QCOMPARE(a->read(0x1800, 0x200), filled(0x200, erased ? 0xFF : 0x11));  // info kept
    if (accepted) {
        QCOMPARE(a->read(0x8000, 0x40000), mainBefore);
        // Unlocked: the RAM loader may be written.
        QCOMPARE(host.call(SimHost::cat({0x17}, SimHost::addr(0x9000))), kNone);
        QCOMPARE(a->mode(), Mode::Application);
        return;
    }
    QVERIFY(allEqual(a->read(0x8000, 0x40000), 0xFF));
    QCOMPARE(host.call(SimHost::cat({0x17}, SimHost::addr(0x9000))), kLocked);
    // The vectors now read 0xFF, so the default password opens the device.
    QCOMPARE(host.call(SimHost::password()), SimHost::ok());
    QCOMPARE(host.call(SimHost::cat({0x17}, SimHost::addr(0x9000))), kNone);
    QCOMPARE(a->mode(), Mode::Application);
}

void TestSimBootLoader::flashBslRefusesOtherCommands_data()
{
    QTest::addColumn<Bytes>("command");
    QTest::newRow("rx data block") << SimHost::rxBlock(0x2400, {1, 2});
    QTest::newRow("erase segment") << SimHost::cat({0x12}, SimHost::addr(0xFFFF));
    QTest::newRow("info toggle") << Bytes{0x13};
    QTest::newRow("mass erase") << Bytes{0x15};
    QTest::newRow("crc") << SimHost::withLength(0x16, 0x8000, 16);
    QTest::newRow("tx data") << SimHost::withLength(0x18, 0x8000, 16);
    QTest::newRow("version") << Bytes{0x19};
    QTest::newRow("buffer size") << Bytes{0x1A};
}

void TestSimBootLoader::flashBslRefusesOtherCommands()
{
    QFETCH(Bytes, command);
    auto a = programmedDevice();
    SimHost host(a);
    QCOMPARE(host.call(devicePassword()), SimHost::ok());
    QCOMPARE(host.call(command), kUnknown);
    QCOMPARE(host.answer(), kNone);
    QCOMPARE(a->read(0x2400, 2), filled(2, 0x00));
    QCOMPARE(a->read(0xFE00, 0x200).front(), 0x22);
    QCOMPARE(a->stats().massErases + a->stats().segmentErases, 0u);
}

void TestSimBootLoader::flashBslFastWritesOnlyIntoRam()
{
    auto a = Analyzer::create();
    SimHost host(a);
    QCOMPARE(host.call(SimHost::password()), SimHost::ok());
    QCOMPARE(host.call(SimHost::rxBlock(0x2400, {1, 2, 3}, true)), kNone);
    QCOMPARE(host.call(SimHost::rxBlock(0x8000, {1, 2, 3}, true)), kNone);
    QCOMPARE(host.call(SimHost::rxBlock(0x1800, {1, 2, 3}, true)), kNone);
    QCOMPARE(host.call(SimHost::rxBlock(0x0120, {0x04, 0xA5}, true)), kNone);
    QCOMPARE(a->read(0x2400, 3), (Bytes{1, 2, 3}));
    QCOMPARE(a->read(0x8000, 3), filled(3, 0xFF));
    QCOMPARE(a->read(0x1800, 3), filled(3, 0xFF));
    QCOMPARE(a->mode(), Mode::FlashBsl);  // no reset from the flash BSL
    QCOMPARE(a->stats().resets, 0u);
}

void TestSimBootLoader::ramBslStartsFromLoadPc()
{
    auto a = Analyzer::create();
    SimHost host(a);
    QCOMPARE(host.call(SimHost::password()), SimHost::ok());
    const Bytes image = SimHost::ramBsl();
    QCOMPARE(host.call(SimHost::rxBlock(0x2500, image, true)), kNone);
    sim::Link* old = host.link();
    QCOMPARE(host.call(SimHost::cat({0x17}, SimHost::addr(0x2504))), kNone);  // no answer

    QVERIFY(!old->alive());
    QVERIFY(!host.send(Bytes{0x19}));
    QCOMPARE(a->stats().reenumerations, 1u);
    QCOMPARE(a->mode(), Mode::RamBsl);
    QVERIFY(a->enumerated());
    QVERIFY(host.reopen());
    QVERIFY(host.link()->alive());
    QCOMPARE(host.call(Bytes{0x1A}), kLocked);  // locked again
    QCOMPARE(host.call(SimHost::password()), SimHost::ok());
    QCOMPARE(host.call(Bytes{0x19}), (Bytes{0x3A, 0x00, 0x07, 0x08, 0x38}));
    QCOMPARE(a->stats().modeledMicros, 0u);  // instant timing
}

// The version is what stood at 0x2500 when the RAM BSL started, not what stands there now.
void TestSimBootLoader::ramBslReportsItsOwnVersion()
{
    auto a = Analyzer::create();
    SimHost host(a);
    QVERIFY(host.startRamBsl({0x00, 0x06, 0x05, 0x34}));
    QCOMPARE(host.call(SimHost::rxBlock(0x2500, {0x00, 0x07, 0x08, 0x38})), SimHost::ok());
    QCOMPARE(host.call(Bytes{0x19}), (Bytes{0x3A, 0x00, 0x06, 0x05, 0x34}));
    // A restart of the RAM BSL reads the version afresh.
    host.send(SimHost::cat({0x17}, SimHost::addr(0x2504)));
    QCOMPARE(a->stats().reenumerations, 2u);
    QVERIFY(host.reopen());
    QCOMPARE(host.call(Bytes{0x19}), (Bytes{0x3A, 0x00, 0x07, 0x08, 0x38}));
}

void TestSimBootLoader::loadPcElsewhereLeavesTheBootLoader_data()
{
    QTest::addColumn<bool>("fromRamBsl");
    QTest::addColumn<bool>("loadRamBsl");
    QTest::addColumn<std::uint32_t>("target");
    QTest::newRow("flash bsl to main flash") << false << true << 0x8000u;
    QTest::newRow("flash bsl to 0x2500") << false << true << 0x2500u;
    QTest::newRow("flash bsl to 0x2504 without a ram bsl") << false << false << 0x2504u;
    QTest::newRow("ram bsl to main flash") << true << true << 0x4400u;
}

void TestSimBootLoader::loadPcElsewhereLeavesTheBootLoader()
{
    QFETCH(bool, fromRamBsl);
    QFETCH(bool, loadRamBsl);
    QFETCH(std::uint32_t, target);
    auto a = Analyzer::create();
    SimHost host(a);
    if (fromRamBsl) {
        QVERIFY(host.startRamBsl());
    } else {
        QCOMPARE(host.call(SimHost::password()), SimHost::ok());
        if (loadRamBsl)
            host.send(SimHost::rxBlock(0x2500, SimHost::ramBsl(), true));
    }
    QCOMPARE(host.call(SimHost::cat({0x17}, SimHost::addr(target))), kNone);
    QCOMPARE(a->mode(), Mode::Application);
    QVERIFY(!a->enumerated());
    QVERIFY(!host.link()->alive());
    QVERIFY(!a->open());
    QCOMPARE(a->stats().reenumerations, fromRamBsl ? 1u : 0u);
}

void TestSimBootLoader::writesFollowTheMemoryMap_data()
{
    QTest::addColumn<std::uint32_t>("addr");
    QTest::addColumn<int>("count");
    QTest::addColumn<std::uint8_t>("message");
    QTest::addColumn<int>("stored");  // leading bytes that take the written value

    QTest::newRow("peripheral") << 0x0200u << 4 << std::uint8_t(0x00) << 4;
    QTest::newRow("bsl flash") << 0x1000u << 4 << std::uint8_t(0x01) << 0;
    QTest::newRow("bsl flash end") << 0x17FEu << 2 << std::uint8_t(0x01) << 0;
    QTest::newRow("info D") << 0x1800u << 4 << std::uint8_t(0x00) << 4;
    QTest::newRow("info B end") << 0x197Cu << 4 << std::uint8_t(0x00) << 4;
    QTest::newRow("info A locked") << 0x1980u << 4 << std::uint8_t(0x02) << 0;
    QTest::newRow("info B into A") << 0x197Eu << 4 << std::uint8_t(0x02) << 2;
    QTest::newRow("gap below ram") << 0x1A00u << 4 << std::uint8_t(0x01) << 0;
    QTest::newRow("ram") << 0x2400u << 4 << std::uint8_t(0x00) << 4;
    QTest::newRow("ram end into gap") << 0x63FEu << 4 << std::uint8_t(0x01) << 2;
    QTest::newRow("gap below main") << 0x7FFEu << 2 << std::uint8_t(0x01) << 0;
    QTest::newRow("main start") << 0x8000u << 58 << std::uint8_t(0x00) << 58;
    QTest::newRow("main end") << 0x47FFCu << 4 << std::uint8_t(0x00) << 4;
    QTest::newRow("beyond main") << 0x48000u << 4 << std::uint8_t(0x01) << 0;
    QTest::newRow("beyond 20 bits") << 0xFFFFFEu << 4 << std::uint8_t(0x01) << 0;
}

void TestSimBootLoader::writesFollowTheMemoryMap()
{
    QFETCH(std::uint32_t, addr);
    QFETCH(int, count);
    QFETCH(std::uint8_t, message);
    QFETCH(int, stored);
    auto a = Analyzer::create();
    SimHost host(a);
    QVERIFY(host.startRamBsl());
    const Bytes before = a->read(addr, count);
    Bytes data(count);
    for (int i = 0; i < count; ++i)
        data[i] = std::uint8_t(0x5A ^ i);
    QCOMPARE(host.call(SimHost::rxBlock(addr, data)), SimHost::message(message));
    const Bytes after = a->read(addr, count);
    for (int i = 0; i < count; ++i)
        QCOMPARE(after[i], i < stored ? data[i] : before[i]);
    // The same through the fast command: same effect, no answer.
    auto b = Analyzer::create();
    SimHost fast(b);
    QVERIFY(fast.startRamBsl());
    QCOMPARE(fast.call(SimHost::rxBlock(addr, data, true)), kNone);
    QCOMPARE(b->read(addr, count), after);
}

void TestSimBootLoader::programmingOnlyClearsBits()
{
    auto a = Analyzer::create();
    SimHost host(a);
    QVERIFY(host.startRamBsl());
    QCOMPARE(host.call(SimHost::rxBlock(0x9000, {0xF0, 0x0F, 0xAA})), SimHost::ok());
    // Programming again ANDs: only where the new bits are a subset it passes the check.
    QCOMPARE(host.call(SimHost::rxBlock(0x9000, {0x3C, 0x0F, 0x55})), SimHost::message(0x01));
    QCOMPARE(a->read(0x9000, 3), (Bytes{0x30, 0x0F, 0x00}));
    QCOMPARE(host.call(SimHost::rxBlock(0x9001, {0x05})), SimHost::ok());
    QCOMPARE(a->read(0x9001, 1), Bytes{0x05});
    // RAM is plain memory.
    QCOMPARE(host.call(SimHost::rxBlock(0x3000, {0xF0})), SimHost::ok());
    QCOMPARE(host.call(SimHost::rxBlock(0x3000, {0x0F})), SimHost::ok());
    QCOMPARE(a->read(0x3000, 1), Bytes{0x0F});
    // After an erase the segment takes any value again.
    QCOMPARE(host.call(SimHost::cat({0x12}, SimHost::addr(0x9000))), SimHost::ok());
    QCOMPARE(host.call(SimHost::rxBlock(0x9000, {0x3C, 0xFF, 0x55})), SimHost::ok());
    QCOMPARE(a->read(0x9000, 3), (Bytes{0x3C, 0xFF, 0x55}));
}

void TestSimBootLoader::segmentErase_data()
{
    QTest::addColumn<std::uint32_t>("addr");
    QTest::addColumn<std::uint8_t>("message");
    QTest::addColumn<std::uint32_t>("first");  // erased range
    QTest::addColumn<std::uint32_t>("size");

    QTest::newRow("main first byte") << 0x8000u << std::uint8_t(0) << 0x8000u << 512u;
    QTest::newRow("main last byte of first") << 0x81FFu << std::uint8_t(0) << 0x8000u << 512u;
    QTest::newRow("main second") << 0x8200u << std::uint8_t(0) << 0x8200u << 512u;
    QTest::newRow("reset vector") << 0xFFFFu << std::uint8_t(0) << 0xFE00u << 512u;
    QTest::newRow("main last") << 0x47FFFu << std::uint8_t(0) << 0x47E00u << 512u;
    QTest::newRow("info D") << 0x1800u << std::uint8_t(0) << 0x1800u << 128u;
    QTest::newRow("info C end") << 0x18FFu << std::uint8_t(0) << 0x1880u << 128u;
    QTest::newRow("info A locked") << 0x1980u << std::uint8_t(2) << 0u << 0u;
    QTest::newRow("ram") << 0x2400u << std::uint8_t(2) << 0u << 0u;
    QTest::newRow("bsl flash") << 0x1000u << std::uint8_t(2) << 0u << 0u;
    QTest::newRow("beyond main") << 0x48000u << std::uint8_t(2) << 0u << 0u;
}

void TestSimBootLoader::segmentErase()
{
    QFETCH(std::uint32_t, addr);
    QFETCH(std::uint8_t, message);
    QFETCH(std::uint32_t, first);
    QFETCH(std::uint32_t, size);
    auto a = programmedDevice();
    a->load(0x1000, filled(0x800, 0x33));
    SimHost host(a);
    QCOMPARE(host.call(devicePassword()), SimHost::ok());
    host.send(SimHost::rxBlock(0x2500, SimHost::ramBsl(), true));
    host.send(SimHost::cat({0x17}, SimHost::addr(0x2504)));
    QVERIFY(host.reopen());
    QCOMPARE(host.call(devicePassword()), SimHost::ok());
    const Bytes before = a->read(0, 0x48000);

    QCOMPARE(host.call(SimHost::cat({0x12}, SimHost::addr(addr))), SimHost::message(message));
    const Bytes after = a->read(0, 0x48000);
    for (std::uint32_t i = 0; i < after.size(); ++i) {
        const bool inside = i >= first && i < first + size;
        if (after[i] != (inside ? 0xFF : before[i]))
            QFAIL(qPrintable(QString("byte at 0x%1 is 0x%2").arg(i, 0, 16).arg(after[i], 0, 16)));
    }
    QCOMPARE(a->stats().segmentErases, size ? 1u : 0u);
}

void TestSimBootLoader::massEraseKeepsInfoMemory()
{
    auto a = programmedDevice();
    SimHost host(a);
    QCOMPARE(host.call(devicePassword()), SimHost::ok());
    host.send(SimHost::rxBlock(0x2500, SimHost::ramBsl(), true));
    host.send(SimHost::cat({0x17}, SimHost::addr(0x2504)));
    QVERIFY(host.reopen());
    QCOMPARE(host.call(devicePassword()), SimHost::ok());
    QCOMPARE(host.call(Bytes{0x15}), SimHost::ok());
    QVERIFY(allEqual(a->read(0x8000, 0x40000), 0xFF));
    QCOMPARE(a->read(0x1800, 0x200), filled(0x200, 0x11));
    QCOMPARE(a->read(0x2500, 4), (Bytes{0x00, 0x07, 0x08, 0x38}));
    QCOMPARE(a->stats().massErases, 1u);
}

void TestSimBootLoader::infoALockToggles()
{
    auto a = Analyzer::create();
    SimHost host(a);
    QVERIFY(host.startRamBsl());
    QCOMPARE(host.call(SimHost::rxBlock(0x1980, {0x00})), SimHost::message(0x02));
    QCOMPARE(host.call(Bytes{0x13}), SimHost::ok());
    QCOMPARE(host.call(SimHost::rxBlock(0x1980, {0x00})), SimHost::ok());
    QCOMPARE(host.call(SimHost::cat({0x12}, SimHost::addr(0x19FF))), SimHost::ok());
    QCOMPARE(a->read(0x1980, 1), Bytes{0xFF});
    QCOMPARE(host.call(Bytes{0x13}), SimHost::ok());
    QCOMPARE(host.call(SimHost::rxBlock(0x1980, {0x00})), SimHost::message(0x02));
}

// The device's CRC against Python's binascii.crc_hqx with start value 0xFFFF.
void TestSimBootLoader::crcMatchesPython()
{
    auto a = Analyzer::create();
    Bytes data(0x5000);
    QRandomGenerator rng(0x2047);
    for (auto& b : data)
        b = std::uint8_t(rng.bounded(256));
    a->load(0x8000, data);
    SimHost host(a);
    QVERIFY(host.startRamBsl());

    const QList<QPair<int, int>> ranges{{0, 0}, {0, 1}, {1, 1}, {3, 57}, {0, 512}, {0x123, 5000},
                                        {0, 0x5000}, {0x4FFF, 1}};
    QStringList args{"-c", "import binascii,sys\n"
                           "d=sys.stdin.buffer.read()\n"
                           "for a in sys.argv[1:]:\n"
                           "  o,n=map(int,a.split(':'))\n"
                           "  print(binascii.crc_hqx(d[o:o+n],0xFFFF))"};
    for (const auto& r : ranges)
        args << QString("%1:%2").arg(r.first).arg(r.second);
    QProcess python;
    python.start("python3", args);
    QVERIFY2(python.waitForStarted(), "python3 is needed for the cross-check");
    python.write(reinterpret_cast<const char*>(data.data()), qint64(data.size()));
    python.closeWriteChannel();
    QVERIFY(python.waitForFinished());
    QCOMPARE(python.exitCode(), 0);
    const QStringList expected = QString::fromLatin1(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(expected.size(), ranges.size());

    for (int i = 0; i < ranges.size(); ++i) {
        const auto [offset, length] = ranges[i];
        const Bytes answer = host.call(SimHost::withLength(0x16, 0x8000 + offset, std::uint16_t(length)));
        QCOMPARE(answer.size(), 3u);
        QCOMPARE(answer[0], 0x3A);
        QCOMPARE(answer[1] | (answer[2] << 8), expected[i].toInt());
    }
}

void TestSimBootLoader::txDataBlock_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<int>>("reports");  // data bytes per IN report; empty: refused
    QTest::newRow("none") << 0 << QList<int>{0};
    QTest::newRow("one") << 1 << QList<int>{1};
    QTest::newRow("one report") << 61 << QList<int>{61};
    QTest::newRow("two reports") << 62 << QList<int>{61, 1};
    QTest::newRow("buffer") << 256 << QList<int>{61, 61, 61, 61, 12};
    QTest::newRow("over buffer") << 257 << QList<int>{};
}

void TestSimBootLoader::txDataBlock()
{
    QFETCH(int, length);
    QFETCH(QList<int>, reports);
    auto a = Analyzer::create();
    Bytes data(300);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = std::uint8_t(i * 7);
    a->load(0x8100, data);
    SimHost host(a);
    QVERIFY(host.startRamBsl());
    host.send(SimHost::withLength(0x18, 0x8100, std::uint16_t(length)));
    if (reports.isEmpty()) {
        QCOMPARE(host.answer(), SimHost::message(0x08));
        QCOMPARE(host.answer(), kNone);
        return;
    }
    Bytes got;
    for (int n : reports) {
        const Bytes r = host.answer();
        QCOMPARE(int(r.size()), 1 + n);
        QCOMPARE(r[0], 0x3A);
        got.insert(got.end(), r.begin() + 1, r.end());
    }
    QCOMPARE(host.answer(), kNone);
    QCOMPARE(got, Bytes(data.begin(), data.begin() + length));
}

void TestSimBootLoader::bufferSize()
{
    auto a = Analyzer::create();
    SimHost host(a);
    QVERIFY(host.startRamBsl());
    QCOMPARE(host.call(Bytes{0x1A}), (Bytes{0x3A, 0x00, 0x01}));
}

void TestSimBootLoader::framing_data()
{
    QTest::addColumn<int>("reportId");
    QTest::addColumn<int>("length");  // NL as sent
    QTest::addColumn<Bytes>("core");
    QTest::addColumn<Bytes>("answer");
    QTest::newRow("nl 63") << 0x3F << 63 << Bytes{0x1A} << SimHost::message(0x08);
    QTest::newRow("nl 255") << 0x3F << 255 << Bytes{0x1A} << SimHost::message(0x08);
    QTest::newRow("nl 0") << 0x3F << 0 << Bytes{} << kUnknown;
    QTest::newRow("other report id") << 0x01 << 1 << Bytes{0x1A} << kNone;
    QTest::newRow("unknown code") << 0x3F << 1 << Bytes{0x14} << kUnknown;
    QTest::newRow("erase without address") << 0x3F << 3 << Bytes{0x12, 0x00, 0x80} << kUnknown;
    QTest::newRow("crc with extra byte") << 0x3F << 7 << Bytes{0x16, 0, 0x80, 0, 1, 0, 0} << kUnknown;
    QTest::newRow("version with payload") << 0x3F << 2 << Bytes{0x19, 0x00} << kUnknown;
    QTest::newRow("rx block without address") << 0x3F << 2 << Bytes{0x10, 0x00} << kUnknown;
    QTest::newRow("nl 62") << 0x3F << 62 << SimHost::rxBlock(0x2400, Bytes(58, 0x77)) << SimHost::ok();
}

void TestSimBootLoader::framing()
{
    QFETCH(int, reportId);
    QFETCH(int, length);
    QFETCH(Bytes, core);
    QFETCH(Bytes, answer);
    auto a = Analyzer::create();
    SimHost host(a);
    QVERIFY(host.startRamBsl());
    sim::Report r;
    r.fill(0x00);
    r[0] = std::uint8_t(reportId);
    r[1] = std::uint8_t(length);
    std::copy(core.begin(), core.end(), r.begin() + 2);
    QVERIFY(host.link()->write(r));
    const auto in = host.link()->read();
    QCOMPARE(in.has_value(), !answer.empty());
    if (in) {
        QCOMPARE((*in)[0], 0x3F);
        QCOMPARE(int((*in)[1]), int(answer.size()));
        QCOMPARE(Bytes(in->begin() + 2, in->begin() + 2 + answer.size()), answer);
    }
    QVERIFY(!host.link()->read());
    QCOMPARE(a->mode(), Mode::RamBsl);
}

void TestSimBootLoader::forcedReset_data()
{
    QTest::addColumn<QList<Bytes>>("writes");  // RX Data Block (Fast) commands in turn
    QTest::addColumn<bool>("resets");
    const auto fast = [](std::uint32_t A, Bytes D) { return SimHost::rxBlock(A, D, true); };
    QTest::newRow("word fast") << QList<Bytes>{fast(0x0120, {0x04, 0xA5})} << true;
    QTest::newRow("word answered") << QList<Bytes>{SimHost::rxBlock(0x0120, {0x04, 0xA5})} << true;
    QTest::newRow("inside a longer write") << QList<Bytes>{fast(0x011E, {0, 0, 0x04, 0xA5, 0})} << true;
    QTest::newRow("no reset bit") << QList<Bytes>{fast(0x0120, {0x00, 0xA5})} << false;
    QTest::newRow("no password") << QList<Bytes>{fast(0x0120, {0x04, 0x5A})} << false;
    QTest::newRow("other register") << QList<Bytes>{fast(0x0122, {0x04, 0xA5})} << false;
    QTest::newRow("byte by byte") << QList<Bytes>{fast(0x0120, {0x04}), fast(0x0121, {0xA5})} << false;
}

void TestSimBootLoader::forcedReset()
{
    QFETCH(QList<Bytes>, writes);
    QFETCH(bool, resets);
    auto a = Analyzer::create();
    SimHost host(a);
    QVERIFY(host.startRamBsl());
    for (const Bytes& w : writes)
        host.send(w);
    QCOMPARE(host.answer().empty(), resets || writes.front()[0] == 0x1B);
    QCOMPARE(a->mode(), resets ? Mode::Application : Mode::RamBsl);
    QCOMPARE(a->enumerated(), !resets);
    QCOMPARE(host.link()->alive(), !resets);
    QCOMPARE(a->stats().resets, resets ? 1u : 0u);
    QCOMPARE(a->open() == nullptr, resets);
    QCOMPARE(a->stats().reenumerations, 1u);  // only the RAM BSL start
}

QTEST_APPLESS_MAIN(TestSimBootLoader)
#include "tst_sim_bootloader.moc"
