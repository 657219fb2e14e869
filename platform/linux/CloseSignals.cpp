#include "CloseSignals.h"

#include <codesite/CodeSite.h>

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The handler can reach nothing but this: the write end of the live object's pipe.
std::atomic<int> gWriteFd{-1};

void OnSignal(int ASignal)
{
    const int savedErrno = errno;
    const int fd = gWriteFd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(ASignal);
        // A full pipe already holds a close request: dropping this one loses nothing.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

TCloseSignals::TCloseSignals(std::function<void(int ASignal)> AOnSignal) : FOnSignal(std::move(AOnSignal))
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        CodeSite()->SendError(QStringLiteral("Close signals not taken: %s"),
                              QVariantList{QString::fromLocal8Bit(std::strerror(errno))});
        return;
    }
    FReadFd = fds[0];
    FWriteFd = fds[1];
    gWriteFd.store(FWriteFd);
    FNotifier = std::make_unique<QSocketNotifier>(FReadFd, QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(), [this] { Drain(); });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : cSignals)
        sigaddset(&action.sa_mask, signal);
    for (std::size_t i = 0; i < std::size(cSignals); ++i)
        ::sigaction(cSignals[i], &action, &FPrevious[i]);
}

TCloseSignals::~TCloseSignals()
{
    if (!FNotifier)
        return;
    for (std::size_t i = 0; i < std::size(cSignals); ++i)
        ::sigaction(cSignals[i], &FPrevious[i], nullptr);
    gWriteFd.store(-1);
    FNotifier.reset();
    ::close(FReadFd);
    ::close(FWriteFd);
}

QString TCloseSignals::Name(int ASignal)
{
    switch (ASignal) {
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGHUP: return QStringLiteral("SIGHUP");
    default: return QStringLiteral("signal %1").arg(ASignal);
    }
}

void TCloseSignals::Drain()
{
    unsigned char bytes[16];
    for (;;) {
        const ssize_t count = ::read(FReadFd, bytes, sizeof bytes);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        for (ssize_t i = 0; i < count; ++i) {
            CodeSite()->Send(QStringLiteral("Close requested by"), Name(bytes[i]));
            if (FOnSignal)
                FOnSignal(bytes[i]);
        }
    }
}
