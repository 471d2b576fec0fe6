// Job store and job threads: scheduling with the parameters-read handshake, dispatch, cancellation.
#include "core/jobs/Foreman.h"

#include "common/log/GuardedOperation.h"
#include "core/jobs/ForemanSupport.h"
#include "core/jobs/StoreMutexLock.h"

#include <new>
#include <vector>

namespace {

constexpr DWORD KVXDIAG2_STORE_WAIT_MS = 4000;
constexpr DWORD KVXDIAG2_PARAMS_READ_WAIT_MS = 6000;

struct SJobTypeDescription {
    DWORD type;
    const char* text;
};

constexpr SJobTypeDescription KVXDIAG2_JOB_DESCRIPTIONS[] = {
    {eKVXDiag2Job_DATA_COLLECTION, "DATA_COLLECTION"}, {eKVXDiag2Job_BASIC_ANALYSIS, "BASIC_ANALYSIS"},
    {eKVXDiag2Job_DEEP_ANALYSIS, "DEEP_ANALYSIS"},     {eKVXDiag2Job_PACK_RESULTS, "PACK_RESULTS"},
    {eKVXDiag2Job_RESULTS_SHIPPING, "RESULTS_SHIPPING"},
};

} // namespace

// The block handed to a job thread is shared by the scheduler and the thread and freed by whichever
// lets go last: after a 6000 ms time-out the scheduler returns while the thread may not yet have read
// it, so neither side may free it (or close its event) alone.
struct CForeman::SThreadParams {
    CForeman* pForeman;
    DWORD dwJobId;
    HANDLE hParamsReadEvent;
    volatile LONG lRefs;

    void Release()
    {
        if (::InterlockedDecrement(&lRefs) == 0) {
            if (hParamsReadEvent != nullptr) {
                ::CloseHandle(hParamsReadEvent);
            }
            delete this;
        }
    }
};

CForeman::CForeman()
{
    KVX_FUNCTION("CForeman::CForeman");
    kvx::GuardedProcedure(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT, [&]() {
        m_pReporter = kvx::CreatePlainTextReporter();
        if (m_pReporter != nullptr) {
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Creado con éxito el objeto Reporter");
        } else {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "Failed to creater reporter.");
        }
    });
}

CForeman::~CForeman()
{
    KVX_FUNCTION("CForeman::~CForeman");
    kvx::GuardedProcedure(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT, [&]() {
        if (m_bInitialised) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s",
                    "ATENCIÓN: Se está destruyendo un manager q no está parado..ejecutando operación Finish!");
            Finish();
        }
        kvx::DestroyReporter(m_pReporter);
        m_pReporter = nullptr;
    });
}

DWORD CForeman::Init(DWORD dwStep, bool bTDISuspicious, const std::string& resultsDirectory)
{
    KVX_FUNCTION("CForeman::Init");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (m_bInitialised) {
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Objeto ya inicializado!");
            return KVXDIAG2_OK;
        }
        m_osVersion = {};
        m_osVersion.dwOSVersionInfoSize = sizeof m_osVersion;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        ::GetVersionExA(&m_osVersion);
#pragma GCC diagnostic pop
        if (dwStep < eKVXDiag2CoreStep_INITIALIZATIONS_STEP || dwStep > eKVXDiag2CoreStep_MONITOR_DEACTIVATED) {
            KVX_LOG(eKVXDiagLog_ERROR,
                    "ERROR: Existe un análisis en profundidad pendiente, es un estado invalido. eStep: 0x%lX",
                    static_cast<unsigned long>(dwStep));
            return ERROR_INVALID_DATA;
        }
        if (dwStep == eKVXDiag2CoreStep_INITIALIZATIONS_STEP) {
            m_dwCurrentStep = dwStep;
            KVX_LOG(eKVXDiagLog_INFO, "%s",
                    "No hay un análisis en profundidad pendiente, se trata de la primera iteración del asistente "
                    "(eKVXDiag2CoreStep_INITIALIZATIONS_STEP).");
            std::string created;
            if (MakeTempDirectory("KVXDIAG2-Results", created) != KVXDIAG2_OK) {
                KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: No se ha podido crear el directorio temporal para resultados.");
                return ERROR_PATH_NOT_FOUND;
            }
            m_strResultsDirectory = created;
        } else {
            m_dwCurrentStep = dwStep;
            m_bTDISuspicious = bTDISuspicious;
            m_strResultsDirectory = resultsDirectory;
            KVX_LOG(eKVXDiagLog_INFO, "Existe un análisis en profundidad pendiente. eStep: 0x%lX. TDI suspicious: %s. "
                    "Results Dir: %s.",
                    static_cast<unsigned long>(dwStep), bTDISuspicious ? "True" : "False", resultsDirectory.c_str());
        }
        if (m_pReporter != nullptr) {
            std::string reportPath = m_strResultsDirectory;
            if (reportPath.empty() || reportPath.back() != '\\') {
                reportPath += '\\';
            }
            reportPath += "KVXDiagReport.txt";
            kvx::SetReporterOutputFile(m_pReporter, reportPath);
        }
        m_hStoreMutex = ::CreateMutexA(nullptr, FALSE, nullptr);
        if (m_hStoreMutex == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR,
                    "ERROR: No se ha podido crear el mutex sincronizador del almacén!! LastError: %lu",
                    static_cast<unsigned long>(::GetLastError()));
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        m_bInitialised = true;
        return KVXDIAG2_OK;
    });
}

DWORD CForeman::Finish()
{
    KVX_FUNCTION("CForeman::Finish");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (!m_bInitialised) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: Objeto no inicializado!!");
            return KVXDIAG2_ERR_NOT_INITIALISED;
        }
        // No job thread may outlive the foreman it runs on, nor the report writer it writes with.
        CancelAllJobs();
        // What the run leaves that no pending or rebooting analysis owns goes back now: a culprit the
        // user chose not to keep, a basic analysis left midway. Kept entries stay.
        UndoInterruptedBasicAnalysis();
        if (!kvx::IsDeepAnalysisPending() && !kvx::CChangeJournal::IsAwaitingReboot(kvx::eJournalParty_CORE)) {
            UndoInterruptedDeepAnalysis();
        }
        if (m_hStoreMutex != nullptr) {
            ::CloseHandle(m_hStoreMutex);
            m_hStoreMutex = nullptr;
        }
        m_bInitialised = false;
        return KVXDIAG2_OK;
    });
}

DWORD CForeman::RegisterNotifier(INotify* _pINotifier, KVXDIAG2_CONTEXT context)
{
    KVX_FUNCTION("CForeman::RegisterNotifier");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (!m_bInitialised) {
            return KVXDIAG2_ERR_NOT_INITIALISED;
        }
        if (_pINotifier == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: El parámetro _pINotifier el NULL!!");
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        m_pINotifier = _pINotifier;
        m_context = context;
        KVX_LOG(eKVXDiagLog_INFO, "Registrado notificador: %p. Contexto: %p", static_cast<void*>(_pINotifier),
                reinterpret_cast<void*>(context));
        return KVXDIAG2_OK;
    });
}

DWORD CForeman::SetPackedResultsDestinationFilePath(const std::string& path)
{
    KVX_FUNCTION("CForeman::SetPackedResultsDestinationFilePath");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        m_strPackageDestination = path;
        return KVXDIAG2_OK;
    });
}

const char* CForeman::GetJobDescription(DWORD dwJobType)
{
    KVX_FUNCTION("CForeman::GetJobDescription");
    for (const SJobTypeDescription& entry : KVXDIAG2_JOB_DESCRIPTIONS) {
        if (entry.type == dwJobType) {
            return entry.text;
        }
    }
    KVX_LOG(eKVXDiagLog_SYSTEM, "ERROR: Notificación desconocida: %lu", static_cast<unsigned long>(dwJobType));
    return "[INVALID]";
}

DWORD CForeman::StoreJobData(DWORD dwJobId, const SJobData& data)
{
    KVX_FUNCTION("CForeman::StoreJobData");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        CStoreMutexLock lock(m_hStoreMutex, kvxFunctionName_, KVXDIAG2_STORE_WAIT_MS);
        if (lock.Result() != KVXDIAG2_OK) {
            return lock.Result();
        }
        if (m_jobs.count(dwJobId) != 0) {
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR: Ya existe un trabajo registrado con el Id: %lu",
                    static_cast<unsigned long>(dwJobId));
            return KVXDIAG2_ERR_ALREADY_REGISTERED;
        }
        m_jobs.emplace(dwJobId, data);
        return KVXDIAG2_OK;
    });
}

DWORD CForeman::UpdateJobData(DWORD dwJobId, const SJobData& data)
{
    KVX_FUNCTION("CForeman::UpdateJobData");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        CStoreMutexLock lock(m_hStoreMutex, kvxFunctionName_, KVXDIAG2_STORE_WAIT_MS);
        if (lock.Result() != KVXDIAG2_OK) {
            return lock.Result();
        }
        m_jobs[dwJobId] = data;
        return KVXDIAG2_OK;
    });
}

DWORD CForeman::GetACopyOfJobData(DWORD dwJobId, SJobData& data)
{
    KVX_FUNCTION("CForeman::GetACopyOfJobData");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        CStoreMutexLock lock(m_hStoreMutex, kvxFunctionName_, KVXDIAG2_STORE_WAIT_MS);
        if (lock.Result() != KVXDIAG2_OK) {
            return lock.Result();
        }
        const auto it = m_jobs.find(dwJobId);
        if (it == m_jobs.end()) {
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR: No se ha podido obtener información del job: %lu",
                    static_cast<unsigned long>(dwJobId));
            return KVXDIAG2_ERR_NOT_FOUND;
        }
        data = it->second;
        return KVXDIAG2_OK;
    });
}

DWORD CForeman::DeleteJobData(DWORD dwJobId)
{
    KVX_FUNCTION("CForeman::DeleteJobData");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        CStoreMutexLock lock(m_hStoreMutex, kvxFunctionName_, KVXDIAG2_STORE_WAIT_MS);
        if (lock.Result() != KVXDIAG2_OK) {
            return lock.Result();
        }
        if (m_jobs.erase(dwJobId) == 0) {
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR: No se ha podido eliminar pq no existe ningún job almacenado con Id: %lu",
                    static_cast<unsigned long>(dwJobId));
            return KVXDIAG2_ERR_NOT_FOUND;
        }
        return KVXDIAG2_OK;
    });
}

DWORD CForeman::ScheduleJob(DWORD dwJobType, DWORD dwJobId)
{
    KVX_FUNCTION("CForeman::ScheduleJob");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (!m_bInitialised) {
            return KVXDIAG2_ERR_NOT_INITIALISED;
        }
        if (strcmp(GetJobDescription(dwJobType), "[INVALID]") == 0 || dwJobId == 0) {
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        HANDLE paramsRead = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (paramsRead == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR,
                    "ERROR: No se ha podido crear el evento de sincronización. con el worker thread!! LastError: %lu",
                    static_cast<unsigned long>(::GetLastError()));
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        SThreadParams* params = new (std::nothrow) SThreadParams{this, dwJobId, paramsRead, 1};
        if (params == nullptr) {
            ::CloseHandle(paramsRead);
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        HANDLE cancelEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (cancelEvent == nullptr) {
            const DWORD error = ::GetLastError();
            params->Release();
            KVX_LOG(eKVXDiagLog_ERROR,
                    "ERROR: No se ha podido crear el evento de cancelación. con el worker thread!! LastError: %lu",
                    static_cast<unsigned long>(error));
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        SJobData record = {dwJobId, nullptr, dwJobType, cancelEvent};
        DWORD rc = StoreJobData(dwJobId, record);
        if (rc != KVXDIAG2_OK) {
            ::CloseHandle(cancelEvent);
            params->Release();
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR: No se ha podido guardar los datos del job %lu. Error: %lu",
                    static_cast<unsigned long>(dwJobId), static_cast<unsigned long>(rc));
            return KVXDIAG2_ERR_CANTWRITE;
        }
        // The thread holds its own reference to the block from the moment it exists.
        ::InterlockedIncrement(&params->lRefs);
        record.hThread = ::CreateThread(nullptr, 0, RunJobInOtherThread, params, 0, nullptr);
        if (record.hThread == nullptr) {
            ::InterlockedDecrement(&params->lRefs);
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR: No se ha podido crear un hilo para el trabajo Id: %lu",
                    static_cast<unsigned long>(dwJobId));
            params->Release();
            ReleaseJobResources(dwJobId);
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        KVX_LOG(eKVXDiagLog_INFO, "Esperamos por el evento de lectura de datos durante %lu ms",
                static_cast<unsigned long>(KVXDIAG2_PARAMS_READ_WAIT_MS));
        DWORD result = KVXDIAG2_OK;
        if (::WaitForSingleObject(params->hParamsReadEvent, KVXDIAG2_PARAMS_READ_WAIT_MS) != WAIT_OBJECT_0) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s",
                    "ERROR: Ha vencido el timeout de lectura de parámetros. No se cierra handle para no causar "
                    "problemas al hilo RunJobInOtherThread!!");
            result = KVXDIAG2_ERR_PARAMS_NOT_READ;
        }
        // On a time-out the thread still holds its reference, so the event stays open for it.
        params->Release();
        rc = UpdateJobData(dwJobId, record);
        if (rc != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR: No se ha podido actualizar los datos del job %lu",
                    static_cast<unsigned long>(dwJobId));
            return KVXDIAG2_ERR_CANTWRITE;
        }
        return result;
    });
}

DWORD WINAPI CForeman::RunJobInOtherThread(LPVOID pParams)
{
    KVX_FUNCTION("CForeman::RunJobInOtherThread");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (pParams == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: Parámetro nulo!!");
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        SThreadParams* params = static_cast<SThreadParams*>(pParams);
        CForeman* foreman = params->pForeman;
        const DWORD jobId = params->dwJobId;
        if (foreman == nullptr || jobId == 0 || params->hParamsReadEvent == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: Alguno de los parámetros proporcionados es nulo!!");
            params->Release();
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        foreman->ExecuteJob(jobId, params->hParamsReadEvent);
        // Released only now: ExecuteJob signals the event after reading the job record.
        params->Release();
        return 0;
    });
}

DWORD CForeman::ExecuteJob(DWORD dwJobId, HANDLE hParamsReadEvent)
{
    KVX_FUNCTION("CForeman::ExecuteJob");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (!m_bInitialised) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: Instancia no inicializada.");
            return KVXDIAG2_ERR_NOT_INITIALISED;
        }
        SJobData record = {};
        if (GetACopyOfJobData(dwJobId, record) != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: No se pueden obtener los datos del trabajo del almacén!!");
            return KVXDIAG2_ERR_CANTREAD;
        }
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Se señaliza el evento de datos leídos.");
        ::SetEvent(hParamsReadEvent);
        switch (record.dwJobType) {
        case eKVXDiag2Job_BASIC_ANALYSIS:
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Running basic analysis...");
            return RunBasicAnalysis(dwJobId);
        case eKVXDiag2Job_DEEP_ANALYSIS:
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Running deep analysis...");
            return RunDeepAnalysis(dwJobId, m_dwCurrentStep, m_bTDISuspicious);
        case eKVXDiag2Job_PACK_RESULTS:
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Packing results...");
            return PackAndSendResults(dwJobId, m_strPackageDestination);
        default:
            KVX_LOG(eKVXDiagLog_ERROR, "Tipo de job desconocido. Tipo: %lu", static_cast<unsigned long>(record.dwJobType));
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
    });
}

DWORD CForeman::CancelJob(DWORD dwJobId)
{
    KVX_FUNCTION("CForeman::CancelJob");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD { return CancelJobAndWait(dwJobId, true); });
}

// Shutting down is not the user's cancel: a deep analysis whose window is closed keeps everything for
// its resume, so only a cancel asked for by the caller undoes what the analysis switched.
void CForeman::CancelAllJobs()
{
    KVX_FUNCTION("CForeman::CancelAllJobs");
    kvx::GuardedProcedure(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT, [&]() {
        std::vector<DWORD> ids;
        {
            CStoreMutexLock lock(m_hStoreMutex, kvxFunctionName_, KVXDIAG2_STORE_WAIT_MS);
            for (const auto& job : m_jobs) {
                ids.push_back(job.first);
            }
        }
        for (const DWORD id : ids) {
            KVX_LOG(eKVXDiagLog_INFO, "Se cancela el job %lu antes de liberar el Foreman.", static_cast<unsigned long>(id));
            CancelJobAndWait(id, false);
        }
    });
}

DWORD CForeman::CancelJobAndWait(DWORD dwJobId, bool bUndo)
{
    KVX_FUNCTION_QUIET("CForeman::CancelJob");
    if (!m_bInitialised) {
        return KVXDIAG2_ERR_NOT_INITIALISED;
    }
    SJobData record = {};
    const DWORD rc = GetACopyOfJobData(dwJobId, record);
    if (rc != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "ERROR: No se ha podido obtener del almacén los datos del job = %lu",
                static_cast<unsigned long>(dwJobId));
        return rc;
    }
    if (record.hThread != nullptr) {
        if (record.hCancelEvent != nullptr) {
            ::SetEvent(record.hCancelEvent);
            KVX_LOG(eKVXDiagLog_INFO, "Se señaliza el evento de cancelación para el job = %lu",
                    static_cast<unsigned long>(dwJobId));
        } else {
            KVX_LOG(eKVXDiagLog_SYSTEM,
                    "ERROR: No existe evento de cancelación para el job = %lu. Se espera por hilo sin "
                    "señalizarlo...posiblemente habrá que terminar el hilo",
                    static_cast<unsigned long>(dwJobId));
        }
        KVX_LOG(eKVXDiagLog_INFO, "Esperando finalización de hilo %p durante -1ms...",
                static_cast<void*>(record.hThread));
        ::WaitForSingleObject(record.hThread, INFINITE);
    } else {
        KVX_LOG(eKVXDiagLog_INFO, "WARNING: No existe hilo que gestione el trabajo Id: %lu",
                static_cast<unsigned long>(dwJobId));
    }
    ReleaseJobResources(dwJobId);
    if (bUndo && record.dwJobType == eKVXDiag2Job_DEEP_ANALYSIS) {
        // Releasing a job that ended by itself is how callers free it; after a prepared reboot or a
        // verdict that must not undo what the reboot or the verdict is for.
        if (DeepJobLeftWorkToUndo(dwJobId)) {
            UndoDeepAnalysis();
        } else {
            KVX_LOG(eKVXDiagLog_INFO,
                    "El job %lu terminó por sí mismo (reinicio preparado o veredicto): solo se libera.",
                    static_cast<unsigned long>(dwJobId));
        }
    }
    return KVXDIAG2_OK;
}

DWORD CForeman::ReleaseJobResources(DWORD dwJobId)
{
    KVX_FUNCTION("CForeman::ReleaseJobResources");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        SJobData record = {};
        const DWORD rc = GetACopyOfJobData(dwJobId, record);
        if (rc != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR: No se ha podido obtener los datos del job %lu!! LastError: %lu",
                    static_cast<unsigned long>(dwJobId), static_cast<unsigned long>(rc));
            return KVXDIAG2_ERR_CANTREAD;
        }
        if (record.hCancelEvent != nullptr) {
            ::CloseHandle(record.hCancelEvent);
        }
        if (record.hThread != nullptr) {
            ::CloseHandle(record.hThread);
        }
        if (DeleteJobData(dwJobId) != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: No se ha podido eliminar los datos del job");
            return KVXDIAG2_ERR_RELEASE_FAILED;
        }
        return KVXDIAG2_OK;
    });
}

bool CForeman::IsThisJobCancelled(DWORD dwJobId)
{
    KVX_FUNCTION("CForeman::IsThisJobCancelled");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT, false, [&]() -> bool {
        SJobData record = {};
        const DWORD rc = GetACopyOfJobData(dwJobId, record);
        if (rc != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR: No se han podido obtener los datos del job %lu. Error: %lu",
                    static_cast<unsigned long>(dwJobId), static_cast<unsigned long>(rc));
            return false;
        }
        if (record.hCancelEvent == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: No existe evento de cancelación!!");
            return false;
        }
        const DWORD wait = ::WaitForSingleObject(record.hCancelEvent, 0);
        switch (wait) {
        case WAIT_OBJECT_0:
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Evento de cancelación señalizado!");
            return true;
        case WAIT_TIMEOUT:
            KVX_LOG(eKVXDiagLog_INFO, "%s", "La espera ha terminado por Timeout...");
            return false;
        case WAIT_FAILED:
        case WAIT_ABANDONED:
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR: La llamada a WaitForSingleObject ha fallado!! LastError: %lu",
                    static_cast<unsigned long>(::GetLastError()));
            return false;
        default:
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR: El valor devuelto por WaitForSingle es desconocido: %lu",
                    static_cast<unsigned long>(wait));
            return false;
        }
    });
}

int CForeman::NotifyValue(DWORD dwCode, const std::string& text, DWORD dwValue)
{
    if (m_pINotifier == nullptr) {
        return KVXDIAG2_NOTIFY_NOT_DELIVERED;
    }
    return m_pINotifier->Notify(dwCode, m_context, text, dwValue);
}

int CForeman::NotifyList(DWORD dwCode, const std::string& text, const TaskDataList& data)
{
    if (m_pINotifier == nullptr) {
        return KVXDIAG2_NOTIFY_NOT_DELIVERED;
    }
    return m_pINotifier->Notify(dwCode, m_context, text, data);
}
