// The COM objects of the network-configuration engine double.
#pragma once

#include <windows.h>

namespace kvxsim {

// Creates a new engine object (INetCfg, INetCfgLock) and answers the requested interface.
HRESULT CreateSimNetCfg(REFIID riid, void** ppv);

// Objects and server locks alive in this process; the server may be unloaded at zero.
LONG SimLiveObjects();
void SimLockServer(bool lock);

} // namespace kvxsim
