#pragma once
// The device observer: owns the notification window, decides which classes it registers,
// turns arrivals and removals into device information lists and hands on those with a
// device description. Also the typed view of such a list and the description list.

#include "mDeviceObserver.Windows.h"
#include "mDeviceObserver.Windows.Common.h"

#include <mCodeSite.h>
#include <rtl/GUID.h>
#include <rtl/StringList.h>
#include <rtl/SysUtils.h>
#include <win/DeviceClassGuids.h>

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// A read-only view over a device information list; every read looks its key up again.
class TObservedInfos : public TStringList {
public:
    TGUID ClassGUID() const;
    QString DvcType() const;
    QString DvcDesc() const;
    QString FriendlyName() const;
    // The hexadecimal digits after the first upper-case VID_ (PID_) of "VIdPId".
    QString VID() const;
    QString PID() const;
    QString Port() const;
    // The first run of digits in Port, or -1 (no port, no digits, more than 32 bits).
    std::int32_t PortAsInteger() const;
};

// Device-description texts, looked for inside a device's description.
class TDvcDescList : public TObject {
public:
    TDvcDescList();
    ~TDvcDescList() override;
    TDvcDescList(const TDvcDescList&) = delete;
    TDvcDescList& operator=(const TDvcDescList&) = delete;

    // Overwrites the first entry equal to ADesc (letter case ignored) or appends; the index.
    std::int32_t AddOrSetValue(const QString& ADesc);
    // Whether some entry occurs inside ADesc, letter case significant.
    bool Exists(const QString& ADesc) const;

    QString GetDescs(std::int32_t Index) const;
    void SetDescs(std::int32_t Index, const QString& Value);
    QString Descs(std::int32_t Index) const { return GetDescs(Index); }
    std::int32_t Count() const;

private:
    TStringList* FList;
};

// A callback that borrows a device information list for the call.
using TDvcInfosProc = std::function<void(TStringList* AInfos)>;

class TdvcObserver : public TCodeSiteLogObject {
public:
    TdvcObserver();
    ~TdvcObserver() override;
    TdvcObserver(const TdvcObserver&) = delete;
    TdvcObserver& operator=(const TdvcObserver&) = delete;

    // Registers each class not yet registered, in order; refusals are not reported.
    void RegClasses(const std::vector<TGUID>& AClasses);
    // Withdraws each registered class, in order; others are skipped.
    void UnregClasses(const std::vector<TGUID>& AClasses);
    std::vector<TGUID> RegClassesArray() const;

    bool RegDvcIntfComport() const { return GetRegDvcIntf(0); }
    void SetRegDvcIntfComport(bool AValue) { SetRegDvcIntf(0, AValue); }
    bool RegDvcIntfUsb() const { return GetRegDvcIntf(1); }
    void SetRegDvcIntfUsb(bool AValue) { SetRegDvcIntf(1, AValue); }
    bool RegDvcSetupPort() const { return GetRegDvcIntf(2); }
    void SetRegDvcSetupPort(bool AValue) { SetRegDvcIntf(2, AValue); }

    bool NotifyCP210() const { return GetNotifyDesc(0); }
    void SetNotifyCP210(bool AValue) { SetNotifyDesc(0, AValue); }
    bool NotifyProlificUSB() const { return GetNotifyDesc(1); }
    void SetNotifyProlificUSB(bool AValue) { SetNotifyDesc(1, AValue); }
    bool NotifyOsprey() const { return GetNotifyDesc(2); }
    void SetNotifyOsprey(bool AValue) { SetNotifyDesc(2, AValue); }

    // The indexed accessors behind those properties. An index outside 0..2 fails the
    // assertion (logged and raised by the installed handler) and does nothing else.
    bool GetNotifyDesc(std::int32_t Index) const;
    bool GetRegDvcIntf(std::int32_t Index) const;
    void SetNotifyDesc(std::int32_t Index, bool AValue);
    void SetRegDvcIntf(std::int32_t Index, bool AValue);

    bool CheckDvcDesc() const { return FCheckDvcDesc; }
    void SetCheckDvcDesc(bool AValue) { FCheckDvcDesc = AValue; }
    const TProc& OnChange() const { return FOnChange; }
    void SetOnChange(TProc AValue) { FOnChange = std::move(AValue); }
    const TDvcInfosProc& OnArrived() const { return FOnDvcArrived; }
    void SetOnArrived(TDvcInfosProc AValue) { FOnDvcArrived = std::move(AValue); }
    const TDvcInfosProc& OnRemoved() const { return FOnDvcRemoved; }
    void SetOnRemoved(TDvcInfosProc AValue) { FOnDvcRemoved = std::move(AValue); }

    // The notification window (for the device world and tests).
    const TWinDeviceObserver* Observer() const { return FObserver; }

private:
    void DoDvcNotify(TDvcDirection ADirection, PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast);

    TDvcDescList* FDvcDescs;
    TWinDeviceObserver* FObserver;
    TDvcInfosProc FOnDvcArrived;
    TDvcInfosProc FOnDvcRemoved;
    TProc FOnChange;
    bool FCheckDvcDesc;
};

inline const TGUID cRegDvcIntfGUIDs[3] = {
    GUID_DEVINTERFACE_COMPORT,
    GUID_DEVINTERFACE_USB_DEVICE,
    GUID_DEVCLASS_PORTS,
};

inline const QString cNotifyDescs[3] = {
    QStringLiteral("CP210"),
    QStringLiteral("Prolific USB-to-Serial Comm Port"),
    QStringLiteral("Osprey"),
};
