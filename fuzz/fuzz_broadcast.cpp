// libFuzzer target for device-interface broadcast decoding: any record from outside, made
// safe as the device world hands it to a window, decodes without reading past it, crashing
// or hanging, into a list that holds what the decoders say and never more.

#include <mDeviceObserver.Windows.Common.h>

#include <rtl/StringList.h>
#include <rtl/SysUtils.h>
#include <win/DeviceNotifications.h>
#include <win/DeviceWorld.h>
#include <win/MemoryRegistryWorld.h>
#include <win/Registry.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

void check(bool ACondition) {
    if (!ACondition) std::abort();
}

// A few keys that decoded names can reach, with good and bad values.
std::shared_ptr<win::TMemoryRegistryWorld> MakeRegistry() {
    auto registry = std::make_shared<win::TMemoryRegistryWorld>();
    const QString base = QStringLiteral("SYSTEM\\CurrentControlSet\\Enum\\USB\\");
    registry->SetString(HKEY_LOCAL_MACHINE, base + "VID_2047&PID_0200\\1-1", "DeviceDesc", "MSP430 USB HID BSL");
    registry->SetString(HKEY_LOCAL_MACHINE, base + "VID_2047&PID_0200\\1-1", "ClassGUID",
                        "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}");
    registry->SetString(HKEY_LOCAL_MACHINE, base + "A\\B", "FriendlyName", "Port (COM3)");
    registry->SetString(HKEY_LOCAL_MACHINE, base + "A\\B", "ClassGUID", "{4D36E978-E325-11CE-BFC1-08002BE10318}");
    registry->SetString(HKEY_LOCAL_MACHINE, base + "A\\C", "ClassGUID", "{bad}");
    registry->SetValue(HKEY_LOCAL_MACHINE, base + "A\\D", "DeviceDesc", {REG_DWORD, QByteArray(4, '\1')});
    return registry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    static const bool selected = [] {
        win::SelectDeviceWorld({MakeRegistry(), nullptr, nullptr});
        return true;
    }();
    (void)selected;
    const auto record = win::MakeSafeBroadcastRecord(QByteArray(reinterpret_cast<const char*>(AData), qsizetype(ASize)));
    auto* p = reinterpret_cast<PDEV_BROADCAST_DEVICEINTERFACE>(const_cast<char*>(record->constData()));
    const QString name = GetDvcName(p);
    check(name.size() <= qsizetype(ASize / 2));
    check(!name.contains(QChar(0)));
    const bool valid = IsDvcNameValid(p);
    check(valid == !GetDvcRegPath(p).isEmpty());
    if (!valid) check(GetDvcDeviceDesc(p).isEmpty() && GetDvcType(p) == dtNone);
    try {
        std::unique_ptr<TStringList> infos(CreateDvcInfosWithDirection(ddRemoved, p));
        check(infos->Count() >= 3 && infos->Count() <= 7);
        check(infos->Strings(infos->Count() - 1) == QStringLiteral("Direction=ddRemoved"));
        check(infos->Values(QStringLiteral("VIdPId")) == GetDvcVIdPId(p));
    } catch (const EConvertError&) {
        check(valid);  // a ClassGUID that is not a GUID, reached through a valid name
    } catch (const ERegistryException&) {
        check(valid);
    }
    return 0;
}
