#include "core/tasks/TaskExportRegistryKey.h"

#include "core/report/IReporter.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskExportRegistryKey::s_dwFactoryRegistration = CTaskExportRegistryKey::PerformFactoryRegistration();

namespace {

constexpr const char* KVX_BACKUP_PRIVILEGE = "SeBackupPrivilege";

} // namespace

DWORD CTaskExportRegistryKey::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskExportRegistryKey::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        return kvx::CTaskConfigReader(kvxFunctionName_).ReadRootKeyAndTexts(params, m_ullRootKey, m_strSubKey, m_strFile);
    });
}

DWORD CTaskExportRegistryKey::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskExportRegistryKey::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (SysUtilsMissing(kvxFunctionName_)) {
            return KVXDIAG2_ERR_NO_LIBRARY;
        }
        // The predefined keys are 32-bit values sign-extended to the pointer's width (HKEY_LOCAL_MACHINE
        // is 0x80000002 on a 32-bit build and 0xFFFFFFFF80000002 on a 64-bit one).
        const DWORD dwRootValue = static_cast<DWORD>(m_ullRootKey);
        const HKEY hRoot = reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(dwRootValue)));

        // Only the flag matters; a failed query counts as "not enabled".
        bool bWasEnabled = false;
        if (m_sysUtils->IsPrivilegeEnabled(KVX_BACKUP_PRIVILEGE, bWasEnabled) != KVXDIAG2_OK) {
            bWasEnabled = false;
        }
        DWORD dwResult = KVXDIAG2_OK;
        if (!bWasEnabled) {
            dwResult = m_sysUtils->SetPrivilegeState(KVX_BACKUP_PRIVILEGE, true);
            if (dwResult != KVXDIAG2_OK) {
                KVX_LOG(eKVXDiagLog_ERROR, "Error. No se ha podido activar el privilegio de backup en el token 0x%08lx",
                        dwResult);
            }
        }
        if (dwResult == KVXDIAG2_OK) {
            dwResult = m_sysUtils->SaveRegistryKey(hRoot, m_strSubKey, m_strFile);
        }
        if (pReporter != nullptr) {
            if (dwResult != KVXDIAG2_OK) {
                pReporter->Report("Failed to export Key 0x%08lx, SubKey '%s' into file '%s'", dwRootValue,
                                  m_strSubKey.c_str(), m_strFile.c_str());
            } else {
                pReporter->Report("Key 0x%08lx, SubKey '%s' successfully exported into file '%s'", dwRootValue,
                                  m_strSubKey.c_str(), m_strFile.c_str());
            }
        }
        // The token is left as it was found, also when enabling failed.
        if (!bWasEnabled) {
            m_sysUtils->SetPrivilegeState(KVX_BACKUP_PRIVILEGE, false);
        }
        return dwResult;
    });
}
