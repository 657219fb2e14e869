// The library against the simulated analyzer: the whole update as the flashing service runs
// it, the faults the device can show and where they surface, and the remaining commands.

#include "BslApi.h"
#include "Srecord.h"
#include "TestData.h"
#include "UpdateSequence.h"

#include <sim/Analyzer.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

constexpr quint32 kMainStart = 0x8000, kMainEnd = 0x48000;

struct FaultCase {
    const char* name;
    std::function<void(sim::Faults&)> set;
    const char* applyBefore;  // the step before which the fault is switched on
    const char* failedAt;
    quint32 answer;
};

const QList<FaultCase>& faultCases() {
    static const QList<FaultCase> cases{
        {"no fault", [](sim::Faults&) {}, "open", "", 0},
        {"device absent", [](sim::Faults& f) { f.absent = true; }, "open", "open", 1},
        {"file password refused, default accepted",
         [](sim::Faults& f) { f.refusePassword = true; }, "open", "", 0},
        {"default password refused too",
         [](sim::Faults& f) {
             f.refusePassword = true;
             f.refuseDefaultPassword = true;
         },
         "open", "default password", BSL430_MSG_PASSWORD_ERROR},
        {"RAM BSL refuses the password", [](sim::Faults& f) { f.refuseRamBslPassword = true; },
         "open", "ram password", BSL430_MSG_PASSWORD_ERROR},
        {"wrong RAM BSL version",
         [](sim::Faults& f) { f.ramBslVersion = std::array<std::uint8_t, 4>{0, 6, 5, 0x34}; },
         "open", "version", 0},
        {"unplugged at Load PC", [](sim::Faults& f) { f.unplugAfterCommand = 0x17; }, "open",
         "reopen", BSL430_INIT_DEVICE_NOT_FOUND},
        {"reset-vector erase refused", [](sim::Faults& f) { f.refuseSegmentErase = true; },
         "reset vector", "reset vector", BSL430_MSG_FLASH_FAIL_BIT_SET},
        {"unplugged while sending",
         [](sim::Faults& f) {
             f.unplugAfterCommand = 0x1B;
             f.unplugAfterCount = 10;
         },
         "send", "send", BSL430_ERR_DEVICE_LOST},
        {"flipped bit in flash", [](sim::Faults& f) { f.flipBitAt = 0x8123; }, "send", "verify",
         0},
        {"CRC check refused", [](sim::Faults& f) { f.refuseCrcCheck = true; }, "verify",
         "verify", BSL430_MSG_FLASH_WRITE_CHECK_FAILED},
        {"unplugged at the CRC check", [](sim::Faults& f) { f.unplugAfterCommand = 0x16; },
         "verify", "verify", BSL430_ERR_DEVICE_LOST},
    };
    return cases;
}

}  // namespace

class TestBslFlash : public QObject {
    Q_OBJECT

    BslApi& bsl = BslApi::instance();
    QTemporaryDir tmp;
    std::shared_ptr<sim::Analyzer> device;

    // A device in update mode holding its old firmware: all main flash 0x00 (so a segment
    // the update forgets to erase shows), the package's password at 0xFFE0.
    std::shared_ptr<sim::Analyzer> plug(const ImageSet& ASet, sim::Options AOptions = {}) {
        auto d = sim::Analyzer::create(AOptions);
        d->load(kMainStart, std::vector<std::uint8_t>(kMainEnd - kMainStart, 0x00));
        const DataBlock pass = bsl.BSL_readTI_Text(ASet.read("Pass").constData(), 32);
        d->load(pass.startAddr, std::vector<std::uint8_t>(pass.data, pass.data + pass.numberOfBytes));
        sim::Bus::instance().plug(d);
        return d;
    }

    Run update(const ImageSet& ASet, const std::function<void(const QString&)>& ABeforeStep = {}) {
        return runUpdate(bsl, ASet, ABeforeStep, PasswordFallback::Yes);
    }

    // The first address where the device's memory differs from the image, or -1.
    int flashDiffersAt(const ImageSet& ASet) {
        const MemoryMap expected = srecordMap(ASet.path("BinVorel"), tmp.path());
        if (expected.given.count(true) == 0) return 0;
        const std::vector<std::uint8_t> flash = device->read(0, MemoryMap::kSpace);
        for (int a = 0; a < MemoryMap::kSpace; ++a) {
            if (expected.given.testBit(a) && flash[a] != static_cast<std::uint8_t>(expected.bytes[a]))
                return a;
        }
        return -1;
    }

    // Up to the reopened RAM BSL with the password accepted.
    bool intoRamBsl(const ImageSet& ASet) {
        try {
            update(ASet, [](const QString& AStep) {
                if (AStep == "version") throw AStep;
            });
        } catch (const QString&) {
            return device->mode() == sim::Mode::RamBsl;
        }
        return false;
    }

private slots:
    void initTestCase() { QVERIFY(tmp.isValid()); }

    void cleanup() {
        bsl.BSL_closeTI_Text();
        bsl.BSL_close_BSL();
        bsl.BSL_setFamily(3);
        bsl.BSL_setCom(2);
        sim::Bus::instance().unplugAll();
        device.reset();
    }

    void wholeUpdate_data() {
        QTest::addColumn<int>("set");
        const auto sets = imageSets();
        for (int i = 0; i < sets.size(); ++i) QTest::newRow(qPrintable(sets[i].name)) << i;
    }

    void wholeUpdate() {
        QFETCH(int, set);
        const ImageSet images = imageSets().at(set);
        device = plug(images);
        const Run run = update(images);
        QCOMPARE(run.failedAt, QString());
        QCOMPARE(device->mode(), sim::Mode::Application);
        QCOMPARE(device->stats().resets, 1u);
        QCOMPARE(device->stats().massErases, 0u);
        // The second sending of the reset finds no device any more.
        QCOMPARE(bsl.BSL_RX_TXT(images.read("ForcedBOR").constData(), 1), BSL430_ERR_DEVICE_LOST);
        QCOMPARE(flashDiffersAt(images), -1);
    }

    void faults_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("set");
        const auto sets = imageSets();
        for (int s = 0; s < sets.size(); ++s)
            for (int i = 0; i < faultCases().size(); ++i)
                QTest::addRow("%s: %s", qPrintable(sets[s].name), faultCases()[i].name) << i << s;
    }

    void faults() {
        QFETCH(int, index);
        QFETCH(int, set);
        const FaultCase& c = faultCases().at(index);
        const ImageSet images = imageSets().at(set);
        device = plug(images);
        const Run run = update(images, [&](const QString& AStep) {
            if (AStep == c.applyBefore) {
                sim::Faults f;
                c.set(f);
                device->setFaults(f);
            }
        });
        QCOMPARE(run.failedAt, QString(c.failedAt));
        QCOMPARE(run.answer, c.answer);
        if (run.answer != 0) QVERIFY(!bsl.lastError().isEmpty());
        if (run.failedAt.isEmpty()) {
            QCOMPARE(device->mode(), sim::Mode::Application);
            QCOMPARE(flashDiffersAt(images), -1);
        }
    }

    void wrongVersionText() {
        const ImageSet images = imageSets().first();
        device = plug(images);
        QVERIFY(intoRamBsl(images));
        QCOMPARE(QString(bsl.BSL_TX_BSL_Version_String()), "Vendor:[00],CI:[07],API:[08],PI:[38]");
        sim::Faults f;
        f.ramBslVersion = std::array<std::uint8_t, 4>{0x00, 0x06, 0x05, 0x34};
        device->setFaults(f);
        QCOMPARE(QString(bsl.BSL_TX_BSL_Version_String()), "Vendor:[00],CI:[06],API:[05],PI:[34]");
        device->unplug();
        QCOMPARE(QString(bsl.BSL_TX_BSL_Version_String()), "ERROR");
        QCOMPARE(bindingVersion(bsl.BSL_TX_BSL_Version_String()), "00...");
    }

    void passwordFallback() {
        const ImageSet images = imageSets().first();
        device = plug(images);
        sim::Faults f;
        f.refusePassword = true;
        device->setFaults(f);
        QCOMPARE(bsl.BSL_initialize_BSL(kDevice), 0);
        const DataBlock pass = bsl.BSL_readTI_Text(images.read("Pass").constData(), 32);
        QCOMPARE(bsl.BSL_RX_Password(pass), BSL430_MSG_PASSWORD_ERROR);
        QCOMPARE(device->stats().massErases, 1u);
        QCOMPARE(bsl.BSL_RX_Password(bsl.BSL_getDefaultPass()), 0);

        f.refuseDefaultPassword = true;
        device->setFaults(f);
        QCOMPARE(bsl.BSL_RX_Password(pass), BSL430_MSG_PASSWORD_ERROR);
        QCOMPARE(bsl.BSL_RX_Password(bsl.BSL_getDefaultPass()), BSL430_MSG_PASSWORD_ERROR);
    }

    void shortPasswordIsNotSent() {
        const ImageSet images = imageSets().first();
        device = plug(images);
        QCOMPARE(bsl.BSL_initialize_BSL(kDevice), 0);
        DataBlock pass = bsl.BSL_readTI_Text(images.read("Pass").constData(), 32);
        pass.numberOfBytes = 31;
        QCOMPARE(bsl.BSL_RX_Password(pass), BSL430_ERR_BAD_ARGUMENT);
        QCOMPARE(bsl.BSL_RX_Password(DataBlock{}), BSL430_ERR_BAD_ARGUMENT);
        QVERIFY(device->commandLog().empty());
        QCOMPARE(device->stats().massErases, 0u);
    }

    void deviceText_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("answer");
        QTest::newRow("the service's text") << QByteArray(kDevice) << 0;
        QTest::newRow("letter case and blanks") << QByteArray(" vid = 0x2047 , Pid=0X0200, deviceIndex=0 ") << 0;
        QTest::newRow("any order, decimal") << QByteArray("DEVICEINDEX=0,PID=512,VID=8263") << 0;
        QTest::newRow("ids only") << QByteArray("VID=0x2047,PID=0x200") << 0;
        QTest::newRow("empty") << QByteArray("") << 0;
        QTest::newRow("USB") << QByteArray("USB") << 0;
        QTest::newRow("second device") << QByteArray("VID=0x2047,PID=0x200,DEVICEINDEX=1") << 1;
        QTest::newRow("other vendor") << QByteArray("VID=0x1234,PID=0x200,DEVICEINDEX=0") << 1;
        QTest::newRow("unknown key") << QByteArray("VID=0x2047,PID=0x200,BAUD=9600") << 1;
        QTest::newRow("key twice") << QByteArray("VID=0x2047,VID=0x2047") << 1;
        QTest::newRow("id beyond 16 bits") << QByteArray("VID=0x12047") << 1;
        QTest::newRow("not a number") << QByteArray("VID=0x20G7") << 1;
        QTest::newRow("bare prefix") << QByteArray("PID=0x") << 1;
        QTest::newRow("negative index") << QByteArray("DEVICEINDEX=-1") << 1;
        QTest::newRow("no key") << QByteArray("COM1") << 1;
    }

    void deviceText() {
        QFETCH(QByteArray, text);
        QFETCH(int, answer);
        device = plug(imageSets().first());
        QCOMPARE(int(bsl.BSL_initialize_BSL(text.constData())), answer);
        QCOMPARE(bsl.lastError().isEmpty(), answer == 0);
    }

    void familyAndConnection() {
        device = plug(imageSets().first());
        QCOMPARE(bsl.BSL_initialize_BSL(nullptr), 0);
        bsl.BSL_setFamily(1);
        QCOMPARE(bsl.BSL_initialize_BSL(kDevice), BSL430_INIT_DEVICE_NOT_FOUND);
        QVERIFY(bsl.lastError().contains("family"));
        // The failed opening closed the earlier connection.
        QCOMPARE(bsl.BSL_CRC_Check(0x8000, 2), BSL430_ERR_NO_DEVICE);
        bsl.BSL_setFamily(3);
        bsl.BSL_setCom(1);
        QCOMPARE(bsl.BSL_initialize_BSL(kDevice), BSL430_INIT_DEVICE_NOT_FOUND);
        bsl.BSL_setCom(2);
        QCOMPARE(bsl.BSL_initialize_BSL(kDevice), 0);
    }

    void secondDevice() {
        device = plug(imageSets().first());
        auto other = plug(imageSets().first());
        QCOMPARE(bsl.BSL_NumOfUSBDevices(0x2047, 0x0200), 2);
        QCOMPARE(bsl.BSL_NumOfUSBDevices(0x2047, 0x0201), 0);
        QCOMPARE(bsl.BSL_initialize_BSL("VID=0x2047,PID=0x200,DEVICEINDEX=1"), 0);
        QCOMPARE(bsl.BSL_RX_Password(bsl.BSL_getDefaultPass()), BSL430_MSG_PASSWORD_ERROR);
        QCOMPARE(other->stats().massErases, 1u);
        QCOMPARE(device->stats().massErases, 0u);
    }

    void noDevice() {
        QCOMPARE(bsl.BSL_initialize_BSL(kDevice), BSL430_INIT_DEVICE_NOT_FOUND);
        QVERIFY(bsl.lastError().contains("no boot loader"));
        QCOMPARE(bsl.BSL_RX_Password(bsl.BSL_getDefaultPass()), BSL430_ERR_NO_DEVICE);
        QCOMPARE(bsl.BSL_CRC_Check(0x8000, 16), BSL430_ERR_NO_DEVICE);
        QCOMPARE(bsl.BSL_get_RX_Buffer().size, 0u);
        QCOMPARE(bsl.BSL_eraseSegment(0xFFFF), BSL430_ERR_NO_DEVICE);
        QCOMPARE(bsl.BSL_LoadPC(0x2504), BSL430_ERR_NO_DEVICE);
        QCOMPARE(bsl.BSL_RX_TXT("@2500\n00\nq\n", 1), BSL430_ERR_NO_DEVICE);
        QCOMPARE(bsl.BSL_RX_TXT("q\n", 1), BSL430_ERR_NO_DEVICE);
        QCOMPARE(bsl.BSL_eraseCheck(0x8000, 0), BSL430_ERR_NO_DEVICE);
        QCOMPARE(QString(bsl.BSL_TX_BSL_Version_String()), "ERROR");
        QCOMPARE(bsl.BSL_TX_BufferSize(), 0u);
        QCOMPARE(bsl.BSL_close_BSL(), 0);
        const QString file = tmp.filePath("nothing.txt");
        QCOMPARE(bsl.BSL_TX_TXT_File(file.toUtf8().constData(), 0x8000, 16), BSL430_ERR_NO_DEVICE);
        QCOMPARE(bsl.BSL_TX_TXT_File(file.toUtf8().constData(), 0x8000, 0), BSL430_ERR_NO_DEVICE);
        QVERIFY(!QFile::exists(file));
    }

    void flashBslAnswers() {
        // The small flash BSL knows only the password, fast blocks into RAM and Load PC.
        device = plug(imageSets().first());
        QCOMPARE(bsl.BSL_initialize_BSL(kDevice), 0);
        QCOMPARE(bsl.BSL_CRC_Check(0x8000, 16), BSL430_MSG_LOCKED);
        QCOMPARE(QString(bsl.BSL_TX_BSL_Version_String()), "ERROR");
        QCOMPARE(bsl.BSL_RX_Password(bsl.BSL_readTI_Text(imageSets().first().read("Pass").constData(), 32)), 0);
        QCOMPARE(bsl.BSL_CRC_Check(0x8000, 16), BSL430_MSG_UNKNOWN_COMMAND);
        const dataBuffer rx = bsl.BSL_get_RX_Buffer();
        QCOMPARE(rx.size, 2u);
        QCOMPARE(rx.data[0], std::uint8_t(0x3B));
        QCOMPARE(rx.data[1], std::uint8_t(BSL430_MSG_UNKNOWN_COMMAND));
        QCOMPARE(bsl.BSL_massErase(), BSL430_MSG_UNKNOWN_COMMAND);
        QCOMPARE(bsl.BSL_TX_BufferSize(), 0u);
    }

    void crcAgainstBinascii() {
        const ImageSet images = imageSets().first();
        device = plug(images);
        QVERIFY(intoRamBsl(images));
        std::vector<std::uint8_t> bytes(4099);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
        device->load(0x9001, bytes);
        QCOMPARE(bsl.BSL_CRC_Check(0x9001, 4099), 0);
        const dataBuffer rx = bsl.BSL_get_RX_Buffer();
        QCOMPARE(rx.size, 3u);
        QCOMPARE(rx.data[0], std::uint8_t(0x3A));
        QProcess py;
        py.start("python3", {"-c", "import sys,binascii; print(binascii.crc_hqx(bytes((i*7+3)&255 for i in range(4099)), 0xFFFF))"});
        QVERIFY(py.waitForFinished(30000));
        QCOMPARE(rx.data[1] | rx.data[2] << 8, py.readAllStandardOutput().trimmed().toInt());
        QCOMPARE(bsl.BSL_CRC_Check(0x9000, 0x10000), BSL430_ERR_BAD_ARGUMENT);
    }

    void packing_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("reports");
        QByteArray run = "@2600\n";
        for (int i = 0; i < 1000; ++i) run += QByteArray::number(i & 0xFF, 16).rightJustified(2, '0') + ' ';
        QTest::newRow("1000 bytes in one run") << run + "\nq\n" << 18;  // ceil(1000 / 58)
        QTest::newRow("runs that continue each other")
            << QByteArray("@2600\n01 02 03 04\n@2604\n05 06\n@2606\n07\nq\n") << 1;
        QTest::newRow("two runs") << QByteArray("@2600\n01\n@2700\n02\nq\n") << 2;
        QByteArray odd = "@2601\n";
        for (int i = 0; i < 115; ++i) odd += "11 ";
        QTest::newRow("odd start: one short chunk, then word-aligned") << odd + "\nq\n" << 2;
        QTest::newRow("nothing to send") << QByteArray("q\n") << 0;
    }

    void packing() {
        QFETCH(QByteArray, text);
        QFETCH(int, reports);
        const ImageSet images = imageSets().first();
        device = plug(images);
        QVERIFY(intoRamBsl(images));
        const auto before = device->commandLog().size();
        const auto sent = device->stats().reportsToDevice;
        const auto answers = device->stats().reportsToHost;
        QCOMPARE(bsl.BSL_RX_TXT(text.constData(), 1), 0u);
        QCOMPARE(int(device->stats().reportsToDevice - sent), reports);
        const auto log = device->commandLog();
        for (auto i = before; i < log.size(); ++i) {
            QCOMPARE(log[i][0], std::uint8_t(0x1B));
            QVERIFY(log[i].size() <= 62);
        }
        QCOMPARE(device->stats().reportsToHost, answers);  // fast blocks get no answer
    }

    void slowBlocksAnswerEach() {
        const ImageSet images = imageSets().first();
        device = plug(images);
        QVERIFY(intoRamBsl(images));
        QCOMPARE(bsl.BSL_eraseSegment(0x8000), 0);
        QCOMPARE(bsl.BSL_RX_TXT("@8000\n01 02 03 04\n@8010\n05\nq\n", 0), 0u);
        QCOMPARE(device->read(0x8000, 4), (std::vector<std::uint8_t>{1, 2, 3, 4}));
        QCOMPARE(device->read(0x8010, 1), (std::vector<std::uint8_t>{5}));
        // Not erased: the device's write check refuses, and its code comes back.
        QCOMPARE(bsl.BSL_RX_TXT("@8200\n01\nq\n", 0), BSL430_MSG_FLASH_WRITE_CHECK_FAILED);
        QVERIFY(bsl.lastError().contains("0x08200"));
    }

    void memoryToFile() {
        const ImageSet images = imageSets().first();
        device = plug(images);
        QVERIFY(intoRamBsl(images));
        std::vector<std::uint8_t> bytes(300);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(255 - i);
        device->load(0x10010, bytes);
        const QString file = tmp.filePath("dump.txt");
        QCOMPARE(bsl.BSL_TX_TXT_File(file.toUtf8().constData(), 0x10010, 300), 0u);
        const MemoryMap dump = srecordMap(file, tmp.path());
        QCOMPARE(dump.given.count(true), 300);
        for (int i = 0; i < 300; ++i) QCOMPARE(std::uint8_t(dump.bytes[0x10010 + i]), bytes[i]);
        // Read back through the library's own reader too.
        QCOMPARE(bsl.BSL_openTI_TextForRead(file.toUtf8().constData()), 0);
        QCOMPARE(bsl.BSL_readTI_TextFile(5000).numberOfBytes, 300u);
        bsl.BSL_closeTI_Text();
        // A request the device refuses leaves the earlier file as it was.
        QFile before(file);
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray old = before.readAll();
        QCOMPARE(bsl.BSL_TX_TXT_File(file.toUtf8().constData(), 0xFFFFF0, 0x20), BSL430_ERR_BAD_ARGUMENT);
        device->unplug();
        QCOMPARE(bsl.BSL_TX_TXT_File(file.toUtf8().constData(), 0x8000, 16), BSL430_ERR_DEVICE_LOST);
        QFile after(file);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), old);
        QCOMPARE(QDir(tmp.path()).entryList({"dump.txt.*"}, QDir::Files), QStringList());
    }

    void erasing() {
        const ImageSet images = imageSets().first();
        device = plug(images);
        QVERIFY(intoRamBsl(images));
        QCOMPARE(bsl.BSL_eraseCheck(0x8000, 0x200), BSL430_ERR_NOT_ERASED);
        QVERIFY(bsl.lastError().contains("not erased"));
        QCOMPARE(bsl.BSL_massErase(), 0);
        QCOMPARE(bsl.BSL_eraseCheck(kMainStart, kMainEnd - kMainStart), 0);
        device->load(0x1800, std::vector<std::uint8_t>(0x200, 0x00));
        QCOMPARE(bsl.BSL_eraseMainOrInfo(0x1800), BSL430_MSG_FLASH_FAIL_BIT_SET);  // A locked
        QCOMPARE(bsl.BSL_eraseCheck(0x1800, 0x180), 0);
        QCOMPARE(bsl.BSL_toggleInfo(), 0);
        QCOMPARE(bsl.BSL_eraseMainOrInfo(0x1900), 0);
        QCOMPARE(bsl.BSL_eraseCheck(0x1800, 0x200), 0);
        QCOMPARE(bsl.BSL_TX_BufferSize(), 256u);
        QCOMPARE(bsl.BSL_setMemOffset(0), 0);
        QCOMPARE(bsl.BSL_setMemOffset(0x10000), BSL430_ERR_UNSUPPORTED);
        QCOMPARE(bsl.BSL_changeBaudRate(115200), 0);
        QCOMPARE(bsl.BSL_RegisterUSBDeviceNotification(nullptr), 0);
        QCOMPARE(bsl.BSL_UnRegisterUSBDeviceNotification(), 0);
    }
};

QTEST_GUILESS_MAIN(TestBslFlash)
#include "tst_bsl430_flash.moc"
