#pragma once
// Keeps the computer from shutting down, going to sleep or idle while an update runs. logind's
// Manager.Inhibit("shutdown:sleep:idle", who, why, "block") hands back a file descriptor that
// holds the inhibitor for as long as it is open; the object keeps it and closes it when it
// goes. When logind refuses that, "sleep:idle" alone is asked for. Without a system bus,
// without logind or when logind refuses both, nothing is held: the update goes on all the
// same, and the log says why.

#include <QDBusConnection>
#include <QString>

class TSleepInhibitor {
public:
    // From logind on the system bus.
    TSleepInhibitor(const QString& AWho, const QString& AWhy);
    // From the org.freedesktop.login1 service on ABus (tests use a private bus).
    TSleepInhibitor(QDBusConnection ABus, const QString& AWho, const QString& AWhy);
    ~TSleepInhibitor();
    TSleepInhibitor(const TSleepInhibitor&) = delete;
    TSleepInhibitor& operator=(const TSleepInhibitor&) = delete;

    bool Held() const { return FFd >= 0; }
    // Why nothing is held; empty while held.
    QString Reason() const { return FReason; }

    // Longest wait for logind's answer.
    static constexpr int cCallTimeoutMs = 3000;

private:
    int FFd = -1;
    QString FReason;
};
