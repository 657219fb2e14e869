#include "m.dvcList.h"

#include "mDeviceObserver.Windows.Common.h"
#include "mStringListHelper.h"

#include <win/ErrHandlingApi.h>

namespace {

const QString cArgumentOutOfRange = QStringLiteral("Argument out of range");

SP_DEVINFO_DATA NewElement()
{
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    return data;
}

}  // namespace

TdvcList::TdvcList()
{
    if (!LoadSetupApi())
        RaiseLastOSError();
    FCurrentDevice = std::make_unique<TWinDevice>();
    FList = std::make_unique<std::vector<TItem>>();
    FhDevice = INVALID_HANDLE_VALUE;
}

TdvcList::~TdvcList()
{
    FCurrentDevice.reset();
    FList.reset();
    for (HDEVINFO set : FOpenedSets)
        SetupDiDestroyDeviceInfoList(set);
    if (IsSetupApiLoaded())
        UnloadSetupApi();
}

void TdvcList::ClearAndSearch(const std::vector<TGUID>& AGUIDs)
{
    FList->clear();
    for (const TGUID& guid : AGUIDs) {
        FhDevice = SetupDiGetClassDevsExW(&guid, nullptr, nullptr, DIGCF_PRESENT, nullptr, nullptr, nullptr);
        if (FhDevice == INVALID_HANDLE_VALUE)
            RaiseLastOSError();
        FOpenedSets.push_back(FhDevice);
        FCurrentDevice->SetDeviceListHandle(FhDevice);
        SP_DEVINFO_DATA element = NewElement();
        for (DWORD index = 0; SetupDiEnumDeviceInfo(FhDevice, index, &element); ++index) {
            FCurrentDevice->SetDeviceInfoData(element);
            QString display = FCurrentDevice->GetStringProperty(SPDRP_FRIENDLYNAME);
            if (display.isEmpty())
                display = FCurrentDevice->GetStringProperty(SPDRP_DEVICEDESC);
            FList->push_back({TWinDvcItemKey::Create(FhDevice, guid, std::int32_t(index)), display});
        }
    }
}

void TdvcList::Clear()
{
    FList->clear();
}

std::int32_t TdvcList::GetCount()
{
    return std::int32_t(FList->size());
}

TWinDevice* TdvcList::GetDevices(std::int32_t Index)
{
    if (Index < 0 || Index >= GetCount())
        throw EArgumentOutOfRangeException(cArgumentOutOfRange);
    const TWinDvcItemKey& key = (*FList)[std::size_t(Index)].Key;
    FCurrentDevice->SetDeviceListHandle(key.HDevList);
    SP_DEVINFO_DATA element = NewElement();
    if (!SetupDiEnumDeviceInfo(key.HDevList, DWORD(key.IdxOfList), &element))
        return nullptr;
    FCurrentDevice->SetDeviceInfoData(element);
    return FCurrentDevice.get();
}

bool TdvcList::AsInfos(const std::int32_t AIdx, TStringList* AInfos)
{
    if (!AInfos)
        return false;
    AInfos->Clear();
    TWinDevice* device = GetDevices(AIdx);
    if (!device)
        return false;
    TStringListHelper::SetValueAsGUID(*AInfos, QStringLiteral("classguid"), device->GetGUIDProperty(SPDRP_CLASSGUID));
    TStringListHelper::SetValueAsString(*AInfos, QStringLiteral("DeviceType"), device->GetStringProperty(SPDRP_DEVTYPE));
    TStringListHelper::SetValueAsString(*AInfos, QStringLiteral("DeviceDesc"),
                                        device->GetStringProperty(SPDRP_DEVICEDESC));
    TStringListHelper::SetValueAsString(*AInfos, QStringLiteral("FriendlyName"),
                                        device->GetStringProperty(SPDRP_FRIENDLYNAME));
    TStringListHelper::SetValueAsString(*AInfos, QStringLiteral("VIdPId"), device->GetStringProperty(SPDRP_HARDWAREID));
    TStringListHelper::SetValueAsString(
        *AInfos, QStringLiteral("Comport"),
        ExtractComPort(TStringListHelper::GetValueAsString(*AInfos, QStringLiteral("FriendlyName"))));
    return true;
}

QStringList TdvcList::AsStringArray()
{
    QStringList result;
    for (std::int32_t i = 0; i < GetCount(); ++i) {
        TWinDevice* device = GetDevices(i);
        if (!device)
            continue;
        const QString port = ExtractComPort(device->GetStringProperty(SPDRP_FRIENDLYNAME));
        if (!port.isEmpty())
            result.append(port);
    }
    return result;
}

bool TdvcList::Exists(TDvcExistsFunc AFunc)
{
    bool result = false;
    if (!AFunc)
        return result;
    for (std::int32_t i = 0; i < GetCount() && !result; ++i)
        result = AFunc(GetDevices(i), i);
    return result;
}

bool TdvcList::Exists(const TGUID& AGUID, TDvcExistsFunc AFunc)
{
    bool result = false;
    if (!AFunc)
        return result;
    for (std::int32_t i = 0; i < GetCount() && !result; ++i)
        if ((*FList)[std::size_t(i)].Key.GUID == AGUID)
            result = AFunc(GetDevices(i), i);
    return result;
}

void TdvcList::Exists(const std::vector<TDvcExistsFunc>& AFuncs, const TProc& AExistsProc)
{
    for (const TDvcExistsFunc& func : AFuncs)
        if (Exists(func) && AExistsProc)
            AExistsProc();
}
