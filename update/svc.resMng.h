#pragma once
// The update package manager: unpacks the vendor library and the firmware image from the
// program's own resources into the working folder "ovk/trelmint" under the temporary folder,
// and holds the package's texts.

#include <rtl/Classes.h>
#include <rtl/StringList.h>

#include <QLatin1String>
#include <QString>

#include <atomic>
#include <memory>
#include <span>

// One library file of the package: its resource, its file name in the working folder, and
// the MD5 digest (32 lower-case hexadecimal digits) and size of the resource's bytes.
struct TDllInfo {
    QLatin1String ID;
    QLatin1String FileName;
    QLatin1String MD5;
    qint64 Size;
};

// The library table. The build writes it from the very library file it embeds.
extern const std::span<const TDllInfo> cDllInfos;

class TsvcResMng : public TDataModule {
public:
    // Unpacks and loads the package. On False, AErMsg holds the reason; on True it is empty.
    bool Initialize(QString& AErMsg);
    // Deletes the unpacked image file; the library file and the folder stay. A missing file, a
    // denied access or a file in use raises EInOutError; any other failure of the delete (a
    // read-only file system) is logged to the global logger and not raised.
    void Finalize();

    bool Initialized() const { return FInitialized; }
    // The working folder under the temporary folder; the program locks it before unpacking.
    static QString GetWorkFolder();
    // Each existing part of the working folder is the user's alone and never a link; the
    // reason in AErMsg when not.
    static bool CheckWorkFolderPath(QString& AErMsg);
    QString BSL430Path() const { return GetBSL430Path(); }
    QString Pass() const { return FPass; }
    QString RamBSL() const { return FRamBSL; }
    QString RamBSLVersion() const { return FRamBSLVersion; }
    QString ForcedBOR() const { return FForcedBOR; }
    QString BinFileFullPath() const { return FBinFilePath; }
    // The image information's lines 0, 1 and 2; EListError while a line is missing.
    QString BinFileName() const { return GetBinInfoValue(0); }
    QString BinTarget() const { return GetBinInfoValue(1); }
    QString BinVersion() const { return GetBinInfoValue(2); }

protected:
    TsvcResMng();
    template <class T, class... TArgs>
    friend TOwned<T> CreateDataModule(TArgs&&... AArgs);
    friend class TApplication;

    QString GetBinInfoValue(int AIndex) const;

private:
    void DataModuleCreate(TObject* Sender);
    void DataModuleDestroy(TObject* Sender);

    QString GetBSL430Path() const;
    bool CheckWorkFolder(QString& AErMsg);
    bool ExtractDlls(QString& AErMsg);
    bool SaveResourceToFile(const QString& AResName, const QString& AFilePath, QString& AErMsg);
    bool LoadTexts(QString& AErMsg);
    bool ExtractFirmware(QString& AErMsg);
    // Runs that ended without Finalize (killed, crashed, power lost) left their images: the
    // user's own regular files in the working folder under the image's name or a numbered
    // variant of it go before this run writes its own. Links, others' files and whatever else
    // lives there stay. The program holds the folder's lock, so no other copy uses them.
    void RemoveEarlierImages(const QString& AImagePath);

    QString FPass;
    QString FRamBSL;
    QString FForcedBOR;
    QString FRamBSLVersion;
    QString FBinFilePath;
    std::unique_ptr<TStringList> FBinInfo;
    // Read by the main thread while the initialisation task may still write it.
    std::atomic<bool> FInitialized{false};
};
