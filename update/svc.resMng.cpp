#include "svc.resMng.h"

#include "mIOUtils.h"

#include <codesite/CodeSite.h>
#include <linux/InstanceLock.h>
#include <rtl/IOUtils.h>
#include <rtl/PrivateFolders.h>
#include <rtl/Resources.h>
#include <rtl/SysUtils.h>
#include <win/FileApi.h>
#include <win/ShlObj.h>

#include <QDir>

#include <algorithm>
#include <array>
#include <cerrno>

namespace {

// The working folder, relative to the temporary folder.
const QString cWorkFolder = QStringLiteral("ovk/trelmint");
const QString cNoExecFolder = QStringLiteral(
    "The working folder \"%s\" is on a file system that does not allow executing programs (mounted noexec), "
    "so the BSL library cannot be loaded from there. Set TMPDIR to a folder on a file system that allows "
    "executing programs.");

// The temporary folder in its long form, ending with "/"; empty when none is reported.
QString GetTempFolder()
{
    std::array<WCHAR, MAX_PATH> shortPath{};
    const DWORD shortLength = GetTempPathW(MAX_PATH, shortPath.data());
    if (shortLength == 0 || shortLength >= MAX_PATH)
        return QString();
    std::array<WCHAR, MAX_PATH> longPath{};
    const DWORD longLength = GetLongPathNameW(shortPath.data(), longPath.data(), MAX_PATH);
    if (longLength == 0 || longLength >= MAX_PATH)
        return QString::fromUtf16(shortPath.data(), shortLength);
    return QString::fromUtf16(longPath.data(), longLength);
}

// The resource's bytes as ASCII text, one character per byte and nothing trimmed. None of the
// package's texts has a byte above 0x7F; one would read as U+FFFD.
bool LoadResourceText(const QString& AResName, QString& AText, QString& AErMsg)
{
    AText.clear();
    AErMsg.clear();
    try {
        const TResourceStream resource(AResName);
        const QByteArrayView bytes = resource.Bytes();
        QString text(bytes.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const auto byte = static_cast<unsigned char>(bytes[i]);
            text[i] = byte < 0x80 ? QChar(byte) : QChar(QChar::ReplacementCharacter);
        }
        AText = text;
        return true;
    } catch (const Exception& E) {
        AErMsg = E.Message();
        return false;
    }
}

// The library is loaded from the working folder later, so the folder and each of its parts
// must be the user's alone before anything is written or deleted there; the temporary folder
// above them may be shared only the way /tmp is (sticky). Parts that do not exist yet pass:
// they are made private when the library is written.
void CheckWorkFolderParts(const QString& ATempFolder, const QString& AWorkFolder)
{
    const QString root = ATempFolder.isEmpty() ? QStringLiteral(".") : ATempFolder;
    if (!TDirectory::Exists(root))
        return;
    CheckSafeParentFolder(root);
    QString folder = ATempFolder;
    for (const QString& part : AWorkFolder.split(u'/')) {
        folder = TPath::Combine(folder, part);
        try {
            CheckPrivateFolder(folder);
        } catch (const EInOutError& E) {
            if (E.ErrorCode() != ENOENT)
                throw;
            return;
        }
    }
}

// The library is loaded from the working folder: a file system mounted noexec would let it
// be written and then refuse to map it, long after the start.
void CheckExecutableWorkFolder(const QString& AWorkFolder)
{
    const QString folder = TPath::GetFullPath(AWorkFolder);
    if (!AllowsExecution(folder))
        throw EInOutError(Format(cNoExecFolder, {folder}));
}

// Delete failures that leave Finalize: a missing file, a denied access, a file in use, and
// the path checks (no system error). Any other is logged and the shut-down goes on.
bool LeavesFinalize(const EInOutError& AError)
{
    switch (AError.ErrorCode()) {
    case 0: case ENOENT: case EACCES: case EPERM: case EBUSY: case ETXTBSY:
        return true;
    default:
        return false;
    }
}

}  // namespace

TsvcResMng::TsvcResMng()
{
    OnCreate = [this](TObject* Sender) { DataModuleCreate(Sender); };
    OnDestroy = [this](TObject* Sender) { DataModuleDestroy(Sender); };
}

void TsvcResMng::DataModuleCreate(TObject*)
{
    FBinInfo = std::make_unique<TStringList>();
}

void TsvcResMng::DataModuleDestroy(TObject*)
{
    Finalize();
    FBinInfo.reset();
}

bool TsvcResMng::Initialize(QString& AErMsg)
{
    AErMsg.clear();
    bool Result = CheckWorkFolder(AErMsg);
    if (Result) {
        AErMsg.clear();
        Result = ExtractDlls(AErMsg);
    }
    if (Result) {
        AErMsg.clear();
        Result = LoadTexts(AErMsg);
    }
    if (Result) {
        AErMsg.clear();
        Result = ExtractFirmware(AErMsg);
    }
    FInitialized = Result;
    return Result;
}

void TsvcResMng::Finalize()
{
    if (FBinFilePath.isEmpty() || !TFile::Exists(FBinFilePath))
        return;
    try {
        TFile::Delete(FBinFilePath);
    } catch (const EInOutError& E) {
        if (LeavesFinalize(E))
            throw;
        CodeSite()->SendError(QStringLiteral("Cannot delete \"%s\": %s"), QVariantList{FBinFilePath, E.Message()});
    }
}

QString TsvcResMng::GetWorkFolder()
{
    return TPath::Combine(GetTempFolder(), cWorkFolder);
}

QString TsvcResMng::GetBSL430Path() const
{
    // A package without a library (some test packages) has no library path.
    if (cDllInfos.empty())
        return QString();
    return TPath::Combine(GetWorkFolder(), cDllInfos.front().FileName);
}

QString TsvcResMng::GetBinInfoValue(int AIndex) const
{
    if (AIndex < 0 || AIndex > 2)
        return QString();
    const QString line = FBinInfo->Strings(AIndex);
    const qsizetype equals = line.indexOf(u'=');
    return equals < 0 ? QString() : line.mid(equals + 1);
}

bool TsvcResMng::CheckWorkFolderPath(QString& AErMsg)
{
    AErMsg.clear();
    try {
        CheckWorkFolderParts(GetTempFolder(), cWorkFolder);
        return true;
    } catch (const Exception& E) {
        AErMsg = E.Message();
        return false;
    }
}

bool TsvcResMng::CheckWorkFolder(QString& AErMsg)
{
    AErMsg.clear();
    try {
        CheckWorkFolderParts(GetTempFolder(), cWorkFolder);
        CheckExecutableWorkFolder(GetWorkFolder());
        return true;
    } catch (const Exception& E) {
        AErMsg = E.Message();
        return false;
    }
}

bool TsvcResMng::ExtractDlls(QString& AErMsg)
{
    AErMsg.clear();
    auto IsDllCurrent = [&](const TDllInfo& AInfo) -> bool {
        try {
            const QString path = TPath::Combine(GetWorkFolder(), AInfo.FileName);
            // Judged as the entry is, links not followed: only a regular file of the user's
            // that no one else may change is loaded; anything else there is removed.
            const TEntryKind kind = EntryKind(path);
            if (kind == TEntryKind::None || kind == TEntryKind::Folder)
                return false;
            // The size first: the digest reads the whole file.
            if (kind == TEntryKind::PrivateFile && GetFileSizeOf(path) == AInfo.Size && GetFileMD5(path) == AInfo.MD5)
                return true;
            TFile::Delete(path);
            return false;
        } catch (const Exception& E) {
            AErMsg = E.Message();
            return false;
        }
    };
    for (const TDllInfo& info : cDllInfos) {
        if (IsDllCurrent(info))
            continue;
        const QString path = TPath::Combine(GetWorkFolder(), info.FileName);
        // Whatever kept the file from being checked, only the write decides.
        AErMsg.clear();
        if (!SaveResourceToFile(info.ID, path, AErMsg))
            return false;
    }
    return true;
}

bool TsvcResMng::SaveResourceToFile(const QString& AResName, const QString& AFilePath, QString& AErMsg)
{
    AErMsg.clear();
    try {
        // The resource first, so that a missing one creates no folder.
        const TResourceStream resource(AResName);
        const QString folder = TPath::GetDirectoryName(TPath::GetFullPath(AFilePath));
        if (!TDirectory::Exists(folder)) {
            // Made private to the user; checked again in case someone else was quicker.
            TDirectory::CreateDirectory(folder);
            CheckWorkFolderParts(GetTempFolder(), cWorkFolder);
        }
        TFile::WriteAllBytes(AFilePath, resource.Bytes());
        return true;
    } catch (const Exception& E) {
        AErMsg = E.Message();
        return false;
    }
}

bool TsvcResMng::LoadTexts(QString& AErMsg)
{
    AErMsg.clear();
    QString binInfo;
    const bool Result = LoadResourceText(QStringLiteral("Pass"), FPass, AErMsg)
        && LoadResourceText(QStringLiteral("RAM_BSL"), FRamBSL, AErMsg)
        && LoadResourceText(QStringLiteral("ForcedBOR"), FForcedBOR, AErMsg)
        && LoadResourceText(QStringLiteral("RAM_BSL_Version"), FRamBSLVersion, AErMsg)
        && LoadResourceText(QStringLiteral("BinInfo"), binInfo, AErMsg);
    if (Result) {
        FBinInfo->Clear();
        FBinInfo->SetText(binInfo);
    }
    return Result;
}

bool TsvcResMng::ExtractFirmware(QString& AErMsg)
{
    AErMsg.clear();
    try {
        const TResourceStream resource(QStringLiteral("BinVorel"));
        const QString fileName = BinFileName();
        // The window shows the target and the version once this succeeds: both lines must be
        // there, or reading them would fail later where nothing catches it.
        BinTarget();
        BinVersion();
        // Only the first image of this run: a later Initialize keeps the one before, as a file of
        // this run that Finalize no longer names.
        if (FBinFilePath.isEmpty())
            RemoveEarlierImages(TPath::Combine(GetWorkFolder(), fileName));
        FBinFilePath = MakeUniqueFileName(TPath::Combine(GetWorkFolder(), fileName));
        // A link there counts as no file when it leads nowhere or to a folder; in the working
        // folder it goes, elsewhere the write refuses it. The image is never written through it.
        if (TPath::GetDirectoryName(FBinFilePath) == TPath::GetFullPath(GetWorkFolder())
            && EntryKind(FBinFilePath) == TEntryKind::Other)
            TFile::Delete(FBinFilePath);
        TFile::WriteAllBytes(FBinFilePath, resource.Bytes());
        return true;
    } catch (const Exception& E) {
        AErMsg = E.Message();
        return false;
    }
}

void TsvcResMng::RemoveEarlierImages(const QString& AImagePath)
{
    // Another folder (a rooted name in the image information) holds no images of ours.
    const QString folder = TPath::GetFullPath(GetWorkFolder());
    if (TPath::GetDirectoryName(TPath::GetFullPath(AImagePath)) != folder)
        return;
    const QString name = TPath::GetFileName(AImagePath);
    const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    for (const QString& entry : QDir(folder).entryList(all, QDir::Name)) {
        // Never the library or the lock, whatever the image is called.
        if (!IsUniqueNameOf(entry, name) || entry == TInstanceLock::FileName()
            || std::any_of(cDllInfos.begin(), cDllInfos.end(), [&](const TDllInfo& AInfo) { return entry == AInfo.FileName; }))
            continue;
        const QString path = TPath::Combine(folder, entry);
        // A failed removal only costs a numbered name beside the old image.
        try {
            if (EntryKind(path) != TEntryKind::PrivateFile)
                continue;
            TFile::Delete(path);
            CodeSite()->Send(QStringLiteral("Removed the image of an earlier run"), path);
        } catch (const EInOutError& E) {
            CodeSite()->SendError(QStringLiteral("Cannot remove \"%s\": %s"), QVariantList{path, E.Message()});
        }
    }
}
