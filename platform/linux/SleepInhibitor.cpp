#include "SleepInhibitor.h"

#include <codesite/CodeSite.h>

#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QVariant>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString cService = QStringLiteral("org.freedesktop.login1");
const QString cPath = QStringLiteral("/org/freedesktop/login1");
const QString cInterface = QStringLiteral("org.freedesktop.login1.Manager");

}  // namespace

TSleepInhibitor::TSleepInhibitor(const QString& AWho, const QString& AWhy)
    : TSleepInhibitor(QDBusConnection::systemBus(), AWho, AWhy)
{
}

TSleepInhibitor::TSleepInhibitor(QDBusConnection ABus, const QString& AWho, const QString& AWhy)
{
    if (!ABus.isConnected()) {
        const QString detail = ABus.lastError().message();
        FReason = QStringLiteral("no system bus") + (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail);
    } else {
        QDBusMessage call = QDBusMessage::createMethodCall(cService, cPath, cInterface, QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep:idle") << AWho << AWhy << QStringLiteral("block");
        const QDBusMessage reply = ABus.call(call, QDBus::Block, cCallTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            FReason = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
        } else if (reply.arguments().size() != 1 || !reply.arguments().front().canConvert<QDBusUnixFileDescriptor>()) {
            FReason = QStringLiteral("logind answered Inhibit without a file descriptor");
        } else {
            // The reply's descriptor closes with the reply: keep a copy of our own.
            const auto fd = reply.arguments().front().value<QDBusUnixFileDescriptor>();
            FFd = fd.isValid() ? ::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
            if (FFd < 0)
                FReason = QStringLiteral("logind answered Inhibit with an unusable file descriptor");
        }
    }
    if (Held())
        CodeSite()->Send(QStringLiteral("Sleep and idle inhibited while the update runs"), AWhy);
    else
        CodeSite()->Send(QStringLiteral("Sleep and idle not inhibited; the update goes on without it"), FReason);
}

TSleepInhibitor::~TSleepInhibitor()
{
    if (FFd < 0)
        return;
    ::close(FFd);
    CodeSite()->Send(QStringLiteral("Sleep and idle inhibitor released"), QString());
}
