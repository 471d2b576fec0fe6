// One binding interface of a binding path, as the network configuration helper lists it.
#pragma once

#include <string>

struct SBindingInterface {
    std::wstring strName;             // the interface's name (ndis5, tdi, ...)
    std::wstring strUpperComponentId; // id of the component above the interface
    std::wstring strLowerComponentId; // id of the component below it
};
