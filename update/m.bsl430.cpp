#include "m.bsl430.h"

#include <mCodeSite.h>
#include <rtl/SysUtils.h>
#include <win/LibLoaderApi.h>
#include <win/StringApiSet.h>

namespace {

constexpr TColor cBslLogBgColor = 16443110;  // pale lavender
constexpr TColor cBslLogFontColor = 0;
// The library's codes start here; the boot loader's messages lie far below (1-8).
constexpr quint8 cFirstLibraryCode = 0xF1;

// The library's text for a UTF-16 input; lives until the call returns.
QByteArray Ansi(const QString& AText)
{
    return WideCharToMultiByte(CP_ACP, AText);
}

}  // namespace

TCodeSiteLogger* BSL::FLog = nullptr;

void BSL::Report(const char* AText, void*)
{
    Log()->SendError(QString::fromUtf8(AText));
}

TCodeSiteLogger* BSL::Log()
{
    if (!FLog)
        FLog = TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("BSL"), cBslLogBgColor, cBslLogFontColor);
    return FLog;
}

// Looked up on every call: the handle may name another library by the next call.
template <class TProc>
TProc BSL::Lookup(qint32 AHandle, const char* AExportName, QString& AErMsg)
{
    AErMsg.clear();
    const HMODULE module = static_cast<HMODULE>(static_cast<quint32>(AHandle));
    if (FARPROC proc = GetProcAddress(module, AExportName)) {
        // The library's diagnostics go to the log; a library without this export keeps them.
        using TSetReport = void (*)(void (*)(const char*, void*), void*);
        if (FARPROC setReport = GetProcAddress(module, "BSL_setReportCallback"))
            reinterpret_cast<TSetReport>(setReport)(&BSL::Report, nullptr);
        return reinterpret_cast<TProc>(proc);
    }
    const QString name = QString::fromLatin1(AExportName);
    AErMsg = QStringLiteral("\"") + name + QStringLiteral("\" proc address is not assigned");
    Log()->SendError(QStringLiteral("%s: %s"), QVariantList{name, AErMsg});
    return nullptr;
}

bool BSL::close_BSL(qint32 AHandle, quint8& ARet, QString& AErMsg)
{
    auto proc = Lookup<quint8 (*)()>(AHandle, "BSL_close_BSL", AErMsg);
    if (!proc)
        return false;
    ARet = proc();
    return true;
}

bool BSL::initialize_BSL(qint32 AHandle, const QString& ACom, QString& AErMsg)
{
    auto proc = Lookup<quint8 (*)(const char*)>(AHandle, "BSL_initialize_BSL", AErMsg);
    if (!proc)
        return false;
    const QByteArray com = Ansi(ACom);
    if (proc(com.constData()) == 1) {
        AErMsg = QStringLiteral("Failed, BSL.initialize_BSL cannot find devices. ERCode = BSL.DEVICE_NOT_FOUND");
        return false;
    }
    return true;
}

bool BSL::TX_BSL_Version_String(qint32 AHandle, QString& ARet, QString& AErMsg)
{
    auto proc = Lookup<const char* (*)()>(AHandle, "BSL_TX_BSL_Version_String", AErMsg);
    if (!proc)
        return false;
    // "Vendor:[xx],CI:[xx],API:[xx],PI:[xx]": CI, API and PI from 1-based positions 17, 26
    // and 34; a field past the end comes out short or empty.
    const QString version = MultiByteToWideChar(CP_ACP, proc());
    ARet = Format(QStringLiteral("00.%s.%s.%s"),
                  QVariantList{version.mid(16, 2), version.mid(25, 2), version.mid(33, 2)});
    return true;
}

bool BSL::TX_BufferSize(qint32 AHandle, quint32& ARet, QString& AErMsg)
{
    auto proc = Lookup<quint32 (*)()>(AHandle, "BSL_TX_BufferSize", AErMsg);
    if (!proc)
        return false;
    ARet = proc();
    return true;
}

bool BSL::TX_TXT_File(qint32 AHandle, const QString& AFileName, quint32 AAddr, quint32 ALength, quint32& ARet,
                      QString& AErMsg)
{
    auto proc = Lookup<quint32 (*)(const char*, quint32, quint32)>(AHandle, "BSL_TX_TXT_File", AErMsg);
    if (!proc)
        return false;
    const QByteArray fileName = Ansi(AFileName);
    ARet = proc(fileName.constData(), AAddr, ALength);
    return true;
}

bool BSL::RX_TXT_File(qint32 AHandle, const QString& AFileName, quint8 AFast, quint32& ARet, QString& AErMsg)
{
    auto proc = Lookup<quint32 (*)(const char*, qint32)>(AHandle, "BSL_RX_TXT_File", AErMsg);
    if (!proc)
        return false;
    const QByteArray fileName = Ansi(AFileName);
    ARet = proc(fileName.constData(), qint32(AFast));
    return true;
}

bool BSL::RX_TXT(qint32 AHandle, const QString& ADataArray, quint8 AFast, quint32& ARet, QString& AErMsg)
{
    auto proc = Lookup<quint32 (*)(const char*, qint32)>(AHandle, "BSL_RX_TXT", AErMsg);
    if (!proc)
        return false;
    const QByteArray dataArray = Ansi(ADataArray);
    ARet = proc(dataArray.constData(), qint32(AFast));
    return true;
}

bool BSL::setFamily(qint32 AHandle, quint32 AFamily, QString& AErMsg)
{
    auto proc = Lookup<void (*)(quint32)>(AHandle, "BSL_setFamily", AErMsg);
    if (!proc)
        return false;
    proc(AFamily);
    return true;
}

bool BSL::setCom(qint32 AHandle, quint32 ACom, QString& AErMsg)
{
    auto proc = Lookup<void (*)(quint32)>(AHandle, "BSL_setCom", AErMsg);
    if (!proc)
        return false;
    proc(ACom);
    return true;
}

bool BSL::RegisterUSBDeviceNotification(qint32 AHandle, void* AHwnd, quint8& ARet, QString& AErMsg)
{
    auto proc = Lookup<quint8 (*)(void*)>(AHandle, "BSL_RegisterUSBDeviceNotification", AErMsg);
    if (!proc)
        return false;
    ARet = proc(AHwnd);
    return true;
}

bool BSL::UnRegisterUSBDeviceNotification(qint32 AHandle, quint8& ARet, QString& AErMsg)
{
    auto proc = Lookup<quint8 (*)()>(AHandle, "BSL_UnRegisterUSBDeviceNotification", AErMsg);
    if (!proc)
        return false;
    ARet = proc();
    return true;
}

bool BSL::get_RX_Buffer(qint32 AHandle, dataBuffer& ARet, QString& AErMsg)
{
    auto proc = Lookup<dataBuffer (*)()>(AHandle, "BSL_get_RX_Buffer", AErMsg);
    if (!proc)
        return false;
    const dataBuffer buffer = proc();
    ARet = buffer;
    return true;
}

bool BSL::eraseCheck(qint32 AHandle, quint32 AAddr, quint32 ALength, quint8& ARet, QString& AErMsg)
{
    auto proc = Lookup<quint8 (*)(quint32, quint32)>(AHandle, "BSL_eraseCheck", AErMsg);
    if (!proc)
        return false;
    ARet = proc(AAddr, ALength);
    return true;
}

bool BSL::LoadPC(qint32 AHandle, quint32 AAddr, quint8& ARet, QString& AErMsg)
{
    auto proc = Lookup<quint8 (*)(quint32)>(AHandle, "BSL_LoadPC", AErMsg);
    if (!proc)
        return false;
    ARet = proc(AAddr);
    return true;
}

bool BSL::setMemOffset(qint32 AHandle, quint32 AAddr, quint8& ARet, QString& AErMsg)
{
    auto proc = Lookup<quint8 (*)(quint32)>(AHandle, "BSL_setMemOffset", AErMsg);
    if (!proc)
        return false;
    ARet = proc(AAddr);
    return true;
}

bool BSL::CRC_Check(qint32 AHandle, quint32 AAddr, quint32 ALength, quint8& ARet, QString& AErMsg)
{
    auto proc = Lookup<quint8 (*)(quint32, quint32)>(AHandle, "BSL_CRC_Check", AErMsg);
    if (!proc)
        return false;
    ARet = proc(AAddr, ALength);
    return true;
}

bool BSL::massErase(qint32 AHandle, quint8& ARet, QString& AErMsg)
{
    auto proc = Lookup<quint8 (*)()>(AHandle, "BSL_massErase", AErMsg);
    if (!proc)
        return false;
    ARet = proc();
    return true;
}

bool BSL::eraseSegment(qint32 AHandle, quint32 AAddr, quint8& ARet, QString& AErMsg)
{
    auto proc = Lookup<quint8 (*)(quint32)>(AHandle, "BSL_eraseSegment", AErMsg);
    if (!proc)
        return false;
    ARet = proc(AAddr);
    return true;
}

bool BSL::eraseMainOrInfo(qint32 AHandle, quint32 AAddr, quint8& ARet, QString& AErMsg)
{
    auto proc = Lookup<quint8 (*)(quint32)>(AHandle, "BSL_eraseMainOrInfo", AErMsg);
    if (!proc)
        return false;
    ARet = proc(AAddr);
    return true;
}

bool BSL::RX_Password(qint32 AHandle, DataBlock data, quint8& ARet, QString& AErMsg)
{
    auto proc = Lookup<quint8 (*)(DataBlock)>(AHandle, "BSL_RX_Password", AErMsg);
    if (!proc)
        return false;
    ARet = proc(data);
    return true;
}

bool BSL::readTI_TextFile(qint32 AHandle, qint32 bytesToRead, DataBlock& ARet, QString& AErMsg)
{
    auto proc = Lookup<DataBlock (*)(qint32)>(AHandle, "BSL_readTI_TextFile", AErMsg);
    if (!proc)
        return false;
    const DataBlock block = proc(bytesToRead);
    ARet = block;
    return true;
}

qint32 BSL::moreDataToRead_TextFile(qint32 AHandle, QString& AErMsg)
{
    auto proc = Lookup<qint32 (*)()>(AHandle, "BSL_moreDataToRead_TextFile", AErMsg);
    if (!proc)
        return 0;
    return proc();
}

bool BSL::closeTI_Text(qint32 AHandle, QString& AErMsg)
{
    auto proc = Lookup<void (*)()>(AHandle, "BSL_closeTI_Text", AErMsg);
    if (!proc)
        return false;
    proc();
    return true;
}

bool BSL::openTI_TextForRead(qint32 AHandle, const QString& AFilename, QString& AErMsg)
{
    auto proc = Lookup<qint32 (*)(const char*)>(AHandle, "BSL_openTI_TextForRead", AErMsg);
    if (!proc)
        return false;
    const QByteArray fileName = Ansi(AFilename);
    if (proc(fileName.constData()) == -2) {
        AErMsg = QStringLiteral("Failed, BSL.openTI_TextForRead. ERCode = ERROT_Opening_FILE");
        return false;
    }
    return true;
}

bool BSL::readTI_Text(qint32 AHandle, const QString& dataArray, qint32 bytesToRead, DataBlock& ARet,
                      QString& AErMsg)
{
    auto proc = Lookup<DataBlock (*)(const char*, qint32)>(AHandle, "BSL_readTI_Text", AErMsg);
    if (!proc)
        return false;
    const QByteArray text = Ansi(dataArray);
    const DataBlock block = proc(text.constData(), bytesToRead);
    ARet = block;
    return true;
}

bool BSL::getDefaultPass(qint32 AHandle, DataBlock& ARet, QString& AErMsg)
{
    auto proc = Lookup<DataBlock (*)()>(AHandle, "BSL_getDefaultPass", AErMsg);
    if (!proc)
        return false;
    const DataBlock block = proc();
    ARet = block;
    return true;
}

void m_bsl430::Initialization()
{
    BSL::FLog = nullptr;
}

void m_bsl430::Finalization()
{
    BSL::FLog = nullptr;
}

bool BSL::IsDeviceAnswer(quint8 ARet)
{
    return ARet < cFirstLibraryCode;
}

QString BSL::getLastError(qint32 AHandle)
{
    const HMODULE module = static_cast<HMODULE>(static_cast<quint32>(AHandle));
    auto proc = reinterpret_cast<const char* (*)()>(GetProcAddress(module, "BSL_getLastError"));
    return proc ? QString::fromUtf8(proc()) : QString();
}
