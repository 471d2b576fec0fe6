// One binding path of a network component, as the network configuration helper lists it.
#pragma once

#include "core/helpers/BindingInterface.h"

#include <windows.h>

#include <string>
#include <vector>

struct SBindingPath {
    bool bEnabled = false; // the engine answered S_OK to IsEnabled
    DWORD dwDepth = 0;
    std::wstring strPathToken;
    std::vector<SBindingInterface> interfaces;
};
