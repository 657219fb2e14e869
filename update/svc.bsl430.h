#pragma once
// The flashing service: loads the BSL library and runs a whole firmware update through the
// binding (boot loader start-up with password and RAM BSL, erase, programming, CRC
// verification, forced reset), reporting each step as a position and a message.

#include "m.bsl430.h"

#include <mCodeSite.h>
#include <rtl/Clock.h>
#include <vcl/Forms.h>

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

using TProgressEvent = std::function<void(int APosition, const QString& AMsg)>;

class TsvcBsl430 : public TCodeSiteLogDataModule {
public:
    // Loads the library at ADllPath; on failure AErMsg names the file.
    bool Initialize(const QString& ADllPath, QString& AErMsg);
    // Unloads the library.
    void Finalize();
    bool Initialized() const { return FHandle != 0; }

    // One whole update; True exactly when every block of the image was verified.
    bool CustomSelectedFirmware(QString& AErMsg);

    // Read on the main thread when each queued report runs there.
    TProgressEvent OnProgress() const { return *FOnProgress; }
    void SetOnProgress(TProgressEvent AValue) { *FOnProgress = std::move(AValue); }

protected:
    TsvcBsl430();
    template <class T, class... TArgs>
    friend TOwned<T> CreateDataModule(TArgs&&... AArgs);
    friend class TApplication;

private:
    void DataModuleCreate(TObject* Sender);
    void DataModuleDestroy(TObject* Sender);

    void DoProgress(qint32 APosition, const QString& AMsg, qint32 ASleep);
    bool DownloadStartUp(const QString& APass, const QString& ARamBSL, bool& AMassErased, QString& AErMsg);
    bool EraseDataSegment_File(const QString& AFileName, QString& AErMsg);
    bool CRC_Check_File(const QString& AFileName, QString& AErMsg);
    // Opens the TI-TXT file, reads blocks of ABlockBytes while AMore holds for the library's
    // answer and hands each to AEach; False at the first block that fails. The file is closed
    // on every way out.
    template <class TMore, class TEach>
    bool ForEachFileBlock(const QString& AMethodName, const QString& AFileName, qint32 ABlockBytes, TMore AMore,
                          TEach AEach, QString& AErMsg);
    qint32 GetDeviceCRC(quint32 AAddr, quint32 ALength, QString& AErMsg);
    bool SendForcedBOR(const QString& AForcedBOR, const QString& ARamBSLVersion, QString& AErMsg);
    // After a failed verification: blanks the reset vector so the boot loader starts at the
    // next power-up; logs the outcome.
    void EraseResetVector();

    // The module handle as the binding takes it.
    qint32 Handle() const { return qint32(FHandle); }

    TStopwatch FStopWatch;
    std::uintptr_t FHandle = 0;
    // Shared with the queued reports only weakly: a report that runs after the service is
    // gone finds nothing and is dropped.
    std::shared_ptr<TProgressEvent> FOnProgress = std::make_shared<TProgressEvent>();
};

// CRC-16 of the block's valid bytes (never past the end of its data).
quint16 CalcBlockCRC(const DataBlock& ABlock);
