// The Security Center double's registration. The prefix's own server entry for CLSID_WbemLocator is
// never touched: TreatAs sends COM to the double's class and is all there is to take back.
#include "tests/support/SimWmi.h"

#include "simulator/wmi/SimWmiLayout.h"
#include "tests/support/SimNetCfg.h"
#include "tests/support/TestSupport.h"

namespace kvxtest {
namespace {

const std::string CLASSES = "Software\\Classes\\CLSID\\";
const std::string TREAT_AS_KEY = CLASSES + kvxsim::SIMWMI_LOCATOR_CLSID_TEXT + "\\TreatAs";
const std::string SIM_KEY = CLASSES + kvxsim::SIMWMI_CLSID_TEXT;

} // namespace

CSimWmiRegistration::CSimWmiRegistration()
{
    // A run that died with the double registered must not make the double the class to restore.
    if (!GetString(HKEY_LOCAL_MACHINE, TREAT_AS_KEY, "", m_previousTreatAs) ||
        _stricmp(m_previousTreatAs.c_str(), kvxsim::SIMWMI_CLSID_TEXT) == 0) {
        m_previousTreatAs.clear();
    }
    const std::string dll = ProgramDirectory() + kvxsim::SIMWMI_DLL_NAME;
    if (::GetFileAttributesA(dll.c_str()) == INVALID_FILE_ATTRIBUTES) {
        m_result = ::GetLastError();
        return;
    }
    const std::string server = SIM_KEY + "\\InprocServer32";
    if (!SetString(HKEY_LOCAL_MACHINE, server, "", dll) ||
        !SetString(HKEY_LOCAL_MACHINE, server, "ThreadingModel", "Both") ||
        !SetString(HKEY_LOCAL_MACHINE, TREAT_AS_KEY, "", kvxsim::SIMWMI_CLSID_TEXT)) {
        m_result = ERROR_ACCESS_DENIED;
    }
}

CSimWmiRegistration::~CSimWmiRegistration()
{
    if (m_previousTreatAs.empty()) {
        CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, TREAT_AS_KEY);
    } else {
        SetString(HKEY_LOCAL_MACHINE, TREAT_AS_KEY, "", m_previousTreatAs);
    }
    CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, SIM_KEY);
}

} // namespace kvxtest
