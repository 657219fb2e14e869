#include "Dispatcher.h"

#include "Capture.h"
#include "CodeSite.h"

#include <rtl/IOUtils.h>
#include <rtl/SysUtils.h>

#include <QCoreApplication>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WriteAll(int AFd, const char* AData, qsizetype ASize)
{
    while (ASize > 0) {
        const ssize_t written = ::write(AFd, AData, size_t(ASize));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        AData += written;
        ASize -= written;
    }
    return true;
}

QString ProgramName()
{
    QString name = QCoreApplication::applicationName();
    if (name.isEmpty()) {
        char path[4096];
        const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
        if (n > 0) {
            path[n] = '\0';
            const char* slash = std::strrchr(path, '/');
            name = QString::fromLocal8Bit(slash ? slash + 1 : path);
        }
    }
    name.replace(u'/', u'_');
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("program");
    return name;
}

// $XDG_STATE_HOME when it is an absolute path, else ~/.local/state; empty when neither works.
QByteArray StateHome()
{
    const char* xdg = std::getenv("XDG_STATE_HOME");
    if (xdg && xdg[0] == '/')
        return QByteArray(xdg);
    QByteArray home = qgetenv("HOME");
    if (home.isEmpty() || home.at(0) != '/') {
        struct passwd entry;
        struct passwd* result = nullptr;
        char buffer[4096];
        if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &result) == 0 && result && result->pw_dir)
            home = QByteArray(result->pw_dir);
    }
    if (home.isEmpty() || home.at(0) != '/')
        return QByteArray();
    return home + "/.local/state";
}

// The log's folder and its missing parents, made private to the user.
bool MakePath(const QByteArray& APath)
{
    try {
        TDirectory::CreateDirectory(QString::fromLocal8Bit(APath));
        return true;
    } catch (const Exception&) {
        return false;
    }
}

// The log file, opened so that nothing at its name can stall or redirect the program: a FIFO
// would block the open, a link would write elsewhere. Only the user's regular file is taken.
int OpenLogFile(const QByteArray& APath)
{
    const int fd = ::open(APath.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0)
        return -1;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid()) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Writes what standard error takes now, never waiting for a reader. Chunks of PIPE_BUF are
// written only when poll says there is room for them, so a blocking pipe or terminal cannot
// hold the write. Returns the bytes that did not go out.
qsizetype WriteWithoutWaiting(int AFd, const char* AData, qsizetype ASize)
{
    while (ASize > 0) {
        pollfd ready{AFd, POLLOUT, 0};
        const int n = ::poll(&ready, 1, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || (ready.revents & (POLLERR | POLLHUP | POLLNVAL)) || !(ready.revents & POLLOUT))
            return ASize;
        const ssize_t written = ::write(AFd, AData, size_t(std::min<qsizetype>(ASize, PIPE_BUF)));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return -ASize - 1;  // failed: the caller looks at errno
        }
        AData += written;
        ASize -= written;
    }
    return 0;
}

// systemd sets JOURNAL_STREAM to "<device>:<inode>" of the stream it connected; standard
// error is the journal only while it is still that very stream.
bool StdErrIsJournal()
{
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (!stream)
        return false;
    unsigned long long device = 0, inode = 0;
    int used = 0;
    if (std::sscanf(stream, "%llu:%llu%n", &device, &inode, &used) != 2 || stream[used] != '\0')
        return false;
    struct stat info;
    return ::fstat(STDERR_FILENO, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

// The journal's priority of a record (sd-daemon's "<n>" line prefix).
const char* JournalPriority(TCodeSiteMsgKind AKind)
{
    switch (AKind) {
    case TCodeSiteMsgKind::Error: return "<3>";
    case TCodeSiteMsgKind::Value:
    case TCodeSiteMsgKind::Message: return "<6>";
    case TCodeSiteMsgKind::Enter:
    case TCodeSiteMsgKind::Exit: return "<7>";
    }
    return "<6>";
}

QString CurrentThreadName()
{
    char name[17] = {};
    if (::prctl(PR_GET_NAME, name) != 0)
        return QString();
    return QString::fromUtf8(name);
}

}  // namespace

TCodeSiteFileSink::~TCodeSiteFileSink()
{
    if (FFd >= 0)
        ::close(FFd);
}

bool TCodeSiteFileSink::Open()
{
    FTried = true;
    const QByteArray stateHome = StateHome();
    if (stateHome.isEmpty())
        return false;
    const QByteArray name = ProgramName().toLocal8Bit();
    const QByteArray folder = stateHome + '/' + name;
    if (!MakePath(folder))
        return false;
    FPath = folder + '/' + name + ".log";
    FFd = OpenLogFile(FPath);
    if (FFd < 0) {
        const QByteArray note = "The log file " + FPath + " cannot be used (not the user's regular file?); logging to standard error only.\n";
        WriteWithoutWaiting(STDERR_FILENO, note.constData(), note.size());
        return false;
    }
    struct stat info;
    FSize = ::fstat(FFd, &info) == 0 ? info.st_size : 0;
    return true;
}

void TCodeSiteFileSink::Rotate()
{
    ::close(FFd);
    FFd = -1;
    const QByteArray old = FPath + ".1";
    if (::rename(FPath.constData(), old.constData()) != 0)
        ::unlink(FPath.constData());
    FFd = OpenLogFile(FPath);
    struct stat info;
    FSize = FFd >= 0 && ::fstat(FFd, &info) == 0 ? info.st_size : 0;
}

void TCodeSiteFileSink::Write(const QByteArray& ALine)
{
    if (!FTried && !Open())
        return;
    if (FFd < 0)
        return;
    if (FSize > 0 && FSize + ALine.size() > MaxSize) {
        Rotate();
        if (FFd < 0)
            return;
    }
    if (WriteAll(FFd, ALine.constData(), ALine.size()))
        FSize += ALine.size();
}

TCodeSiteDispatcher& TCodeSiteDispatcher::Instance()
{
    // Never destroyed: loggers may send while static objects are being torn down.
    static TCodeSiteDispatcher* dispatcher = new TCodeSiteDispatcher;
    return *dispatcher;
}

void TCodeSiteDispatcher::Send(const TCodeSiteLogger& ALogger, TCodeSiteMsgKind AKind, const QString& AText,
                               const QVariant& AValue)
{
    try {
        TCodeSiteRecord record;
        record.Time = QDateTime::currentDateTime();
        record.ThreadId = ::gettid();
        record.ThreadName = CurrentThreadName();
        record.Logger = &ALogger;
        {
            std::lock_guard<std::mutex> guard(ALogger.FLock);
            record.Category = ALogger.FCategory;
            record.CategoryColor = ALogger.FCategoryColor;
            record.CategoryFontColor = ALogger.FCategoryFontColor;
        }
        record.Kind = AKind;
        record.Text = AText;
        record.Value = AValue;
        Instance().Dispatch(record);
    } catch (...) {
        // Logging never breaks the program.
    }
}

void TCodeSiteDispatcher::AddCapture(TCodeSiteCapture* ACapture)
{
    std::lock_guard<std::mutex> guard(FLock);
    FCaptures.push_back(ACapture);
}

void TCodeSiteDispatcher::RemoveCapture(TCodeSiteCapture* ACapture)
{
    std::lock_guard<std::mutex> guard(FLock);
    std::erase(FCaptures, ACapture);
}

void TCodeSiteDispatcher::Dispatch(const TCodeSiteRecord& ARecord)
{
    const QByteArray plain = ARecord.Line().toUtf8() + '\n';

    std::lock_guard<std::mutex> guard(FLock);
    for (TCodeSiteCapture* capture : FCaptures)
        capture->Add(ARecord);

    if (!FStdErrChecked) {
        FStdErrChecked = true;
        const char* term = std::getenv("TERM");
        FStdErrColour = ::isatty(STDERR_FILENO) == 1 && term && *term && std::strcmp(term, "dumb") != 0;
        FStdErrJournal = StdErrIsJournal();
    }
    // The file first: standard error is best effort and may drop records.
    FFile.Write(plain);
    const QByteArray priority = FStdErrJournal ? JournalPriority(ARecord.Kind) : "";
    if (FStdErrDropped > 0 && WriteStdErr((FStdErrJournal ? "<4>" : "") + QByteArray::number(FStdErrDropped) + " log records were not shown here (standard error was not read)\n"))
        FStdErrDropped = 0;
    if (FStdErrDropped > 0 || !WriteStdErr(FStdErrColour ? ARecord.Line(true).toUtf8() + '\n' : priority + plain))
        ++FStdErrDropped;
}

bool TCodeSiteDispatcher::WriteStdErr(const QByteArray& ALine)
{
    if (FStdErrBroken)
        return true;
    // A closed pipe must not kill the program with SIGPIPE: block it for the write and
    // swallow the one the write raised.
    sigset_t pipeSet, oldSet, pending;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet);
    const qsizetype left = WriteWithoutWaiting(STDERR_FILENO, ALine.constData(), ALine.size());
    if (left < 0) {
        if (errno == EPIPE) {
            FStdErrBroken = true;
            if (!wasPending) {
                const timespec zero{0, 0};
                sigtimedwait(&pipeSet, nullptr, &zero);
            }
        }
    }
    pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
    // A line cut short still counts as shown; one that found no room at all is dropped.
    return left < ALine.size();
}
