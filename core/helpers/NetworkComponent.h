// One network component with its binding paths, as the network configuration helper lists it for the
// report. The caller's list owns the records by value, so dropping the list frees every path and
// interface record with it.
#pragma once

#include "core/helpers/BindingPath.h"

#include <windows.h>

#include <string>
#include <vector>

struct SNetworkComponent {
    GUID classGuid = {};
    GUID instanceGuid = {};
    std::wstring strId;
    std::wstring strBindName;
    std::wstring strDisplayName;
    std::wstring strPnpDevNodeId;
    std::wstring strHelpText;
    DWORD dwCharacteristics = 0; // NCF_* flags
    DWORD dwDeviceStatus = 0;
    std::vector<SBindingPath> bindingPaths;
};
