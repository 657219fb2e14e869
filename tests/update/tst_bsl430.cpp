#include "ScriptedLibrary.h"

#include <m.bsl430.h>
#include <mCodeSite.h>
#include <mCodeSiteHelper.h>

#include <codesite/Capture.h>
#include <rtl/SysUtils.h>
#include <rtl/Units.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <functional>
#include <map>
#include <memory>

namespace {

// One binding operation called with fixed inputs. ARetUntouched tells whether the out value
// still holds what the caller had put there.
struct TOperation {
    const char* Export;
    std::function<bool(qint32 AHandle, QString& AErMsg, bool& ARetUntouched)> Call;
    QString ExpectedCall;  // the line the scripted library records
};

template <class T>
bool Same(const T& A, const T& B)
{
    return std::memcmp(&A, &B, sizeof(T)) == 0;
}

std::map<QString, TOperation> Operations()
{
    std::map<QString, TOperation> ops;
    auto byteOp = [&ops](const char* AName, const char* AExport, std::function<bool(qint32, quint8&, QString&)> ACall,
                         const QString& AExpectedCall) {
        ops[AName] = {AExport,
                      [ACall](qint32 AHandle, QString& AErMsg, bool& AUntouched) {
                          quint8 ret = 0x5A;
                          const bool result = ACall(AHandle, ret, AErMsg);
                          AUntouched = ret == 0x5A;
                          return result;
                      },
                      AExpectedCall};
    };
    auto wordOp = [&ops](const char* AName, const char* AExport, std::function<bool(qint32, quint32&, QString&)> ACall,
                         const QString& AExpectedCall) {
        ops[AName] = {AExport,
                      [ACall](qint32 AHandle, QString& AErMsg, bool& AUntouched) {
                          quint32 ret = 0x5A5A5A5A;
                          const bool result = ACall(AHandle, ret, AErMsg);
                          AUntouched = ret == 0x5A5A5A5A;
                          return result;
                      },
                      AExpectedCall};
    };
    auto blockOp = [&ops](const char* AName, const char* AExport,
                          std::function<bool(qint32, DataBlock&, QString&)> ACall, const QString& AExpectedCall) {
        ops[AName] = {AExport,
                      [ACall](qint32 AHandle, QString& AErMsg, bool& AUntouched) {
                          const DataBlock before = PatternBlock(77, 0x4400, 3);
                          auto ret = std::make_unique<DataBlock>(before);
                          const bool result = ACall(AHandle, *ret, AErMsg);
                          AUntouched = Same(*ret, before);
                          return result;
                      },
                      AExpectedCall};
    };
    auto plainOp = [&ops](const char* AName, const char* AExport, std::function<bool(qint32, QString&)> ACall,
                          const QString& AExpectedCall) {
        ops[AName] = {AExport,
                      [ACall](qint32 AHandle, QString& AErMsg, bool& AUntouched) {
                          AUntouched = true;
                          return ACall(AHandle, AErMsg);
                      },
                      AExpectedCall};
    };

    byteOp("close_BSL", "BSL_close_BSL", BSL::close_BSL, "BSL_close_BSL()");
    plainOp("initialize_BSL", "BSL_initialize_BSL",
            [](qint32 H, QString& E) { return BSL::initialize_BSL(H, "VID=0x2047,PID=0x200,DEVICEINDEX=0", E); },
            "BSL_initialize_BSL(\"VID=0x2047,PID=0x200,DEVICEINDEX=0\")");
    ops["TX_BSL_Version_String"] = {"BSL_TX_BSL_Version_String",
                                    [](qint32 H, QString& E, bool& AUntouched) {
                                        QString ret = "kept";
                                        const bool result = BSL::TX_BSL_Version_String(H, ret, E);
                                        AUntouched = ret == "kept";
                                        return result;
                                    },
                                    "BSL_TX_BSL_Version_String()"};
    wordOp("TX_BufferSize", "BSL_TX_BufferSize", BSL::TX_BufferSize, "BSL_TX_BufferSize()");
    wordOp("TX_TXT_File", "BSL_TX_TXT_File",
           [](qint32 H, quint32& R, QString& E) { return BSL::TX_TXT_File(H, "dump.txt", 0x8000, 512, R, E); },
           "BSL_TX_TXT_File(\"dump.txt\",32768,512)");
    wordOp("RX_TXT_File", "BSL_RX_TXT_File",
           [](qint32 H, quint32& R, QString& E) { return BSL::RX_TXT_File(H, "/tmp/fw.txt", 1, R, E); },
           "BSL_RX_TXT_File(\"/tmp/fw.txt\",1)");
    wordOp("RX_TXT", "BSL_RX_TXT",
           [](qint32 H, quint32& R, QString& E) { return BSL::RX_TXT(H, "@0120\r\n04 A5 \r\nq", 255, R, E); },
           "BSL_RX_TXT(\"@0120\\r\\n04 A5 \\r\\nq\",255)");
    plainOp("setFamily", "BSL_setFamily", [](qint32 H, QString& E) { return BSL::setFamily(H, 3, E); },
            "BSL_setFamily(3)");
    plainOp("setCom", "BSL_setCom", [](qint32 H, QString& E) { return BSL::setCom(H, 2, E); }, "BSL_setCom(2)");
    byteOp("RegisterUSBDeviceNotification", "BSL_RegisterUSBDeviceNotification",
           [](qint32 H, quint8& R, QString& E) {
               return BSL::RegisterUSBDeviceNotification(H, reinterpret_cast<void*>(0x1234), R, E);
           },
           "BSL_RegisterUSBDeviceNotification(4660)");
    byteOp("UnRegisterUSBDeviceNotification", "BSL_UnRegisterUSBDeviceNotification",
           BSL::UnRegisterUSBDeviceNotification, "BSL_UnRegisterUSBDeviceNotification()");
    ops["get_RX_Buffer"] = {"BSL_get_RX_Buffer",
                            [](qint32 H, QString& E, bool& AUntouched) {
                                dataBuffer before;
                                std::memset(&before, 0xA7, sizeof before);
                                dataBuffer ret = before;
                                const bool result = BSL::get_RX_Buffer(H, ret, E);
                                AUntouched = Same(ret, before);
                                return result;
                            },
                            "BSL_get_RX_Buffer()"};
    byteOp("eraseCheck", "BSL_eraseCheck",
           [](qint32 H, quint8& R, QString& E) { return BSL::eraseCheck(H, 0x8000, 0x200, R, E); },
           "BSL_eraseCheck(32768,512)");
    byteOp("LoadPC", "BSL_LoadPC", [](qint32 H, quint8& R, QString& E) { return BSL::LoadPC(H, 0x2504, R, E); },
           "BSL_LoadPC(9476)");
    byteOp("setMemOffset", "BSL_setMemOffset",
           [](qint32 H, quint8& R, QString& E) { return BSL::setMemOffset(H, 0x10000, R, E); },
           "BSL_setMemOffset(65536)");
    byteOp("CRC_Check", "BSL_CRC_Check",
           [](qint32 H, quint8& R, QString& E) { return BSL::CRC_Check(H, 0x8000, 5000, R, E); },
           "BSL_CRC_Check(32768,5000)");
    byteOp("massErase", "BSL_massErase", BSL::massErase, "BSL_massErase()");
    byteOp("eraseSegment", "BSL_eraseSegment",
           [](qint32 H, quint8& R, QString& E) { return BSL::eraseSegment(H, 0xFFFF, R, E); },
           "BSL_eraseSegment(65535)");
    byteOp("eraseMainOrInfo", "BSL_eraseMainOrInfo",
           [](qint32 H, quint8& R, QString& E) { return BSL::eraseMainOrInfo(H, 0x1800, R, E); },
           "BSL_eraseMainOrInfo(6144)");
    byteOp("RX_Password", "BSL_RX_Password",
           [](qint32 H, quint8& R, QString& E) { return BSL::RX_Password(H, PatternBlock(32, 0xFFE0, 1), R, E); },
           "BSL_RX_Password(65504,32)");
    blockOp("readTI_TextFile", "BSL_readTI_TextFile",
            [](qint32 H, DataBlock& R, QString& E) { return BSL::readTI_TextFile(H, 5000, R, E); },
            "BSL_readTI_TextFile(5000)");
    ops["moreDataToRead_TextFile"] = {"BSL_moreDataToRead_TextFile",
                                      [](qint32 H, QString& E, bool& AUntouched) {
                                          AUntouched = true;
                                          return BSL::moreDataToRead_TextFile(H, E) != 0 || E.isEmpty();
                                      },
                                      "BSL_moreDataToRead_TextFile()"};
    plainOp("closeTI_Text", "BSL_closeTI_Text", BSL::closeTI_Text, "BSL_closeTI_Text()");
    plainOp("openTI_TextForRead", "BSL_openTI_TextForRead",
            [](qint32 H, QString& E) { return BSL::openTI_TextForRead(H, "/tmp/fw.txt", E); },
            "BSL_openTI_TextForRead(\"/tmp/fw.txt\")");
    blockOp("readTI_Text", "BSL_readTI_Text",
            [](qint32 H, DataBlock& R, QString& E) { return BSL::readTI_Text(H, "@FFE0\r\nFF\r\nq\r\n", 32, R, E); },
            "BSL_readTI_Text(\"@FFE0\\r\\nFF\\r\\nq\\r\\n\",32)");
    blockOp("getDefaultPass", "BSL_getDefaultPass", BSL::getDefaultPass, "BSL_getDefaultPass()");
    return ops;
}

QString MissingText(const QString& AExport)
{
    return "\"" + AExport + "\" proc address is not assigned";
}

}  // namespace

class TestBsl430 : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        FUnits = std::make_unique<TUnits>(std::initializer_list<TUnitInit>{
            {mCodeSite::Initialization, mCodeSite::Finalization},
            {mCodeSiteHelper::Initialization, mCodeSiteHelper::Finalization},
            {m_bsl430::Initialization, m_bsl430::Finalization}});
        FCapture = std::make_unique<TCodeSiteCapture>();
    }
    void cleanup()
    {
        FCapture.reset();
        FUnits.reset();
    }

    void bindsAllOperations()
    {
        QCOMPARE(Operations().size(), std::size_t(26));
    }

    void everyExportMissingWithoutLibrary_data() { OperationRows(); }
    // Handle 0 (no library): each operation fails with its own text and leaves ARet alone.
    void everyExportMissingWithoutLibrary()
    {
        QFETCH(QString, operation);
        const TOperation op = Operations().at(operation);
        QString erMsg = "left over";
        bool untouched = false;
        if (operation == "moreDataToRead_TextFile")
            QCOMPARE(BSL::moreDataToRead_TextFile(0, erMsg), 0);
        else
            QVERIFY(!op.Call(0, erMsg, untouched));
        if (operation != "moreDataToRead_TextFile")
            QVERIFY(untouched);
        QCOMPARE(erMsg, MissingText(op.Export));
        const QList<TCodeSiteRecord> records = FCapture->RecordsOf(QStringLiteral("BSL"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].Kind, TCodeSiteMsgKind::Error);
        QCOMPARE(records[0].Text, QString(op.Export) + ": " + MissingText(op.Export));
    }

    void everyExportCalledWithItsArguments_data() { OperationRows(); }
    void everyExportCalledWithItsArguments()
    {
        QFETCH(QString, operation);
        const TOperation op = Operations().at(operation);
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        library.Answer("BSL_moreDataToRead_TextFile", 1);
        QString erMsg = "left over";
        bool untouched = false;
        QVERIFY(op.Call(library.Handle(), erMsg, untouched));
        QCOMPARE(erMsg, QString());
        QCOMPARE(library.Calls(), QStringList{op.ExpectedCall});
        QVERIFY(FCapture->Records().isEmpty());
    }

    // Only BSL_setFamily is missing; the logger is made at the first missing export, kept
    // and reused.
    void libraryWithoutSetFamily()
    {
        TScriptedLibrary library(NOFAMILY_LIBRARY);
        QString erMsg;
        QVERIFY(BSL::setCom(library.Handle(), 2, erMsg));
        QVERIFY_THROWS_EXCEPTION(EListError, TCodeSiteLoggerFactory::GetLoggers("BSL"));

        QVERIFY(!BSL::setFamily(library.Handle(), 3, erMsg));
        QCOMPARE(erMsg, QString("\"BSL_setFamily\" proc address is not assigned"));
        QCOMPARE(library.Calls(), QStringList{"BSL_setCom(2)"});
        TCodeSiteLogger* log = TCodeSiteLoggerFactory::GetLoggers("BSL");
        QCOMPARE(log->CategoryColor(), TColor(16443110));
        QCOMPARE(log->CategoryFontColor(), TColor(0));
        QList<TCodeSiteRecord> records = FCapture->Records();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].Logger, log);
        QCOMPARE(records[0].Kind, TCodeSiteMsgKind::Error);
        QCOMPARE(records[0].Text, QString("BSL_setFamily: \"BSL_setFamily\" proc address is not assigned"));

        quint8 ret = 9;
        QVERIFY(!BSL::close_BSL(0, ret, erMsg));
        records = FCapture->Records();
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[1].Logger, log);
        QCOMPARE(records[1].Text, QString("BSL_close_BSL: \"BSL_close_BSL\" proc address is not assigned"));
        QVERIFY_THROWS_EXCEPTION(EListError, TCodeSiteLoggerFactory::GetLoggers("BSL[1]"));
    }

    // The BSL library's own diagnostics reach the log through the callback the binding sets
    // (the scripted library, without that export, is bound as before: see above).
    void libraryDiagnosticsGoToTheLog()
    {
        QTemporaryDir dir;
        const QString image = dir.filePath("broken.txt");
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("@8000\nAA 0G\nq\n");
        file.close();
        const HMODULE module = LoadLibraryW(BSL430SIM_LIBRARY);
        QVERIFY(module);
        QString erMsg;
        QVERIFY(!BSL::openTI_TextForRead(qint32(module), image, erMsg));
        FreeLibrary(module);
        const QList<TCodeSiteRecord> records = FCapture->RecordsOf(QStringLiteral("BSL"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].Kind, TCodeSiteMsgKind::Error);
        QVERIFY2(records[0].Text.startsWith("\"" + image + "\": line 2: \"0G\""), qPrintable(records[0].Text));
    }

    // The export is looked up on every call: once the library is gone, nothing is called.
    void noAddressIsKept()
    {
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        const qint32 handle = library.Handle();
        QString erMsg;
        quint8 ret = 0;
        QVERIFY(BSL::massErase(handle, ret, erMsg));
        library.Unload();
        ret = 7;
        QVERIFY(!BSL::massErase(handle, ret, erMsg));
        QCOMPARE(ret, quint8(7));
        QCOMPARE(erMsg, MissingText("BSL_massErase"));
    }

    void byteAndWordAnswers_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<qint64>("answer");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("byte answer") << "CRC_Check" << qint64(0x3B) << qint64(0x3B);
        QTest::newRow("byte answer keeps 8 bits") << "eraseSegment" << qint64(0x1FF) << qint64(0xFF);
        QTest::newRow("word answer keeps 32 bits") << "RX_TXT" << qint64(0xDEADBEEF) << qint64(0xDEADBEEF);
        QTest::newRow("word answer of a file") << "RX_TXT_File" << qint64(0xF7) << qint64(0xF7);
        QTest::newRow("refused password") << "RX_Password" << qint64(5) << qint64(5);
    }
    void byteAndWordAnswers()
    {
        QFETCH(QString, operation);
        QFETCH(qint64, answer);
        QFETCH(qint64, expected);
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        library.Answer(Operations().at(operation).Export, answer);
        QString erMsg;
        qint64 got = -1;
        bool ok = false;
        const qint32 h = library.Handle();
        if (operation == "CRC_Check") {
            quint8 ret;
            ok = BSL::CRC_Check(h, 0x8000, 16, ret, erMsg);
            got = ret;
        } else if (operation == "eraseSegment") {
            quint8 ret;
            ok = BSL::eraseSegment(h, 0x8000, ret, erMsg);
            got = ret;
        } else if (operation == "RX_TXT") {
            quint32 ret;
            ok = BSL::RX_TXT(h, "q", 1, ret, erMsg);
            got = ret;
        } else if (operation == "RX_TXT_File") {
            quint32 ret;
            ok = BSL::RX_TXT_File(h, "missing.txt", 1, ret, erMsg);
            got = ret;
        } else if (operation == "RX_Password") {
            quint8 ret;
            ok = BSL::RX_Password(h, PatternBlock(32, 0xFFE0, 0), ret, erMsg);
            got = ret;
        }
        // A refusal is an answer, not a failure of the binding.
        QVERIFY(ok);
        QCOMPARE(erMsg, QString());
        QCOMPARE(got, expected);
    }

    void initializeJudgesItsAnswer_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("result");
        QTest::newRow("0 opened") << 0 << true;
        QTest::newRow("1 no device") << 1 << false;
        QTest::newRow("2") << 2 << true;
        QTest::newRow("255") << 255 << true;
    }
    void initializeJudgesItsAnswer()
    {
        QFETCH(int, answer);
        QFETCH(bool, result);
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        library.Answer("BSL_initialize_BSL", answer);
        QString erMsg;
        QCOMPARE(BSL::initialize_BSL(library.Handle(), "VID=0x2047,PID=0x200,DEVICEINDEX=0", erMsg), result);
        QCOMPARE(erMsg, result ? QString() : "Failed, BSL.initialize_BSL cannot find devices. ERCode = BSL.DEVICE_NOT_FOUND");
        QVERIFY(FCapture->Records().isEmpty());
    }

    void openTextJudgesItsAnswer_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("result");
        QTest::newRow("0") << 0 << true;
        QTest::newRow("-1") << -1 << true;
        QTest::newRow("-2 not opened") << -2 << false;
        QTest::newRow("-3") << -3 << true;
        QTest::newRow("7") << 7 << true;
    }
    void openTextJudgesItsAnswer()
    {
        QFETCH(int, answer);
        QFETCH(bool, result);
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        library.Answer("BSL_openTI_TextForRead", answer);
        QString erMsg;
        QCOMPARE(BSL::openTI_TextForRead(library.Handle(), "fw.txt", erMsg), result);
        QCOMPARE(erMsg, result ? QString() : "Failed, BSL.openTI_TextForRead. ERCode = ERROT_Opening_FILE");
    }

    void moreDataAnswersUnchanged()
    {
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        for (qint64 answer : {1, 0, 2, -3})
            library.Answer("BSL_moreDataToRead_TextFile", answer);
        QString erMsg;
        QCOMPARE(BSL::moreDataToRead_TextFile(library.Handle(), erMsg), 1);
        QCOMPARE(BSL::moreDataToRead_TextFile(library.Handle(), erMsg), 0);
        QCOMPARE(BSL::moreDataToRead_TextFile(library.Handle(), erMsg), 2);
        QCOMPARE(BSL::moreDataToRead_TextFile(library.Handle(), erMsg), -3);
        QCOMPARE(erMsg, QString());
    }

    void versionText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("null");
        QTest::addColumn<QString>("expected");
        QTest::newRow("layout") << QByteArray("Vendor:[00],CI:[07],API:[08],PI:[38]") << false << "00.07.08.38";
        QTest::newRow("vendor dropped") << QByteArray("Vendor:[12],CI:[06],API:[05],PI:[34]") << false << "00.06.05.34";
        QTest::newRow("null") << QByteArray() << true << "00...";
        QTest::newRow("empty") << QByteArray() << false << "00...";
        QTest::newRow("ERROR") << QByteArray("ERROR") << false << "00...";
        QTest::newRow("17 characters") << QByteArray("Vendor:[00],CI:[0") << false << "00.0..";
        QTest::newRow("cut in API") << QByteArray("Vendor:[00],CI:[07],API:[0") << false << "00.07.0.";
        QTest::newRow("longer text") << QByteArray("Vendor:[00],CI:[07],API:[08],PI:[38],X") << false << "00.07.08.38";
        QTest::newRow("utf-8 counts characters") << QByteArray("Vendor:[\xc3\xa4\xc3\xa4],CI:[07],API:[08],PI:[38]") << false << "00.07.08.38";
    }
    void versionText()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, null);
        QFETCH(QString, expected);
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        library.Version(null ? nullptr : text.constData());
        QString ret = "previous";
        QString erMsg;
        QVERIFY(BSL::TX_BSL_Version_String(library.Handle(), ret, erMsg));
        QCOMPARE(ret, expected);
        QCOMPARE(erMsg, QString());
    }

    void textArguments_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("recorded");
        QTest::newRow("empty is an empty string, not null") << QString() << "\"\"";
        QTest::newRow("non-ASCII path") << QString::fromUtf8("/tmp/\u00e4\u20ac/fw.txt") << QString::fromUtf8("\"/tmp/\u00e4\u20ac/fw.txt\"");
        QTest::newRow("unencodable character") << QString(QChar(0xDC00)) + "x.txt" << "\"?x.txt\"";
    }
    void textArguments()
    {
        QFETCH(QString, text);
        QFETCH(QString, recorded);
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        QString erMsg;
        quint32 ret = 0;
        QVERIFY(BSL::RX_TXT_File(library.Handle(), text, 1, ret, erMsg));
        QVERIFY(BSL::openTI_TextForRead(library.Handle(), text, erMsg));
        QVERIFY(BSL::initialize_BSL(library.Handle(), text, erMsg));
        QCOMPARE(library.Calls(), (QStringList{"BSL_RX_TXT_File(" + recorded + ",1)",
                                               "BSL_openTI_TextForRead(" + recorded + ")",
                                               "BSL_initialize_BSL(" + recorded + ")"}));
    }

    // Records cross whole, whatever numberOfBytes says.
    void recordsCopiedWhole()
    {
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        const DataBlock read = PatternBlock(3, 0x8000, 11);
        const DataBlock text = PatternBlock(32, 0xFFE0, 22);
        const DataBlock pass = PatternBlock(0, 0xFFE0, 33);
        library.Block("BSL_readTI_TextFile", read);
        library.Block("BSL_readTI_Text", text);
        library.Block("BSL_getDefaultPass", pass);
        dataBuffer buffer;
        for (std::size_t i = 0; i < sizeof buffer.data; ++i)
            buffer.data[i] = quint8(255 - i);
        buffer.size = 0x01020304;
        library.Buffer(buffer);

        QString erMsg;
        auto got = std::make_unique<DataBlock>();
        QVERIFY(BSL::readTI_TextFile(library.Handle(), 512, *got, erMsg));
        QVERIFY(Same(*got, read));
        QVERIFY(BSL::readTI_Text(library.Handle(), "@FFE0\nq", 32, *got, erMsg));
        QVERIFY(Same(*got, text));
        QVERIFY(BSL::getDefaultPass(library.Handle(), *got, erMsg));
        QVERIFY(Same(*got, pass));
        dataBuffer gotBuffer{};
        QVERIFY(BSL::get_RX_Buffer(library.Handle(), gotBuffer, erMsg));
        QVERIFY(Same(gotBuffer, buffer));
    }

    // The password block goes to the library by value, every byte of it.
    void passwordPassedByValue()
    {
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        const DataBlock block = PatternBlock(32, 0xFFE0, 99);
        QString erMsg;
        quint8 ret = 1;
        QVERIFY(BSL::RX_Password(library.Handle(), block, ret, erMsg));
        QCOMPARE(ret, quint8(0));
        QVERIFY(Same(library.LastPassword(), block));
    }

    // The binding catches nothing.
    void exceptionsReachTheCaller()
    {
        TScriptedLibrary library(SCRIPTED_LIBRARY);
        library.ThrowIn("BSL_CRC_Check");
        QString erMsg;
        quint8 ret = 0;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, BSL::CRC_Check(library.Handle(), 0x8000, 2, ret, erMsg));
    }

private:
    static void OperationRows()
    {
        QTest::addColumn<QString>("operation");
        for (const auto& [name, op] : Operations())
            QTest::newRow(qPrintable(name)) << name;
    }

    std::unique_ptr<TUnits> FUnits;
    std::unique_ptr<TCodeSiteCapture> FCapture;
};

QTEST_GUILESS_MAIN(TestBsl430)
#include "tst_bsl430.moc"
