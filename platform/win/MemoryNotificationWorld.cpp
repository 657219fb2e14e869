#include "MemoryNotificationWorld.h"

#include <win/Dbt.h>
#include <win/HiddenWindow.h>

namespace win {

void TMemoryNotificationWorld::RefuseRegistration(const TGUID& AClass, bool ARefuse)
{
    std::lock_guard guard(FTestLock);
    if (ARefuse)
        FRefusedRegistrations.insert(AClass);
    else
        FRefusedRegistrations.erase(AClass);
}

void TMemoryNotificationWorld::RefuseWithdrawal(const TGUID& AClass, bool ARefuse)
{
    std::lock_guard guard(FTestLock);
    if (ARefuse)
        FRefusedWithdrawals.insert(AClass);
    else
        FRefusedWithdrawals.erase(AClass);
}

void TMemoryNotificationWorld::Arrive(const TGUID& AClass, const QString& AName)
{
    DeviceInterfaceEvent(DBT_DEVICEARRIVAL, AClass, AName);
}

void TMemoryNotificationWorld::Remove(const TGUID& AClass, const QString& AName)
{
    DeviceInterfaceEvent(DBT_DEVICEREMOVECOMPLETE, AClass, AName);
}

QList<TGUID> TMemoryNotificationWorld::RegistrationAttempts() const
{
    std::lock_guard guard(FTestLock);
    return FRegistrationAttempts;
}

QList<TMemoryNotificationWorld::TWithdrawal> TMemoryNotificationWorld::Withdrawals() const
{
    std::lock_guard guard(FTestLock);
    return FWithdrawals;
}

bool TMemoryNotificationWorld::AcceptRegistration(HWND, const TGUID& AClass)
{
    std::lock_guard guard(FTestLock);
    FRegistrationAttempts.append(AClass);
    return !FRefusedRegistrations.count(AClass);
}

bool TMemoryNotificationWorld::AcceptWithdrawal(HWND ARecipient, const TGUID& AClass)
{
    std::lock_guard guard(FTestLock);
    const bool accepted = !FRefusedWithdrawals.count(AClass);
    FWithdrawals.append({AClass, IsWindow(ARecipient), accepted});
    return accepted;
}

}  // namespace win
