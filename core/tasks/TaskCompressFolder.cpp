#include "core/tasks/TaskCompressFolder.h"

#include "core/report/IReporter.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskCompressFolder::s_dwFactoryRegistration = CTaskCompressFolder::PerformFactoryRegistration();

DWORD CTaskCompressFolder::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskCompressFolder::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        const DWORD dwResult =
            kvx::CTaskConfigReader(kvxFunctionName_).ReadTexts(params, {&m_strFolder, &m_strArchive, &m_strPassword});
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
        KVX_LOG(eKVXDiagLog_INFO, "Directorio a comprimir: %s", m_strFolder.c_str());
        KVX_LOG(eKVXDiagLog_INFO, "Archivo ZIP: %s", m_strArchive.c_str());
        KVX_LOG(eKVXDiagLog_INFO, "Password: %s", m_strPassword.c_str());
        return KVXDIAG2_OK;
    });
}

DWORD CTaskCompressFolder::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskCompressFolder::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (SysUtilsMissing(kvxFunctionName_)) {
            return KVXDIAG2_ERR_NO_LIBRARY;
        }
        const DWORD dwResult = m_sysUtils->CompressFolder(m_strFolder, m_strPassword, m_strArchive);
        if (pReporter != nullptr) {
            if (dwResult == KVXDIAG2_OK) {
                pReporter->Report("Folder '%s' successfully compressed into file '%s'", m_strFolder.c_str(),
                                  m_strArchive.c_str());
            } else {
                pReporter->Report("Failed to compress folder '%s' into file '%s', error 0x%08lx", m_strFolder.c_str(),
                                  m_strArchive.c_str(), static_cast<unsigned long>(dwResult));
            }
        }
        return dwResult;
    });
}
