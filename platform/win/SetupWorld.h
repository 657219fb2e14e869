#pragma once
// The setup-class facet of the device world: which devices of a setup class are present and
// what their Plug and Play properties hold, typed as the registry types them.

#include "WinDef.h"
#include "WinReg.h"

#include <rtl/GUID.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <vector>

namespace win {

// One property as stored: its registry type and its bytes (texts in UTF-16, NUL-ended).
struct TSetupProperty {
    DWORD Type = REG_NONE;
    QByteArray Data;
};

TSetupProperty SetupSz(const QString& AText, DWORD AType = REG_SZ);
TSetupProperty SetupMultiSz(const QStringList& AItems);
TSetupProperty SetupDWord(DWORD AValue);
TSetupProperty SetupBinary(const QByteArray& AData);

// A present device: its setup class, its device instance and its properties by SPDRP code.
struct TSetupDevice {
    TGUID ClassGuid;
    DWORD DevInst = 0;
    std::map<DWORD, TSetupProperty> Properties;
};

class ISetupWorld {
public:
    virtual ~ISetupWorld() = default;
    // The devices present now whose setup class is AClass (none for a GUID that is no setup
    // class). False, with the system error in AError, when the class cannot be listed.
    virtual bool PresentDevices(const TGUID& AClass, std::vector<TSetupDevice>& ADevices, DWORD& AError) = 0;
    // The description of the setup class; none for a GUID that names no setup class.
    virtual std::optional<QString> ClassDescription(const TGUID& AClass) = 0;
};

}  // namespace win
