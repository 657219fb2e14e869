#include "SleepInhibitor.h"

#include <codesite/CodeSite.h>

#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QStringList>
#include <QVariant>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString cService = QStringLiteral("org.freedesktop.login1");
const QString cPath = QStringLiteral("/org/freedesktop/login1");
const QString cInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString cWhat = QStringLiteral("shutdown:sleep:idle");
const QString cWhatWithoutShutdown = QStringLiteral("sleep:idle");
// Answers of a policy that says no, after which asking for less may still be granted.
const QStringList cRefusals{QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                            QStringLiteral("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired")};

}  // namespace

TSleepInhibitor::TSleepInhibitor(const QString& AWho, const QString& AWhy)
    : TSleepInhibitor(QDBusConnection::systemBus(), AWho, AWhy)
{
}

TSleepInhibitor::TSleepInhibitor(QDBusConnection ABus, const QString& AWho, const QString& AWhy)
{
    QString shutdownRefused;
    if (!ABus.isConnected()) {
        const QString detail = ABus.lastError().message();
        FReason = QStringLiteral("no system bus") + (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail);
    } else {
        const auto inhibit = [&](const QString& AWhat) {
            QDBusMessage call = QDBusMessage::createMethodCall(cService, cPath, cInterface, QStringLiteral("Inhibit"));
            call << AWhat << AWho << AWhy << QStringLiteral("block");
            return ABus.call(call, QDBus::Block, cCallTimeoutMs);
        };
        QDBusMessage reply = inhibit(cWhat);
        // logind's policy may grant sleep but not shutdown (a session that is not active): sleep
        // is then still kept away, as before shutdown was asked for too.
        if (reply.type() == QDBusMessage::ErrorMessage && cRefusals.contains(reply.errorName())) {
            shutdownRefused = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
            reply = inhibit(cWhatWithoutShutdown);
        }
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
    if (!Held())
        CodeSite()->Send(QStringLiteral("Shutdown, sleep and idle not inhibited; the update goes on without it"), FReason);
    else if (shutdownRefused.isEmpty())
        CodeSite()->Send(QStringLiteral("Shutdown, sleep and idle inhibited while the update runs"), AWhy);
    else
        CodeSite()->Send(QStringLiteral("Sleep and idle inhibited while the update runs, shutdown not"), shutdownRefused);
}

TSleepInhibitor::~TSleepInhibitor()
{
    if (FFd < 0)
        return;
    ::close(FFd);
    CodeSite()->Send(QStringLiteral("Inhibitor released"), QString());
}
