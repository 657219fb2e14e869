// The library file the package carries (hidapi transport): it loads as the updater loads it,
// offers every export, and with no analyzer attached says so instead of succeeding.

#include "BslApi.h"

#include <QtTest>

class TestBslShipped : public QObject {
    Q_OBJECT

private slots:
    void loadsAndFindsNoDevice() {
        BslApi bsl(BSL430_PATH);  // every export is looked up here
        bsl.BSL_setFamily(3);
        bsl.BSL_setCom(2);
        QCOMPARE(bsl.BSL_NumOfUSBDevices(0x1234, 0x5678), 0);
        QCOMPARE(bsl.BSL_initialize_BSL("VID=0x1234,PID=0x5678,DEVICEINDEX=0"),
                 BSL430_INIT_DEVICE_NOT_FOUND);
        QVERIFY2(bsl.lastError().contains("no boot loader with VID 0x1234, PID 0x5678"),
                 qPrintable(bsl.lastError()));
        QCOMPARE(bsl.BSL_RX_Password(bsl.BSL_getDefaultPass()), BSL430_ERR_NO_DEVICE);
        QCOMPARE(bsl.BSL_CRC_Check(0x8000, 2), BSL430_ERR_NO_DEVICE);
        QCOMPARE(QString(bsl.BSL_TX_BSL_Version_String()), "ERROR");
        QCOMPARE(bsl.BSL_close_BSL(), 0);
        const DataBlock b = bsl.BSL_readTI_Text("@FFE0\r\n01 02\r\nq", 32);
        QCOMPARE(b.numberOfBytes, 2u);
        QCOMPARE(b.startAddr, 0xFFE0u);
    }
};

QTEST_GUILESS_MAIN(TestBslShipped)
#include "tst_bsl430_shipped.moc"
