#include "FlashingHarness.h"
#include "ScriptedLibrary.h"

#include <codesite/Capture.h>

#include <QTest>

#include <stdexcept>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(sim::Faults)

namespace {

const QString cNoDevice = "Failed, BSL.initialize_BSL cannot find devices. ERCode = BSL.DEVICE_NOT_FOUND";
const QString cDefaultPassword = QString(64, 'F');

// Report sequences, as "position|message", with the waits before them.
const QStringList cPasswordAccepted{"5|", "10|Password Send Successfully"};
const QStringList cMassErase{"5|", "5|Mass erase occured!", "wait 2000", "10|Password Send Successfully"};
const QStringList cBothRefused{"5|", "5|Mass erase occured!", "wait 2000", "10|Password FAILED!"};
const QStringList cRamBsl{"20|Sending RAM BSL v00.07.08.38", "30|Done RAM BSL v00.07.08.38", "wait 1000", "35|",
                          "wait 1000", "40|", "wait 1000", "45|"};
const QStringList cRetry{"50|Unsuccessful in starting the BSL. Restarting"};
const QStringList cErasePass{"60|Erasing memory segments"};
const QStringList cSend{"70|Sending {image}", "75|Firmware Sent", "80|Verifying memory"};
const QStringList cVerifyError{"85|Memory verification error"};

QStringList Verified(const QString& ATime = "00.0")
{
    return {"85|Memory successfully verified", "90|Total programming time is " + ATime, "100|Done!"};
}

const QStringList cStartUpOk{"InitializeUsbBSL=True", "InitializeUsbBSL=True", "DownloadStartUp=True"};
const QStringList cStartUpFailedLate{"InitializeUsbBSL=True", "InitializeUsbBSL=True", "DownloadStartUp=False"};
const QStringList cStartUpFailedEarly{"InitializeUsbBSL=True", "DownloadStartUp=False"};
const QStringList cNotOpened{"InitializeUsbBSL=False", "DownloadStartUp=False"};

sim::Faults WrongRamBslVersion()
{
    sim::Faults faults;
    faults.ramBslVersion = std::array<std::uint8_t, 4>{0x00, 0x07, 0x08, 0x39};
    return faults;
}

// The password blocks sent, by their bytes.
QStringList PasswordsSent(const QStringList& ACalls)
{
    QStringList sent;
    for (const QString& call : ACalls)
        if (call.startsWith("BSL_RX_Password("))
            sent << call.section(',', 2).chopped(1);
    return sent;
}

}  // namespace

class TestFlashing : public QObject {
    Q_OBJECT
private slots:
    void update_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<sim::Faults>("faults");
        QTest::addColumn<bool>("oldPassword");
        QTest::addColumn<QStringList>("trace");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("erMsg");
        QTest::addColumn<QStringList>("exits");

        sim::Faults none;
        QTest::newRow("password accepted at once")
            << "" << none << true << cPasswordAccepted + cRamBsl + cErasePass + cSend + Verified() << true << ""
            << cStartUpOk + QStringList{"EraseDataSegment_File", "CRC_Check_File", "CustomSelectedFirmware=True"};
        QTest::newRow("file password refused, default accepted")
            << "" << none << false << cMassErase + cRamBsl + cSend + Verified() << true << ""
            << cStartUpOk + QStringList{"CRC_Check_File", "CustomSelectedFirmware=True"};

        sim::Faults refuseDefault;
        refuseDefault.refuseDefaultPassword = true;
        QTest::newRow("both passwords refused")
            << "" << refuseDefault << false << cBothRefused + cRetry + cBothRefused << false << ""
            << cStartUpFailedEarly + cStartUpFailedEarly + QStringList{"CustomSelectedFirmware=False"};

        QTest::newRow("no device at the first opening")
            << "unplugged" << none << true << QStringList{"0|USB device was unplugged!"} + cRetry + QStringList{"0|USB device was unplugged!"}
            << false << cNoDevice << cNotOpened + cNotOpened + QStringList{"CustomSelectedFirmware=False"};
        sim::Faults absent;
        absent.absent = true;
        QTest::newRow("device never enumerates")
            << "" << absent << true << QStringList{"0|USB device was unplugged!"} + cRetry + QStringList{"0|USB device was unplugged!"}
            << false << cNoDevice << cNotOpened + cNotOpened + QStringList{"CustomSelectedFirmware=False"};

        const QStringList lostAtReopening = cPasswordAccepted + cRamBsl + QStringList{"50|USB device was unplugged!"} + cRetry
                                            + QStringList{"0|USB device was unplugged!"};
        const QStringList lostAtReopeningExits = QStringList{"InitializeUsbBSL=True", "InitializeUsbBSL=False", "DownloadStartUp=False"}
                                                 + cNotOpened + QStringList{"CustomSelectedFirmware=False"};
        sim::Faults unplugAfterLoadPc;
        unplugAfterLoadPc.unplugAfterCommand = 0x17;
        QTest::newRow("unplugged after Load PC")
            << "" << unplugAfterLoadPc << true << lostAtReopening << false << cNoDevice << lostAtReopeningExits;
        QTest::newRow("unplugged after closing")
            << "unplug at first close" << none << true << lostAtReopening << false << cNoDevice << lostAtReopeningExits;

        const QStringList wrongVersion = cPasswordAccepted + cRamBsl + QStringList{"50|Failed to read data From RAM BSL"};
        QTest::newRow("wrong RAM BSL version")
            << "" << WrongRamBslVersion() << true << wrongVersion + cRetry + wrongVersion << false
            << "Failed to read data From RAM BSL"
            << cStartUpFailedLate + cStartUpFailedLate + QStringList{"CustomSelectedFirmware=False"};

        // The version is judged before the password answer: the first attempt fails on the
        // version although the RAM BSL also refused the password.
        sim::Faults wrongVersionAndPassword = WrongRamBslVersion();
        wrongVersionAndPassword.refuseRamBslPassword = true;
        QTest::newRow("wrong version judged before the refused password")
            << "" << wrongVersionAndPassword << true << wrongVersion + cRetry + cBothRefused << false << ""
            << cStartUpFailedLate + cStartUpFailedEarly + QStringList{"CustomSelectedFirmware=False"};

        sim::Faults refuseRamBslPassword;
        refuseRamBslPassword.refuseRamBslPassword = true;
        QTest::newRow("password refused after the RAM BSL")
            << "" << refuseRamBslPassword << true
            << cPasswordAccepted + cRamBsl + QStringList{"50|Password FAILED after sending RAM BSL!"} + cRetry + cBothRefused
            << false << "" << cStartUpFailedLate + cStartUpFailedEarly + QStringList{"CustomSelectedFirmware=False"};

        QTest::newRow("reset-vector erase refused")
            << "refuse reset-vector erase" << none << true
            << cPasswordAccepted + cRamBsl + QStringList{"50|Failed to erase reset vector"} + cErasePass + cSend + Verified()
            << true << "" << cStartUpOk + QStringList{"EraseDataSegment_File", "CRC_Check_File", "CustomSelectedFirmware=True"};

        QTest::newRow("first start-up fails, second succeeds")
            << "clear faults at retry" << WrongRamBslVersion() << true
            << wrongVersion + cRetry + cPasswordAccepted + cRamBsl + cErasePass + cSend + Verified() << true << ""
            << cStartUpFailedLate + cStartUpOk + QStringList{"EraseDataSegment_File", "CRC_Check_File", "CustomSelectedFirmware=True"};
        // A mass erase seen by the first attempt skips the erase pass after the second.
        QTest::newRow("mass erase in the failed first start-up")
            << "clear faults at retry" << WrongRamBslVersion() << false
            << cMassErase + cRamBsl + QStringList{"50|Failed to read data From RAM BSL"} + cRetry + cMassErase + cRamBsl + cSend + Verified()
            << true << "" << cStartUpFailedLate + cStartUpOk + QStringList{"CRC_Check_File", "CustomSelectedFirmware=True"};
        // The flag stays set through the retry: its RAM BSL gets the default password, which
        // the device (holding the file password again) refuses.
        QTest::newRow("mass-erased flag kept through the retry")
            << "clear faults and restore password at retry" << WrongRamBslVersion() << false
            << cMassErase + cRamBsl + QStringList{"50|Failed to read data From RAM BSL"} + cRetry + cPasswordAccepted + cRamBsl
                   + QStringList{"50|Password FAILED after sending RAM BSL!"}
            << false << "" << cStartUpFailedLate + cStartUpFailedLate + QStringList{"CustomSelectedFirmware=False"};

        sim::Faults flipped;
        flipped.flipBitAt = 0x9123;
        QTest::newRow("flipped flash bit")
            << "" << flipped << true << cPasswordAccepted + cRamBsl + cErasePass + cSend + cVerifyError << false << ""
            << cStartUpOk + QStringList{"EraseDataSegment_File", "CRC_Check_File", "CustomSelectedFirmware=False"};
        sim::Faults refuseCrc;
        refuseCrc.refuseCrcCheck = true;
        QTest::newRow("CRC check refused")
            << "" << refuseCrc << true << cPasswordAccepted + cRamBsl + cErasePass + cSend + cVerifyError << false << ""
            << cStartUpOk + QStringList{"EraseDataSegment_File", "CRC_Check_File", "CustomSelectedFirmware=False"};
    }

    void update()
    {
        QFETCH(QString, setup);
        QFETCH(sim::Faults, faults);
        QFETCH(bool, oldPassword);
        QFETCH(QStringList, trace);
        QFETCH(bool, result);
        QFETCH(QString, erMsg);
        QFETCH(QStringList, exits);

        TFlashingHarness h;
        std::shared_ptr<sim::Analyzer> analyzer;
        if (setup != "unplugged")
            analyzer = h.Plug(faults, oldPassword);
        int closes = 0;
        bool refusing = false;
        const std::vector<std::uint8_t> password = h.PackagePassword();
        h.OnCall([&](const QString& AName, const QString& AArgs) {
            if (AName == "BSL_close_BSL")
                ++closes;
            if (setup == "unplug at first close" && AName == "BSL_close_BSL" && closes == 1)
                analyzer->unplug();
            if (setup.startsWith("clear faults") && AName == "BSL_close_BSL" && closes == 2) {
                analyzer->setFaults({});
                if (setup.contains("restore password"))
                    analyzer->load(0xFFE0, password);
            }
            if (setup == "refuse reset-vector erase") {
                if (refusing)
                    analyzer->setFaults({});
                refusing = AName == "BSL_eraseSegment" && AArgs == "65535";
                if (refusing) {
                    sim::Faults refuse;
                    refuse.refuseSegmentErase = true;
                    analyzer->setFaults(refuse);
                }
            }
        });

        const TRunResult r = h.Run();
        QVERIFY(!r.Exception);
        QCOMPARE(r.WorkerTrace, h.Expand(trace));
        QCOMPARE(r.Reports, h.Expand(WithoutWaits(trace)));
        QCOMPARE(r.Result, result);
        QCOMPARE(r.ErMsg, erMsg);
        QCOMPARE(r.Exits, exits);
        QVERIFY(r.Balanced);

        const bool forcedReset = r.Calls.contains("BSL_RX_TXT(\"@0120\\r\\n04 A5 \\r\\nq\",1)");
        QCOMPARE(forcedReset, result);
        if (result) {
            QString where;
            QVERIFY2(h.FlashHoldsImage(*analyzer, where), qPrintable("differs at 0x" + where));
            QCOMPARE(analyzer->mode(), sim::Mode::Application);
        }
    }

    // The erase pass erases the segment of each block's start, and a mass erase skips it.
    void erasePass()
    {
        TFlashingHarness h;
        auto analyzer = h.Plug();
        const TRunResult r = h.Run();
        QVERIFY(r.Result);
        QStringList erased;
        for (const QString& call : r.Calls)
            if (call.startsWith("BSL_eraseSegment("))
                erased << call;
        QCOMPARE(erased.first(), QString("BSL_eraseSegment(65535)"));
        QStringList starts;
        for (const TImageRun& run : ReadTiTxt(h.ResMng().BinFileFullPath()))
            for (quint32 at = run.Address; at < run.Address + quint32(run.Bytes.size()); at = (at / 512 + 1) * 512)
                starts << "BSL_eraseSegment(" + QString::number(at) + ")";
        QCOMPARE(erased.mid(1), starts);
        QCOMPARE(analyzer->stats().massErases, std::uint64_t(0));
        QCOMPARE(PasswordsSent(r.Calls).size(), 2);
        QCOMPARE(PasswordsSent(r.Calls)[0], PasswordsSent(r.Calls)[1]);
    }

    // After a mass erase the RAM BSL gets the default password.
    void defaultPasswordAfterMassErase()
    {
        TFlashingHarness h;
        auto analyzer = h.Plug({}, false);
        const TRunResult r = h.Run();
        QVERIFY(r.Result);
        const QStringList passwords = PasswordsSent(r.Calls);
        QCOMPARE(passwords.size(), 3);
        QVERIFY(passwords[0] != cDefaultPassword);
        QCOMPARE(passwords[1], cDefaultPassword);
        QCOMPARE(passwords[2], cDefaultPassword);
        QCOMPARE(analyzer->stats().massErases, std::uint64_t(1));
        QCOMPARE(analyzer->stats().segmentErases, std::uint64_t(1));  // the reset vector only
    }

    void programmingTime_data()
    {
        QTest::addColumn<int>("milliseconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("12.345 s") << 12345 << "12.345";
        QTest::newRow("5.007 s") << 5007 << "05.7";
        QTest::newRow("72.5 s") << 72500 << "12.500";
    }
    // The time runs from the reopened boot loader to the verified image: here the sending
    // takes the given time.
    void programmingTime()
    {
        QFETCH(int, milliseconds);
        QFETCH(QString, text);
        TFlashingHarness h;
        h.Plug();
        h.OnCall([&h, milliseconds](const QString& AName, const QString&) {
            if (AName == "BSL_RX_TXT_File")
                h.Clock().Advance(std::chrono::milliseconds(milliseconds));
        });
        const TRunResult r = h.Run();
        QVERIFY(r.Result);
        QCOMPARE(r.Reports.mid(r.Reports.size() - 3), Verified(text));
    }

    // Exit records on the way out of an exception: a wait that throws in the start-up.
    void exceptionInStartUp()
    {
        TFlashingHarness h;
        h.Plug();
        int waits = 0;
        h.OnSleep([&waits](std::chrono::milliseconds AWait) {
            if (AWait == 1000ms && ++waits == 2)
                throw std::runtime_error("interrupted");
        });
        const TRunResult r = h.Run();
        QVERIFY(r.Exception);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, std::rethrow_exception(r.Exception));
        QCOMPARE(r.WorkerTrace, cPasswordAccepted + cRamBsl.mid(0, 5));
        QCOMPARE(r.Exits, (QStringList{"InitializeUsbBSL=True", "DownloadStartUp=False", "CustomSelectedFirmware=False"}));
        QVERIFY(r.Balanced);
    }

    // An exception during the verification: the reading is closed, then the exit records.
    void exceptionInVerification()
    {
        TFlashingHarness h;
        h.Plug();
        h.OnCall([](const QString& AName, const QString&) {
            if (AName == "BSL_CRC_Check")
                throw std::runtime_error("interrupted");
        });
        const TRunResult r = h.Run();
        QVERIFY(r.Exception);
        QCOMPARE(r.Reports, h.Expand(cPasswordAccepted + WithoutWaits(cRamBsl) + cErasePass + cSend));
        QCOMPARE(r.Exits, (cStartUpOk + QStringList{"EraseDataSegment_File", "CRC_Check_File", "CustomSelectedFirmware=False"}));
        QVERIFY(r.Balanced);
        QCOMPARE(r.Calls.mid(r.Calls.size() - 2), (QStringList{"BSL_CRC_Check(32768,5000)", "BSL_closeTI_Text()"}));
    }

    // Closing the reading runs on every way out: when the close itself raises, the update
    // goes on as if it had closed, also while another exception leaves the verification.
    void closeThatRaises_data()
    {
        QTest::addColumn<bool>("checkRaises");
        QTest::newRow("only the close raises") << false;
        QTest::newRow("the CRC check raises, then the close") << true;
    }
    void closeThatRaises()
    {
        QFETCH(bool, checkRaises);
        TFlashingHarness h;
        h.Plug();
        h.OnCall([checkRaises](const QString& AName, const QString&) {
            if (AName == "BSL_closeTI_Text" || (checkRaises && AName == "BSL_CRC_Check"))
                throw std::runtime_error("cable pulled");
        });
        const TRunResult r = h.Run();
        QCOMPARE(bool(r.Exception), checkRaises);
        QCOMPARE(r.Result, !checkRaises);
        QStringList expected = cPasswordAccepted + WithoutWaits(cRamBsl) + cErasePass + cSend;
        if (!checkRaises)
            expected += Verified();
        QCOMPARE(r.Reports, h.Expand(expected));
        QVERIFY(r.Balanced);
        QStringList errors;
        for (const TCodeSiteRecord& record : h.Capture().RecordsOf(QStringLiteral("TsvcBsl430")))
            if (record.Kind == TCodeSiteMsgKind::Error)
                errors << record.Text;
        QCOMPARE(errors, QStringList(2, "BSL_closeTI_Text failed: cable pulled"));
    }

    // A block that claims more bytes than a block holds fails the verification, even when the
    // device's CRC matches the bytes that are there.
    void oversizedBlockFailsVerification_data()
    {
        QTest::addColumn<uint>("count");
        QTest::addColumn<bool>("verified");
        QTest::newRow("a full block") << uint(sizeof(DataBlock::data)) << true;
        QTest::newRow("one byte more") << uint(sizeof(DataBlock::data) + 1) << false;
        QTest::newRow("the largest count") << 0xFFFFFFFFu << false;
    }
    void oversizedBlockFailsVerification()
    {
        QFETCH(uint, count);
        QFETCH(bool, verified);
        TFlashingHarness h;
        QString erMsg;
        QVERIFY(h.ReinitializeService(SCRIPTED_LIBRARY, erMsg));
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        for (int answer : {2, 2, 0})  // the erase pass stops at once, the verification reads one block
            library.Answer("BSL_moreDataToRead_TextFile", answer);
        const DataBlock block = PatternBlock(count, 0x8000, 3);
        library.Block("BSL_readTI_TextFile", block);
        const quint16 crc = CalcBlockCRC(block);
        dataBuffer buffer{};
        buffer.data[1] = quint8(crc & 0xFF);
        buffer.data[2] = quint8(crc >> 8);
        library.Buffer(buffer);
        const TRunResult r = h.Run();
        QCOMPARE(r.Result, verified);
        QCOMPARE(r.Reports.contains("85|Memory verification error"), !verified);
        QCOMPARE(library.Calls().count("BSL_readTI_TextFile(5000)"), 1);
    }

    // No library: the first library call of each start-up fails, and only the retry is reported.
    void noLibrary()
    {
        TFlashingHarness h;
        h.Plug();
        QString erMsg;
        QVERIFY(!h.ReinitializeService("/nonexistent/BSL430.dll", erMsg));
        QCOMPARE(erMsg, QString("Fatal error loading the following file:\r\n/nonexistent/BSL430.dll"));
        QVERIFY(!h.Service().Initialized());
        const TRunResult r = h.Run();
        QCOMPARE(r.WorkerTrace, cRetry);
        QVERIFY(!r.Result);
        QCOMPARE(r.ErMsg, QString("\"BSL_setFamily\" proc address is not assigned"));
        QCOMPARE(r.Exits, (cNotOpened + cNotOpened + QStringList{"CustomSelectedFirmware=False"}));
    }

    // An image without data: neither pass reads a block, and the verification succeeds.
    void imageWithoutData()
    {
        TFlashingHarness h;
        QString erMsg;
        QVERIFY(h.ReinitializeService(SCRIPTED_LIBRARY, erMsg));
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        const TRunResult r = h.Run();
        QVERIFY(r.Result);
        QCOMPARE(r.Reports, h.Expand(cPasswordAccepted + WithoutWaits(cRamBsl) + cErasePass + cSend + Verified()));
        const QStringList calls = library.Calls();
        const QString open = "BSL_openTI_TextForRead(\"" + h.ResMng().BinFileFullPath() + "\")";
        QCOMPARE(calls.count(open), 2);
        QCOMPARE(calls.count("BSL_moreDataToRead_TextFile()"), 2);
        QCOMPARE(calls.count("BSL_closeTI_Text()"), 2);
        QVERIFY(!calls.contains("BSL_readTI_TextFile(512)"));
        QVERIFY(!calls.contains("BSL_readTI_TextFile(5000)"));
    }

    // The erase pass goes on only while the reader answers exactly 1, the verification while
    // it answers anything but 0.
    void readerAnswersJudgedByEachPass()
    {
        TFlashingHarness h;
        QString erMsg;
        QVERIFY(h.ReinitializeService(SCRIPTED_LIBRARY, erMsg));
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        for (int answer : {2, 2, 0})
            library.Answer("BSL_moreDataToRead_TextFile", answer);
        DataBlock block = PatternBlock(3, 0x8000, 0);
        block.data[0] = 'a';
        block.data[1] = 'b';
        block.data[2] = 'c';
        library.Block("BSL_readTI_TextFile", block);
        dataBuffer buffer{};
        buffer.data[0] = 0x3A;
        buffer.data[1] = 0x4A;  // CRC of "abc", low byte first
        buffer.data[2] = 0x51;
        library.Buffer(buffer);
        const TRunResult r = h.Run();
        QVERIFY(r.Result);
        const QStringList calls = library.Calls();
        QVERIFY(!calls.contains("BSL_readTI_TextFile(512)"));
        QCOMPARE(calls.count("BSL_readTI_TextFile(5000)"), 1);
        QCOMPARE(calls.count("BSL_CRC_Check(32768,3)"), 1);
    }

    // A block that runs across a segment boundary erases only the segment of its start; the
    // next segment is erased when a later block starts in it.
    void eraseBlockAcrossSegments()
    {
        TFlashingHarness h;
        QString erMsg;
        QVERIFY(h.ReinitializeService(SCRIPTED_LIBRARY, erMsg));
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        for (int answer : {1, 1, 0})
            library.Answer("BSL_moreDataToRead_TextFile", answer);
        library.Block("BSL_readTI_TextFile", PatternBlock(32, 0x81F0, 0));
        library.Block("BSL_readTI_TextFile", PatternBlock(16, 0x8210, 0));
        const TRunResult r = h.Run();
        QVERIFY(r.Result);
        QStringList erased;
        for (const QString& call : library.Calls())
            if (call.startsWith("BSL_eraseSegment("))
                erased << call;
        QCOMPARE(erased, QStringList({"BSL_eraseSegment(65535)", "BSL_eraseSegment(33264)", "BSL_eraseSegment(33296)"}));
    }

    void initializeRecords()
    {
        TFlashingHarness h;
        h.Capture().Clear();
        QString erMsg = "stale";
        QVERIFY(!h.ReinitializeService("/nonexistent/BSL430.dll", erMsg));
        QList<TCodeSiteRecord> records = h.Capture().RecordsOf(QStringLiteral("TsvcBsl430"));
        QCOMPARE(records.size(), 4);
        QCOMPARE(records[0].Kind, TCodeSiteMsgKind::Enter);
        QCOMPARE(records[0].Text, QString("Initialize"));
        QCOMPARE(records[1].Kind, TCodeSiteMsgKind::Error);
        QCOMPARE(records[1].Text, erMsg);
        QCOMPARE(records[2].Text, QString("Reason"));
        QVERIFY(records[2].ValueText().contains("/nonexistent/BSL430.dll"));
        QCOMPARE(records[3].Kind, TCodeSiteMsgKind::Exit);
        QCOMPARE(records[3].Text + "=" + records[3].ValueText(), QString("Initialize=False"));

        h.Capture().Clear();
        QVERIFY(h.ReinitializeService(h.ResMng().BSL430Path(), erMsg));
        QCOMPARE(erMsg, QString());
        QVERIFY(h.Service().Initialized());
        records = h.Capture().RecordsOf(QStringLiteral("TsvcBsl430"));
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[1].Text + "=" + records[1].ValueText(), QString("Initialize=True"));

        TCodeSiteLogger* log = TCodeSiteLoggerFactory::GetLoggers("TsvcBsl430");
        QCOMPARE(log, h.Service().Log());
        QCOMPARE(log->CategoryColor(), TColor(14745599));
        QCOMPARE(log->CategoryFontColor(), TColor(0));
    }

    // A password exchange that failed is no refusal: no default password goes out (the device
    // may have taken the file password, and would mass-erase for a wrong one), the start-up
    // fails as a failed one does, and the retry carries on.
    void passwordExchangeFailed_data()
    {
        QTest::addColumn<sim::Faults>("faults");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("trace");
        const QStringList lostThenRetried = QStringList{"5|"} + cRetry + cPasswordAccepted + cRamBsl + cErasePass + cSend + Verified();
        for (const auto& [name, fault] : {std::pair{"lost", sim::AnswerFault::Lost}, std::pair{"garbled", sim::AnswerFault::Garbled},
                                          std::pair{"2.5 s late", sim::AnswerFault::Late}}) {
            sim::Faults faults;
            faults.answerFaultCommand = 0x11;
            faults.answerFault = fault;
            faults.lateMillis = 2500;
            QTest::newRow(qPrintable(QString("first answer %1").arg(name))) << faults << true << lostThenRetried;
        }
        sim::Faults silent;
        silent.silentFromCommand = 0x11;
        QTest::newRow("device silent from the first password") << silent << false << QStringList{"5|"} + cRetry + QStringList{"5|"};
    }
    void passwordExchangeFailed()
    {
        QFETCH(sim::Faults, faults);
        QFETCH(bool, result);
        QFETCH(QStringList, trace);
        TFlashingHarness h;
        auto analyzer = h.Plug(faults);
        const std::vector<std::uint8_t> old(0x200, 0x5A);
        analyzer->load(0x8000, old);
        const TRunResult r = h.Run();
        QVERIFY(!r.Exception);
        QCOMPARE(r.WorkerTrace, h.Expand(trace));
        QCOMPARE(r.Result, result);
        QCOMPARE(analyzer->stats().massErases, std::uint64_t(0));
        QVERIFY(!PasswordsSent(r.Calls).contains(cDefaultPassword));
        QCOMPARE(r.Exits.mid(0, 2), (QStringList{"InitializeUsbBSL=True", "DownloadStartUp=False"}));
        QString where;
        if (result)
            QVERIFY2(h.FlashHoldsImage(*analyzer, where), qPrintable("differs at 0x" + where));
        else
            QVERIFY(analyzer->read(0x8000, old.size()) == old);
    }

    // An image that failed its verification must not start at the next power-up: the reset
    // vector, programmed last over the wrong image, is erased again.
    void failedVerificationBlanksResetVector_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("flipped bit") << "flipped bit";
        QTest::newRow("image segments not erased") << "refused erase";
    }
    void failedVerificationBlanksResetVector()
    {
        QFETCH(QString, fault);
        TFlashingHarness h;
        sim::Faults faults;
        if (fault == "flipped bit")
            faults.flipBitAt = 0x9123;
        auto analyzer = h.Plug(faults);
        bool coversVector = false;
        for (const TImageRun& run : ReadTiTxt(h.ResMng().BinFileFullPath())) {
            coversVector |= run.Address <= 0xFFFE && 0xFFFF < run.Address + quint32(run.Bytes.size());
            if (run.Address + quint32(run.Bytes.size()) <= 0xFE00)  // old firmware, all 0
                analyzer->load(run.Address, std::vector<std::uint8_t>(std::size_t(run.Bytes.size()), 0x00));
        }
        QVERIFY(coversVector);
        if (fault == "refused erase")
            h.OnCall([&](const QString& AName, const QString& AArgs) {
                sim::Faults refuse;
                refuse.refuseSegmentErase = AName == "BSL_eraseSegment" && AArgs != "65535";
                if (refuse.refuseSegmentErase || AName == "BSL_RX_TXT_File")
                    analyzer->setFaults(refuse);
            });
        const TRunResult r = h.Run();
        QVERIFY(!r.Exception);
        QVERIFY(!r.Result);
        QCOMPARE(r.Reports.last(), QString("85|Memory verification error"));
        QCOMPARE(r.Calls.last(), QString("BSL_eraseSegment(65535)"));
        QCOMPARE(analyzer->read(0xFFFE, 2), (std::vector<std::uint8_t>{0xFF, 0xFF}));
        QCOMPARE(analyzer->mode(), sim::Mode::RamBsl);
    }

    // A device that stops answering ends the update within seconds wherever it happens: one
    // time-out, then every later command of the session fails at once. Time is the test
    // clock's waits plus the host's waits for answers on the simulated bus.
    void silentDeviceFailsFast_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("occurrence");
        QTest::addColumn<int>("command");
        QTest::newRow("first password") << "BSL_RX_Password" << 1 << 0x11;
        QTest::newRow("RAM BSL password") << "BSL_RX_Password" << 2 << 0x11;
        QTest::newRow("reset-vector erase") << "BSL_eraseSegment" << 1 << 0x12;
        QTest::newRow("erase pass") << "BSL_eraseSegment" << 2 << 0x12;
        QTest::newRow("programming") << "BSL_RX_TXT_File" << 1 << 0x1B;
        QTest::newRow("verification") << "BSL_CRC_Check" << 1 << 0x16;
    }
    void silentDeviceFailsFast()
    {
        QFETCH(QString, call);
        QFETCH(int, occurrence);
        QFETCH(int, command);
        TFlashingHarness h;
        auto analyzer = h.Plug();
        int seen = 0;
        std::chrono::nanoseconds silentAt{-1};
        std::uint64_t hostWaitBefore = 0;
        h.OnCall([&](const QString& AName, const QString&) {
            if (AName != call || ++seen != occurrence)
                return;
            sim::Faults silent;
            silent.silentFromCommand = std::uint8_t(command);
            analyzer->setFaults(silent);
            silentAt = h.Clock().Now();
            hostWaitBefore = analyzer->stats().hostWaitMillis;
        });
        const TRunResult r = h.Run();
        QVERIFY(!r.Exception);
        QVERIFY(!r.Result);
        QVERIFY(silentAt.count() >= 0);
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(h.Clock().Now() - silentAt)
                            + std::chrono::milliseconds(analyzer->stats().hostWaitMillis - hostWaitBefore);
        QVERIFY2(waited < 10s, qPrintable(QString("%1 ms from silence to failure").arg(waited.count())));
    }

    void finalizeUnloads()
    {
        TFlashingHarness h;
        h.Service().Finalize();
        QVERIFY(!h.Service().Initialized());
        h.Service().Finalize();  // nothing left to unload
        QVERIFY(!h.Service().Initialized());
    }

    void reportLogLines()
    {
        TFlashingHarness h;
        h.Plug();
        const TRunResult r = h.Run();
        QVERIFY(r.Result);
        QStringList lines;
        for (const TCodeSiteRecord& record : h.Capture().RecordsOf(QStringLiteral("TsvcBsl430")))
            if (record.Text.startsWith("DoProgress("))
                lines << record.Text;
        QCOMPARE(lines[0], QString("DoProgress(APosition: 5, AMsg: \"\", ASleep: -1)"));
        QCOMPARE(lines[4], QString("DoProgress(APosition: 35, AMsg: \"\", ASleep: 1000)"));
        QCOMPARE(lines.last(), QString("DoProgress(APosition: 100, AMsg: \"Done!\", ASleep: -1)"));
        // One line per report, and only the three pauses after the RAM BSL carry a wait.
        QCOMPARE(lines.size(), r.Reports.size());
        for (int i = 0; i < lines.size(); ++i) {
            const int position = r.Reports[i].section('|', 0, 0).toInt();
            const bool pause = position == 35 || position == 40 || position == 45;
            QVERIFY2(lines[i].endsWith(pause ? "ASleep: 1000)" : "ASleep: -1)"), qPrintable(lines[i]));
            QVERIFY2(lines[i].startsWith(QString("DoProgress(APosition: %1, ").arg(position)), qPrintable(lines[i]));
        }
    }

    // Reports still queued when the service goes are dropped; they never reach it.
    void queuedReportsOutliveNoService()
    {
        TFlashingHarness h;
        h.Plug();
        int delivered = 0;
        h.Service().SetOnProgress([&delivered](int, const QString&) { ++delivered; });
        const TRunResult r = h.Run(false);
        QVERIFY(r.Result);
        QCOMPARE(delivered, 0);
        h.ServiceOwner().reset();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QCOMPARE(delivered, 0);
    }

    // Each report reads the callback when it runs: one set later receives every report that
    // has not run yet.
    void callbackReadWhenReportRuns()
    {
        TFlashingHarness h;
        h.Plug();
        const TRunResult r = h.Run(false);
        QVERIFY(r.Result);
        QStringList reports;
        h.Service().SetOnProgress([&reports](int APosition, const QString& AMsg) {
            reports << QString::number(APosition) + "|" + AMsg;
        });
        QCoreApplication::sendPostedEvents();
        QCOMPARE(reports, h.Expand(cPasswordAccepted + WithoutWaits(cRamBsl) + cErasePass + cSend + Verified()));
        h.Service().SetOnProgress(nullptr);
    }

    // Reports that run while no callback is set are gone.
    void reportsWithoutCallbackDropped()
    {
        TFlashingHarness h;
        h.Plug();
        h.Service().SetOnProgress(nullptr);
        QVERIFY(h.Run(false).Result);
        QCoreApplication::sendPostedEvents();
        int delivered = 0;
        h.Service().SetOnProgress([&delivered](int, const QString&) { ++delivered; });
        QCoreApplication::sendPostedEvents();
        QCOMPARE(delivered, 0);
        h.Service().SetOnProgress(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestFlashing)
#include "tst_flashing.moc"
