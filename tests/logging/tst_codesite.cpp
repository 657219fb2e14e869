#include <codesite/Capture.h>
#include <codesite/CodeSite.h>
#include <rtl/SysUtils.h>
#include <rtl/System.h>
#include <rtl/Thread.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <thread>
#include <vector>

extern char** environ;

namespace {

const TColor LightYellow = 14745599;  // E0FFFF

// ---- child modes: this executable run again with a mode argument ----------------------

int ChildMain(int argc, char** argv)
{
    const QByteArray mode = argv[1];
    if (mode == "--child-send") {
        TCodeSiteLogger logger;
        logger.SetCategory(QString::fromUtf8(argv[2]));
        logger.SetCategoryColor(LightYellow);
        logger.EnterMethod(QStringLiteral("Initialize"));
        CodeSite()->Send(QStringLiteral("AMsg"), QStringLiteral("done"));
        return 0;
    }
    if (mode == "--child-app") {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QString::fromUtf8(argv[2]));
        CodeSite()->Send(QStringLiteral("AMsg"), QStringLiteral("named"));
        return 0;
    }
    if (mode == "--child-kinds") {
        TCodeSiteLogger logger;
        logger.EnterMethod(QStringLiteral("Initialize"));
        logger.Send(QStringLiteral("AMsg"), QStringLiteral("done"));
        logger.Send(QStringLiteral("said %s"), {QStringLiteral("this")});
        logger.SendError(QStringLiteral("went wrong"));
        logger.ExitMethod(QStringLiteral("Initialize"));
        return 0;
    }
    if (mode == "--child-fill") {
        const int count = std::atoi(argv[2]);
        const QString filler(std::atoi(argv[3]), u'x');
        for (int i = 0; i < count; ++i)
            CodeSite()->Send(QStringLiteral("record %1").arg(i), filler);
        return 0;
    }
    return 99;
}

// UndrainedPipe: a pipe whose reader stays open and never reads, like a paused consumer.
enum class TStdErr { File, Pty, ClosedPipe, UndrainedPipe };

struct TChild {
    int ExitCode = -1;  // -1 when it did not exit normally
    int Signal = 0;
    QByteArray StdErr;
};

// Runs this executable in a child mode with env overrides (a null value unsets; the value
// "{stderr}" becomes the child's standard error as "<device>:<inode>", as systemd gives it).
TChild RunChild(const QStringList& AArgs, const QMap<QString, QString>& AEnv, TStdErr AStdErr = TStdErr::File)
{
    int readFd = -1, childFd = -1;
    QTemporaryDir dir;
    const QByteArray errFile = dir.filePath(QStringLiteral("stderr")).toLocal8Bit();
    if (AStdErr == TStdErr::File) {
        childFd = ::open(errFile.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    } else if (AStdErr == TStdErr::Pty) {
        readFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(readFd);
        ::unlockpt(readFd);
        childFd = ::open(::ptsname(readFd), O_RDWR | O_NOCTTY | O_CLOEXEC);
    } else {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return {};
        if (AStdErr == TStdErr::UndrainedPipe)
            readFd = fds[0];  // kept open, never read
        else
            ::close(fds[0]);  // nobody will ever read
        childFd = fds[1];
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = AEnv.begin(); it != AEnv.end(); ++it) {
        struct stat info;
        if (it.value().isNull())
            env.remove(it.key());
        else if (it.value() == QLatin1String("{stderr}") && ::fstat(childFd, &info) == 0)
            env.insert(it.key(), QStringLiteral("%1:%2").arg(quint64(info.st_dev)).arg(quint64(info.st_ino)));
        else
            env.insert(it.key(), it.value());
    }
    QList<QByteArray> envBytes, argBytes;
    for (const QString& entry : env.toStringList())
        envBytes << entry.toLocal8Bit();
    argBytes << QCoreApplication::applicationFilePath().toLocal8Bit();
    for (const QString& arg : AArgs)
        argBytes << arg.toLocal8Bit();
    std::vector<char*> envp, argv;
    for (QByteArray& b : envBytes)
        envp.push_back(b.data());
    envp.push_back(nullptr);
    for (QByteArray& b : argBytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childFd, STDERR_FILENO);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(childFd);
    TChild result;
    if (rc != 0)
        return result;
    if (readFd >= 0 && AStdErr == TStdErr::Pty) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(readFd, buffer, sizeof buffer);
            if (n <= 0)
                break;  // EIO once the child has closed its side
            result.StdErr.append(buffer, n);
        }
        ::close(readFd);
    }
    // A child stuck in a write is killed after a generous bound, so the test fails, not hangs.
    int status = 0;
    for (int waited = 0; ::waitpid(pid, &status, WNOHANG) == 0; ++waited) {
        if (waited == 600)
            ::kill(pid, SIGKILL);
        ::usleep(100 * 1000);
    }
    if (AStdErr == TStdErr::UndrainedPipe)
        ::close(readFd);
    if (WIFEXITED(status))
        result.ExitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        result.Signal = WTERMSIG(status);
    if (AStdErr == TStdErr::File) {
        QFile file(QString::fromLocal8Bit(errFile));
        if (file.open(QIODevice::ReadOnly))
            result.StdErr = file.readAll();
    }
    return result;
}

QByteArray ReadFile(const QString& APath)
{
    QFile file(APath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QRegularExpression LineShape(QStringLiteral(
    R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \d+(/\S+)?( \[[^\]]+\])? (Enter|Exit|Value|Error|Message) .*$)"));

class TSomeObject : public TObject {};

}  // namespace

class TestCodeSite : public QObject {
    Q_OBJECT
private slots:
    void recordKinds_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("valueText");
        QTest::addColumn<QString>("lineEnd");
        using K = TCodeSiteMsgKind;
        QTest::newRow("enter") << 0 << int(K::Enter) << "Initialize" << "" << "[TsvcBsl430] Enter Initialize";
        QTest::newRow("exit") << 1 << int(K::Exit) << "Initialize" << "" << "[TsvcBsl430] Exit Initialize";
        QTest::newRow("exit with result") << 2 << int(K::Exit) << "Initialize" << "True" << "[TsvcBsl430] Exit Initialize = True";
        QTest::newRow("named value") << 3 << int(K::Value) << "ARamBSLVer" << "00.07.08.38" << "[TsvcBsl430] Value ARamBSLVer = 00.07.08.38";
        QTest::newRow("formatted message") << 4 << int(K::Message) << "Total programming time is 05.7" << "" << "[TsvcBsl430] Message Total programming time is 05.7";
        QTest::newRow("error") << 5 << int(K::Error) << "Unable to open BSL" << "" << "[TsvcBsl430] Error Unable to open BSL";
        QTest::newRow("formatted error") << 6 << int(K::Error) << "Function BSL_close_BSL not found in library" << "" << "[TsvcBsl430] Error Function BSL_close_BSL not found in library";
        QTest::newRow("format that does not fit") << 7 << int(K::Message) << "%d items (Format '%d items' invalid or incompatible with argument)" << "" << "Message %d items (Format '%d items' invalid or incompatible with argument)";
        QTest::newRow("braced single text formats") << 9 << int(K::Message) << "AErMsg: no device" << "" << "Message AErMsg: no device";
        QTest::newRow("braced numbers format") << 10 << int(K::Message) << "ARet: 0, 3" << "" << "Message ARet: 0, 3";
        QTest::newRow("plain text value") << 11 << int(K::Value) << "FileName" << "fw.txt" << "Value FileName = fw.txt";
        QTest::newRow("exit with object") << 8 << int(K::Exit) << "TSomeObject.Run" << "False" << "Exit TSomeObject.Run = False";
    }
    void recordKinds()
    {
        QFETCH(int, operation);
        QFETCH(int, kind);
        QFETCH(QString, text);
        QFETCH(QString, valueText);
        QFETCH(QString, lineEnd);
        TCodeSiteLogger logger;
        logger.SetCategory(QStringLiteral("TsvcBsl430"));
        logger.SetCategoryColor(LightYellow);
        logger.SetCategoryFontColor(0x000080);
        TSomeObject object;
        TCodeSiteCapture capture;
        switch (operation) {
        case 0: logger.EnterMethod(QStringLiteral("Initialize")); break;
        case 1: logger.ExitMethod(QStringLiteral("Initialize")); break;
        case 2: logger.ExitMethod(nullptr, QStringLiteral("Initialize"), true); break;
        case 3: logger.Send(QStringLiteral("ARamBSLVer"), QStringLiteral("00.07.08.38")); break;
        case 4: logger.Send(QStringLiteral("Total programming time is %.2d.%d"), QVariantList{5, 7}); break;
        case 5: logger.SendError(QStringLiteral("Unable to open BSL")); break;
        case 6: logger.SendError(QStringLiteral("Function %s not found in library"), QVariantList{QStringLiteral("BSL_close_BSL")}); break;
        case 7: logger.Send(QStringLiteral("%d items"), QVariantList{QStringLiteral("three")}); break;
        case 8: logger.ExitMethod(&object, QStringLiteral("Run"), false); break;
        case 9: logger.Send(QStringLiteral("AErMsg: %s"), {QStringLiteral("no device")}); break;
        case 10: logger.Send(QStringLiteral("ARet: %d, %d"), {0, 3}); break;
        case 11: logger.Send("FileName", "fw.txt"); break;
        }
        const QList<TCodeSiteRecord> records = capture.Records();
        QCOMPARE(records.size(), 1);
        const TCodeSiteRecord& r = records.first();
        QCOMPARE(int(r.Kind), kind);
        QCOMPARE(r.Text, text);
        QCOMPARE(r.ValueText(), valueText);
        QCOMPARE(r.Logger, &logger);
        QCOMPARE(r.Category, QStringLiteral("TsvcBsl430"));
        QCOMPARE(r.CategoryColor, LightYellow);
        QCOMPARE(r.CategoryFontColor, TColor(0x000080));
        QCOMPARE(r.ThreadId, qint64(::gettid()));
        QVERIFY(qAbs(r.Time.msecsTo(QDateTime::currentDateTime())) < 60000);
        QVERIFY2(r.Line().endsWith(lineEnd), qPrintable(r.Line()));
        QVERIFY2(LineShape.match(r.Line()).hasMatch(), qPrintable(r.Line()));
    }

    void globalLoggerIsOneLoggerWithoutCategory()
    {
        QCOMPARE(CodeSite(), CodeSite());
        QCOMPARE(CodeSite()->Category(), QString());
        QCOMPARE(CodeSite()->CategoryColor(), TCodeSiteLogger::DefaultCategoryColor);
        QCOMPARE(CodeSite()->CategoryFontColor(), TCodeSiteLogger::DefaultCategoryFontColor);
        TCodeSiteCapture capture;
        CodeSite()->SendError(QStringLiteral("failure"));
        QCOMPARE(capture.RecordsOf(CodeSite()).size(), 1);
        QVERIFY(!capture.Records().first().Line().contains(u'['));
    }

    void controlCharactersNeverBreakTheLine()
    {
        TCodeSiteCapture capture;
        CodeSite()->Send(QStringLiteral("Friendly\nName"), QStringLiteral("COM3\r\x1b[2J\t."));
        const QString line = capture.Records().first().Line();
        QVERIFY2(line.endsWith(QStringLiteral("Value Friendly\\nName = COM3\\r\\x1b[2J\\t.")), qPrintable(line));
    }

    void separatorsAndDirectionControlsAreEscaped_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("line separator") << QStringLiteral("a\u2028b") << QStringLiteral("a\\u2028b");
        QTest::newRow("paragraph separator") << QStringLiteral("a\u2029b") << QStringLiteral("a\\u2029b");
        QTest::newRow("right-to-left override") << QStringLiteral("a\u202Eb") << QStringLiteral("a\\u202eb");
        QTest::newRow("isolate") << QStringLiteral("\u2067x\u2069") << QStringLiteral("\\u2067x\\u2069");
        QTest::newRow("marks") << QStringLiteral("\u200E\u200F\u061C") << QStringLiteral("\\u200e\\u200f\\u061c");
        QTest::newRow("other text stays") << QStringLiteral("Analyzer \u00e4\u20ac") << QStringLiteral("Analyzer \u00e4\u20ac");
    }

    void separatorsAndDirectionControlsAreEscaped()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        TCodeSiteCapture capture;
        CodeSite()->SendError(text);
        const QString line = capture.Records().first().Line();
        QVERIFY2(line.endsWith(QStringLiteral("Error ") + shown), qPrintable(line));
    }

    void capturesFilterAndEnd()
    {
        TCodeSiteLogger a, b;
        a.SetCategory(QStringLiteral("BSL"));
        b.SetCategory(QStringLiteral("bsl"));
        TCodeSiteCapture outer;
        {
            TCodeSiteCapture inner;
            a.EnterMethod(QStringLiteral("one"));
            b.EnterMethod(QStringLiteral("two"));
            CodeSite()->EnterMethod(QStringLiteral("three"));
            QCOMPARE(inner.Records().size(), 3);
            QCOMPARE(inner.RecordsOf(&a).size(), 1);
            QCOMPARE(inner.RecordsOf(QStringLiteral("bsl")).first().Text, QStringLiteral("two"));
            QCOMPARE(inner.RecordsOf(QStringLiteral("BSL")).first().Text, QStringLiteral("one"));
            inner.Clear();
            QVERIFY(inner.Records().isEmpty());
        }
        a.ExitMethod(QStringLiteral("one"));
        QCOMPARE(outer.Records().size(), 4);
    }

    void fileSinkInTheStateFolder()
    {
        CodeSite()->Send(QStringLiteral("fileSinkInTheStateFolder"), QStringLiteral("marker-1"));
        const QString folder = qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/tst_codesite");
        const QString path = folder + QStringLiteral("/tst_codesite.log");
        const QByteArray content = ReadFile(path);
        QVERIFY2(content.contains("Value fileSinkInTheStateFolder = marker-1\n"), content.right(300).constData());
        QCOMPARE(QFileInfo(folder).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    }

    void folderNamedAfterTheProgram_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("stateHome");  // relative to the temporary folder; "-" for relative junk
        QTest::addColumn<QString>("expectedFile");
        QTest::newRow("application name") << QStringList{"--child-app", "Analyzer Updater"} << "state"
                                          << "state/Analyzer Updater/Analyzer Updater.log";
        QTest::newRow("executable name") << QStringList{"--child-send", "X"} << "state" << "state/tst_codesite/tst_codesite.log";
        QTest::newRow("relative state home ignored") << QStringList{"--child-send", "X"} << "-"
                                                     << "home/.local/state/tst_codesite/tst_codesite.log";
    }
    void folderNamedAfterTheProgram()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, stateHome);
        QFETCH(QString, expectedFile);
        QTemporaryDir dir;
        const QString home = dir.filePath(QStringLiteral("home"));
        QDir().mkpath(home);
        const QString xdg = stateHome == QLatin1String("-") ? QStringLiteral("relative/state") : dir.filePath(stateHome);
        const TChild child = RunChild(args, {{"XDG_STATE_HOME", xdg}, {"HOME", home}});
        QCOMPARE(child.ExitCode, 0);
        QVERIFY2(QFileInfo::exists(dir.filePath(expectedFile)), child.StdErr.constData());
        QVERIFY(ReadFile(dir.filePath(expectedFile)).contains("Value AMsg = "));
    }

    void noFileWhenTheFolderCannotBeMade()
    {
        QTemporaryDir dir;
        const QString blocker = dir.filePath(QStringLiteral("not-a-folder"));
        QFile(blocker).open(QIODevice::WriteOnly);
        const TChild child = RunChild({"--child-send", "TsvcBsl430"}, {{"XDG_STATE_HOME", blocker}});
        QCOMPARE(child.ExitCode, 0);
        QVERIFY(child.StdErr.contains("[TsvcBsl430] Enter Initialize\n"));
        QVERIFY(child.StdErr.contains("Value AMsg = done\n"));
    }

    void sizeStaysBoundedAcrossRuns()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("tst_codesite/tst_codesite.log"));
        for (int run = 0; run < 2; ++run) {
            // About 1.6 MiB per run, standard error thrown away.
            const TChild child = RunChild({"--child-fill", "1600", "1000"},
                                          {{"XDG_STATE_HOME", dir.path()}});
            QCOMPARE(child.ExitCode, 0);
            QVERIFY(QFileInfo(log).size() <= 1024 * 1024);
            QVERIFY(QFileInfo(log + QStringLiteral(".1")).size() <= 1024 * 1024);
            QVERIFY(QFileInfo(log + QStringLiteral(".1")).size() > 1000 * 1000);
        }
        QVERIFY(!QFileInfo::exists(log + QStringLiteral(".2")));
        // The newest record is in the current file and every line is whole.
        const QByteArray current = ReadFile(log);
        QVERIFY(current.contains("Value record 1599 = x"));
        QVERIFY(current.endsWith("x\n"));
        for (const QByteArray& line : ReadFile(log + QStringLiteral(".1")).split('\n'))
            QVERIFY(line.isEmpty() || LineShape.match(QString::fromUtf8(line)).hasMatch());
    }

    void coloursOnlyOnAColourTerminal_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("term");
        QTest::addColumn<bool>("coloured");
        QTest::newRow("terminal") << int(TStdErr::Pty) << "xterm-256color" << true;
        QTest::newRow("dumb terminal") << int(TStdErr::Pty) << "dumb" << false;
        QTest::newRow("file") << int(TStdErr::File) << "xterm-256color" << false;
    }
    void coloursOnlyOnAColourTerminal()
    {
        QFETCH(int, target);
        QFETCH(QString, term);
        QFETCH(bool, coloured);
        QTemporaryDir dir;
        const TChild child = RunChild({"--child-send", "TsvcBsl430"},
                                      {{"XDG_STATE_HOME", dir.path()}, {"TERM", term}}, TStdErr(target));
        QCOMPARE(child.ExitCode, 0);
        const QByteArray label = "\x1b[38;2;0;0;0;48;2;255;255;224m[TsvcBsl430]\x1b[0m Enter Initialize";
        QVERIFY2(child.StdErr.contains("Enter Initialize"), child.StdErr.constData());
        QCOMPARE(child.StdErr.contains(label), coloured);
        QCOMPARE(child.StdErr.contains('\x1b'), coloured);
        // The file never has colours.
        QVERIFY(!ReadFile(dir.filePath(QStringLiteral("tst_codesite/tst_codesite.log"))).contains('\x1b'));
    }

    void journalPrioritiesOnlyWhenStandardErrorIsTheJournal_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::addColumn<bool>("journal");
        QTest::newRow("the journal") << "{stderr}" << true;
        QTest::newRow("unset") << QString() << false;
        QTest::newRow("another stream") << "1:1" << false;
        QTest::newRow("malformed") << "journal" << false;
    }
    void journalPrioritiesOnlyWhenStandardErrorIsTheJournal()
    {
        QFETCH(QString, stream);
        QFETCH(bool, journal);
        QTemporaryDir dir;
        const TChild child = RunChild({"--child-kinds"}, {{"XDG_STATE_HOME", dir.path()}, {"JOURNAL_STREAM", stream}});
        QCOMPARE(child.ExitCode, 0);
        const QList<QByteArray> lines = child.StdErr.trimmed().split('\n');
        QCOMPARE(lines.size(), 5);
        const QList<QByteArray> priorities{"<7>", "<6>", "<6>", "<3>", "<7>"};
        const QList<QByteArray> kinds{" Enter ", " Value ", " Message ", " Error ", " Exit "};
        for (int i = 0; i < lines.size(); ++i) {
            QVERIFY2(lines[i].contains(kinds[i]), lines[i].constData());
            QCOMPARE(lines[i].startsWith(priorities[i]), journal);
            QCOMPARE(lines[i].startsWith('<'), journal);
        }
        // The file never has priorities.
        const QByteArray file = ReadFile(dir.filePath(QStringLiteral("tst_codesite/tst_codesite.log")));
        QVERIFY(file.contains("Error went wrong"));
        QVERIFY(!file.contains('<'));
    }

    void qtMessagesBecomeRecords()
    {
        TCodeSiteCapture capture;
        {
            TCodeSiteQtMessages messages;
            qWarning("warned %d", 1);
            qCritical("critical");
            qDebug("debugged");
            QLoggingCategory category("analyzer.test");
            qCWarning(category, "in a category");
        }
        // The handler before it (the test framework's) has them again.
        QTest::ignoreMessage(QtWarningMsg, "after");
        qWarning("after");
        const QList<TCodeSiteRecord> records = capture.RecordsOf(CodeSite());
        QCOMPARE(records.size(), 4);
        const QList<TCodeSiteMsgKind> kinds{TCodeSiteMsgKind::Error, TCodeSiteMsgKind::Error,
                                            TCodeSiteMsgKind::Message, TCodeSiteMsgKind::Error};
        const QStringList texts{"warned 1", "critical", "debugged", "analyzer.test: in a category"};
        for (int i = 0; i < records.size(); ++i) {
            QCOMPARE(records[i].Kind, kinds[i]);
            QCOMPARE(records[i].Text, texts[i]);
        }
    }

    void queuedCallFailureReachesTheLog()
    {
        TCodeSiteCapture capture;
        TCodeSiteQtMessages messages;
        std::thread([] { TThread::Queue(nullptr, [] { throw Exception(QStringLiteral("queued and lost")); }); }).join();
        QTRY_VERIFY(!capture.RecordsOf(CodeSite()).isEmpty());
        const TCodeSiteRecord record = capture.RecordsOf(CodeSite()).first();
        QCOMPARE(record.Kind, TCodeSiteMsgKind::Error);
        QCOMPARE(record.Text, QStringLiteral("Exception in a queued call: queued and lost"));
    }

    void closedStandardErrorDoesNotKillTheProgram()
    {
        QTemporaryDir dir;
        const TChild child = RunChild({"--child-send", "TsvcBsl430"}, {{"XDG_STATE_HOME", dir.path()}},
                                      TStdErr::ClosedPipe);
        QCOMPARE(child.Signal, 0);
        QCOMPARE(child.ExitCode, 0);
        // Logging went on into the file.
        QVERIFY(ReadFile(dir.filePath(QStringLiteral("tst_codesite/tst_codesite.log"))).contains("Value AMsg = done"));
    }

    void standardErrorNobodyReadsNeverStopsLogging()
    {
        // Far more than a pipe holds: a blocking write would stall the child for good.
        QTemporaryDir dir;
        const TChild child = RunChild({"--child-fill", "400", "1000"}, {{"XDG_STATE_HOME", dir.path()}},
                                      TStdErr::UndrainedPipe);
        QCOMPARE(child.Signal, 0);
        QCOMPARE(child.ExitCode, 0);
        // The file has every record.
        QVERIFY(ReadFile(dir.filePath(QStringLiteral("tst_codesite/tst_codesite.log"))).contains("Value record 399 = x"));
    }

    void logPathThatIsNoRegularFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("link") << "link";
    }

    void logPathThatIsNoRegularFile()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("tst_codesite")));
        const QByteArray log = dir.filePath(QStringLiteral("tst_codesite/tst_codesite.log")).toLocal8Bit();
        const QByteArray target = dir.filePath(QStringLiteral("elsewhere")).toLocal8Bit();
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(log.constData(), 0600), 0);
        else
            QCOMPARE(::symlink(target.constData(), log.constData()), 0);
        const TChild child = RunChild({"--child-send", "TsvcBsl430"}, {{"XDG_STATE_HOME", dir.path()}});
        QCOMPARE(child.ExitCode, 0);
        QVERIFY2(child.StdErr.contains("Value AMsg = done"), child.StdErr.constData());
        QVERIFY(child.StdErr.contains("cannot be used"));
        QVERIFY(!QFileInfo::exists(QString::fromLocal8Bit(target)));
    }

    void concurrentSendersWriteWholeRecords()
    {
        constexpr int Threads = 8;
        constexpr int PerThread = 400;
        TCodeSiteLogger named[3];
        for (int i = 0; i < 3; ++i) {
            named[i].SetCategory(QStringLiteral("Stress%1").arg(i));
            named[i].SetCategoryColor(TColor(0x102030 * (i + 1)));
        }
        TCodeSiteCapture capture;
        std::vector<std::thread> threads;
        for (int t = 0; t < Threads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < PerThread; ++i) {
                    TCodeSiteLogger* logger = (i + t) % 4 == 3 ? CodeSite() : &named[(i + t) % 4];
                    const QString text = QStringLiteral("stress t=%1 i=%2 ").arg(t).arg(i) + QString(i % 60, u'x');
                    switch (i % 5) {
                    case 0: logger->EnterMethod(text); break;
                    case 1: logger->ExitMethod(nullptr, text, i % 2 == 0); break;
                    case 2: logger->Send(text, QStringLiteral("v%1").arg(i)); break;
                    case 3: logger->SendError(QStringLiteral("%s"), QVariantList{text}); break;
                    case 4: logger->Send(QStringLiteral("%s"), QVariantList{text}); break;
                    }
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();

        const QRegularExpression stressText(QStringLiteral(R"(^stress t=(\d+) i=(\d+) (x*)$)"));
        QList<int> lastOf(Threads, -1);
        int seen = 0;
        for (const TCodeSiteRecord& r : capture.Records()) {
            const auto m = stressText.match(r.Text);
            if (!m.hasMatch())
                continue;
            ++seen;
            const int t = m.captured(1).toInt(), i = m.captured(2).toInt();
            QCOMPARE(m.captured(3).size(), i % 60);
            QVERIFY(i > lastOf[t]);  // each sender's records in its own order
            lastOf[t] = i;
            const bool global = (i + t) % 4 == 3;
            QCOMPARE(r.Category, global ? QString() : QStringLiteral("Stress%1").arg((i + t) % 4));
        }
        QCOMPARE(seen, Threads * PerThread);

        const QString log = qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/tst_codesite/tst_codesite.log");
        const QByteArray content = ReadFile(log + QStringLiteral(".1")) + ReadFile(log);
        const QRegularExpression stressLine(QStringLiteral(
            R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \d+(/\S+)?( \[Stress\d\])? (Enter|Exit|Value|Error|Message) stress t=(\d+) i=(\d+) x*( = (True|False|v\d+))?$)"));
        QSet<QString> keys;
        for (const QByteArray& raw : content.split('\n')) {
            if (!raw.contains("stress t="))
                continue;
            const QString line = QString::fromUtf8(raw);
            QVERIFY2(raw.count("stress t=") == 1, raw.constData());
            const auto m = stressLine.match(line);
            QVERIFY2(m.hasMatch(), raw.constData());
            keys.insert(m.captured(4) + u'/' + m.captured(5));
        }
        QCOMPARE(keys.size(), Threads * PerThread);
    }
};

int main(int argc, char** argv)
{
    if (argc >= 2 && QByteArray(argv[1]).startsWith("--child-"))
        return ChildMain(argc, argv);
    QCoreApplication app(argc, argv);
    TestCodeSite test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_codesite.moc"
