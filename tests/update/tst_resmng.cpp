// The package manager with the real package (resources/ and the bsl430 library), against
// real files in a private temporary folder of each case.

#include <support/PackageTestSupport.h>

#include <mIOUtils.h>
#include <rtl/IOUtils.h>
#include <rtl/Resources.h>
#include <rtl/SysUtils.h>
#include <svc.h>
#include <svc.resMng.h>
#include <codesite/Capture.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace PackageTest;

namespace {

const QString cImageName = QStringLiteral("Q452_2.04.0.txt");

QByteArray Resource(const char* AName)
{
    return ReadAll(QStringLiteral(RESOURCES_DIR "/") + QLatin1String(AName));
}

// The library the package carries (the built one stripped: see the first case).
QByteArray Library()
{
    return TResourceStream(QStringLiteral("BSL430dll")).Bytes().toByteArray();
}

// The package manager with its private reader of the image information.
class TProbe : public TsvcResMng {
public:
    using TsvcResMng::GetBinInfoValue;
};

template <class F>
QString ListError(F AFunction)
{
    try {
        AFunction();
    } catch (const EListError& e) {
        return e.Message();
    }
    return QStringLiteral("no exception");
}

// An old modification time, so that any rewrite shows.
const timespec cOldTime{978307200, 0};  // 2001-01-01

bool SetOldTime(const QString& APath)
{
    const timespec times[2] = {cOldTime, cOldTime};
    return ::utimensat(AT_FDCWD, QFile::encodeName(APath).constData(), times, 0) == 0;
}

bool HasOldTime(const QString& APath)
{
    const struct stat info = Status(APath);
    return info.st_mtim.tv_sec == cOldTime.tv_sec && info.st_mtim.tv_nsec == cOldTime.tv_nsec;
}

QString NotPrivate(const QString& APath, const char* AReason)
{
    return QStringLiteral("The folder \"%1\" is not private to the user: %2.").arg(APath, QLatin1String(AReason));
}

}  // namespace

class TestResMng : public QObject {
    Q_OBJECT
private slots:
    // The package carries the built library stripped, as the system's strip makes it, and the
    // table describes that very file.
    void libraryTableDescribesTheEmbeddedFile()
    {
        QTemporaryDir dir;
        const QString stripped = dir.filePath(QStringLiteral("stripped"));
        QCOMPARE(QProcess::execute(QStringLiteral("strip"),
                                   {QStringLiteral("--strip-unneeded"), QStringLiteral("-o"), stripped,
                                    QStringLiteral(BSL430_LIBRARY)}), 0);
        QProcess readelf;
        readelf.start(QStringLiteral("readelf"), {QStringLiteral("-S"), QStringLiteral("-W"), stripped});
        QVERIFY(readelf.waitForFinished(60000));
        const QByteArray sections = readelf.readAllStandardOutput();
        QVERIFY(sections.contains(".dynsym"));
        QVERIFY(!sections.contains(".debug_info"));
        QVERIFY(!sections.contains(".symtab"));
        QVERIFY(QFileInfo(stripped).size() < QFileInfo(QStringLiteral(BSL430_LIBRARY)).size());

        QCOMPARE(cDllInfos.size(), size_t(1));
        const TDllInfo& info = cDllInfos.front();
        QCOMPARE(QString(info.ID), QStringLiteral("BSL430dll"));
        QCOMPARE(QString(info.FileName), QStringLiteral("BSL430.dll"));
        QCOMPARE(QString(info.MD5), Md5Sum(stripped));
        QCOMPARE(info.Size, QFileInfo(stripped).size());
        QCOMPARE(TResourceStream(QStringLiteral("bsl430DLL")).Bytes().toByteArray(), ReadAll(stripped));
        QCOMPARE(Library(), ReadAll(stripped));
    }

    void beforeInitialize()
    {
        TTempScope temp(QStringLiteral("before"));
        auto mng = CreateDataModule<TsvcResMng>();
        QVERIFY(!mng->Initialized());
        QCOMPARE(mng->Pass(), QString());
        QCOMPARE(mng->RamBSL(), QString());
        QCOMPARE(mng->BinFileFullPath(), QString());
        QCOMPARE(mng->BSL430Path(), temp.Work() + "/BSL430.dll");
        QCOMPARE(ListError([&] { mng->BinTarget(); }), QStringLiteral("List index out of bounds (1)"));
        QCOMPARE(ListError([&] { mng->BinFileName(); }), QStringLiteral("List index out of bounds (0)"));
        mng->Finalize();
        QVERIFY(!QFileInfo::exists(temp.Ovk()));

        svcResMng = mng.get();
        QCOMPARE(GetSvcResMng(), mng.get());
        svcResMng = nullptr;
        QCOMPARE(GetSvcResMng(), nullptr);
    }

    void firstRun()
    {
        TTempScope temp(QStringLiteral("first"));
        auto mng = CreateDataModule<TsvcResMng>();
        QString msg = QStringLiteral("stale");
        QVERIFY2(mng->Initialize(msg), qPrintable(msg));
        QCOMPARE(msg, QString());
        QVERIFY(mng->Initialized());

        QCOMPARE(Mode(temp.Ovk()), mode_t(0700));
        QCOMPARE(Mode(temp.Work()), mode_t(0700));
        QCOMPARE(mng->BSL430Path(), temp.Work() + "/BSL430.dll");
        QCOMPARE(ReadAll(mng->BSL430Path()), Library());
        QCOMPARE(Md5Sum(mng->BSL430Path()), QString(cDllInfos.front().MD5));

        QCOMPARE(mng->BinFileName(), cImageName);
        QCOMPARE(mng->BinTarget(), QStringLiteral("Q452"));
        QCOMPARE(mng->BinVersion(), QStringLiteral("2.04.0"));
        QCOMPARE(mng->BinFileFullPath(), temp.Work() + "/" + cImageName);
        QCOMPARE(ReadAll(mng->BinFileFullPath()), Resource("BinVorel"));
        QCOMPARE(Entries(temp.Work()), (QStringList{"BSL430.dll", cImageName}));

        QCOMPARE(mng->Pass().toLatin1(), Resource("Pass"));
        QCOMPARE(mng->RamBSL().toLatin1(), Resource("RAM_BSL"));
        QCOMPARE(mng->ForcedBOR(), QStringLiteral("@0120\r\n04 A5 \r\nq"));
        QCOMPARE(mng->RamBSLVersion(), QStringLiteral("00.07.08.38"));

        mng->Finalize();
        QCOMPARE(Entries(temp.Work()), QStringList{"BSL430.dll"});
    }

    void destructionDeletesTheImage()
    {
        TTempScope temp(QStringLiteral("destroy"));
        QString image;
        {
            auto mng = CreateDataModule<TsvcResMng>();
            QString msg;
            QVERIFY2(mng->Initialize(msg), qPrintable(msg));
            image = mng->BinFileFullPath();
            QVERIFY(QFileInfo::exists(image));
        }
        QVERIFY(!QFileInfo::exists(image));
        QCOMPARE(Entries(temp.Work()), QStringList{"BSL430.dll"});
    }

    void secondRunKeepsTheLibrary()
    {
        TTempScope temp(QStringLiteral("second"));
        QString msg;
        QVERIFY2(CreateDataModule<TsvcResMng>()->Initialize(msg), qPrintable(msg));
        const QString library = temp.Work() + "/BSL430.dll";
        QVERIFY(SetOldTime(library));
        const ino_t inode = Status(library).st_ino;

        auto mng = CreateDataModule<TsvcResMng>();
        QVERIFY2(mng->Initialize(msg), qPrintable(msg));
        QCOMPARE(Status(library).st_ino, inode);
        QVERIFY(HasOldTime(library));
        QCOMPARE(ReadAll(library), Library());
    }

    void changedLibraryIsRewritten_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("right size, other content") << "content";
        QTest::newRow("one byte longer") << "longer";
        QTest::newRow("empty") << "empty";
        QTest::newRow("a link to another file") << "link";
        QTest::newRow("a link to a copy of the library") << "link to copy";
        QTest::newRow("a link that leads nowhere") << "dangling";
        QTest::newRow("a FIFO") << "fifo";
        QTest::newRow("the library, writable by the group") << "mode 0620";
        QTest::newRow("the library, writable by others") << "mode 0602";
        QTest::newRow("the library, another user's") << "foreign";
    }
    void changedLibraryIsRewritten()
    {
        QFETCH(QString, change);
        if (change == u"foreign" && ::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        TTempScope temp(QStringLiteral("changed-") + QString(change).replace(u' ', u'-'));
        QVERIFY(MakeFolder(temp.Ovk(), 0700) && MakeFolder(temp.Work(), 0700));
        const QString library = temp.Work() + "/BSL430.dll";
        const QString elsewhere = temp.Path() + "/elsewhere";
        QVERIFY(MakeFolder(elsewhere, 0700));
        QByteArray bytes = Library();
        if (change == u"content")
            bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x5A);
        else if (change == u"longer")
            bytes.append('\0');
        else if (change == u"empty")
            bytes.clear();
        if (change == u"link") {
            QVERIFY(WriteAll(elsewhere + "/other", "other"));
            QVERIFY(QFile::link(elsewhere + "/other", library));
        } else if (change == u"link to copy") {
            QVERIFY(WriteAll(elsewhere + "/other", bytes));
            QVERIFY(QFile::link(elsewhere + "/other", library));
        } else if (change == u"dangling") {
            QVERIFY(QFile::link(elsewhere + "/BSL430.dll", library));
        } else if (change == u"fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(library).constData(), 0600), 0);
        } else {
            QVERIFY(WriteAll(library, bytes));
            const mode_t mode = change.startsWith(u"mode ") ? mode_t(change.mid(5).toUInt(nullptr, 8)) : 0600;
            QCOMPARE(::chmod(QFile::encodeName(library).constData(), mode), 0);
            if (change == u"foreign")
                QCOMPARE(::chown(QFile::encodeName(library).constData(), 65534, 65534), 0);
            QVERIFY(SetOldTime(library));
        }
        const QStringList outside = Entries(elsewhere);
        const QByteArray linked = ReadAll(elsewhere + "/other");

        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        QVERIFY2(mng->Initialize(msg), qPrintable(msg));
        QCOMPARE(ReadAll(library), Library());
        QVERIFY(!HasOldTime(library));
        // A regular file of the user's that no one else may change.
        const struct stat info = Status(library);
        QVERIFY(S_ISREG(info.st_mode));
        QCOMPARE(info.st_uid, ::geteuid());
        QCOMPARE(info.st_mode & 07777, mode_t(0600));
        // Nothing was written where a link pointed.
        QCOMPARE(Entries(elsewhere), outside);
        QCOMPARE(ReadAll(elsewhere + "/other"), linked);
    }

    void libraryInUseIsNotOverwritten()
    {
        TTempScope temp(QStringLiteral("in-use"));
        QVERIFY(MakeFolder(temp.Ovk(), 0700) && MakeFolder(temp.Work(), 0700));
        const QString library = temp.Work() + "/BSL430.dll";
        const QByteArray other(int(cDllInfos.front().Size), 'x');
        QVERIFY(WriteAll(library, other));
        TFileStream holder(library);

        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        QVERIFY(!mng->Initialize(msg));
        QCOMPARE(msg, QStringLiteral("Cannot create file \"%1\". Resource temporarily unavailable").arg(library));
        QVERIFY(!mng->Initialized());
        QCOMPARE(ReadAll(library), other);
        QCOMPARE(mng->Pass(), QString());
    }

    // A library of another size is replaced without reading it: the digest would have to
    // open the held file and fail, leaving the old file in place.
    void sizeIsComparedBeforeTheDigest()
    {
        TTempScope temp(QStringLiteral("size-first"));
        QVERIFY(MakeFolder(temp.Ovk(), 0700) && MakeFolder(temp.Work(), 0700));
        const QString library = temp.Work() + "/BSL430.dll";
        QVERIFY(WriteAll(library, QByteArray(int(cDllInfos.front().Size) + 1, 'x')));
        TFileStream holder(library);

        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        QVERIFY2(mng->Initialize(msg), qPrintable(msg));
        QCOMPARE(ReadAll(library), Library());
    }

    // Images that runs without Finalize left (killed, crashed) go before the new one is
    // written: the user's own regular files under the image's name or a numbered variant of
    // it. Links, files that others may write, other names and the library stay.
    void imagesOfEarlierRunsRemoved()
    {
        TTempScope temp(QStringLiteral("earlier-images"));
        QVERIFY(MakeFolder(temp.Ovk(), 0700) && MakeFolder(temp.Work(), 0700));
        const QString work = temp.Work();
        for (const QString& name : {cImageName, QStringLiteral("Q452_2.04.0 (2).txt"), QStringLiteral("Q452_2.04.0 (17).txt")})
            QVERIFY(WriteAll(work + "/" + name, "left by an earlier run"));
        const QStringList otherNames{"Q452_2.04.0 (0).txt", "Q452_2.04.0 (02).txt", "Q452_2.04.0 (x).txt",
                                     "Q452_2.04.0 (2).txt.bak", "Q452_2.04.0.TXT", "notes.txt"};
        for (const QString& name : otherNames)
            QVERIFY(WriteAll(work + "/" + name, "mine"));
        const QString foreignMode = work + "/Q452_2.04.0 (3).txt";
        QVERIFY(WriteAll(foreignMode, "others may write here"));
        QVERIFY(QFile::setPermissions(foreignMode, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther
                                                       | QFileDevice::WriteOther));
        const QString target = temp.Path() + "/elsewhere.txt";
        QVERIFY(WriteAll(target, "where the link points"));
        const QString link = work + "/Q452_2.04.0 (4).txt";
        QVERIFY(QFile::link(target, link));

        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        QVERIFY2(mng->Initialize(msg), qPrintable(msg));
        QCOMPARE(mng->BinFileFullPath(), work + "/" + cImageName);
        QCOMPARE(ReadAll(mng->BinFileFullPath()), Resource("BinVorel"));
        QStringList expected = otherNames;
        expected << "BSL430.dll" << cImageName << "Q452_2.04.0 (3).txt" << "Q452_2.04.0 (4).txt";
        expected.sort();
        QStringList entries = Entries(work);
        entries.sort();
        QCOMPARE(entries, expected);
        QCOMPARE(ReadAll(foreignMode), QByteArray("others may write here"));
        QVERIFY(S_ISLNK(Status(link).st_mode));
        QCOMPARE(ReadAll(target), QByteArray("where the link points"));
        for (const QString& name : otherNames)
            QCOMPARE(ReadAll(work + "/" + name), QByteArray("mine"));
    }

    // An old image that is not the user's private file stays: the new one goes beside it.
    void imageBesideAnOldOne()
    {
        TTempScope temp(QStringLiteral("old-image"));
        QVERIFY(MakeFolder(temp.Ovk(), 0700) && MakeFolder(temp.Work(), 0700));
        const QString old = temp.Work() + "/" + cImageName;
        QVERIFY(WriteAll(old, "left by an earlier run"));
        QVERIFY(QFile::setPermissions(old, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                               | QFileDevice::WriteGroup));

        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        QVERIFY2(mng->Initialize(msg), qPrintable(msg));
        const QString first = mng->BinFileFullPath();
        QVERIFY(first != old);
        QCOMPARE(QFileInfo(first).absolutePath(), temp.Work());
        QCOMPARE(ReadAll(first), Resource("BinVorel"));
        QCOMPARE(ReadAll(old), QByteArray("left by an earlier run"));

        // A second Initialize finds its own first image there as well.
        QVERIFY2(mng->Initialize(msg), qPrintable(msg));
        const QString second = mng->BinFileFullPath();
        QVERIFY(second != first && second != old);
        QCOMPARE(ReadAll(second), Resource("BinVorel"));

        mng->Finalize();
        QVERIFY(!QFileInfo::exists(second));
        QVERIFY(QFileInfo::exists(first));
        QCOMPARE(ReadAll(old), QByteArray("left by an earlier run"));
    }

    // A link at the image's name that counts as no file (it leads nowhere or to a folder) is
    // removed: the image is written in the working folder, never where the link points, and
    // Finalize removes it.
    void linkWhereTheImageGoes_data()
    {
        QTest::addColumn<QString>("target");  // in the folder "elsewhere"
        QTest::newRow("a link that leads nowhere") << "image.txt";
        QTest::newRow("a link to a folder") << "";
    }
    void linkWhereTheImageGoes()
    {
        QFETCH(QString, target);
        TTempScope temp(QStringLiteral("image-link-") + (target.isEmpty() ? QStringLiteral("folder") : QStringLiteral("nowhere")));
        QVERIFY(MakeFolder(temp.Ovk(), 0700) && MakeFolder(temp.Work(), 0700));
        const QString elsewhere = temp.Path() + "/elsewhere";
        QVERIFY(MakeFolder(elsewhere, 0700));
        const QString image = temp.Work() + "/" + cImageName;
        QVERIFY(QFile::link(target.isEmpty() ? elsewhere : elsewhere + "/" + target, image));

        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        QVERIFY2(mng->Initialize(msg), qPrintable(msg));
        QCOMPARE(mng->BinFileFullPath(), image);
        QVERIFY(S_ISREG(Status(image).st_mode));
        QCOMPARE(ReadAll(image), Resource("BinVorel"));
        QCOMPARE(Entries(elsewhere), QStringList());
        mng->Finalize();
        QCOMPARE(Entries(temp.Work()), QStringList{"BSL430.dll"});
        QCOMPARE(Entries(elsewhere), QStringList());
    }

    // The library cannot be loaded from a file system mounted noexec: Initialize says so at
    // once, names the folder and how to choose another, and writes nothing.
    void noexecWorkFolder_data()
    {
        QTest::addColumn<QString>("mountAt");  // "temp" or "trelmint"
        QTest::addColumn<ulong>("flags");
        QTest::newRow("temporary folder mounted noexec") << "temp" << ulong(MS_NOEXEC);
        QTest::newRow("working folder mounted noexec") << "trelmint" << ulong(MS_NOEXEC);
        QTest::newRow("temporary folder that allows executing") << "temp" << 0ul;
    }
    void noexecWorkFolder()
    {
        QFETCH(QString, mountAt);
        QFETCH(ulong, flags);
        TTempScope temp(QStringLiteral("exec-%1-%2").arg(mountAt).arg(flags));
        if (mountAt == u"trelmint")
            QVERIFY(MakeFolder(temp.Ovk(), 0700) && MakeFolder(temp.Work(), 0700));
        if (!MountTmpfs(mountAt == u"temp" ? temp.Path() : temp.Work(), flags))
            QSKIP("mounting a file system is not permitted here");

        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        const bool result = mng->Initialize(msg);
        if (!(flags & MS_NOEXEC)) {
            QVERIFY2(result, qPrintable(msg));
            return;
        }
        QVERIFY(!result);
        QCOMPARE(msg, QStringLiteral("The working folder \"%1\" is on a file system that does not allow executing "
                                     "programs (mounted noexec), so the BSL library cannot be loaded from there. Set "
                                     "TMPDIR to a folder on a file system that allows executing programs.")
                          .arg(temp.Work()));
        QVERIFY(!mng->Initialized());
        QCOMPARE(mng->Pass(), QString());
        QCOMPARE(Entries(temp.Path()), mountAt == u"temp" ? QStringList() : QStringList{"ovk"});
        QCOMPARE(Entries(temp.Work()), QStringList());
    }

    // At shut-down a delete that fails for a missing file, a denied access or a file in use
    // still leaves Finalize; any other failure (a read-only file system) is logged, and the
    // shut-down goes on.
    void finalizeWhenTheDeleteFails_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("raised");  // empty: logged instead
        QTest::newRow("read-only file system") << "read-only" << "";
        QTest::newRow("denied access") << "denied" << "Permission denied";
    }
    void finalizeWhenTheDeleteFails()
    {
        QFETCH(QString, cause);
        QFETCH(QString, raised);
        TTempScope temp(QStringLiteral("finalize-") + cause);
        if (cause == u"read-only" && !MountTmpfs(temp.Path(), 0))
            QSKIP("mounting a file system is not permitted here");
        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        QVERIFY2(mng->Initialize(msg), qPrintable(msg));
        const QString image = mng->BinFileFullPath();
        if (cause == u"read-only")
            QVERIFY(RemountReadOnly(temp.Path()));
        else
            QCOMPARE(::chmod(QFile::encodeName(temp.Work()).constData(), 0500), 0);
        TCodeSiteCapture capture;
        QString message = QStringLiteral("no exception");
        {
            TObeyPermissions obey;
            if (!obey.Holds())
                QSKIP("root could not give up overriding permissions");
            try {
                mng->Finalize();
            } catch (const EInOutError& e) {
                message = e.Message();
            }
        }
        ::chmod(QFile::encodeName(temp.Work()).constData(), 0700);
        QVERIFY(QFileInfo::exists(image));
        QStringList errors;
        for (const TCodeSiteRecord& record : capture.Records())
            if (record.Kind == TCodeSiteMsgKind::Error)
                errors << record.Text;
        if (raised.isEmpty()) {
            QCOMPARE(message, QStringLiteral("no exception"));
            QCOMPARE(errors, QStringList{QStringLiteral("Cannot delete \"%1\": Read-only file system").arg(image)});
        } else {
            QCOMPARE(message, raised);
            QCOMPARE(errors, QStringList());
        }
    }

    void folderWhereTheImageGoes()
    {
        TTempScope temp(QStringLiteral("image-folder"));
        QVERIFY(MakeFolder(temp.Ovk(), 0700) && MakeFolder(temp.Work(), 0700));
        const QString image = temp.Work() + "/" + cImageName;
        QVERIFY(MakeFolder(image, 0700));

        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        QVERIFY(!mng->Initialize(msg));
        QCOMPARE(msg, QStringLiteral("Cannot create file \"%1\". Is a directory").arg(image));
        QVERIFY(!mng->Initialized());
        QCOMPARE(mng->BinFileFullPath(), image);
        QCOMPARE(mng->RamBSLVersion(), QStringLiteral("00.07.08.38"));
        mng->Finalize();
        QVERIFY(QFileInfo(image).isDir());
    }

    void unwritableFolder_data()
    {
        QTest::addColumn<QString>("readOnly");  // which folder may not be written
        QTest::addColumn<QString>("failure");   // the path in the message and its kind
        QTest::newRow("working folder") << "trelmint" << "file:trelmint/BSL430.dll";
        QTest::newRow("temporary folder") << "temp" << "folder:ovk";
    }
    void unwritableFolder()
    {
        QFETCH(QString, readOnly);
        QFETCH(QString, failure);
        TTempScope temp(QStringLiteral("read-only-") + readOnly);
        QString locked = temp.Path();
        if (readOnly == u"trelmint") {
            QVERIFY(MakeFolder(temp.Ovk(), 0700) && MakeFolder(temp.Work(), 0500));
            locked = temp.Work();
        } else {
            QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0500) == 0);
        }
        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        bool result;
        {
            TObeyPermissions obey;
            if (!obey.Holds())
                QSKIP("root could not give up overriding permissions");
            result = mng->Initialize(msg);
        }
        ::chmod(QFile::encodeName(locked).constData(), 0700);
        QVERIFY(!result);
        const QString kind = failure.section(u':', 0, 0);
        const QString path = temp.Path() + "/ovk/" + failure.section(u':', 1);
        QCOMPARE(msg, QStringLiteral("Cannot create %1 \"%2\". Permission denied").arg(kind, kind == u"file" ? path : temp.Ovk()));
    }

    void refusedWorkFolder_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("refused");  // relative to the temporary folder
        QTest::addColumn<QString>("reason");
        QTest::newRow("ovk writable by others") << "ovk 0707" << "ovk" << "others may write to it";
        QTest::newRow("ovk writable by the group") << "ovk 0770" << "ovk" << "others may write to it";
        QTest::newRow("trelmint writable by others") << "trelmint 0777" << "ovk/trelmint" << "others may write to it";
        QTest::newRow("ovk a symbolic link") << "ovk link" << "ovk" << "it is a symbolic link";
        QTest::newRow("trelmint a symbolic link") << "trelmint link" << "ovk/trelmint" << "it is a symbolic link";
        QTest::newRow("ovk a file") << "ovk file" << "ovk" << "it is not a folder";
        QTest::newRow("ovk of another user") << "ovk foreign" << "ovk" << "it belongs to another user";
        QTest::newRow("trelmint of another user") << "trelmint foreign" << "ovk/trelmint" << "it belongs to another user";
        QTest::newRow("temporary folder shared, not sticky") << "temp 0777" << "" << "others may write to it";
    }
    void refusedWorkFolder()
    {
        QFETCH(QString, setup);
        QFETCH(QString, refused);
        QFETCH(QString, reason);
        const QString which = setup.section(u' ', 0, 0);
        const QString how = setup.section(u' ', 1, 1);
        if (how == u"foreign" && ::geteuid() != 0)
            QSKIP("only root can give a folder to another user");
        TTempScope temp(QStringLiteral("refused-") + QString(setup).replace(u' ', u'-'));
        const QString target = which == u"temp" ? temp.Path() : which == u"ovk" ? temp.Ovk() : temp.Work();
        if (which == u"trelmint")
            QVERIFY(MakeFolder(temp.Ovk(), 0700));
        const QString elsewhere = temp.Path() + "/elsewhere";
        QVERIFY(MakeFolder(elsewhere, 0700));
        if (how == u"link") {
            QVERIFY(QFile::link(elsewhere, target));
        } else if (how == u"file") {
            QVERIFY(WriteAll(target, "x"));
        } else if (how == u"foreign") {
            QVERIFY(MakeFolder(target, 0700));
            QCOMPARE(::chown(QFile::encodeName(target).constData(), 65534, 65534), 0);
        } else if (which == u"temp") {
            QVERIFY(::chmod(QFile::encodeName(target).constData(), how.toUInt(nullptr, 8)) == 0);
        } else {
            QVERIFY(MakeFolder(target, how.toUInt(nullptr, 8)));
        }
        const QStringList before = Entries(target);

        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        QVERIFY(!mng->Initialize(msg));
        const QString path = refused.isEmpty() ? temp.Path() + "/" : temp.Path() + "/" + refused;
        QCOMPARE(msg, which == u"temp" ? QStringLiteral("The folder \"%1\" is not safe for the user's files: %2.").arg(path, reason)
                                       : NotPrivate(path, qPrintable(reason)));
        QVERIFY(!mng->Initialized());
        QCOMPARE(mng->Pass(), QString());
        if (how != u"file")
            QCOMPARE(Entries(target), before);
        QCOMPARE(Entries(elsewhere), QStringList());
        if (which == u"temp")
            QCOMPARE(Entries(temp.Path()), QStringList{"elsewhere"});
    }

    void stickySharedTemporaryFolder()
    {
        TTempScope temp(QStringLiteral("sticky"));
        QVERIFY(::chmod(QFile::encodeName(temp.Path()).constData(), 01777) == 0);
        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        QVERIFY2(mng->Initialize(msg), qPrintable(msg));
        QCOMPARE(Mode(temp.Ovk()), mode_t(0700));
    }

    void missingTemporaryFolderIsMade()
    {
        TTempScope temp(QStringLiteral("missing"));
        const QByteArray old = qgetenv("TMPDIR");
        const QString nested = temp.Path() + "/a/b";
        qputenv("TMPDIR", QFile::encodeName(nested));
        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        const bool result = mng->Initialize(msg);
        qputenv("TMPDIR", old);
        QVERIFY2(result, qPrintable(msg));
        QCOMPARE(Mode(temp.Path() + "/a"), mode_t(0700));
        QCOMPARE(Mode(nested), mode_t(0700));
        QVERIFY(QFileInfo::exists(nested + "/ovk/trelmint/BSL430.dll"));
    }

    void noTemporaryFolderReported()
    {
        TTempScope temp(QStringLiteral("no-temp"));
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(temp.Path()));
        qputenv("TMPDIR", QByteArray(5000, 'x'));  // longer than any path: not reported
        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        const bool result = mng->Initialize(msg);
        const QString library = mng->BSL430Path();
        const QString image = mng->BinFileFullPath();
        mng.reset();
        QDir::setCurrent(cwd);
        QVERIFY2(result, qPrintable(msg));
        QCOMPARE(library, QStringLiteral("ovk/trelmint/BSL430.dll"));
        QCOMPARE(image, temp.Work() + "/" + cImageName);
        QCOMPARE(ReadAll(temp.Work() + "/BSL430.dll"), Library());
    }

    void failureAfterSuccess()
    {
        TTempScope temp(QStringLiteral("after-success"));
        auto mng = CreateDataModule<TsvcResMng>();
        QString msg;
        QVERIFY2(mng->Initialize(msg), qPrintable(msg));
        QVERIFY(::chmod(QFile::encodeName(temp.Work()).constData(), 0722) == 0);
        QVERIFY(!mng->Initialize(msg));
        QCOMPARE(msg, NotPrivate(temp.Work(), "others may write to it"));
        QVERIFY(!mng->Initialized());
        QCOMPARE(mng->BinVersion(), QStringLiteral("2.04.0"));
    }

    void binInfoValueBounds()
    {
        TTempScope temp(QStringLiteral("bounds"));
        auto mng = CreateDataModule<TProbe>();
        QCOMPARE(mng->GetBinInfoValue(-1), QString());
        QCOMPARE(mng->GetBinInfoValue(3), QString());
        QString msg;
        QVERIFY2(mng->Initialize(msg), qPrintable(msg));
        QCOMPARE(mng->GetBinInfoValue(-1), QString());
        QCOMPARE(mng->GetBinInfoValue(3), QString());
        QCOMPARE(mng->GetBinInfoValue(1), QStringLiteral("Q452"));
    }
};

QTEST_GUILESS_MAIN(TestResMng)
#include "tst_resmng.moc"
