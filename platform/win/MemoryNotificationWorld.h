#pragma once
// The in-memory device world's notifications, for tests: registrations are recorded and
// may be refused per class; a test sends arrivals, removals, node changes and records of any
// kind and content.

#include <win/DeviceNotifications.h>

#include <QList>

#include <set>

namespace win {

class TMemoryNotificationWorld : public TDeviceNotifications {
public:
    struct TWithdrawal {
        TGUID Class;
        // Whether the recipient window still existed when the registration was withdrawn.
        bool WindowAlive = false;
        bool Accepted = false;
    };

    void RefuseRegistration(const TGUID& AClass, bool ARefuse = true);
    void RefuseWithdrawal(const TGUID& AClass, bool ARefuse = true);

    void Arrive(const TGUID& AClass, const QString& AName);
    void Remove(const TGUID& AClass, const QString& AName);

    // Every registration attempt (accepted or not) and withdrawal attempt, in order.
    QList<TGUID> RegistrationAttempts() const;
    QList<TWithdrawal> Withdrawals() const;

protected:
    bool AcceptRegistration(HWND ARecipient, const TGUID& AClass) override;
    bool AcceptWithdrawal(HWND ARecipient, const TGUID& AClass) override;

private:
    mutable std::mutex FTestLock;
    std::set<TGUID> FRefusedRegistrations;
    std::set<TGUID> FRefusedWithdrawals;
    QList<TGUID> FRegistrationAttempts;
    QList<TWithdrawal> FWithdrawals;
};

}  // namespace win
