// The library file the package carries, over hidapi's hidraw backend, against the simulated
// analyzer on a umockdev USB bus: the whole update, re-enumeration after Load PC included,
// and how a device that leaves the bus surfaces through the real node.

#include "BslApi.h"
#include "Srecord.h"
#include "TestData.h"
#include "UpdateSequence.h"

#include <sim/Analyzer.h>
#include <sim/usb/UsbTestbed.h>

#include <win/udev/UdevPtr.h>

#include <poll.h>

#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <functional>
#include <memory>

namespace {

constexpr quint32 kMainStart = 0x8000, kMainEnd = 0x48000;

struct FaultCase {
    const char* name;
    std::function<void(sim::Faults&)> set;
    const char* failedAt;
    quint32 answer;
};

const QList<FaultCase>& faultCases() {
    static const QList<FaultCase> cases{
        {"password refused", [](sim::Faults& f) { f.refusePassword = true; }, "password",
         BSL430_MSG_PASSWORD_ERROR},
        {"unplugged at Load PC", [](sim::Faults& f) { f.unplugAfterCommand = 0x17; }, "reopen",
         BSL430_INIT_DEVICE_NOT_FOUND},
        {"unplugged at the CRC check", [](sim::Faults& f) { f.unplugAfterCommand = 0x16; },
         "verify", BSL430_ERR_DEVICE_LOST},
    };
    return cases;
}

// What a program watching udev hears: "add usb_device 1-1", "remove hidraw hidraw0", ...
class UdevEvents {
    win::TUdevPtr<udev> FUdev{udev_new()};
    win::TUdevPtr<udev_monitor> FMonitor{udev_monitor_new_from_netlink(FUdev.get(), "udev")};

public:
    UdevEvents() {
        udev_monitor_filter_add_match_subsystem_devtype(FMonitor.get(), "usb", "usb_device");
        udev_monitor_filter_add_match_subsystem_devtype(FMonitor.get(), "hidraw", nullptr);
        udev_monitor_enable_receiving(FMonitor.get());
    }

    // The events so far, waiting up to AWaitMs for the first one.
    QStringList take(int AWaitMs) {
        QStringList events;
        pollfd p{udev_monitor_get_fd(FMonitor.get()), POLLIN, 0};
        for (int wait = AWaitMs; ::poll(&p, 1, wait) > 0; wait = 100) {
            const win::TUdevPtr<udev_device> d(udev_monitor_receive_device(FMonitor.get()));
            if (!d) continue;
            const char* type = udev_device_get_devtype(d.get());
            events << QString("%1 %2 %3").arg(udev_device_get_action(d.get()),
                                              type ? type : udev_device_get_subsystem(d.get()),
                                              udev_device_get_sysname(d.get()));
        }
        return events;
    }
};

}  // namespace

class TestBslUsb : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;
    // The bus first: nothing may ask umockdev about the mock environment before it exists.
    std::unique_ptr<sim::usb::UsbTestbed> bus;
    std::unique_ptr<BslApi> bsl;
    std::shared_ptr<sim::Analyzer> device;

    std::shared_ptr<sim::Analyzer> other;  // a second analyzer on the bus, when a test has one

    // A device in update mode holding its old firmware (main flash 0x00) and the package's
    // password.
    std::shared_ptr<sim::Analyzer> makeDevice(const ImageSet& ASet) {
        auto d = sim::Analyzer::create();
        d->load(kMainStart, std::vector<std::uint8_t>(kMainEnd - kMainStart, 0x00));
        const DataBlock pass = bsl->BSL_readTI_Text(ASet.read("Pass").constData(), 32);
        d->load(pass.startAddr, std::vector<std::uint8_t>(pass.data, pass.data + pass.numberOfBytes));
        return d;
    }

    void plug(const ImageSet& ASet, sim::usb::PlugOptions AOptions = {}) {
        device = makeDevice(ASet);
        bus->plug(device, AOptions);
    }

    // The sequence as the service runs it: the service waits for the device to come back after
    // Load PC; here the wait ends as soon as the bus has settled.
    Run update(const ImageSet& ASet) {
        const int plugs = bus->plugCount();
        return runUpdate(*bsl, ASet, [&](const QString& AStep) {
            if (AStep == "reopen" &&
                !QTest::qWaitFor([&] { return bus->plugCount() > plugs || bus->nodeCount() == 0; }, 10000))
                qWarning("the bus did not settle after Load PC");
        });
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        bus = std::make_unique<sim::usb::UsbTestbed>();
        bsl = std::make_unique<BslApi>(BSL430_PATH);
    }

    void cleanupTestCase() {
        bsl.reset();
        bus.reset();
    }

    void cleanup() {
        bsl->BSL_closeTI_Text();
        bsl->BSL_close_BSL();
        if (device) device->unplug();
        if (other) other->unplug();
        QTRY_COMPARE(bus->nodeCount(), 0);
        device.reset();
        other.reset();
    }

    void wholeUpdate_data() {
        QTest::addColumn<int>("set");
        const auto sets = imageSets();
        for (int i = 0; i < sets.size(); ++i) QTest::newRow(qPrintable(sets[i].name)) << i;
    }

    void wholeUpdate() {
        QFETCH(int, set);
        const ImageSet images = imageSets().at(set);
        plug(images);
        QCOMPARE(bsl->BSL_NumOfUSBDevices(0x2047, 0x0200), 1);
        const int plugs = bus->plugCount();

        const Run run = update(images);
        QCOMPARE(run.failedAt, QString());
        QCOMPARE(bus->plugCount(), plugs + 1);  // re-enumerated once, after Load PC
        QTRY_COMPARE(bus->nodeCount(), 0);      // gone after the forced reset
        QCOMPARE(device->mode(), sim::Mode::Application);
        QCOMPARE(device->stats().resets, 1u);
        QCOMPARE(device->stats().massErases, 0u);
        QCOMPARE(bsl->BSL_NumOfUSBDevices(0x2047, 0x0200), 0);
        // The handle still open on the removed node fails instead of sending into nothing.
        QCOMPARE(bsl->BSL_RX_TXT(images.read("ForcedBOR").constData(), 1), BSL430_ERR_DEVICE_LOST);

        const MemoryMap expected = srecordMap(images.path("BinVorel"), tmp.path());
        QVERIFY(expected.given.count(true) > 0);
        const std::vector<std::uint8_t> flash = device->read(0, MemoryMap::kSpace);
        for (int a = 0; a < MemoryMap::kSpace; ++a) {
            if (expected.given.testBit(a) && flash[a] != static_cast<std::uint8_t>(expected.bytes[a]))
                QFAIL(qPrintable(QString("flash at 0x%1 differs from the image").arg(a, 5, 16, QChar('0'))));
        }
    }

    void busEvents() {
        // As the device world hears an update: the boot loader, its return under the same
        // port with a new node after Load PC, and its leaving after the reset.
        UdevEvents udev;
        const ImageSet images = imageSets().first();
        plug(images);
        QCOMPARE(update(images).failedAt, QString());
        QTRY_COMPARE(bus->nodeCount(), 0);
        const QStringList events = udev.take(1000);
        QCOMPARE(events.size(), 8);
        const QString port = events[0].section(' ', 2);
        const QString first = events[1].section(' ', 2), second = events[5].section(' ', 2);
        QVERIFY(first.startsWith("hidraw"));
        QVERIFY(second.startsWith("hidraw"));
        QVERIFY(first != second);
        QCOMPARE(events, (QStringList{"add usb_device " + port, "add hidraw " + first,
                                      "remove hidraw " + first, "remove usb_device " + port,
                                      "add usb_device " + port, "add hidraw " + second,
                                      "remove hidraw " + second, "remove usb_device " + port}));
    }

    void faults_data() {
        QTest::addColumn<int>("index");
        for (int i = 0; i < faultCases().size(); ++i)
            QTest::newRow(faultCases()[i].name) << i;
    }

    void faults() {
        QFETCH(int, index);
        const FaultCase& c = faultCases().at(index);
        plug(imageSets().first());
        sim::Faults f;
        c.set(f);
        device->setFaults(f);
        const Run run = update(imageSets().first());
        QCOMPARE(run.failedAt, QString(c.failedAt));
        QCOMPARE(run.answer, c.answer);
        QVERIFY(!bsl->lastError().isEmpty());
    }

    void twoAnalyzers_data() {
        QTest::addColumn<int>("replugMs");
        QTest::newRow("back at once") << 0;
        QTest::newRow("back after 1 s") << 1000;
    }

    void twoAnalyzers() {
        // After Load PC the first analyzer returns under a node named after the second's, and
        // for a while the second is the only boot loader on the bus. The reopen must still
        // find the first: the second would get a password that is not its own.
        QFETCH(int, replugMs);
        const ImageSet images = imageSets().first();
        plug(images, {std::chrono::milliseconds(replugMs)});
        other = makeDevice(images);
        bus->plug(other);
        const std::vector<std::uint8_t> otherMemory = other->read(0, MemoryMap::kSpace);
        QCOMPARE(bsl->BSL_NumOfUSBDevices(0x2047, 0x0200), 2);

        // The service's wait ends as soon as the first has left; the library waits for its return.
        const int plugs = bus->plugCount();
        const Run run = runUpdate(*bsl, images, [&](const QString& AStep) {
            if (AStep == "reopen" &&
                !QTest::qWaitFor([&] { return bus->plugCount() > plugs || bus->nodeCount() < 2; }, 10000))
                qWarning("the first analyzer did not leave after Load PC");
        });
        QCOMPARE(run.failedAt, QString());
        QTRY_COMPARE(device->mode(), sim::Mode::Application);  // the reset is sent unanswered
        QCOMPARE(other->mode(), sim::Mode::FlashBsl);
        QCOMPARE(other->stats().reportsToDevice, 0u);
        QVERIFY(other->commandLog().empty());
        QVERIFY(other->read(0, MemoryMap::kSpace) == otherMemory);
    }

    void reopenWaits_data() {
        QTest::addColumn<int>("replugMs");
        QTest::addColumn<bool>("neverBack");
        QTest::addColumn<QString>("failedAt");
        QTest::addColumn<quint32>("answer");
        QTest::newRow("back after 1.5 s") << 1500 << false << QString() << 0u;
        QTest::newRow("never back") << 0 << true << QString("reopen") << quint32(BSL430_INIT_DEVICE_NOT_FOUND);
    }

    void reopenWaits() {
        // The reopen comes right after the device has left, long before it is back.
        QFETCH(int, replugMs);
        QFETCH(bool, neverBack);
        QFETCH(QString, failedAt);
        QFETCH(quint32, answer);
        const ImageSet images = imageSets().first();
        plug(images, {std::chrono::milliseconds(replugMs)});
        if (neverBack) {
            sim::Faults f;
            f.unplugAfterCommand = 0x17;
            device->setFaults(f);
        }
        const int plugs = bus->plugCount();
        const Run run = update(images);
        QCOMPARE(run.failedAt, failedAt);
        QCOMPARE(run.answer, answer);
        QCOMPARE(bus->plugCount(), neverBack ? plugs : plugs + 1);
    }

    void oneUpdaterPerDevice() {
        // A second updater (here a second copy of the library, with its own state) must not
        // drive a boot loader that the first one has open: it is turned away at once, saying
        // why, until the first closes it.
        const QString copy = tmp.filePath("second-bsl430.so");
        QFile::remove(copy);
        QVERIFY(QFile::copy(BSL430_PATH, copy));
        BslApi second(QFile::encodeName(copy).constData());
        const ImageSet images = imageSets().first();
        plug(images);
        QVERIFY2(bsl->BSL_initialize_BSL(kDevice) == BSL430_INIT_OK, qPrintable(bsl->lastError()));

        const auto started = std::chrono::steady_clock::now();
        QCOMPARE(second.BSL_initialize_BSL(kDevice), BSL430_INIT_DEVICE_NOT_FOUND);
        QVERIFY(std::chrono::steady_clock::now() - started < std::chrono::seconds(2));
        QVERIFY2(second.lastError().contains("is in use by another updater"), qPrintable(second.lastError()));
        QCOMPARE(device->stats().reportsToDevice, 0u);

        // The first still drives it; once it lets go, the second may.
        const DataBlock pass = bsl->BSL_readTI_Text(images.read("Pass").constData(), 32);
        QCOMPARE(bsl->BSL_RX_Password(pass), BSL430_MSG_OK);
        QCOMPARE(bsl->BSL_close_BSL(), 0);
        QCOMPARE(second.BSL_initialize_BSL(kDevice), BSL430_INIT_OK);
        QCOMPARE(bsl->BSL_initialize_BSL(kDevice), BSL430_INIT_DEVICE_NOT_FOUND);
        QVERIFY(bsl->lastError().contains("is in use by another updater"));
        QCOMPARE(second.BSL_close_BSL(), 0);
    }

    void reportForms_data() {
        QTest::addColumn<bool>("withoutId");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QString>("failedAt");
        QTest::addColumn<quint32>("answer");
        QTest::newRow("without report id") << true << 0 << QString() << 0u;
        // 0x3F, NL 2, 0x3B, message: a message answer needs 4 bytes, a version answer 7.
        QTest::newRow("message answer one byte short") << false << 3 << QString("password")
                                                       << quint32(BSL430_ERR_BAD_ANSWER);
        QTest::newRow("cut to 4 bytes") << false << 4 << QString("version") << 0u;
    }

    void reportForms() {
        // Answers as the host may get them: without their report id, or shorter than they say.
        QFETCH(bool, withoutId);
        QFETCH(int, bytes);
        QFETCH(QString, failedAt);
        QFETCH(quint32, answer);
        const ImageSet images = imageSets().first();
        sim::usb::PlugOptions options;
        options.answerWithoutReportId = withoutId;
        options.answerBytes = static_cast<std::size_t>(bytes);
        plug(images, options);
        const Run run = update(images);
        QCOMPARE(run.failedAt, failedAt);
        QCOMPARE(run.answer, answer);
        if (failedAt.isEmpty()) QTRY_COMPARE(device->mode(), sim::Mode::Application);
    }
};

QTEST_GUILESS_MAIN(TestBslUsb)
#include "tst_bsl430_usb.moc"
