#include "m.bsl430.h"

#include <mCodeSite.h>
#include <rtl/SysUtils.h>
#include <win/LibLoaderApi.h>
#include <win/StringApiSet.h>

#include <type_traits>

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

// Looked up on every call: the handle may name another library by the next call. AUse calls
// the export; its verdict (True when it gives none) is the call's.
template <class TSig, class TUse>
bool BSL::Call(qint32 AHandle, const char* AExportName, QString& AErMsg, TUse&& AUse)
{
    AErMsg.clear();
    const HMODULE module = static_cast<HMODULE>(static_cast<quint32>(AHandle));
    FARPROC proc = GetProcAddress(module, AExportName);
    if (!proc) {
        const QString name = QString::fromLatin1(AExportName);
        AErMsg = QStringLiteral("\"") + name + QStringLiteral("\" proc address is not assigned");
        Log()->SendError(QStringLiteral("%s: %s"), QVariantList{name, AErMsg});
        return false;
    }
    // The library's diagnostics go to the log; a library without this export keeps them.
    using TSetReport = void (*)(void (*)(const char*, void*), void*);
    if (FARPROC setReport = GetProcAddress(module, "BSL_setReportCallback"))
        reinterpret_cast<TSetReport>(setReport)(&BSL::Report, nullptr);
    TSig* const typed = reinterpret_cast<TSig*>(proc);
    if constexpr (std::is_void_v<std::invoke_result_t<TUse, TSig*>>) {
        AUse(typed);
        return true;
    } else {
        return AUse(typed);
    }
}

bool BSL::close_BSL(qint32 AHandle, quint8& ARet, QString& AErMsg)
{
    return Call<quint8()>(AHandle, "BSL_close_BSL", AErMsg, [&](auto proc) { ARet = proc(); });
}

bool BSL::initialize_BSL(qint32 AHandle, const QString& ACom, QString& AErMsg)
{
    return Call<quint8(const char*)>(AHandle, "BSL_initialize_BSL", AErMsg, [&](auto proc) {
        const QByteArray com = Ansi(ACom);
        if (proc(com.constData()) == 1) {
            AErMsg = QStringLiteral("Failed, BSL.initialize_BSL cannot find devices. ERCode = BSL.DEVICE_NOT_FOUND");
            return false;
        }
        return true;
    });
}

bool BSL::TX_BSL_Version_String(qint32 AHandle, QString& ARet, QString& AErMsg)
{
    return Call<const char*()>(AHandle, "BSL_TX_BSL_Version_String", AErMsg, [&](auto proc) {
        // "Vendor:[xx],CI:[xx],API:[xx],PI:[xx]": CI, API and PI from 1-based positions 17, 26
        // and 34; a field past the end comes out short or empty.
        const QString version = MultiByteToWideChar(CP_ACP, proc());
        ARet = Format(QStringLiteral("00.%s.%s.%s"),
                      QVariantList{version.mid(16, 2), version.mid(25, 2), version.mid(33, 2)});
    });
}

bool BSL::TX_BufferSize(qint32 AHandle, quint32& ARet, QString& AErMsg)
{
    return Call<quint32()>(AHandle, "BSL_TX_BufferSize", AErMsg, [&](auto proc) { ARet = proc(); });
}

bool BSL::TX_TXT_File(qint32 AHandle, const QString& AFileName, quint32 AAddr, quint32 ALength, quint32& ARet,
                      QString& AErMsg)
{
    return Call<quint32(const char*, quint32, quint32)>(AHandle, "BSL_TX_TXT_File", AErMsg, [&](auto proc) {
        const QByteArray fileName = Ansi(AFileName);
        ARet = proc(fileName.constData(), AAddr, ALength);
    });
}

bool BSL::RX_TXT_File(qint32 AHandle, const QString& AFileName, quint8 AFast, quint32& ARet, QString& AErMsg)
{
    return Call<quint32(const char*, qint32)>(AHandle, "BSL_RX_TXT_File", AErMsg, [&](auto proc) {
        const QByteArray fileName = Ansi(AFileName);
        ARet = proc(fileName.constData(), qint32(AFast));
    });
}

bool BSL::RX_TXT(qint32 AHandle, const QString& ADataArray, quint8 AFast, quint32& ARet, QString& AErMsg)
{
    return Call<quint32(const char*, qint32)>(AHandle, "BSL_RX_TXT", AErMsg, [&](auto proc) {
        const QByteArray dataArray = Ansi(ADataArray);
        ARet = proc(dataArray.constData(), qint32(AFast));
    });
}

bool BSL::setFamily(qint32 AHandle, quint32 AFamily, QString& AErMsg)
{
    return Call<void(quint32)>(AHandle, "BSL_setFamily", AErMsg, [&](auto proc) { proc(AFamily); });
}

bool BSL::setCom(qint32 AHandle, quint32 ACom, QString& AErMsg)
{
    return Call<void(quint32)>(AHandle, "BSL_setCom", AErMsg, [&](auto proc) { proc(ACom); });
}

bool BSL::RegisterUSBDeviceNotification(qint32 AHandle, void* AHwnd, quint8& ARet, QString& AErMsg)
{
    return Call<quint8(void*)>(AHandle, "BSL_RegisterUSBDeviceNotification", AErMsg,
                               [&](auto proc) { ARet = proc(AHwnd); });
}

bool BSL::UnRegisterUSBDeviceNotification(qint32 AHandle, quint8& ARet, QString& AErMsg)
{
    return Call<quint8()>(AHandle, "BSL_UnRegisterUSBDeviceNotification", AErMsg, [&](auto proc) { ARet = proc(); });
}

bool BSL::get_RX_Buffer(qint32 AHandle, dataBuffer& ARet, QString& AErMsg)
{
    return Call<dataBuffer()>(AHandle, "BSL_get_RX_Buffer", AErMsg, [&](auto proc) {
        const dataBuffer buffer = proc();
        ARet = buffer;
    });
}

bool BSL::eraseCheck(qint32 AHandle, quint32 AAddr, quint32 ALength, quint8& ARet, QString& AErMsg)
{
    return Call<quint8(quint32, quint32)>(AHandle, "BSL_eraseCheck", AErMsg,
                                          [&](auto proc) { ARet = proc(AAddr, ALength); });
}

bool BSL::LoadPC(qint32 AHandle, quint32 AAddr, quint8& ARet, QString& AErMsg)
{
    return Call<quint8(quint32)>(AHandle, "BSL_LoadPC", AErMsg, [&](auto proc) { ARet = proc(AAddr); });
}

bool BSL::setMemOffset(qint32 AHandle, quint32 AAddr, quint8& ARet, QString& AErMsg)
{
    return Call<quint8(quint32)>(AHandle, "BSL_setMemOffset", AErMsg, [&](auto proc) { ARet = proc(AAddr); });
}

bool BSL::CRC_Check(qint32 AHandle, quint32 AAddr, quint32 ALength, quint8& ARet, QString& AErMsg)
{
    return Call<quint8(quint32, quint32)>(AHandle, "BSL_CRC_Check", AErMsg,
                                          [&](auto proc) { ARet = proc(AAddr, ALength); });
}

bool BSL::massErase(qint32 AHandle, quint8& ARet, QString& AErMsg)
{
    return Call<quint8()>(AHandle, "BSL_massErase", AErMsg, [&](auto proc) { ARet = proc(); });
}

bool BSL::eraseSegment(qint32 AHandle, quint32 AAddr, quint8& ARet, QString& AErMsg)
{
    return Call<quint8(quint32)>(AHandle, "BSL_eraseSegment", AErMsg, [&](auto proc) { ARet = proc(AAddr); });
}

bool BSL::eraseMainOrInfo(qint32 AHandle, quint32 AAddr, quint8& ARet, QString& AErMsg)
{
    return Call<quint8(quint32)>(AHandle, "BSL_eraseMainOrInfo", AErMsg, [&](auto proc) { ARet = proc(AAddr); });
}

bool BSL::RX_Password(qint32 AHandle, DataBlock data, quint8& ARet, QString& AErMsg)
{
    return Call<quint8(DataBlock)>(AHandle, "BSL_RX_Password", AErMsg, [&](auto proc) { ARet = proc(data); });
}

bool BSL::readTI_TextFile(qint32 AHandle, qint32 bytesToRead, DataBlock& ARet, QString& AErMsg)
{
    return Call<DataBlock(qint32)>(AHandle, "BSL_readTI_TextFile", AErMsg, [&](auto proc) {
        const DataBlock block = proc(bytesToRead);
        ARet = block;
    });
}

qint32 BSL::moreDataToRead_TextFile(qint32 AHandle, QString& AErMsg)
{
    qint32 more = 0;
    Call<qint32()>(AHandle, "BSL_moreDataToRead_TextFile", AErMsg, [&](auto proc) { more = proc(); });
    return more;
}

bool BSL::closeTI_Text(qint32 AHandle, QString& AErMsg)
{
    return Call<void()>(AHandle, "BSL_closeTI_Text", AErMsg, [&](auto proc) { proc(); });
}

bool BSL::openTI_TextForRead(qint32 AHandle, const QString& AFilename, QString& AErMsg)
{
    return Call<qint32(const char*)>(AHandle, "BSL_openTI_TextForRead", AErMsg, [&](auto proc) {
        const QByteArray fileName = Ansi(AFilename);
        if (proc(fileName.constData()) == -2) {
            AErMsg = QStringLiteral("Failed, BSL.openTI_TextForRead. ERCode = ERROT_Opening_FILE");
            return false;
        }
        return true;
    });
}

bool BSL::readTI_Text(qint32 AHandle, const QString& dataArray, qint32 bytesToRead, DataBlock& ARet,
                      QString& AErMsg)
{
    return Call<DataBlock(const char*, qint32)>(AHandle, "BSL_readTI_Text", AErMsg, [&](auto proc) {
        const QByteArray text = Ansi(dataArray);
        const DataBlock block = proc(text.constData(), bytesToRead);
        ARet = block;
    });
}

bool BSL::getDefaultPass(qint32 AHandle, DataBlock& ARet, QString& AErMsg)
{
    return Call<DataBlock()>(AHandle, "BSL_getDefaultPass", AErMsg, [&](auto proc) {
        const DataBlock block = proc();
        ARet = block;
    });
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
