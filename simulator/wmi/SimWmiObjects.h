// The COM objects of the Security Center double.
#pragma once

#include <windows.h>

namespace kvxsim {

// Creates a new locator (IWbemLocator) and answers the requested interface.
HRESULT CreateSimWmiLocator(REFIID riid, void** ppv);

// Objects and server locks alive in this process; the server may be unloaded at zero.
LONG SimWmiLiveObjects();
void SimWmiLockServer(bool lock);

} // namespace kvxsim
