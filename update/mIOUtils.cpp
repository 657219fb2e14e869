#include "mIOUtils.h"

#include <rtl/IOUtils.h>
#include <win/ErrHandlingApi.h>
#include <win/FileApi.h>
#include <win/ShlObj.h>

#include <QCryptographicHash>

#include <array>

namespace {

// Puts the process's error mode back on every way out.
class TErrorModeScope {
public:
    explicit TErrorModeScope(UINT AMode) : FPrevious(SetErrorMode(AMode)) {}
    ~TErrorModeScope() { SetErrorMode(FPrevious); }
    TErrorModeScope(const TErrorModeScope&) = delete;
    TErrorModeScope& operator=(const TErrorModeScope&) = delete;

private:
    UINT FPrevious;
};

// Closes a search handle on every way out, the invalid one included.
class TFindScope {
public:
    explicit TFindScope(HANDLE AHandle) : FHandle(AHandle) {}
    ~TFindScope() { FindClose(FHandle); }
    TFindScope(const TFindScope&) = delete;
    TFindScope& operator=(const TFindScope&) = delete;
    bool Valid() const { return FHandle != INVALID_HANDLE_VALUE; }

private:
    HANDLE FHandle;
};

}  // namespace

QString GetFileMD5(const QString& AFileName)
{
    if (!TFile::Exists(AFileName))
        return QString();
    TFileStream stream(AFileName);
    QCryptographicHash digest(QCryptographicHash::Md5);
    std::array<char, 4096> block;
    for (qint64 count; (count = stream.Read(block.data(), qint64(block.size()))) > 0;)
        digest.addData(QByteArrayView(block.data(), count));
    return QString::fromLatin1(digest.result().toHex());
}

qint64 GetFileSizeOf(const QString& AFileName)
{
    if (!TFile::Exists(AFileName))
        return -1;
    TErrorModeScope errorMode(SEM_FAILCRITICALERRORS);
    WIN32_FIND_DATAW data;
    TFindScope search(FindFirstFileW(PChar(AFileName), &data));
    if (!search.Valid() || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return qint64((quint64(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

QString MakeUniqueFileName(const QString& AFileName)
{
    const QString folder = TPath::GetDirectoryName(TPath::GetFullPath(AFileName));
    const QString name = TPath::GetFileName(AFileName);
    QString result = TPath::Combine(folder, name);
    if (TFile::Exists(result)) {
        std::array<WCHAR, MAX_PATH> buffer{};
        if (PathMakeUniqueName(buffer.data(), MAX_PATH, PChar(name), nullptr, PChar(folder)))
            result = QString::fromUtf16(buffer.data());
    }
    return result;
}
