// The coordinator: the exports' single object. It owns the foreman and turns job notifications into
// calls of the caller's callback on the job's own thread.
#include "core/interface/Coordinator.h"

#include "core/jobs/UndoRecords.h"

#include "common/log/GuardedOperation.h"
#include "common/win/RegistryView.h"
#include "common/win/UniqueHandles.h"
#include "core/interface/ResumeState.h"
#include "core/jobs/Foreman.h"
#include "core/tasks/TaskDataLong.h"

#include <memory>
#include <new>

CCoordinator* CCoordinator::s_pInstance = nullptr;

namespace {

struct SNotifyDescription {
    DWORD code;
    const char* text;
};

constexpr SNotifyDescription KVXDIAG2_NOTIFY_DESCRIPTIONS[] = {
    {1, "FILTER_DISABLED"},
    {2, "FILTER_ENABLED"},
    {3, "FILTER ACTIVATED"},
    {4, "FILTER DEACTIVATED"},
    {5, "BASICANALYSIS BEGUN"},
    {6, "BASICANALYSIS IN PROGRESS"},
    {7, "BASICANALYSIS UNSUCCESS FINISHED"},
    {8, "BASICANALYSIS SUCCESS FINISHED"},
    {9, "BASICANALYSIS CANCELLED"},
    {10, "BASICANALYSIS ENDED"},
    {11, "DEEPANALYSIS BEGUN"},
    {12, "DEEPANALYSIS CANCELLED"},
    {13, "DEEPANALYSIS PREPARED TO REBOOT"},
    {14, "DEEPANALYSIS USER ASK"},
    {15, "DEEPANALYSIS SUCCESS FINISHED"},
    {16, "DEEPANALYSIS UNSUCCESS FINISHED"},
    {17, "PACK&SEND BEGUN"},
    {18, "PACK&SEND CANCEL"},
    {19, "PACK&SEND IN PROGRESS"},
    {20, "PACK&SEND SUCCESS FINISHED"},
    {21, "PACK&SEND UNSUCCESS FINISHED"},
};

constexpr const char* KVXDIAG2_INVALID_DESCRIPTION = "[INVALID]";

// Reads the resume state left by a deep analysis before a reboot. The step output is always written;
// a pending analysis needs both a step and a non-trivial results directory.
bool CheckForPendingDeepAnalysis(DWORD& step, bool& tdiSuspicious, std::string& resultsDir)
{
    KVX_FUNCTION("CCoordinator::CheckForPendingDeepAnalysis");
    step = 0;
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, true, [&]() -> bool {
        kvx::UniqueHkey key;
        LONG rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, KEY_READ | kvx::KVX_REGVIEW_VENDOR,
                                  key.put());
        if (rc != ERROR_SUCCESS) {
            KVX_LOG(eKVXDiagLog_INFO, "No se ha podido abrir la clave %s. Error devuelto: %ld", KVXDIAG2_RESUME_KEY,
                    static_cast<long>(rc));
            return false;
        }
        bool pending = false;
        DWORD value = 0;
        DWORD size = sizeof value;
        rc = ::RegQueryValueExA(key.get(), KVXDIAG2_RESUME_CURRENT_STEP, nullptr, nullptr,
                                reinterpret_cast<BYTE*>(&value), &size);
        if (rc != ERROR_SUCCESS) {
            KVX_LOG(eKVXDiagLog_INFO, "%s", "No hay análisis en profundidad pendientes...");
        } else {
            step = value;
            KVX_LOG(eKVXDiagLog_INFO, "Existe un análisis pendiente con estado %d", static_cast<int>(value));
            // Only a value longer than one byte counts: an empty directory name cannot be resumed.
            BYTE probe[1] = {};
            DWORD needed = sizeof probe;
            rc = ::RegQueryValueExA(key.get(), KVXDIAG2_RESUME_RESULTS_DIR, nullptr, nullptr, probe, &needed);
            if (rc == ERROR_MORE_DATA) {
                pending = true;
                std::string buffer(needed + 1, '\0');
                DWORD bufferSize = needed;
                if (::RegQueryValueExA(key.get(), KVXDIAG2_RESUME_RESULTS_DIR, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(&buffer[0]), &bufferSize) == ERROR_SUCCESS) {
                    buffer.resize(strnlen(buffer.c_str(), bufferSize));
                    resultsDir = buffer;
                }
                // Resuming without a directory would put the report and the evidence into the root of
                // the current drive.
                if (resultsDir.empty()) {
                    KVX_LOG(eKVXDiagLog_SYSTEM, "%s",
                            "ATENCIÓN: El directorio de resultados almacenado está vacío o no se pudo leer. Se "
                            "inicia un análisis nuevo.");
                    pending = false;
                }
            } else {
                KVX_LOG(eKVXDiagLog_INFO, "No hay análisis en profundidad pendientes. Registry Ret value: 0x%lX",
                        static_cast<unsigned long>(rc));
            }
        }
        DWORD suspicious = 0;
        size = sizeof suspicious;
        if (::RegQueryValueExA(key.get(), KVXDIAG2_RESUME_TDI_SUSPICIOUS, nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&suspicious), &size) == ERROR_SUCCESS) {
            tdiSuspicious = true;
            KVX_LOG(eKVXDiagLog_INFO, "El valor %s, existe. Se marca NDIS Manager como sospechoso.",
                    KVXDIAG2_RESUME_TDI_SUSPICIOUS);
        }
        return pending;
    });
}

} // namespace

CCoordinator* CCoordinator::CreateSingletonObject()
{
    KVX_FUNCTION("CCoordinator::CreateSingletonObject");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, static_cast<CCoordinator*>(nullptr), [&]() -> CCoordinator* {
        if (s_pInstance == nullptr) {
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Se crea instancia por primera vez.");
            s_pInstance = new CCoordinator();
        }
        return s_pInstance;
    });
}

void CCoordinator::DestroySingletonObject()
{
    KVX_FUNCTION("CCoordinator::DestroySingletonObject");
    kvx::GuardedProcedure(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, [&]() {
        if (s_pInstance != nullptr) {
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Borrando singleton...");
            delete s_pInstance;
            s_pInstance = nullptr;
        }
    });
}

CCoordinator::~CCoordinator()
{
    KVX_FUNCTION("CCoordinator::~CCoordinator");
    kvx::GuardedProcedure(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, [&]() {
        if (m_bInitialised) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s",
                    "ATENCIÓN: Se está destruyendo un manager q no está parado..ejecutando operación Finish!");
            Finish();
        }
        // A foreman left by a failed Init is still ours.
        delete m_pForeman;
        m_pForeman = nullptr;
    });
}

DWORD CCoordinator::Init(int* pPending, int* pStep)
{
    KVX_FUNCTION("CCoordinator::Init");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        if (m_bInitialised) {
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Objeto ya inicializado!");
            return KVXDIAG2_OK;
        }
        // Before anything changes the machine: a second process's run would undo this one's journal.
        if (!m_instance.Acquire()) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! Otra instancia de KVXDiag2 está en ejecución; no se inicializa.");
            return kvx::KVXDIAG2_ERR_ANOTHER_INSTANCE;
        }
        // A deep analysis whose reboot never came (refused or failed after it was asked for) does not
        // continue: its drivers go back below, as for any run that ended without its own undo.
        if (kvx::CChangeJournal::TakeRebootOutcome(kvx::eJournalParty_CORE) == kvx::eJournalReboot_INTERRUPTED) {
            KVX_LOG(eKVXDiagLog_EVENT, "%s",
                    "El reinicio pedido por el análisis no llegó a producirse. Se deshacen sus cambios.");
            kvx::ForgetResumeState();
        }
        DWORD step = 0;
        bool tdiSuspicious = false;
        std::string resultsDir;
        const bool pending = CheckForPendingDeepAnalysis(step, tdiSuspicious, resultsDir);
        if (pStep != nullptr) {
            *pStep = static_cast<int>(step);
        }
        if (pPending != nullptr) {
            *pPending = pending ? 1 : 0;
        }
        if (pending) {
            KVX_LOG(eKVXDiagLog_INFO, "Existe un análisis pendiente, concretamente en el paso %lu",
                    static_cast<unsigned long>(step));
        } else {
            step = eKVXDiag2CoreStep_INITIALIZATIONS_STEP;
            if (pStep != nullptr) {
                *pStep = static_cast<int>(step);
            }
            KVX_LOG(eKVXDiagLog_INFO, "%s", "No hay análisis pendientes.");
        }
        if (m_pForeman == nullptr) {
            m_pForeman = new (std::nothrow) CForeman();
        }
        if (m_pForeman == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! No pudo crearse el objeto Foreman...");
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        const DWORD rc = m_pForeman->Init(step, tdiSuspicious, resultsDir);
        if (rc != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! No pudo Inicializarse el objeto Foreman...");
            m_instance.Release();
            return rc;
        }
        // Before anything else of this run: a basic analysis that was killed may have left a filter off.
        m_pForeman->UndoInterruptedBasicAnalysis();
        if (step == eKVXDiag2CoreStep_INITIALIZATIONS_STEP) {
            m_pForeman->UndoInterruptedDeepAnalysis();
        }
        m_bInitialised = true;
        return KVXDIAG2_OK;
    });
}

DWORD CCoordinator::Finish()
{
    KVX_FUNCTION("CCoordinator::Finish");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        if (!m_bInitialised) {
            return KVXDIAG2_ERR_NOT_INITIALISED;
        }
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Liberando al objeto Foreman..");
        // Finish cancels every job still stored and waits for its thread, so that no job runs on a
        // deleted foreman or writes to a deleted reporter.
        if (m_pForeman != nullptr) {
            m_pForeman->Finish();
        }
        delete m_pForeman;
        m_pForeman = nullptr;
        m_bInitialised = false;
        m_instance.Release();
        return KVXDIAG2_OK;
    });
}

DWORD CCoordinator::RegisterNotificationsCallback(PFN_KVXDIAG2_NOTIFY pfnCallback, KVXDIAG2_CONTEXT context)
{
    KVX_FUNCTION("CCoordinator::RegisterNotificationsCallback");
    m_pfnCallback = pfnCallback;
    if (m_pForeman == nullptr) {
        m_pfnCallback = nullptr;
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! El objeto Foreman no fue cargado con anterioridad.");
        return KVXDIAG2_ERR_NO_OBJECT;
    }
    KVX_LOG(eKVXDiagLog_INFO, "Callback registrado: %p", reinterpret_cast<void*>(pfnCallback));
    return m_pForeman->RegisterNotifier(this, context);
}

DWORD CCoordinator::ManageThisJob(DWORD dwJobType, int* pJobId)
{
    KVX_FUNCTION("CCoordinator::ManageThisJob");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        if (!m_bInitialised) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "ERROR: Objeto no inicializado!!");
            return KVXDIAG2_ERR_NOT_INITIALISED;
        }
        if (m_pForeman == nullptr) {
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        const LONG jobId = ::InterlockedIncrement(&m_lJobCounter);
        if (pJobId != nullptr) {
            *pJobId = static_cast<int>(jobId);
        }
        const DWORD rc = m_pForeman->ScheduleJob(dwJobType, static_cast<DWORD>(jobId));
        if (rc != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR: Foreman ha devuelto error al ordenarle el trabajo!! LastError: %lu",
                    static_cast<unsigned long>(rc));
        }
        return rc;
    });
}

DWORD CCoordinator::CancelJob(DWORD dwJobId)
{
    KVX_FUNCTION("CCoordinator::CancelJob");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        if (!m_bInitialised) {
            return KVXDIAG2_ERR_NOT_INITIALISED;
        }
        if (m_pForeman == nullptr) {
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        const DWORD rc = m_pForeman->CancelJob(dwJobId);
        if (rc != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR: Foreman ha devuelto error al cancelar el trabajo!! LastError: %lu",
                    static_cast<unsigned long>(rc));
        }
        return rc;
    });
}

void CCoordinator::SetResultsPackageDestinationFile(const std::string& path)
{
    KVX_FUNCTION("CCoordinator::SetResultsPackageDestinationFile");
    kvx::GuardedProcedure(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, [&]() {
        if (m_pForeman != nullptr) {
            m_pForeman->SetPackedResultsDestinationFilePath(path);
        }
    });
}

const char* CCoordinator::GetNotifiedDescription(DWORD dwCode)
{
    KVX_FUNCTION("CCoordinator::GetNotifiedDescription");
    for (const SNotifyDescription& entry : KVXDIAG2_NOTIFY_DESCRIPTIONS) {
        if (entry.code == dwCode) {
            return entry.text;
        }
    }
    KVX_LOG(eKVXDiagLog_SYSTEM, "ERROR: Notificación desconocida: %lu", static_cast<unsigned long>(dwCode));
    return KVXDIAG2_INVALID_DESCRIPTION;
}

bool CCoordinator::CanDeliver(const char* pszFunction, DWORD dwCode)
{
    if (!m_bInitialised) {
        WriteLog(eKVXDiagLog_SYSTEM, KVXDIAG_LOG_MODULE, pszFunction, "%s", "ERROR: Objeto no inicializado!!");
        return false;
    }
    if (m_pfnCallback == nullptr) {
        WriteLog(eKVXDiagLog_SYSTEM, KVXDIAG_LOG_MODULE, pszFunction, "%s", "ERROR: No hay callback registrado!!");
        return false;
    }
    const char* description = GetNotifiedDescription(dwCode);
    if (strcmp(description, KVXDIAG2_INVALID_DESCRIPTION) == 0) {
        WriteLog(eKVXDiagLog_SYSTEM, KVXDIAG_LOG_MODULE, pszFunction, "ERROR: Tipo de notificación desconocida %lu",
                 static_cast<unsigned long>(dwCode));
        return false;
    }
    WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, pszFunction, "Procesando notificación %s", description);
    return true;
}

int CCoordinator::Notify(DWORD dwCode, KVXDIAG2_CONTEXT context, const std::string& text, const TaskDataList& data)
{
    KVX_FUNCTION("CCoordinator::Notify");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_NOTIFY, KVXDIAG2_NOTIFY_NOT_DELIVERED, [&]() -> int {
        if (!CanDeliver(kvxFunctionName_, dwCode)) {
            return KVXDIAG2_NOTIFY_NOT_DELIVERED;
        }
        DWORD size = 0;
        ULONG_PTR value = 0;
        std::unique_ptr<SKVXDiag2Progress> progress;
        if (!data.empty()) {
            if (dwCode == eKVXDIAG2Notify_BASICANALYSIS_IN_PROGRESS) {
                if (data.size() != 2) {
                    KVX_LOG(eKVXDiagLog_SYSTEM, "%s",
                            "ERROR: El número de datos recibidos en _vData no se corresponden con el tipo de "
                            "notificación!!");
                    return KVXDIAG2_NOTIFY_NOT_DELIVERED;
                }
                if (data[0] == nullptr || data[1] == nullptr || data[0]->GetType() != eKVXDiagTLVType_LONG ||
                    data[1]->GetType() != eKVXDiagTLVType_LONG) {
                    KVX_LOG(eKVXDiagLog_SYSTEM, "%s",
                            "ERROR: Los tipos de datos recibidos en _vData no se corresponden con el tipo de "
                            "notificación!!");
                    return KVXDIAG2_NOTIFY_NOT_DELIVERED;
                }
                progress.reset(new (std::nothrow) SKVXDiag2Progress{sizeof(SKVXDiag2Progress), 0, 0});
                if (!progress) {
                    KVX_LOG(eKVXDiagLog_SYSTEM, "ERROR: Al reservar memoria!! LastError: %lu",
                            static_cast<unsigned long>(::GetLastError()));
                    return KVXDIAG2_NOTIFY_NOT_DELIVERED;
                }
                if (static_cast<CTaskDataLong*>(data[0])->GetData(progress->dwTotal) != KVXDIAG2_OK) {
                    KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "ERROR: Al obtener el dato Total del objeto CTaskDataLong!!");
                    return KVXDIAG2_NOTIFY_NOT_DELIVERED;
                }
                if (static_cast<CTaskDataLong*>(data[1])->GetData(progress->dwCurrent) != KVXDIAG2_OK) {
                    KVX_LOG(eKVXDiagLog_SYSTEM, "%s",
                            "ERROR: Al obtener el dato Current del objecto CTaskDataLong!!");
                    return KVXDIAG2_NOTIFY_NOT_DELIVERED;
                }
                size = sizeof(SKVXDiag2Progress);
                value = reinterpret_cast<ULONG_PTR>(progress.get());
            } else if (dwCode == eKVXDIAG2Notify_BASICANALYSIS_CANCELLED) {
                if (data.size() != 1 || data[0] == nullptr || data[0]->GetType() != eKVXDiagTLVType_LONG) {
                    KVX_LOG(eKVXDiagLog_SYSTEM, "%s",
                            "ERROR: Los datos recibidos en _vData no se corresponden con el tipo de notificación!!");
                    return KVXDIAG2_NOTIFY_NOT_DELIVERED;
                }
                DWORD dword = 0;
                if (static_cast<CTaskDataLong*>(data[0])->GetData(dword) != KVXDIAG2_OK) {
                    KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "ERROR: Al obtener los datos del objecto CTaskDataLong!!");
                    return KVXDIAG2_NOTIFY_NOT_DELIVERED;
                }
                KVX_LOG(eKVXDiagLog_INFO, "Obtenido dato asociado (DWORD) correctamente. Valor: %lu",
                        static_cast<unsigned long>(dword));
                size = sizeof(DWORD);
                value = dword;
            } else {
                KVX_LOG(eKVXDiagLog_SYSTEM, "%s",
                        "ERROR: El tipo de notificación \"eKVXDIAG2Notify_BASICANALYSIS_IN_PROGRESS\" no debería "
                        "llevar datos adicionales!!!");
                return KVXDIAG2_NOTIFY_NOT_DELIVERED;
            }
        }
        KVX_LOG(eKVXDiagLog_INFO, "Antes de enviar notificación %lu al callback %p", static_cast<unsigned long>(dwCode),
                reinterpret_cast<void*>(m_pfnCallback));
        const int answer = m_pfnCallback(dwCode, context, text.c_str(), size, value);
        KVX_LOG(eKVXDiagLog_INFO, "Se ha vuelto de la notificación con resultado %d", answer);
        return answer;
    });
}

int CCoordinator::Notify(DWORD dwCode, KVXDIAG2_CONTEXT context, const std::string& text, DWORD dwValue)
{
    KVX_FUNCTION("CCoordinator::Notify");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_NOTIFY, KVXDIAG2_NOTIFY_NOT_DELIVERED, [&]() -> int {
        if (!CanDeliver(kvxFunctionName_, dwCode)) {
            return KVXDIAG2_NOTIFY_NOT_DELIVERED;
        }
        KVX_LOG(eKVXDiagLog_INFO, "Antes de enviar notificación %lu al callback %p", static_cast<unsigned long>(dwCode),
                reinterpret_cast<void*>(m_pfnCallback));
        const int answer = m_pfnCallback(dwCode, context, text.c_str(), sizeof(DWORD), dwValue);
        KVX_LOG(eKVXDiagLog_INFO, "Se ha vuelto de la notificación con resultado %d", answer);
        return answer;
    });
}
