// In-process server entry points of the Security Center double: the class object for its own class,
// which a test fixture makes CLSID_WbemLocator's TreatAs, and for CLSID_WbemLocator itself.
#include <windows.h>
#include <objbase.h>

#include "simulator/SimClassFactory.h"
#include "simulator/wmi/SimWmiObjects.h"

namespace {

// {D62615A3-F61A-4904-8F0B-41599EECBC3D}, the class of simulator/wmi/SimWmiLayout.h.
constexpr CLSID CLSID_SIMWMI = {0xd62615a3, 0xf61a, 0x4904, {0x8f, 0x0b, 0x41, 0x59, 0x9e, 0xec, 0xbc, 0x3d}};
// {4590F811-1D3A-11D0-891F-00AA004B2E24}: CLSID_WbemLocator, in case COM asks by the original class.
constexpr CLSID CLSID_SIMWMI_LOCATOR = {0x4590f811, 0x1d3a, 0x11d0, {0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};

kvxsim::CSimClassFactory g_factory(kvxsim::CreateSimWmiLocator, kvxsim::SimWmiLockServer);

} // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_SIMWMI) && !IsEqualCLSID(rclsid, CLSID_SIMWMI_LOCATOR)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return kvxsim::SimWmiLiveObjects() == 0 ? S_OK : S_FALSE; }
