// In-process server entry points of the engine double: the class object for CLSID_CNetCfg.
#include <windows.h>
#include <objbase.h>

#include "simulator/SimClassFactory.h"
#include "simulator/netcfg/SimNetCfgObjects.h"

namespace {

// {5B035261-40F9-11D1-AAEC-00805FC1270E}: the class the double stands in for.
constexpr CLSID CLSID_SIMNETCFG = {0x5b035261, 0x40f9, 0x11d1, {0xaa, 0xec, 0x00, 0x80, 0x5f, 0xc1, 0x27, 0x0e}};

kvxsim::CSimClassFactory g_factory(kvxsim::CreateSimNetCfg, kvxsim::SimLockServer);

} // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_SIMNETCFG)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return kvxsim::SimLiveObjects() == 0 ? S_OK : S_FALSE; }
