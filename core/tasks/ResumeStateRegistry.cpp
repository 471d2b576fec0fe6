#include "core/tasks/ResumeStateRegistry.h"

#include "common/log/KVXDiagObject.h"
#include "common/win/RegistryView.h"
#include "core/interface/ResumeState.h"

namespace kvx {

DWORD OpenResumeKey(bool bCreate, UniqueHkey& key)
{
    const REGSAM access = KEY_ALL_ACCESS | KVX_REGVIEW_VENDOR;
    if (bCreate) {
        return static_cast<DWORD>(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, nullptr,
                                                    REG_OPTION_NON_VOLATILE, access, nullptr, key.put(), nullptr));
    }
    return static_cast<DWORD>(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, access, key.put()));
}

DWORD OpenRunKey(UniqueHkey& key)
{
    return static_cast<DWORD>(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RUN_KEY, 0, KEY_ALL_ACCESS, key.put()));
}

DWORD SetStringValue(HKEY hKey, const char* pszName, const std::string& value)
{
    if (value.size() > MAXDWORD) {
        return ERROR_INVALID_DATA;
    }
    return static_cast<DWORD>(::RegSetValueExA(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                               static_cast<DWORD>(value.size())));
}

void LogRegistryFailure(const char* pszFunction, const std::string& what, DWORD dwError)
{
    CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction, "%s. Error devuelto: %lu",
                             what.c_str(), static_cast<unsigned long>(dwError));
}

} // namespace kvx
