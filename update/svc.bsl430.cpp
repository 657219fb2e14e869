#include "svc.bsl430.h"

#include "m.crc.h"
#include "svc.h"
#include "svc.resMng.h"

#include <linux/DeviceAccess.h>
#include <mCodeSiteHelper.h>
#include <rtl/SysUtils.h>
#include <rtl/Thread.h>
#include <win/LibLoaderApi.h>

#include <algorithm>
#include <exception>
#include <utility>

namespace {

constexpr TColor cLogBgColor = 14745599;  // pale yellow
constexpr TColor cLogFontColor = 0;

const QString cDeviceText = QStringLiteral("VID=0x2047,PID=0x200,DEVICEINDEX=0");
constexpr quint16 cVendorId = 0x2047;  // the ids of the device text
constexpr quint16 cProductId = 0x0200;
constexpr quint32 cFamily = 3;
constexpr quint32 cCom = 2;
constexpr quint32 cRamBslEntry = 0x2504;
constexpr quint32 cResetVectorSegment = 0xFFFF;
constexpr qint32 cPasswordBytes = 32;
constexpr qint32 cEraseBlockBytes = 512;
constexpr qint32 cVerifyBlockBytes = 5000;
constexpr quint8 cFast = 1;
const QString cRamBslVersion = QStringLiteral("00.07.08.38");
const QString cBorTwiceVersions[] = {QStringLiteral("00.06.05.34"), QStringLiteral("00.07.08.38")};

// Best effort: a note on the global logger, and nothing more if that fails too.
void ExitRecordFailed(const QString& AMethodName) noexcept
{
    try {
        CodeSite()->SendError(QStringLiteral("The exit record of %1 could not be written").arg(AMethodName));
    } catch (...) {
    }
}

// The exit record with the method's result, written on every way out.
class TExitWithResult {
public:
    TExitWithResult(TCodeSiteLogger* ALog, const QString& AMethodName, const bool& AResult)
        : FLog(ALog), FMethodName(AMethodName), FResult(AResult)
    {
    }
    // Runs while an exception may be unwinding: a failing record must not end the program.
    ~TExitWithResult()
    {
        try {
            LogExitMethod(FLog, FMethodName, FResult);
        } catch (...) {
            ExitRecordFailed(FMethodName);
        }
    }
    TExitWithResult(const TExitWithResult&) = delete;
    TExitWithResult& operator=(const TExitWithResult&) = delete;

private:
    TCodeSiteLogger* FLog;
    QString FMethodName;
    const bool& FResult;
};

// The exit record without a result.
class TExitMethod {
public:
    TExitMethod(TCodeSiteLogger* ALog, const QString& AMethodName) : FLog(ALog), FMethodName(AMethodName) {}
    ~TExitMethod()
    {
        try {
            FLog->ExitMethod(FMethodName);
        } catch (...) {
            ExitRecordFailed(FMethodName);
        }
    }
    TExitMethod(const TExitMethod&) = delete;
    TExitMethod& operator=(const TExitMethod&) = delete;

private:
    TCodeSiteLogger* FLog;
    QString FMethodName;
};

// Ends the library's TI-TXT reading on every way out once the file was opened. The close
// runs in a destructor, maybe while another exception unwinds: what it raises is logged, never
// passed on, or the program would end.
class TTextReading {
public:
    TTextReading(TCodeSiteLogger* ALog, qint32 AHandle, QString& AErMsg) : FLog(ALog), FHandle(AHandle), FErMsg(AErMsg) {}
    ~TTextReading()
    {
        try {
            BSL::closeTI_Text(FHandle, FErMsg);
        } catch (const std::exception& E) {
            FLog->SendError(QStringLiteral("BSL_closeTI_Text failed: %s"), QVariantList{QString::fromLocal8Bit(E.what())});
        } catch (...) {
            FLog->SendError(QStringLiteral("BSL_closeTI_Text failed"));
        }
    }
    TTextReading(const TTextReading&) = delete;
    TTextReading& operator=(const TTextReading&) = delete;

private:
    TCodeSiteLogger* FLog;
    qint32 FHandle;
    QString& FErMsg;
};

}  // namespace

quint16 CalcBlockCRC(const DataBlock& ABlock)
{
    // Never past the block's data, whatever the count says; the verification refuses such a block.
    const std::size_t count = std::min<std::size_t>(ABlock.numberOfBytes, sizeof ABlock.data);
    quint16 crc;
    CrcInit(crc, 0xFFFF);
    for (std::size_t i = 0; i < count; ++i)
        CrcUpdate(crc, ABlock.data[i]);
    return crc;
}

TsvcBsl430::TsvcBsl430()
{
    OnCreate = [this](TObject* Sender) { DataModuleCreate(Sender); };
    OnDestroy = [this](TObject* Sender) { DataModuleDestroy(Sender); };
}

void TsvcBsl430::DataModuleCreate(TObject*)
{
    SetLog(TCodeSiteLoggerFactory::CreateOrSelectLogger(QStringLiteral("TsvcBsl430"), cLogBgColor, cLogFontColor));
}

void TsvcBsl430::DataModuleDestroy(TObject*)
{
    Finalize();
}

bool TsvcBsl430::Initialize(const QString& ADllPath, QString& AErMsg)
{
    bool result = false;
    Log()->EnterMethod(QStringLiteral("Initialize"));
    TExitWithResult exitRecord(Log(), QStringLiteral("Initialize"), result);
    AErMsg.clear();
    // A library loaded before is let go rather than leaked.
    Finalize();
    FHandle = LoadLibraryW(ADllPath);
    result = FHandle != 0;
    if (!result) {
        AErMsg = QStringLiteral("Fatal error loading the following file:\r\n") + ADllPath;
        Log()->SendError(AErMsg);
        Log()->Send(QStringLiteral("Reason"), GetLastErrorText());
    }
    return result;
}

void TsvcBsl430::Finalize()
{
    if (!Initialized())
        return;
    FreeLibrary(FHandle);
    // The handle is stale now; keeping it would let a later call reach a freed library.
    FHandle = 0;
}

void TsvcBsl430::DoProgress(qint32 APosition, const QString& AMsg, qint32 ASleep)
{
    // The report holds its own copies and only a weak hold on the callback's slot.
    std::weak_ptr<TProgressEvent> onProgress = FOnProgress;
    auto report = [onProgress, APosition, AMsg]() {
        const std::shared_ptr<TProgressEvent> slot = onProgress.lock();
        if (!slot)
            return;
        const TProgressEvent callback = *slot;
        if (callback)
            callback(APosition, AMsg);
    };
    if (ASleep >= 0)
        Sleep(quint32(ASleep));
    Log()->Send(QStringLiteral("DoProgress(APosition: %d, AMsg: \"%s\", ASleep: %d)"),
                QVariantList{APosition, AMsg, ASleep});
    TThread::Queue(nullptr, std::move(report));
}

bool TsvcBsl430::DownloadStartUp(const QString& APass, const QString& ARamBSL, bool& AMassErased, QString& AErMsg)
{
    bool result = false;
    Log()->EnterMethod(QStringLiteral("DownloadStartUp"));
    TExitWithResult exitRecord(Log(), QStringLiteral("DownloadStartUp"), result);
    AErMsg.clear();

    // Opens the USB boot loader; a missing device is reported at APosition.
    auto InitializeUsbBSL = [this](qint32 APosition, QString& AOpenErMsg) {
        bool opened = false;
        Log()->EnterMethod(QStringLiteral("InitializeUsbBSL"));
        TExitWithResult exitRecord(Log(), QStringLiteral("InitializeUsbBSL"), opened);
        AOpenErMsg.clear();
        if (!BSL::setFamily(Handle(), cFamily, AOpenErMsg))
            return opened;
        if (!BSL::setCom(Handle(), cCom, AOpenErMsg))
            return opened;
        if (!BSL::initialize_BSL(Handle(), cDeviceText, AOpenErMsg)) {
            // The library's own words: no device, no access, or another updater holding it.
            if (const QString reason = BSL::getLastError(Handle()); !reason.isEmpty())
                Log()->Send(QStringLiteral("Reason"), reason);
            // A boot loader that is there but closed to this user needs the udev rule first.
            const QString closedNode = InaccessibleHidNode(cVendorId, cProductId);
            DoProgress(APosition,
                       closedNode.isEmpty() ? QStringLiteral("USB device was unplugged!") : MissingUdevRuleText(closedNode),
                       -1);
            return opened;
        }
        opened = true;
        return opened;
    };

    const QString ramBslVersion = GetSvcResMng()->RamBSLVersion();
    DataBlock filePass;
    DataBlock defaultPass;
    quint8 answer = 0;
    quint32 sent = 0;
    quint8 ignored = 0;
    QString version;

    if (!InitializeUsbBSL(0, AErMsg))
        return result;
    if (!BSL::readTI_Text(Handle(), APass, cPasswordBytes, filePass, AErMsg))
        return result;
    if (!BSL::getDefaultPass(Handle(), defaultPass, AErMsg))
        return result;
    DoProgress(5, QString(), -1);

    // Only the boot loader's own refusal means a mass erase. When the exchange itself failed
    // (no answer, the device lost, a garbled answer) the device may well have taken the
    // password: the default one would then be a wrong password, which mass-erases it.
    auto ExchangeFailed = [this, &answer]() {
        if (BSL::IsDeviceAnswer(answer))
            return false;
        Log()->SendError(QStringLiteral("BSL_RX_Password: no answer of the boot loader: %s"),
                         QVariantList{BSL::getLastError(Handle())});
        return true;
    };
    if (!BSL::RX_Password(Handle(), filePass, answer, AErMsg))
        return result;
    if (ExchangeFailed())
        return result;
    if (answer != 0) {
        // A refused password makes the boot loader mass-erase the device.
        AMassErased = true;
        DoProgress(5, QStringLiteral("Mass erase occured!"), -1);
        Sleep(2000);
        if (!BSL::RX_Password(Handle(), defaultPass, answer, AErMsg))
            return result;
        if (ExchangeFailed())
            return result;
        if (answer != 0) {
            DoProgress(10, QStringLiteral("Password FAILED!"), -1);
            return result;
        }
    }
    DoProgress(10, QStringLiteral("Password Send Successfully"), -1);

    DoProgress(20, QStringLiteral("Sending RAM BSL v") + ramBslVersion, -1);
    if (!BSL::RX_TXT(Handle(), ARamBSL, cFast, sent, AErMsg))
        return result;
    if (!BSL::LoadPC(Handle(), cRamBslEntry, ignored, AErMsg))
        return result;
    DoProgress(30, QStringLiteral("Done RAM BSL v") + ramBslVersion, -1);
    if (!BSL::close_BSL(Handle(), ignored, AErMsg))
        return result;
    // The RAM BSL needs time to come up and enumerate again.
    DoProgress(35, QString(), 1000);
    DoProgress(40, QString(), 1000);
    DoProgress(45, QString(), 1000);

    if (!InitializeUsbBSL(50, AErMsg))
        return result;
    FStopWatch.Reset();
    FStopWatch.Start();

    BSL::RX_Password(Handle(), AMassErased ? defaultPass : filePass, answer, AErMsg);
    if (!BSL::TX_BSL_Version_String(Handle(), version, AErMsg))
        return result;
    if (version != cRamBslVersion) {
        AErMsg = QStringLiteral("Failed to read data From RAM BSL");
        DoProgress(50, QStringLiteral("Failed to read data From RAM BSL"), -1);
        return result;
    }
    if (answer != 0) {
        DoProgress(50, QStringLiteral("Password FAILED after sending RAM BSL!"), -1);
        return result;
    }
    BSL::eraseSegment(Handle(), cResetVectorSegment, answer, AErMsg);
    if (answer != 0)
        DoProgress(50, QStringLiteral("Failed to erase reset vector"), -1);
    result = true;
    return result;
}

template <class TMore, class TEach>
bool TsvcBsl430::ForEachFileBlock(const QString& AMethodName, const QString& AFileName, qint32 ABlockBytes,
                                  TMore AMore, TEach AEach, QString& AErMsg)
{
    Log()->EnterMethod(AMethodName);
    TExitMethod exitRecord(Log(), AMethodName);
    AErMsg.clear();
    Log()->Send(QStringLiteral("AFileName"), AFileName);
    if (!BSL::openTI_TextForRead(Handle(), AFileName, AErMsg))
        return false;
    TTextReading reading(Log(), Handle(), AErMsg);
    DataBlock block;
    while (AMore(BSL::moreDataToRead_TextFile(Handle(), AErMsg))) {
        if (!BSL::readTI_TextFile(Handle(), ABlockBytes, block, AErMsg))
            return false;
        if (!AEach(std::as_const(block), AErMsg))
            return false;
    }
    return true;
}

bool TsvcBsl430::EraseDataSegment_File(const QString& AFileName, QString& AErMsg)
{
    return ForEachFileBlock(
        QStringLiteral("EraseDataSegment_File"), AFileName, cEraseBlockBytes, [](qint32 AMore) { return AMore == 1; },
        [this](const DataBlock& ABlock, QString& ABlockErMsg) {
            // Only the segment that holds the block's first byte.
            quint8 ignored = 0;
            return BSL::eraseSegment(Handle(), ABlock.startAddr, ignored, ABlockErMsg);
        },
        AErMsg);
}

bool TsvcBsl430::CRC_Check_File(const QString& AFileName, QString& AErMsg)
{
    return ForEachFileBlock(
        QStringLiteral("CRC_Check_File"), AFileName, cVerifyBlockBytes, [](qint32 AMore) { return AMore != 0; },
        [this](const DataBlock& ABlock, QString& ABlockErMsg) {
            const qint32 deviceCrc = GetDeviceCRC(ABlock.startAddr, ABlock.numberOfBytes, ABlockErMsg);
            const quint16 blockCrc = CalcBlockCRC(ABlock);
            // A count beyond the block's data names bytes that were never there: no CRC can
            // vouch for them.
            return ABlock.numberOfBytes <= sizeof ABlock.data && deviceCrc == qint32(blockCrc);
        },
        AErMsg);
}

qint32 TsvcBsl430::GetDeviceCRC(quint32 AAddr, quint32 ALength, QString& AErMsg)
{
    AErMsg.clear();
    quint8 answer = 0;
    if (!BSL::CRC_Check(Handle(), AAddr, ALength, answer, AErMsg) || answer != 0)
        return -1;
    dataBuffer buffer;
    if (!BSL::get_RX_Buffer(Handle(), buffer, AErMsg))
        return -1;
    // data[0] is the answer's kind; the CRC follows low byte first.
    return qint32(buffer.data[1]) + 256 * qint32(buffer.data[2]);
}

bool TsvcBsl430::SendForcedBOR(const QString& AForcedBOR, const QString& ARamBSLVersion, QString& AErMsg)
{
    AErMsg.clear();
    quint32 answer = 0;
    if (!BSL::RX_TXT(Handle(), AForcedBOR, cFast, answer, AErMsg) || answer != 0)
        return false;
    if (ARamBSLVersion.contains(cBorTwiceVersions[0]) || ARamBSLVersion.contains(cBorTwiceVersions[1]))
        BSL::RX_TXT(Handle(), AForcedBOR, cFast, answer, AErMsg);
    return true;
}

void TsvcBsl430::EraseResetVector()
{
    // The image is programmed with its reset vector last, so one that failed its verification
    // has a vector over a wrong image: the device would power up into it and never reach its
    // boot loader by itself. A blank vector makes it start the boot loader instead.
    QString erMsg;
    quint8 answer = 0;
    if (BSL::eraseSegment(Handle(), cResetVectorSegment, answer, erMsg) && answer == 0) {
        Log()->Send(QStringLiteral("Reset vector erased: the device starts its boot loader at the next power-up"),
                    QVariantList{});
        return;
    }
    Log()->SendError(QStringLiteral("The reset vector could not be erased after the failed update: %s"),
                     QVariantList{erMsg.isEmpty() ? BSL::getLastError(Handle()) : erMsg});
}

bool TsvcBsl430::CustomSelectedFirmware(QString& AErMsg)
{
    bool result = false;
    Log()->EnterMethod(QStringLiteral("CustomSelectedFirmware"));
    TExitWithResult exitRecord(Log(), QStringLiteral("CustomSelectedFirmware"), result);
    AErMsg.clear();
    bool massErased = false;
    TsvcResMng* resMng = GetSvcResMng();

    if (!DownloadStartUp(resMng->Pass(), resMng->RamBSL(), massErased, AErMsg)) {
        quint8 ignored = 0;
        BSL::close_BSL(Handle(), ignored, AErMsg);
        DoProgress(50, QStringLiteral("Unsuccessful in starting the BSL. Restarting"), -1);
        if (!DownloadStartUp(resMng->Pass(), resMng->RamBSL(), massErased, AErMsg))
            return result;
    }
    // A mass erase has already cleared every segment.
    if (!massErased) {
        DoProgress(60, QStringLiteral("Erasing memory segments"), -1);
        EraseDataSegment_File(resMng->BinFileFullPath(), AErMsg);
    }
    DoProgress(70, QStringLiteral("Sending ") + resMng->BinFileFullPath(), -1);
    quint32 ignored = 0;
    BSL::RX_TXT_File(Handle(), resMng->BinFileFullPath(), cFast, ignored, AErMsg);
    DoProgress(75, QStringLiteral("Firmware Sent"), -1);
    DoProgress(80, QStringLiteral("Verifying memory"), -1);
    if (!CRC_Check_File(resMng->BinFileFullPath(), AErMsg)) {
        DoProgress(85, QStringLiteral("Memory verification error"), -1);
        EraseResetVector();
        return result;
    }
    DoProgress(85, QStringLiteral("Memory successfully verified"), -1);
    FStopWatch.Stop();
    const TTimeSpan elapsed = FStopWatch.Elapsed();
    DoProgress(90, Format(QStringLiteral("Total programming time is %.2d.%d"),
                          QVariantList{elapsed.Seconds(), elapsed.Milliseconds()}), -1);
    SendForcedBOR(resMng->ForcedBOR(), resMng->RamBSLVersion(), AErMsg);
    DoProgress(100, QStringLiteral("Done!"), -1);
    result = true;
    return result;
}
