// The library file the package carries, over hidapi's hidraw backend, against the simulated
// analyzer on a umockdev USB bus: the whole update, re-enumeration after Load PC included,
// and how a device that leaves the bus surfaces through the real node.

#include "BslApi.h"
#include "Srecord.h"
#include "TestData.h"
#include "UpdateSequence.h"

#include <sim/Analyzer.h>
#include <sim/usb/UsbTestbed.h>

#include <libudev.h>
#include <poll.h>

#include <QTemporaryDir>
#include <QtTest>

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
    struct Unref {
        void operator()(udev* AUdev) const { udev_unref(AUdev); }
        void operator()(udev_monitor* AMonitor) const { udev_monitor_unref(AMonitor); }
        void operator()(udev_device* ADevice) const { udev_device_unref(ADevice); }
    };
    std::unique_ptr<udev, Unref> FUdev{udev_new()};
    std::unique_ptr<udev_monitor, Unref> FMonitor{udev_monitor_new_from_netlink(FUdev.get(), "udev")};

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
            const std::unique_ptr<udev_device, Unref> d(udev_monitor_receive_device(FMonitor.get()));
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

    // A device in update mode holding its old firmware (main flash 0x00) and the package's
    // password, plugged into the bus.
    void plug(const ImageSet& ASet) {
        device = sim::Analyzer::create();
        device->load(kMainStart, std::vector<std::uint8_t>(kMainEnd - kMainStart, 0x00));
        const DataBlock pass = bsl->BSL_readTI_Text(ASet.read("Pass").constData(), 32);
        device->load(pass.startAddr, std::vector<std::uint8_t>(pass.data, pass.data + pass.numberOfBytes));
        bus->plug(device);
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
        QTRY_COMPARE(bus->nodeCount(), 0);
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
};

QTEST_GUILESS_MAIN(TestBslUsb)
#include "tst_bsl430_usb.moc"
