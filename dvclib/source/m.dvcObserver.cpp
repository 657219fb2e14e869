#include "m.dvcObserver.h"

#include "mStringListHelper.h"

#include <rtl/Assert.h>
#include <rtl/RegularExpressions.h>

// ---- TObservedInfos

TGUID TObservedInfos::ClassGUID() const
{
    return TStringListHelper::GetValueAsGUID(*this, QStringLiteral("classguid"));
}

QString TObservedInfos::DvcType() const
{
    return Values(QStringLiteral("DeviceType"));
}

QString TObservedInfos::DvcDesc() const
{
    return Values(QStringLiteral("DeviceDesc"));
}

QString TObservedInfos::FriendlyName() const
{
    return Values(QStringLiteral("FriendlyName"));
}

QString TObservedInfos::VID() const
{
    return TRegEx::Match(Values(QStringLiteral("VIdPId")), QStringLiteral("(?<=VID_)([0-9a-fA-F]+)")).Value();
}

QString TObservedInfos::PID() const
{
    return TRegEx::Match(Values(QStringLiteral("VIdPId")), QStringLiteral("(?<=PID_)([0-9a-fA-F]+)")).Value();
}

QString TObservedInfos::Port() const
{
    return Values(QStringLiteral("Comport"));
}

std::int32_t TObservedInfos::PortAsInteger() const
{
    const QString port = Port();
    if (port.isEmpty())
        return -1;
    return StrToIntDef(TRegEx::Match(port, QStringLiteral("\\d+")).Value(), -1);
}

// ---- TDvcDescList

TDvcDescList::TDvcDescList() : FList(new TStringList()) {}

TDvcDescList::~TDvcDescList()
{
    delete FList;
}

std::int32_t TDvcDescList::AddOrSetValue(const QString& ADesc)
{
    const int index = FList->IndexOf(ADesc);
    if (index >= 0) {
        FList->SetStrings(index, ADesc);
        return index;
    }
    return FList->Add(ADesc);
}

bool TDvcDescList::Exists(const QString& ADesc) const
{
    for (int i = 0; i < FList->Count(); ++i) {
        const QString entry = FList->Strings(i);
        if (!entry.isEmpty() && ADesc.contains(entry, Qt::CaseSensitive))
            return true;
    }
    return false;
}

QString TDvcDescList::GetDescs(std::int32_t Index) const
{
    return FList->Strings(Index);
}

void TDvcDescList::SetDescs(std::int32_t Index, const QString& Value)
{
    FList->SetStrings(Index, Value);
}

std::int32_t TDvcDescList::Count() const
{
    return FList->Count();
}

// ---- TdvcObserver

namespace {

// The unit's source and the lines of its index checks, as its assertion reports give them.
constexpr char cUnitSource[] = "dvclib\\source\\m.dvcObserver";
constexpr std::int32_t cLineGetNotifyDesc = 281;
constexpr std::int32_t cLineGetRegDvcIntf = 287;
constexpr std::int32_t cLineSetNotifyDesc = 337;
constexpr std::int32_t cLineSetRegDvcIntf = 344;

// False after a failed check whose handler returned: the accessor then does nothing.
bool CheckIndex(std::int32_t AIndex, std::int32_t ALine)
{
    if (AIndex >= 0 && AIndex <= 2)
        return true;
    RtlAssert(QStringLiteral("Assertion failure"), cUnitSource, ALine);
    return false;
}

}  // namespace

TdvcObserver::TdvcObserver()
{
    FCheckDvcDesc = false;
    FDvcDescs = new TDvcDescList();
    FObserver = new TWinDeviceObserver(nullptr);
    FObserver->SetOnNodeChangePorc([this] {
        if (FOnChange)
            FOnChange();
    });
    FObserver->SetOnArrivedProc([this](PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast) {
        DoDvcNotify(ddArrived, ADevBroadcast);
    });
    FObserver->SetOnRemovedProc([this](PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast) {
        DoDvcNotify(ddRemoved, ADevBroadcast);
    });
}

TdvcObserver::~TdvcObserver()
{
    FObserver->RemoveNotification(GUID_DEVINTERFACE_USB_DEVICE);
    FObserver->RemoveNotification(GUID_DEVINTERFACE_COMPORT);
    delete FObserver;
    delete FDvcDescs;
}

void TdvcObserver::DoDvcNotify(TDvcDirection ADirection, PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast)
{
    std::unique_ptr<TStringList> infos(CreateDvcInfosWithDirection(ADirection, ADevBroadcast));
    const QString desc = TStringListHelper::GetValueAsString(*infos, QStringLiteral("DeviceDesc"));
    if (desc.isEmpty())
        return;
    if (FCheckDvcDesc && !FDvcDescs->Exists(desc))
        return;
    if (ADirection == ddArrived) {
        if (FOnDvcArrived)
            FOnDvcArrived(infos.get());
    } else {
        if (FOnDvcRemoved)
            FOnDvcRemoved(infos.get());
    }
}

bool TdvcObserver::GetNotifyDesc(std::int32_t Index) const
{
    if (!CheckIndex(Index, cLineGetNotifyDesc))
        return false;
    return FDvcDescs->Exists(cNotifyDescs[Index]);
}

bool TdvcObserver::GetRegDvcIntf(std::int32_t Index) const
{
    if (!CheckIndex(Index, cLineGetRegDvcIntf))
        return false;
    return FObserver->ExistsNotifycation(cRegDvcIntfGUIDs[Index]);
}

void TdvcObserver::SetNotifyDesc(std::int32_t Index, bool AValue)
{
    if (!CheckIndex(Index, cLineSetNotifyDesc))
        return;
    // The description list has no removal: writing False leaves it as it is.
    if (AValue)
        FDvcDescs->AddOrSetValue(cNotifyDescs[Index]);
}

void TdvcObserver::SetRegDvcIntf(std::int32_t Index, bool AValue)
{
    if (!CheckIndex(Index, cLineSetRegDvcIntf))
        return;
    const TGUID& deviceInterface = cRegDvcIntfGUIDs[Index];
    const bool registered = FObserver->ExistsNotifycation(deviceInterface);
    if (AValue && !registered)
        FObserver->AddNotifycation(deviceInterface);
    else if (!AValue && registered)
        FObserver->RemoveNotification(deviceInterface);
}

void TdvcObserver::RegClasses(const std::vector<TGUID>& AClasses)
{
    for (const TGUID& deviceClass : AClasses)
        if (!FObserver->ExistsNotifycation(deviceClass))
            FObserver->AddNotifycation(deviceClass);
}

void TdvcObserver::UnregClasses(const std::vector<TGUID>& AClasses)
{
    for (const TGUID& deviceClass : AClasses)
        if (FObserver->ExistsNotifycation(deviceClass))
            FObserver->RemoveNotification(deviceClass);
}

std::vector<TGUID> TdvcObserver::RegClassesArray() const
{
    return FObserver->RegNotifications();
}
