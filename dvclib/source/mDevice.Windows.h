#pragma once
// The Plug and Play properties of one device of a device information set, read through
// SetupAPI as texts, numbers and GUIDs. The owner points the object at a set and one of its
// elements; the object never opens, copies or destroys a set, and is valid only while the
// set it points at is open. Nothing is cached: every read asks SetupAPI again.

#include <rtl/GUID.h>
#include <rtl/System.h>
#include <win/SetupApi.h>

#include <QString>

class TWinDevice : public TObject {
public:
    const SP_DEVINFO_DATA& DeviceInfoData() const { return FDeviceInfoData; }
    void SetDeviceInfoData(const SP_DEVINFO_DATA& AValue) { FDeviceInfoData = AValue; }
    HDEVINFO DeviceListHandle() const { return FDeviceListHandle; }
    void SetDeviceListHandle(HDEVINFO AValue) { FDeviceListHandle = AValue; }

    // The five readers; every other operation reaches SetupAPI through them.
    virtual bool GetBinaryProperty(DWORD ACode, void* ABuffer, DWORD ABufferSize);
    virtual DWORD GetDWordProperty(DWORD ACode);
    // Raises EConvertError for a text that is not a braced GUID.
    virtual TGUID GetGUIDProperty(DWORD ACode);
    virtual QString GetStringProperty(DWORD ACode);
    virtual QString GetRemovalPolicyProperty(DWORD ACode);

    QString Description() { return GetStringProperty(SPDRP_DEVICEDESC); }
    QString HardwareID() { return GetStringProperty(SPDRP_HARDWAREID); }
    QString CompatibleIDS() { return GetStringProperty(SPDRP_COMPATIBLEIDS); }
    QString Service() { return GetStringProperty(SPDRP_SERVICE); }
    QString DeviceClassName() { return GetStringProperty(SPDRP_CLASS); }
    TGUID ClassGUID() { return GetGUIDProperty(SPDRP_CLASSGUID); }
    QString DriverName() { return GetStringProperty(SPDRP_DRIVER); }
    QString Manufacturer() { return GetStringProperty(SPDRP_MFG); }
    QString FriendlyName() { return GetStringProperty(SPDRP_FRIENDLYNAME); }
    QString Location() { return GetStringProperty(SPDRP_LOCATION_INFORMATION); }
    QString PhisicalDriverName() { return GetStringProperty(SPDRP_PHYSICAL_DEVICE_OBJECT_NAME); }
    DWORD UINumber() { return GetDWordProperty(SPDRP_UI_NUMBER); }
    QString UpperFilters() { return GetStringProperty(SPDRP_UPPERFILTERS); }
    QString LowerFilters() { return GetStringProperty(SPDRP_LOWERFILTERS); }
    TGUID BusTypeGUID() { return GetGUIDProperty(SPDRP_BUSTYPEGUID); }
    DWORD BusNumber() { return GetDWordProperty(SPDRP_BUSNUMBER); }
    QString Enumerator() { return GetStringProperty(SPDRP_ENUMERATOR_NAME); }
    QString DeviceType() { return GetStringProperty(SPDRP_DEVTYPE); }
    DWORD Address() { return GetDWordProperty(SPDRP_ADDRESS); }
    QString UINumberDecription() { return GetStringProperty(SPDRP_UI_NUMBER_DESC_FORMAT); }
    QString RemovalPolicy() { return GetRemovalPolicyProperty(SPDRP_REMOVAL_POLICY); }
    QString RemovalPolicyHWDefault() { return GetRemovalPolicyProperty(SPDRP_REMOVAL_POLICY_HW_DEFAULT); }
    QString RemovalPolicyOverride() { return GetRemovalPolicyProperty(SPDRP_REMOVAL_POLICY_OVERRIDE); }

    QString Capabilities();
    // The characteristic bits as "0x" and eight hexadecimal digits; empty for none.
    QString Characteristics();
    QString ConfigFlags();
    QString DeviceClassDescription();
    QString DeviceClassDescription(const TGUID& DeviceTypeGUID);
    QString InstallState();
    QString PowerData();
    QString LegacyBusType();

private:
    SP_DEVINFO_DATA FDeviceInfoData{};
    HDEVINFO FDeviceListHandle = nullptr;
};
