#pragma once
// The setup facet of the Linux world: a setup-class search is a udev enumeration.
// The HID class lists the `hid` devices, each with the hardware identifiers
// HID\VID_vvvv&PID_pppp&REV_rrrr and HID\VID_vvvv&PID_pppp, its description (the USB product
// string, else the HID name, else "USB Input Device"), its class GUID and class name, its
// manufacturer, driver and enumerator. A property the device does not have is missing, as on
// the platform. Other setup classes list no device here.

#include <win/SetupWorld.h>

namespace win {

class TUdevSetupWorld : public ISetupWorld {
public:
    bool PresentDevices(const TGUID& AClass, std::vector<TSetupDevice>& ADevices, DWORD& AError) override;
    std::optional<QString> ClassDescription(const TGUID& AClass) override;
};

}  // namespace win
