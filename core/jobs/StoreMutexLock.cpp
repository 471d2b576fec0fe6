#include "core/jobs/StoreMutexLock.h"

#include "common/log/KVXDiagObject.h"
#include "core/interface/KVXDiagTypes.h"

CStoreMutexLock::CStoreMutexLock(HANDLE hMutex, const char* pszFunction, DWORD dwTimeoutMs) : m_hMutex(hMutex)
{
    if (m_hMutex == nullptr) {
        return;
    }
    CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, pszFunction,
                             "Esperando por acceso al almacén de jobs durante %lu ms...",
                             static_cast<unsigned long>(dwTimeoutMs));
    const DWORD dwWait = ::WaitForSingleObject(m_hMutex, dwTimeoutMs);
    if (dwWait == WAIT_ABANDONED) {
        // The store may hold a half-written record; the operations only ever copy whole records, so
        // going on is safe, and dropping the mutex here would block the store for good.
        CKVXDiagObject::WriteLog(eKVXDiagLog_SYSTEM, KVXDIAG_LOG_MODULE, pszFunction, "%s",
                                 "ATENCIÓN: El mutex del almacén fue abandonado por otro hilo; se toma su propiedad.");
        return;
    }
    if (dwWait != WAIT_OBJECT_0) {
        CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction, "%s",
                                 "No se ha podido obtener acceso al almacén en el tiempo establecido...");
        m_dwResult = KVXDIAG2_ERR_TIMEOUT;
        m_hMutex = nullptr;
    }
}

CStoreMutexLock::~CStoreMutexLock()
{
    if (m_hMutex != nullptr) {
        ::ReleaseMutex(m_hMutex);
    }
}
