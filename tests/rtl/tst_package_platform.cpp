// The platform stand-ins under the package manager: paths, files, folders, the string list,
// embedded resources and the platform calls.

#include <support/PackageTestSupport.h>

#include <rtl/IOUtils.h>
#include <rtl/PrivateFolders.h>
#include <rtl/Resources.h>
#include <rtl/StringList.h>
#include <rtl/SysUtils.h>
#include <win/ErrHandlingApi.h>
#include <win/FileApi.h>
#include <win/ShlObj.h>

#include <QDir>
#include <QTest>

#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mount.h>

#include <utility>
#include <unistd.h>

using namespace PackageTest;

namespace {

QString Temp()
{
    return qEnvironmentVariable("TMPDIR");
}

QString Nul()
{
    return QString(QChar(u'\0'));
}

template <class E, class F>
QString MessageOf(F AFunction)
{
    try {
        AFunction();
    } catch (const E& e) {
        return e.Message();
    }
    return QStringLiteral("no exception");
}

QString FromBuffer(const WCHAR* ABuffer)
{
    return QString::fromUtf16(ABuffer);
}

}  // namespace

class TestPackagePlatform : public QObject {
    Q_OBJECT
private slots:
    void combine_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty first") << "" << "ovk/trelmint" << "ovk/trelmint";
        QTest::newRow("empty second") << "/tmp/" << "" << "/tmp/";
        QTest::newRow("both empty") << "" << "" << "";
        QTest::newRow("joined") << "/tmp/ovk" << "trelmint" << "/tmp/ovk/trelmint";
        QTest::newRow("first ends with separator") << "/tmp/" << "ovk/trelmint" << "/tmp/ovk/trelmint";
        QTest::newRow("rooted second stands alone") << "/tmp/ovk" << "/srv/image.txt" << "/srv/image.txt";
        QTest::newRow("backslash and colon are ordinary") << "/tmp" << "C:\\a" << "/tmp/C:\\a";
    }
    void combine()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, expected);
        QCOMPARE(TPath::Combine(first, second), expected);
    }

    void combineRefusesNul()
    {
        QCOMPARE(MessageOf<EArgumentException>([] { TPath::Combine(QStringLiteral("/tmp") + Nul(), QStringLiteral("a")); }),
                 QStringLiteral("Invalid characters in path"));
        QCOMPARE(MessageOf<EArgumentException>([] { TPath::Combine(QStringLiteral("/tmp"), Nul() + QStringLiteral("a")); }),
                 QStringLiteral("Invalid characters in path"));
    }

    void fullPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        const QString cwd = QDir::currentPath();
        QTest::newRow("absolute") << "/a/b" << "/a/b";
        QTest::newRow("dots resolved by name") << "/a/./b/../c" << "/a/c";
        QTest::newRow("repeated separators") << "//a///b" << "/a/b";
        QTest::newRow("trailing separator stays") << "/a/b/" << "/a/b/";
        QTest::newRow("above the root") << "/../.." << "/";
        QTest::newRow("relative") << "x/y.txt" << cwd + "/x/y.txt";
        QTest::newRow("current folder") << "." << cwd;
    }
    void fullPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(TPath::GetFullPath(path), expected);
    }

    void fullPathChecks()
    {
        const QString longest = u'/' + QString(4094, u'a');
        QCOMPARE(TPath::GetFullPath(longest), longest);
        QCOMPARE(MessageOf<EPathTooLongException>([&] { TPath::GetFullPath(longest + u'a'); }),
                 QStringLiteral("The specified path is too long"));
        QCOMPARE(MessageOf<EArgumentException>([] { TPath::GetFullPath(QStringLiteral("/a") + Nul()); }),
                 QStringLiteral("Invalid characters in path"));
    }

    void pathParts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::newRow("file in a folder") << "/tmp/ovk/a.txt" << "/tmp/ovk" << "a.txt";
        QTest::newRow("file in the root") << "/a.txt" << "/" << "a.txt";
        QTest::newRow("bare name") << "a.txt" << "" << "a.txt";
        QTest::newRow("trailing separator") << "/tmp/ovk/" << "/tmp/ovk" << "";
        QTest::newRow("no drive here") << "C:a\\b.txt" << "" << "C:a\\b.txt";
    }
    void pathParts()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QCOMPARE(TPath::GetDirectoryName(path), folder);
        QCOMPARE(TPath::GetFileName(path), name);
    }

    void existence()
    {
        const QString t = Temp();
        QVERIFY(WriteAll(t + "/file", "x"));
        QVERIFY(QDir().mkdir(t + "/folder"));
        QVERIFY(QFile::link(t + "/file", t + "/link-to-file"));
        QVERIFY(QFile::link(t + "/folder", t + "/link-to-folder"));
        QVERIFY(QFile::link(t + "/nothing", t + "/dangling"));
        QVERIFY(TFile::Exists(t + "/file"));
        QVERIFY(TFile::Exists(t + "/link-to-file"));
        QVERIFY(!TFile::Exists(t + "/folder"));
        QVERIFY(!TFile::Exists(t + "/link-to-folder"));
        QVERIFY(!TFile::Exists(t + "/dangling"));
        QVERIFY(!TFile::Exists(t + "/nothing"));
        QVERIFY(!TFile::Exists(QString()));
        QVERIFY(TDirectory::Exists(t + "/folder"));
        QVERIFY(TDirectory::Exists(t + "/link-to-folder"));
        QVERIFY(!TDirectory::Exists(t + "/file"));
        QVERIFY(!TDirectory::Exists(t + "/dangling"));
    }

    void createDirectoryWithParents()
    {
        const QString top = Temp() + "/made";
        TDirectory::CreateDirectory(top + "/a/b/c");
        QVERIFY(TDirectory::Exists(top + "/a/b/c"));
        for (const QString& folder : {top, top + "/a", top + "/a/b", top + "/a/b/c"})
            QCOMPARE(Mode(folder), mode_t(0700));
        TDirectory::CreateDirectory(top + "/a/b/c");  // already there: nothing to do
        QVERIFY(WriteAll(top + "/file", "x"));
        QCOMPARE(MessageOf<EInOutError>([&] { TDirectory::CreateDirectory(top + "/file/sub"); }),
                 QStringLiteral("Cannot create folder \"%1/file\". Not a directory").arg(top));
    }

    void writeAllBytes()
    {
        const QString path = Temp() + "/written";
        QVERIFY(WriteAll(path, QByteArray(1000, 'o')));
        TFile::WriteAllBytes(path, QByteArrayView("new"));
        QCOMPARE(ReadAll(path), QByteArray("new"));
        TFile::WriteAllBytes(path, QByteArrayView());
        QCOMPARE(ReadAll(path), QByteArray());
        const QString created = Temp() + "/created";
        TFile::WriteAllBytes(created, QByteArrayView("new"));
        QCOMPARE(Mode(created), mode_t(0600));
    }

    void writeAllBytesFails_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a folder of that name") << "folder" << "Is a directory";
        QTest::newRow("no such folder") << "missing/file" << "No such file or directory";
        QTest::newRow("a link that leads nowhere") << "dangling" << "Is a symbolic link";
        QTest::newRow("a link to a file") << "link-to-file" << "Is a symbolic link";
        QTest::newRow("a FIFO") << "fifo" << "Not a regular file";
    }
    void writeAllBytesFails()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QString t = Temp() + "/write-fails";
        const QString path = t + "/" + name;
        const QString targets = Temp() + "/write-targets";
        if (!QFileInfo::exists(targets)) {
            QVERIFY(QDir().mkpath(t + "/folder") && QDir().mkpath(targets));
            QVERIFY(WriteAll(targets + "/file", "kept"));
            QVERIFY(QFile::link(targets + "/nothing", t + "/dangling"));
            QVERIFY(QFile::link(targets + "/file", t + "/link-to-file"));
            QCOMPARE(::mkfifo(QFile::encodeName(t + "/fifo").constData(), 0600), 0);
        }
        QCOMPARE(MessageOf<EFCreateError>([&] { TFile::WriteAllBytes(path, QByteArrayView("x")); }),
                 QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason));
        // Nothing is written where a link points.
        QCOMPARE(Entries(targets), QStringList{"file"});
        QCOMPARE(ReadAll(targets + "/file"), QByteArray("kept"));
    }

    void writeLeavesAFileInUseAlone()
    {
        const QString path = Temp() + "/in-use";
        QVERIFY(WriteAll(path, "held content"));
        {
            TFileStream holder(path);
            QCOMPARE(MessageOf<EFCreateError>([&] { TFile::WriteAllBytes(path, QByteArrayView("x")); }),
                     QStringLiteral("Cannot create file \"%1\". Resource temporarily unavailable").arg(path));
            QCOMPARE(ReadAll(path), QByteArray("held content"));
        }
        TFile::WriteAllBytes(path, QByteArrayView("x"));
        QCOMPARE(ReadAll(path), QByteArray("x"));
    }

    void openWithNoSharing()
    {
        const QString path = Temp() + "/shared";
        QVERIFY(WriteAll(path, "0123456789"));
        {
            TFileStream first(path);
            QCOMPARE(MessageOf<EFOpenError>([&] { TFileStream second(path); }),
                     QStringLiteral("Cannot open file \"%1\". Resource temporarily unavailable").arg(path));
            char buffer[4];
            QCOMPARE(first.Read(buffer, 4), qint64(4));
            QCOMPARE(QByteArray(buffer, 4), QByteArray("0123"));
            QCOMPARE(first.Read(buffer, 4), qint64(4));
            QCOMPARE(first.Read(buffer, 4), qint64(2));
            QCOMPARE(first.Read(buffer, 4), qint64(0));
        }
        TFileStream again(path);  // closed with its owner
    }

    void openFails_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing" << "No such file or directory";
        QTest::newRow("folder") << "folder" << "Is a directory";
        QTest::newRow("a FIFO: not waited on") << "fifo" << "Not a regular file";
        QTest::newRow("a link to a device") << "device" << "Not a regular file";
    }
    void openFails()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QString t = Temp() + "/open-fails";
        QDir().mkpath(t + "/folder");
        ::mkfifo(QFile::encodeName(t + "/fifo").constData(), 0600);
        QFile::link(QStringLiteral("/dev/null"), t + "/device");
        const QString path = t + "/" + name;
        QCOMPARE(MessageOf<EFOpenError>([&] { TFileStream stream(path); }),
                 QStringLiteral("Cannot open file \"%1\". %2").arg(path, reason));
    }

    void deleteFile()
    {
        const QString path = Temp() + "/doomed";
        QVERIFY(WriteAll(path, "x"));
        TFile::Delete(path);
        QVERIFY(!QFile::exists(path));
        QCOMPARE(MessageOf<EInOutError>([&] { TFile::Delete(path); }), QStringLiteral("No such file or directory"));
        QCOMPARE(MessageOf<EPathTooLongException>([] { TFile::Delete(u'/' + QString(4095, u'a')); }),
                 QStringLiteral("The specified path is too long"));
    }

    // Every failure of the delete is reported, with the system's text and its code; none passes
    // silently.
    void deleteFails_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<int>("error");
        QTest::newRow("missing") << "missing" << ENOENT;
        QTest::newRow("a folder") << "folder" << EISDIR;
        QTest::newRow("denied access") << "denied" << EACCES;
        QTest::newRow("read-only file system") << "read-only" << EROFS;
    }
    void deleteFails()
    {
        QFETCH(QString, cause);
        QFETCH(int, error);
        const QString folder = Temp() + "/delete-" + cause;
        QVERIFY(QDir().mkpath(folder));
        if (cause == u"read-only" && !MountTmpfs(folder, 0))
            QSKIP("mounting a file system is not permitted here");
        const QString path = folder + "/file";
        if (cause == u"folder")
            QVERIFY(QDir().mkdir(path));
        else if (cause != u"missing")
            QVERIFY(WriteAll(path, "x"));
        if (cause == u"read-only")
            QVERIFY(RemountReadOnly(folder));
        if (cause == u"denied")
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0500), 0);
        int code = 0;
        QString message = QStringLiteral("no exception");
        {
            TObeyPermissions obey;
            if (!obey.Holds())
                QSKIP("root could not give up overriding permissions");
            try {
                TFile::Delete(path);
            } catch (const EInOutError& e) {
                code = e.ErrorCode();
                message = e.Message();
            }
        }
        ::chmod(QFile::encodeName(folder).constData(), 0700);
        QCOMPARE(code, error);
        QCOMPARE(message, SysErrorMessage(error));
    }

    void entryKinds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kind");
        QTest::newRow("nothing") << "nothing" << int(TEntryKind::None);
        QTest::newRow("below a file") << "private/below" << int(TEntryKind::None);
        QTest::newRow("a folder") << "folder" << int(TEntryKind::Folder);
        QTest::newRow("a private file") << "private" << int(TEntryKind::PrivateFile);
        QTest::newRow("a file the group may write") << "group" << int(TEntryKind::Other);
        QTest::newRow("a file others may write") << "others" << int(TEntryKind::Other);
        QTest::newRow("a link to a private file") << "link" << int(TEntryKind::Other);
        QTest::newRow("a link that leads nowhere") << "dangling" << int(TEntryKind::Other);
        QTest::newRow("a link to a folder") << "link-to-folder" << int(TEntryKind::Other);
        QTest::newRow("a FIFO") << "fifo" << int(TEntryKind::Other);
        QTest::newRow("another user's file") << "foreign" << int(TEntryKind::Other);
    }
    void entryKinds()
    {
        QFETCH(QString, name);
        QFETCH(int, kind);
        const QString t = Temp() + "/kinds/";
        if (!QFileInfo::exists(t)) {
            QVERIFY(QDir().mkpath(t + "folder"));
            for (const auto& [file, mode] : {std::pair{"private", 0600}, {"group", 0620}, {"others", 0602}, {"foreign", 0600}}) {
                QVERIFY(WriteAll(t + file, "x"));
                QCOMPARE(::chmod(QFile::encodeName(t + file).constData(), mode_t(mode)), 0);
            }
            QVERIFY(QFile::link(t + "private", t + "link"));
            QVERIFY(QFile::link(t + "nothing", t + "dangling"));
            QVERIFY(QFile::link(t + "folder", t + "link-to-folder"));
            QCOMPARE(::mkfifo(QFile::encodeName(t + "fifo").constData(), 0600), 0);
        }
        if (name == u"foreign") {
            if (::geteuid() != 0)
                QSKIP("only root can give a file to another user");
            QCOMPARE(::chown(QFile::encodeName(t + name).constData(), 65534, 65534), 0);
        }
        QCOMPARE(int(EntryKind(t + name)), kind);
    }

    void allowsExecution_data()
    {
        QTest::addColumn<bool>("mounted");    // a tmpfs is mounted over the case's folder
        QTest::addColumn<ulong>("flags");     // its mount flags
        QTest::addColumn<QString>("folder");  // below the case's folder
        QTest::addColumn<bool>("allowed");
        QTest::newRow("the temporary folder") << false << 0ul << "" << true;
        QTest::newRow("a folder not made yet") << false << 0ul << "a/b" << true;
        QTest::newRow("a file system that allows executing") << true << 0ul << "" << true;
        QTest::newRow("a file system mounted noexec") << true << ulong(MS_NOEXEC) << "" << false;
        QTest::newRow("a folder not made yet on it") << true << ulong(MS_NOEXEC) << "a/b" << false;
    }
    void allowsExecution()
    {
        QFETCH(bool, mounted);
        QFETCH(ulong, flags);
        QFETCH(QString, folder);
        QFETCH(bool, allowed);
        const QString base = Temp() + "/exec-" + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        QVERIFY(QDir().mkpath(base));
        if (mounted && !MountTmpfs(base, flags))
            QSKIP("mounting a file system is not permitted here");
        QCOMPARE(AllowsExecution(folder.isEmpty() ? base : base + "/" + folder), allowed);
    }

    void stringListText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("no break") << "FileName=a.txt" << QStringList{"FileName=a.txt"};
        QTest::newRow("CR LF") << "a\r\nb\r\nc\r\n" << QStringList{"a", "b", "c"};
        QTest::newRow("CR, LF, CR LF mixed") << "a\rb\nc\r\nd" << QStringList{"a", "b", "c", "d"};
        QTest::newRow("final break adds nothing") << "a\n" << QStringList{"a"};
        QTest::newRow("empty lines kept") << "a\n\n\r\rb" << QStringList{"a", "", "", "", "b"};
        QTest::newRow("LF CR is two breaks") << "a\n\rb" << QStringList{"a", "", "b"};
        QTest::newRow("only a break") << "\r\n" << QStringList{""};
        QTest::newRow("blanks kept") << " a \r\n" << QStringList{" a "};
    }
    void stringListText()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        TStringList list;
        list.Add(QStringLiteral("old"));
        list.SetText(text);
        QCOMPARE(list.Count(), int(lines.size()));
        for (int i = 0; i < list.Count(); ++i)
            QCOMPARE(list.Strings(i), lines.at(i));
    }

    void stringListBounds()
    {
        TStringList list;
        QCOMPARE(MessageOf<EListError>([&] { list.Strings(0); }), QStringLiteral("List index out of bounds (0)"));
        QCOMPARE(list.Add(QStringLiteral("a")), 0);
        QCOMPARE(list.Add(QStringLiteral("b")), 1);
        QCOMPARE(MessageOf<EListError>([&] { list.Strings(2); }), QStringLiteral("List index out of bounds (2)"));
        QCOMPARE(MessageOf<EListError>([&] { list.Strings(-1); }), QStringLiteral("List index out of bounds (-1)"));
        list.Clear();
        QCOMPARE(list.Count(), 0);
    }

    // The test package: tests/rtl/packages/mini.
    void resourcesByNameWithoutCase()
    {
        const QByteArray alpha = ReadAll(QStringLiteral(MINI_PACKAGE "/Alpha"));
        QVERIFY(alpha.size() > 0);
        const TResourceStream exact(QStringLiteral("Alpha"));
        const TResourceStream other(QStringLiteral("aLPHA"));
        QCOMPARE(exact.Bytes().toByteArray(), alpha);
        QCOMPARE(other.Memory(), exact.Memory());
        QCOMPARE(TResourceStream(QStringLiteral("Empty")).Size(), qint64(0));
        QCOMPARE(TResourceStream(QStringLiteral("Binary_2")).Bytes().toByteArray(),
                 ReadAll(QStringLiteral(MINI_PACKAGE "/Binary_2")));
    }

    void resourcesLiveInTheExecutable()
    {
        const TResourceStream resource(QStringLiteral("Alpha"));
        Dl_info info{};
        QVERIFY(::dladdr(resource.Memory(), &info) != 0);
        QCOMPARE(QFileInfo(QString::fromLocal8Bit(info.dli_fname)).fileName(), QStringLiteral("tst_rtl_package_platform"));
    }

    void missingResource_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("absent") << "RAM_BSL_Version";
        QTest::newRow("not a resource name") << "README.md";
        QTest::newRow("omitted") << "Omitted";
    }
    void missingResource()
    {
        QFETCH(QString, name);
        QCOMPARE(MessageOf<EResNotFound>([&] { TResourceStream resource(name); }),
                 QStringLiteral("Resource %1 not found").arg(name));
    }

    void tempPath_data()
    {
        QTest::addColumn<QByteArray>("tmpdir");
        QTest::addColumn<QByteArray>("runtime");
        QTest::addColumn<QString>("expected");
        QTest::newRow("TMPDIR") << QByteArray("/var/tmp/me") << QByteArray("/run/user/1") << "/var/tmp/me/";
        QTest::newRow("TMPDIR with separator") << QByteArray("/var/tmp/me/") << QByteArray() << "/var/tmp/me/";
        QTest::newRow("runtime folder") << QByteArray() << QByteArray("/run/user/1") << "/run/user/1/";
        QTest::newRow("neither") << QByteArray() << QByteArray() << "/tmp/";
    }
    void tempPath()
    {
        QFETCH(QByteArray, tmpdir);
        QFETCH(QByteArray, runtime);
        QFETCH(QString, expected);
        const QByteArray oldTmp = qgetenv("TMPDIR");
        const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        tmpdir.isNull() ? void(qunsetenv("TMPDIR")) : void(qputenv("TMPDIR", tmpdir));
        runtime.isNull() ? void(qunsetenv("XDG_RUNTIME_DIR")) : void(qputenv("XDG_RUNTIME_DIR", runtime));
        WCHAR buffer[MAX_PATH];
        const DWORD length = GetTempPathW(MAX_PATH, buffer);
        WCHAR tiny[4] = {u'k', u'e', u'p', u't'};
        const DWORD needed = GetTempPathW(4, tiny);
        qputenv("TMPDIR", oldTmp);
        qputenv("XDG_RUNTIME_DIR", oldRuntime);
        QCOMPARE(FromBuffer(buffer), expected);
        QCOMPARE(length, DWORD(expected.size()));
        QCOMPARE(needed, DWORD(expected.size() + 1));
        QCOMPARE(QString::fromUtf16(tiny, 4), QStringLiteral("kept"));
    }

    void longPathName()
    {
        const QString t = Temp() + "/";
        WCHAR buffer[MAX_PATH];
        QCOMPARE(GetLongPathNameW(PChar(t), buffer, MAX_PATH), DWORD(t.size()));
        QCOMPARE(FromBuffer(buffer), t);
        const QString missing = t + "missing/";
        QCOMPARE(GetLongPathNameW(PChar(missing), buffer, MAX_PATH), DWORD(0));
    }

    void errorMode()
    {
        const UINT original = SetErrorMode(SEM_FAILCRITICALERRORS);
        QCOMPARE(SetErrorMode(0x8000), SEM_FAILCRITICALERRORS);
        QCOMPARE(SetErrorMode(original), UINT(0x8000));
    }

    void findFirstFile()
    {
        const QString big = Temp() + "/big";
        {
            QFile file(big);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize((1LL << 32) + 3));  // sparse
        }
        WIN32_FIND_DATAW data{};
        HANDLE handle = FindFirstFileW(PChar(big), &data);
        QVERIFY(handle != INVALID_HANDLE_VALUE);
        QCOMPARE(data.nFileSizeHigh, DWORD(1));
        QCOMPARE(data.nFileSizeLow, DWORD(3));
        QVERIFY(!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
        QCOMPARE(FindClose(handle), BOOL(1));

        handle = FindFirstFileW(PChar(Temp()), &data);
        QVERIFY(handle != INVALID_HANDLE_VALUE);
        QVERIFY(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        FindClose(handle);

        QCOMPARE(FindFirstFileW(PChar(Temp() + "/missing"), &data), INVALID_HANDLE_VALUE);
        QCOMPARE(FindClose(INVALID_HANDLE_VALUE), BOOL(0));
    }

    void uniqueName_data()
    {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first free number") << QStringList{"image.txt"} << "image.txt" << "image (2).txt";
        QTest::newRow("next number") << QStringList{"image.txt", "image (2).txt"} << "image.txt" << "image (3).txt";
        QTest::newRow("a folder occupies a name") << QStringList{"image.txt", "image (2).txt/"} << "image.txt" << "image (3).txt";
        QTest::newRow("no extension") << QStringList{"image"} << "image" << "image (2)";
        QTest::newRow("last dot only") << QStringList{} << "a.b.txt" << "a.b (2).txt";
        QTest::newRow("leading dot is no extension") << QStringList{} << ".image" << ".image (2)";
    }
    void uniqueName()
    {
        QFETCH(QStringList, present);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        const QString folder = Temp() + "/unique-" + QTest::currentDataTag();
        QVERIFY(QDir().mkpath(folder));
        for (const QString& entry : present)
            entry.endsWith(u'/') ? void(QDir().mkdir(folder + "/" + entry)) : void(WriteAll(folder + "/" + entry, "x"));
        const QStringList before = Entries(folder);
        WCHAR buffer[MAX_PATH];
        QCOMPARE(PathMakeUniqueName(buffer, MAX_PATH, PChar(name), nullptr, PChar(folder)), BOOL(1));
        QCOMPARE(FromBuffer(buffer), folder + "/" + expected);
        QCOMPARE(Entries(folder), before);
    }

    void uniqueNameRefuses()
    {
        const QString folder = Temp();
        WCHAR buffer[MAX_PATH];
        QCOMPARE(PathMakeUniqueName(buffer, MAX_PATH, PChar(QStringLiteral("a/b")), nullptr, PChar(folder)), BOOL(0));
        QCOMPARE(PathMakeUniqueName(buffer, MAX_PATH, PChar(QString()), nullptr, PChar(folder)), BOOL(0));
        QCOMPARE(PathMakeUniqueName(buffer, MAX_PATH, PChar(QStringLiteral("a")), nullptr, nullptr), BOOL(0));
        const QString name = QStringLiteral("image.txt");
        const UINT tooSmall = UINT(folder.size() + 1 + QStringLiteral("image (2).txt").size());
        QCOMPARE(PathMakeUniqueName(buffer, tooSmall, PChar(name), nullptr, PChar(folder)), BOOL(0));
        QCOMPARE(PathMakeUniqueName(buffer, tooSmall + 1, PChar(name), nullptr, PChar(folder)), BOOL(1));
    }

    void privateFolders_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("privateReason");
        QTest::addColumn<QString>("parentReason");
        QTest::newRow("own, 0700") << "0700" << "" << "";
        QTest::newRow("own, readable by others") << "0755" << "" << "";
        QTest::newRow("group may write") << "0770" << "others may write to it" << "others may write to it";
        QTest::newRow("others may write") << "0703" << "others may write to it" << "others may write to it";
        QTest::newRow("sticky and shared") << "1777" << "others may write to it" << "";
        QTest::newRow("symbolic link") << "link" << "it is a symbolic link" << "";
        QTest::newRow("a file") << "file" << "it is not a folder" << "it is not a folder";
        QTest::newRow("another user's") << "foreign" << "it belongs to another user" << "it belongs to another user";
        QTest::newRow("root's") << "root" << "it belongs to another user" << "";
    }
    void privateFolders()
    {
        QFETCH(QString, kind);
        QFETCH(QString, privateReason);
        QFETCH(QString, parentReason);
        const QString path = kind == u"root" ? QStringLiteral("/") : Temp() + "/folder-" + kind;
        const QByteArray native = QFile::encodeName(path);
        if (kind == u"link") {
            QVERIFY(MakeFolder(path + "-target", 0700));
            QVERIFY(QFile::link(path + "-target", path));
        } else if (kind == u"file") {
            QVERIFY(WriteAll(path, "x"));
        } else if (kind == u"foreign") {
            if (::geteuid() != 0)
                QSKIP("only root can give a folder to another user");
            QVERIFY(MakeFolder(path, 0700));
            QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
        } else if (kind == u"root") {
            if (::geteuid() == 0)
                QSKIP("the user is root");
        } else {
            QVERIFY(MakeFolder(path, mode_t(kind.toUInt(nullptr, 8))));
        }
        const auto expect = [&](const QString& AReason, const char* AWhat) {
            return AReason.isEmpty() ? QStringLiteral("no exception")
                                     : QStringLiteral("The folder \"%1\" %2: %3.").arg(path, QLatin1String(AWhat), AReason);
        };
        QCOMPARE(MessageOf<EInOutError>([&] { CheckPrivateFolder(path); }), expect(privateReason, "is not private to the user"));
        QCOMPARE(MessageOf<EInOutError>([&] { CheckSafeParentFolder(path); }), expect(parentReason, "is not safe for the user's files"));
    }

    void privateFolderMissing()
    {
        try {
            CheckPrivateFolder(Temp() + "/missing");
            QFAIL("no exception");
        } catch (const EInOutError& e) {
            QCOMPARE(e.ErrorCode(), ENOENT);
            QCOMPARE(e.Message(), QStringLiteral("Cannot check folder \"%1/missing\". No such file or directory").arg(Temp()));
        }
    }
};

QTEST_GUILESS_MAIN(TestPackagePlatform)
#include "tst_package_platform.moc"
