// The deep analysis: one run per boot. Each run asks the user about the drivers the previous run
// switched off, decides from the answer which driver to switch back on and which to switch off next,
// gathers evidence around the change and restarts Windows, until a culprit is found or nothing is left
// to try. The transition table is the whole strategy; the rest of this file carries it out.
#include "core/jobs/Foreman.h"

#include "core/helpers/HelperRef.h"
#include "core/helpers/NetCfgHelper.h"
#include "core/jobs/ScopedTask.h"
#include "core/jobs/UndoRecords.h"
#include "core/report/IReporter.h"
#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskDataBool.h"
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskIds.h"

namespace {

const char* StepName(DWORD dwStep)
{
    switch (dwStep) {
    case eKVXDiag2CoreStep_INITIALIZATIONS_STEP:
        return "eKVXDiag2CoreStep_INITIALIZATIONS_STEP";
    case eKVXDiag2CoreStep_FIRST_STEP:
        return "eKVXDiag2CoreStep_FIRST_STEP";
    case eKVXDiag2CoreStep_NDIS_MANAGER_DEACTIVATED:
        return "eKVXDiag2CoreStep_NDIS_MANAGER_DEACTIVATED";
    case eKVXDiag2CoreStep_FILTER_E_DEACTIVATED:
        return "eKVXDiag2CoreStep_FILTER_E_DEACTIVATED";
    case eKVXDiag2CoreStep_FILTER_D_DEACTIVATED:
        return "eKVXDiag2CoreStep_FILTER_D_DEACTIVATED";
    case eKVXDiag2CoreStep_FILTER_C_DEACTIVATED:
        return "eKVXDiag2CoreStep_FILTER_C_DEACTIVATED";
    case eKVXDiag2CoreStep_TDI_FILTER_DEACTIVATED:
        return "eKVXDiag2CoreStep_TDI_FILTER_DEACTIVATED";
    case eKVXDiag2CoreStep_APP_FILTER_DEACTIVATED:
        return "eKVXDiag2CoreStep_APP_FILTER_DEACTIVATED";
    case eKVXDiag2CoreStep_MONITOR_DEACTIVATED:
        return "eKVXDiag2CoreStep_MONITOR_DEACTIVATED";
    case eKVXDiag2CoreStep_FINISHED:
        return "eKVXDiag2CoreStep_FINISHED";
    default:
        return "[INVALID]";
    }
}

constexpr const char* KVXDRIVER_TDI_MANAGER = "KVXTMGR";
constexpr const char* KVXDRIVER_NDIS_MANAGER = "KVXNMGR";
constexpr const char* KVXDRIVER_INTERMEDIATE = "KVXIMD";
constexpr const char* KVXDRIVER_FILTER_C = "KVXFLTC";
constexpr const char* KVXDRIVER_FILTER_D = "KVXFLTD";
constexpr const char* KVXDRIVER_FILTER_E = "KVXFLTE";
constexpr const char* KVXDRIVER_APP_FILTER = "KVXFLTF";
constexpr const char* KVXDRIVER_MONITOR = "KVXMON";

constexpr DWORD KVXDIAG2_SERVICE_DISABLED = 4;

// Every caller of the log and capture switches in the deep analysis passes these.
constexpr DWORD KVXDIAG2_CAPTURE_MAX_SIZE = 8192;
constexpr bool KVXDIAG2_CAPTURE_FLAG = false;

constexpr const char* KVXDIAG2_DEEP_ANALYSIS_DIR = "DeepAnalisys";
// Captures stopped by a cancel land beside the drivers' own evidence.
constexpr const char* KVXDIAG2_CANCELLED_DIR = "Cancelled";
constexpr const char* KVXDIAG2_PREVIOUS_DATA_DIR = "Previous-Data";

std::string DriverTitle(const std::string& driver) { return "-Operations for filter \"" + driver + "\""; }
std::string DriverClosingTitle(const std::string& driver) { return DriverTitle(driver) + " finished...."; }

// The directory, with a trailing backslash, that holds the evidence of one part of the analysis.
std::string EvidenceDirectory(const std::string& resultsDirectory, const std::string& leaf)
{
    std::string directory = resultsDirectory;
    if (directory.empty() || directory.back() != '\\') {
        directory += '\\';
    }
    directory += KVXDIAG2_DEEP_ANALYSIS_DIR;
    directory += '\\';
    if (!leaf.empty()) {
        directory += leaf;
        directory += '\\';
    }
    return directory;
}

} // namespace

DWORD CForeman::GetNDISManagerFilterName(std::string& name)
{
    KVX_FUNCTION("CForeman::GetNDISManagerFilterName");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        kvx::UniqueTask task = kvx::MakeTask(KVXDIAG2_TASKID_IS_SERVICE_INSTALLED);
        if (!task) {
            NotifyTaskNotCreated(kvxFunctionName_, KVXDIAG2_TASKID_IS_SERVICE_INSTALLED);
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        CTaskDataString service(KVXDRIVER_NDIS_MANAGER);
        DWORD dwResult = task->SetConfig({&service});
        if (dwResult == KVXDIAG2_OK) {
            dwResult = task->Execute(m_pReporter);
        }
        ITaskData* pInstalled = nullptr;
        if (dwResult == KVXDIAG2_OK) {
            dwResult = task->GetResults(&pInstalled);
        }
        if (dwResult == KVXDIAG2_OK && (pInstalled == nullptr || pInstalled->GetType() != eKVXDiagTLVType_BOOL)) {
            dwResult = static_cast<DWORD>(ERROR_INVALID_DATA);
        }
        if (dwResult != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo determinar si el servicio %s está instalado: %lu",
                    KVXDRIVER_NDIS_MANAGER, static_cast<unsigned long>(dwResult));
            return dwResult;
        }
        bool bInstalled = false;
        static_cast<CTaskDataBool*>(pInstalled)->GetData(bInstalled);
        name = bInstalled ? KVXDRIVER_NDIS_MANAGER : KVXDRIVER_INTERMEDIATE;
        KVX_LOG(eKVXDiagLog_INFO, "El nombre del Manager NDIS instalado es %s", name.c_str());
        return KVXDIAG2_OK;
    });
}

DWORD CForeman::GetStepInvolvedFilters(DWORD& dwStep, int iAnswer, bool bTDISuspicious, std::string& deactivate,
                                       std::string& reactivate)
{
    KVX_FUNCTION("CForeman::GetStepInvolvedFilters");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        deactivate.clear();
        reactivate.clear();
        // Switching "nothing" where the NDIS manager was meant would let the next run ask the user about a
        // change that never happened, so a manager that cannot be named fails the transition.
        auto ndisManager = [&](std::string& target) -> DWORD {
            const DWORD dwResult = GetNDISManagerFilterName(target);
            if (dwResult != KVXDIAG2_OK) {
                KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo obtener el nombre del Manager NDIS: %lu",
                        static_cast<unsigned long>(dwResult));
            }
            return dwResult;
        };
        auto logAnswer = [&](const char* pszDriver) {
            KVX_LOG(eKVXDiagLog_INFO, "El %s esta desactivado. Y el problema esta solucionado...%s", pszDriver,
                    iAnswer == eKVXDIAG2NotifyRet_PROBLEM_FIXED ? "True" : "False");
        };
        auto logNext = [&]() {
            KVX_LOG(eKVXDiagLog_INFO, "Siguiente paso: %s. Filtro a desactivar: %s", StepName(dwStep),
                    deactivate.c_str());
        };
        DWORD dwResult = KVXDIAG2_OK;
        switch (dwStep) {
        case eKVXDiag2CoreStep_FIRST_STEP:
            dwResult = ndisManager(deactivate);
            if (dwResult != KVXDIAG2_OK) {
                return dwResult;
            }
            dwStep = eKVXDiag2CoreStep_NDIS_MANAGER_DEACTIVATED;
            logNext();
            break;
        case eKVXDiag2CoreStep_NDIS_MANAGER_DEACTIVATED:
            logAnswer(KVXDRIVER_INTERMEDIATE);
            dwResult = ndisManager(reactivate);
            if (dwResult != KVXDIAG2_OK) {
                return dwResult;
            }
            if (iAnswer == eKVXDIAG2NotifyRet_PROBLEM_FIXED) {
                deactivate = KVXDRIVER_TDI_MANAGER;
                dwStep = eKVXDiag2CoreStep_TDI_FILTER_DEACTIVATED;
            } else if (iAnswer == eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED) {
                KVX_LOG(eKVXDiagLog_INFO, "%s", "No hay que desactivar plugins. Finaliza el análisis...");
                dwStep = eKVXDiag2CoreStep_FINISHED;
            } else {
                KVX_LOG(eKVXDiagLog_ERROR, "Error! Respuesta inválida recibida: %d", iAnswer);
                dwStep = 0;
                dwResult = KVXDIAG2_ERR_BAD_PARAMETER;
            }
            logNext();
            break;
        case eKVXDiag2CoreStep_FILTER_E_DEACTIVATED:
            reactivate = KVXDRIVER_FILTER_E;
            deactivate = KVXDRIVER_FILTER_D;
            dwStep = eKVXDiag2CoreStep_FILTER_D_DEACTIVATED;
            break;
        case eKVXDiag2CoreStep_FILTER_D_DEACTIVATED:
            reactivate = KVXDRIVER_FILTER_D;
            deactivate = KVXDRIVER_FILTER_C;
            dwStep = eKVXDiag2CoreStep_FILTER_C_DEACTIVATED;
            break;
        case eKVXDiag2CoreStep_FILTER_C_DEACTIVATED:
            reactivate = KVXDRIVER_FILTER_C;
            KVX_LOG(eKVXDiagLog_INFO, "%s", "No hay que desactivar mas plugins de NDIS. Finaliza el análisis...");
            dwStep = eKVXDiag2CoreStep_FINISHED;
            break;
        case eKVXDiag2CoreStep_TDI_FILTER_DEACTIVATED:
            logAnswer(KVXDRIVER_TDI_MANAGER);
            reactivate = KVXDRIVER_TDI_MANAGER;
            if (iAnswer == eKVXDIAG2NotifyRet_PROBLEM_FIXED) {
                deactivate = KVXDRIVER_APP_FILTER;
                dwStep = eKVXDiag2CoreStep_APP_FILTER_DEACTIVATED;
            } else if (iAnswer == eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED) {
                KVX_LOG(eKVXDiagLog_INFO, "%s", "No hay que desactivar mas plugins de TDI. Finaliza el análisis...");
                deactivate = KVXDRIVER_FILTER_E;
                dwStep = eKVXDiag2CoreStep_FILTER_E_DEACTIVATED;
            } else {
                KVX_LOG(eKVXDiagLog_ERROR, "Error! Respuesta inválida recibida: %d", iAnswer);
                dwStep = 0;
                dwResult = KVXDIAG2_ERR_BAD_PARAMETER;
            }
            logNext();
            break;
        case eKVXDiag2CoreStep_APP_FILTER_DEACTIVATED:
            reactivate = KVXDRIVER_APP_FILTER;
            deactivate = KVXDRIVER_MONITOR;
            dwStep = eKVXDiag2CoreStep_MONITOR_DEACTIVATED;
            break;
        case eKVXDiag2CoreStep_MONITOR_DEACTIVATED:
            reactivate = KVXDRIVER_MONITOR;
            if (bTDISuspicious) {
                deactivate = KVXDRIVER_TDI_MANAGER;
                dwStep = eKVXDiag2CoreStep_FINISHED;
            } else {
                dwResult = ndisManager(deactivate);
                if (dwResult != KVXDIAG2_OK) {
                    return dwResult;
                }
                dwStep = eKVXDiag2CoreStep_NDIS_MANAGER_DEACTIVATED;
            }
            break;
        case eKVXDiag2CoreStep_FINISHED:
            break;
        default:
            KVX_LOG(eKVXDiagLog_ERROR, "Error! Paso del análisis erróneo: 0x%lX", static_cast<unsigned long>(dwStep));
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        KVX_LOG(eKVXDiagLog_INFO, "Filtro a desactivar: '%s'. Filtro a reactivar: '%s'. Siguiente paso: %s",
                deactivate.c_str(), reactivate.c_str(), StepName(dwStep));
        return dwResult;
    });
}

DWORD CForeman::ActivateFilter(const std::string& name)
{
    KVX_FUNCTION("CForeman::ActivateFilter");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD { return SwitchDriver(name, true, true); });
}

DWORD CForeman::DeactivateFilter(const std::string& name)
{
    KVX_FUNCTION("CForeman::DeactivateFilter");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD { return SwitchDriver(name, false, true); });
}

// Every driver but the intermediate one is switched through its service's start type; the intermediate
// driver has no start type of its own that takes it out of the stack, only its network bindings.
DWORD CForeman::SwitchDriver(const std::string& name, bool bActivate, bool bNotify)
{
    const char* const kvxFunctionName_ = bActivate ? "CForeman::ActivateFilter" : "CForeman::DeactivateFilter";
    if (name == KVXDRIVER_INTERMEDIATE) {
        return SwitchIntermediateDriver(bActivate, bNotify);
    }
    if (name.empty()) {
        KVX_LOG(eKVXDiagLog_INFO, "%s",
                bActivate ? "Se trata del primer paso del análisis en profundidad. No hay que reactivar filtros "
                            "previamente desactivados."
                          : "No hay filtro para desactivar.");
        return KVXDIAG2_OK;
    }
    kvx::SJournalEntry recorded;
    if (bActivate && kvx::FindDriverEntry(name, recorded)) {
        // Back to what the customer had, which is not always the task's "started by the system".
        const DWORD dwResult = RestoreDriver(recorded);
        if (dwResult != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo cambiar el estado del filtro %s. Error devuelto: %lu",
                    name.c_str(), static_cast<unsigned long>(dwResult));
            return dwResult;
        }
        KVX_LOG(eKVXDiagLog_EVENT, "El filtro %s, se reactivo con éxito.", name.c_str());
        return KVXDIAG2_OK;
    }
    const DWORD dwTaskId = bActivate ? KVXDIAG2_TASKID_ACTIVATE_FILTER : KVXDIAG2_TASKID_DEACTIVATE_FILTER;
    kvx::UniqueTask task = kvx::MakeTask(dwTaskId);
    if (!task) {
        NotifyTaskNotCreated(kvxFunctionName_, dwTaskId);
        return KVXDIAG2_ERR_CREATE_FAILED;
    }
    kvx::SJournalEntry entry;
    const DWORD dwRead = MakeDriverEntry(name, entry);
    if (dwRead != KVXDIAG2_OK) {
        return dwRead;
    }
    CTaskDataString driver(name);
    if (task->SetConfig({&driver}) != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! No fue posible establecer la configuración en el task.");
        return static_cast<DWORD>(ERROR_INVALID_DATA);
    }
    bool bRecorded = false;
    const DWORD dwResult =
        kvx::CChangeJournal::Apply(entry, [&]() -> DWORD { return task->Execute(m_pReporter); }, &bRecorded);
    if (!bRecorded) {
        ReportNotRecorded(name);
    }
    if (dwResult != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo cambiar el estado del filtro %s. Error devuelto: %lu",
                name.c_str(), static_cast<unsigned long>(dwResult));
        return dwResult;
    }
    KVX_LOG(eKVXDiagLog_EVENT,
            bActivate ? "El filtro %s, se reactivo con éxito." : "El filtro %s, se desactivo con éxito.", name.c_str());
    if (!bActivate && bNotify) {
        NotifyValue(eKVXDIAG2Notify_FILTER_DEACTIVATED, name, 0);
    }
    return KVXDIAG2_OK;
}

DWORD CForeman::ExecuteIntermediateSwitch(bool bActivate, std::string& name, const std::wstring* pOnlyPaths)
{
    const char* const kvxFunctionName_ = bActivate ? "CForeman::ActivateFilter" : "CForeman::DeactivateFilter";
    const DWORD dwComponentTaskId =
        bActivate ? KVXDIAG2_TASKID_ACTIVATE_NETWORK_COMPONENT : KVXDIAG2_TASKID_DEACTIVATE_NETWORK_COMPONENT;
    kvx::UniqueTask nameTask = kvx::MakeTask(KVXDIAG2_TASKID_GET_IM_NAME);
    kvx::UniqueTask componentTask = kvx::MakeTask(dwComponentTaskId);
    if (!nameTask || !componentTask) {
        NotifyTaskNotCreated(kvxFunctionName_, !nameTask ? KVXDIAG2_TASKID_GET_IM_NAME : dwComponentTaskId);
        return KVXDIAG2_ERR_CREATE_FAILED;
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Obteniendo el nombre del IM");
    DWORD dwResult = nameTask->Execute(m_pReporter);
    if (dwResult != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! Al ejecutar la peticion de nombre del IM, error %lu",
                static_cast<unsigned long>(dwResult));
        return static_cast<DWORD>(ERROR_INVALID_DATA);
    }
    ITaskData* pName = nullptr;
    dwResult = nameTask->GetResults(&pName);
    if (dwResult != KVXDIAG2_OK || pName == nullptr) {
        KVX_LOG(eKVXDiagLog_ERROR,
                "Error! Al intentar obtener los resultados de la consulta de nombre del IM, error %lu",
                static_cast<unsigned long>(dwResult));
        return static_cast<DWORD>(ERROR_INVALID_DATA);
    }
    if (pName->GetType() != eKVXDiagTLVType_CHARSTRING || pName->GetDataAsString(name) != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! Al intentar obtener el string del nombre del IM, error %ld",
                static_cast<long>(pName->GetType()));
        return static_cast<DWORD>(ERROR_INVALID_DATA);
    }
    KVX_LOG(eKVXDiagLog_INFO, "El nombre del IM es: %s", name.c_str());
    CTaskDataString component(name);
    CTaskDataString onlyPaths(pOnlyPaths != nullptr ? kvx::NarrowAscii(*pOnlyPaths) : std::string());
    TaskDataList params{&component};
    if (pOnlyPaths != nullptr) {
        params.push_back(&onlyPaths);
    }
    if (componentTask->SetConfig(params) != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! No fue posible establecer la configuración en el task.");
        return static_cast<DWORD>(ERROR_INVALID_DATA);
    }
    dwResult = componentTask->Execute(m_pReporter);
    if (dwResult != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo cambiar el estado del IM %s. Error devuelto: 0x%lX", name.c_str(),
                static_cast<unsigned long>(dwResult));
        return dwResult;
    }
    return KVXDIAG2_OK;
}

DWORD CForeman::SwitchIntermediateDriver(bool bActivate, bool bNotify)
{
    const char* const kvxFunctionName_ = bActivate ? "CForeman::ActivateFilter" : "CForeman::DeactivateFilter";
    std::string name;
    DWORD dwResult = KVXDIAG2_OK;
    kvx::SJournalEntry recorded;
    if (bActivate && kvx::FindDriverEntry(KVXDRIVER_INTERMEDIATE, recorded)) {
        // Back to what the journal says: the bindings that were on, and only those.
        dwResult = RestoreDriver(recorded);
    } else {
        kvx::SJournalEntry entry;
        dwResult = MakeBindingsEntry(entry);
        if (dwResult == KVXDIAG2_OK) {
            bool bRecorded = false;
            dwResult = kvx::CChangeJournal::Apply(
                entry, [&]() -> DWORD { return ExecuteIntermediateSwitch(bActivate, name, nullptr); }, &bRecorded);
            if (!bRecorded) {
                ReportNotRecorded(KVXDRIVER_INTERMEDIATE);
            }
        }
    }
    if (dwResult != KVXDIAG2_OK) {
        return dwResult;
    }
    KVX_LOG(eKVXDiagLog_EVENT, bActivate ? "El IM %s, se reactivo con éxito." : "El IM %s, se desactivo con éxito.",
            name.c_str());
    if (!bActivate && bNotify) {
        NotifyValue(eKVXDIAG2Notify_FILTER_DEACTIVATED, name, 0);
    }
    return KVXDIAG2_OK;
}

DWORD CForeman::DisableTDIandReboot(DWORD dwNextStep, INotify* pNotifier, IReporter* pReporter)
{
    KVX_FUNCTION("CForeman::DisableTDIandReboot");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        // The TDI manager goes first and through the registry alone: switching the NDIS side while it is
        // still loaded is what crashes some machines.
        const std::string keyPath = std::string(KVXDIAG2_SERVICES_KEY) + KVXDRIVER_TDI_MANAGER;
        kvx::SJournalEntry entry;
        DWORD dwResult = MakeDriverEntry(KVXDRIVER_TDI_MANAGER, entry);
        bool bRecorded = true;
        if (dwResult == ERROR_SUCCESS) {
            dwResult = kvx::CChangeJournal::Apply(entry, [&]() -> DWORD {
                kvx::UniqueHkey key;
                DWORD dwWrite = static_cast<DWORD>(
                    ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_ALL_ACCESS, key.put()));
                if (dwWrite == ERROR_SUCCESS) {
                    const DWORD dwStart = KVXDIAG2_SERVICE_DISABLED;
                    dwWrite = static_cast<DWORD>(::RegSetValueExA(key.get(), "Start", 0, REG_DWORD,
                                                                  reinterpret_cast<const BYTE*>(&dwStart),
                                                                  sizeof dwStart));
                }
                if (dwWrite == ERROR_SUCCESS) {
                    dwWrite = static_cast<DWORD>(::RegFlushKey(key.get()));
                }
                return dwWrite;
            }, &bRecorded);
            if (!bRecorded) {
                ReportNotRecorded(KVXDRIVER_TDI_MANAGER);
            }
        }
        if (dwResult != ERROR_SUCCESS) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo desactivar el servicio %s. Error devuelto: %lu",
                    keyPath.c_str(), static_cast<unsigned long>(dwResult));
            if (pReporter != nullptr) {
                pReporter->Report("%s", "Failed to disable filter KVXTMGR before KVXIM.");
            }
            return dwResult;
        }
        if (pReporter != nullptr) {
            pReporter->Report("%s", "TDI desactivado OK para evitar conflictos en la desactivacion de IM");
        }
        const int iAnswer = pNotifier != nullptr
            ? pNotifier->Notify(eKVXDIAG2Notify_DEEPANALYSIS_PREPARED_TO_REBOOT, m_context, KVXDRIVER_TDI_MANAGER, 0)
            : KVXDIAG2_NOTIFY_NOT_DELIVERED;
        if (iAnswer != eKVXDIAG2NotifyRet_REBOOT_ACCEPTED) {
            KVX_LOG(
                eKVXDiagLog_EVENT, "%s",
                "El usuario no permitió el reinicio del sistema. En el siguiente arranque se continuará el proceso.");
            if (pReporter != nullptr) {
                pReporter->Report("%s", "Reboot canceled by user. Process will continue on next boot ...");
            }
            // Nothing is stored for the first step, so no later start would ever switch the TDI
            // manager back on: it goes back now.
            RestoreSwitchedDrivers(std::string());
            return KVXDIAG2_OK;
        }
        if (pReporter != nullptr) {
            pReporter->Report("%s", "Preparing to reboot...");
        }
        dwResult = PrepareReboot(dwNextStep);
        if (dwResult != KVXDIAG2_OK) {
            RestoreSwitchedDrivers(std::string());
            return dwResult;
        }
        m_bRebootPrepared = true;
        KVX_LOG(eKVXDiagLog_EVENT, "%s", "Se procede al reinicio...");
        if (pReporter != nullptr) {
            pReporter->Report("%s", "Reboot...");
        }
        return Reboot();
    });
}

void CForeman::GatherDeepAnalysisEvidence(const std::string& directory)
{
    MakeDirectoryTree(directory);
    m_pReporter->Report("%s", "Enabling log and captures...");
    EnableLogsAndCaptures(directory, KVXDIAG2_CAPTURE_MAX_SIZE, KVXDIAG2_CAPTURE_FLAG);
    m_pReporter->BeginSection("%s", "Dynamic Data");
    GatherDinamycData(directory);
    m_pReporter->EndSection();
}

DWORD CForeman::RunDeepAnalysis(DWORD dwJobId, DWORD dwStep, bool bTDISuspicious)
{
    KVX_FUNCTION("CForeman::RunDeepAnalysis");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        m_dwChangeOwner = kvx::eJournalOwner_DEEP_ANALYSIS;
        m_bRebootPrepared = false;
        if (m_pINotifier == nullptr) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "ERROR: El objeto Notify no está disponible!!");
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        if (m_pReporter == nullptr) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "ERROR: El objeto Reporter no está disponible!!");
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        NotifyValue(eKVXDIAG2Notify_DEEPANALYSIS_BEGUN, "Job started", 0);
        if (IsThisJobCancelled(dwJobId)) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "El trabajo %lu ha sido cancelado!!", static_cast<unsigned long>(dwJobId));
            return KVXDIAG2_ERR_CANCELLED;
        }
        if (dwStep == eKVXDiag2CoreStep_INITIALIZATIONS_STEP) {
            KVX_LOG(eKVXDiagLog_INFO, "%s",
                    "Step de inicializaciones. Desactivamos TDI antes de nada para evitar BSODs");
            m_pReporter->Report("%s", "Step: INITIALIZATIONS_STEP");
            const DWORD dwResult = DisableTDIandReboot(eKVXDiag2CoreStep_FIRST_STEP, m_pINotifier, m_pReporter);
            if (m_bRebootPrepared) {
                SettleDeepJob(dwJobId);
            }
            return dwResult;
        }

        int iAnswer = 0;
        if (dwStep == eKVXDiag2CoreStep_FIRST_STEP) {
            m_pReporter->BeginSection("%s", "======================Deep Analysis======================");
            m_pReporter->BeginSection("%s", "-Previous operations for all filters...");
            const std::string directory = EvidenceDirectory(m_strResultsDirectory, KVXDIAG2_PREVIOUS_DATA_DIR);
            GatherDeepAnalysisEvidence(directory);
            m_pReporter->Report("%s", "Deactivating log and captures...");
            DisableLogsAndCaptures(directory, KVXDIAG2_CAPTURE_MAX_SIZE, KVXDIAG2_CAPTURE_FLAG);
            m_pReporter->EndSection("%s", "-Previous operations for all filters finished...");
        } else {
            // The question is about this step's drivers: switches a killed run left half done come first.
            const DWORD dwCompleted = CompleteInterruptedSwitch(dwStep);
            if (dwCompleted != KVXDIAG2_OK) {
                return dwCompleted;
            }
            KVX_LOG(eKVXDiagLog_INFO,
                    "La etapa %lu ha sido completada con el correspondiente reinicio. Se consulta al usuario si "
                    "soluciona el problema.",
                    static_cast<unsigned long>(dwStep));
            iAnswer = NotifyValue(eKVXDIAG2Notify_DEEPANALYSIS_USER_ASK, "Step completed. Ask for user.", 0);
            if (iAnswer == eKVXDIAG2NotifyRet_PROBLEM_FIXED) {
                if (dwStep == eKVXDiag2CoreStep_NDIS_MANAGER_DEACTIVATED) {
                    KVX_LOG(eKVXDiagLog_EVENT, "%s",
                            "Aparentemente el problema se solventa desactivando el Manager NDIS. Se establece como "
                            "sosopechoso.");
                    m_pReporter->Report("%s", "!!!Problem fixed deactivating NDIS");
                } else if (dwStep == eKVXDiag2CoreStep_TDI_FILTER_DEACTIVATED) {
                    KVX_LOG(eKVXDiagLog_EVENT, "%s",
                            "Aparentemente el problema se solventa desactivando el Manager TDI. Se establece como "
                            "sospechoso y se continua desactivando filtros dependientes de este manager.");
                    m_pReporter->Report("%s", "!!!Problem fixed deactivating TDI");
                    MarkTDIManagerSuspicious();
                } else {
                    const DWORD dwVerdict = EndWithCulprit(dwStep, bTDISuspicious);
                    if (dwVerdict == KVXDIAG2_OK) {
                        SettleDeepJob(dwJobId);
                    }
                    return dwVerdict;
                }
            } else if (iAnswer != eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED &&
                       dwStep != eKVXDiag2CoreStep_NDIS_MANAGER_DEACTIVATED &&
                       dwStep != eKVXDiag2CoreStep_TDI_FILTER_DEACTIVATED) {
                // "Exiting" or anything else is no answer about the problem: nothing is switched, so
                // a close keeps the question for the next start and a cancel undoes the analysis.
                KVX_LOG(eKVXDiagLog_ERROR, "Error! Respuesta inválida recibida: %d", iAnswer);
                return CancelForUnknownFilters(dwStep, KVXDIAG2_ERR_BAD_PARAMETER);
            }
        }

        DWORD dwNextStep = dwStep;
        std::string deactivate;
        std::string reactivate;
        DWORD dwResult = GetStepInvolvedFilters(dwNextStep, iAnswer, bTDISuspicious, deactivate, reactivate);
        if (dwResult != KVXDIAG2_OK) {
            return CancelForUnknownFilters(dwStep, dwResult);
        }
        if (dwStep != eKVXDiag2CoreStep_FIRST_STEP) {
            m_pReporter->EndSection("%s", DriverClosingTitle(reactivate).c_str());
        }
        m_pReporter->BeginSection("%s", DriverTitle(deactivate).c_str());
        const std::string directory = EvidenceDirectory(m_strResultsDirectory, deactivate);
        GatherDeepAnalysisEvidence(directory);

        if (dwNextStep == eKVXDiag2CoreStep_FINISHED) {
            dwResult = EndWithoutSolution(deactivate, reactivate, directory);
            if (dwResult == KVXDIAG2_OK) {
                SettleDeepJob(dwJobId);
            }
            return dwResult;
        }
        // The switches are written down with the step they lead to, before it: whenever this run is
        // ended, the next start finds the step and the drivers in agreement, or completes the switches.
        dwResult = kvx::StorePendingSwitch(dwNextStep, reactivate, deactivate);
        if (dwResult == KVXDIAG2_OK) {
            dwResult = StoreResumeStep(dwNextStep);
        }
        if (dwResult != KVXDIAG2_OK) {
            kvx::ForgetPendingSwitch();
            return dwResult;
        }
        m_pReporter->Report("Activating previous filter: %s ...", reactivate.c_str());
        dwResult = ActivateFilter(reactivate);
        if (dwResult != KVXDIAG2_OK) {
            StoreResumeStep(dwStep);
            kvx::ForgetPendingSwitch();
            return dwResult;
        }
        m_pReporter->Report("Deactivating actual filter: %s ...", deactivate.c_str());
        dwResult = DeactivateFilter(deactivate);
        if (dwResult != KVXDIAG2_OK) {
            // The run ends without its reboot, and the next start must ask this run's question again:
            // against the drivers it was asked about, under the step it was asked at.
            if (!reactivate.empty()) {
                SwitchDriver(reactivate, false, false);
            }
            StoreResumeStep(dwStep);
            kvx::ForgetPendingSwitch();
            return dwResult;
        }
        kvx::ForgetPendingSwitch();
        iAnswer = NotifyValue(eKVXDIAG2Notify_DEEPANALYSIS_PREPARED_TO_REBOOT, deactivate, 0);
        if (iAnswer != eKVXDIAG2NotifyRet_REBOOT_ACCEPTED) {
            // Logs and captures stay on: the next start repeats this step's question with them running.
            KVX_LOG(
                eKVXDiagLog_EVENT, "%s",
                "El usuario no permitió el reinicio del sistema. En el siguiente arranque se continuará el proceso.");
            m_pReporter->Report("%s", "Reboot canceled by user. Process will continue on next boot ...");
            m_pReporter->EndSection("%s", DriverTitle(deactivate).c_str());
            return KVXDIAG2_OK;
        }
        m_pReporter->Report("%s", "Deactivating log and captures...");
        DisableLogsAndCaptures(directory, KVXDIAG2_CAPTURE_MAX_SIZE, KVXDIAG2_CAPTURE_FLAG);
        m_pReporter->Report("%s", "Preparing to reboot...");
        dwResult = PrepareReboot(dwNextStep);
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
        SettleDeepJob(dwJobId);
        KVX_LOG(eKVXDiagLog_EVENT, "%s", "Se procede al reinicio...");
        m_pReporter->Report("%s", "Reboot...");
        m_pReporter->EndSection("%s", DriverTitle(deactivate).c_str());
        return Reboot();
    });
}

// The answer "fixed" at a plug-in's step names the driver that the previous run switched off as the
// culprit. It stays off: that is the user's working configuration.
DWORD CForeman::EndWithCulprit(DWORD dwStep, bool bTDISuspicious)
{
    KVX_FUNCTION_QUIET("CForeman::RunDeepAnalysis");
    DWORD dwStepCopy = dwStep;
    std::string deactivate;
    std::string culprit;
    // The flag only chooses what the monitor's step would switch off next, which a verdict never does;
    // set, it spares the NDIS-manager lookup, whose failure must not cost the user the culprit.
    const bool bNextIrrelevant = bTDISuspicious || dwStep == eKVXDiag2CoreStep_MONITOR_DEACTIVATED;
    const DWORD dwResult =
        GetStepInvolvedFilters(dwStepCopy, eKVXDIAG2NotifyRet_PROBLEM_FIXED, bNextIrrelevant, deactivate, culprit);
    // A step that names no driver (a damaged stored step) must not end as a success with no culprit.
    if (dwResult != KVXDIAG2_OK || culprit.empty()) {
        return CancelForUnknownFilters(dwStep, dwResult != KVXDIAG2_OK ? dwResult : KVXDIAG2_ERR_BAD_PARAMETER);
    }
    m_pReporter->Report("!!!Problem fixed deactivating %s filter.", culprit.c_str());
    NotifyValue(eKVXDIAG2Notify_DEEPANALYSIS_SUCCESS_FINISHED, culprit, 0);
    // Left on by a refused reboot, the logs and captures would keep running after the analysis.
    SwitchOffJournaledLogs(kvx::eJournalOwner_DEEP_ANALYSIS, EvidenceDirectory(m_strResultsDirectory, culprit));
    RestoreSwitchedDrivers(culprit);
    KeepDriver(culprit);
    m_pReporter->EndSection("%s", DriverClosingTitle(culprit).c_str());
    ClearReboot();
    return KVXDIAG2_OK;
}

// Nothing left to try. The driver the previous run switched off goes back on; after the TDI branch the
// TDI manager itself is switched off for good, the one configuration known to work. The logs and
// captures switched on for this last gathering are switched off again: left on, they would keep running
// on the user's machine after the analysis, and their files would never reach the results.
DWORD CForeman::EndWithoutSolution(const std::string& deactivate, const std::string& reactivate,
                                   const std::string& directory)
{
    KVX_FUNCTION_QUIET("CForeman::RunDeepAnalysis");
    KVX_LOG(eKVXDiagLog_EVENT, "%s",
            "No hay más filtros sobre los que actuar, el análisis en profundidad ha finalizado sin haber encontrado "
            "una solución.");
    m_pReporter->Report("%s", "No more filters. DeepAnalysis finished...");
    NotifyValue(eKVXDIAG2Notify_DEEPANALYSIS_UNSUCCESS_FINISHED, reactivate, 0);
    ActivateFilter(reactivate);
    if (!deactivate.empty()) {
        KVX_LOG(eKVXDiagLog_EVENT, "Se aplica workaround disponible, desactivando el manager %s", deactivate.c_str());
        if (DeactivateFilter(deactivate) == KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_EVENT, "Workaround aplicado con éxito. %s reiniciar.",
                    deactivate == KVXDRIVER_TDI_MANAGER ? "Es necesario" : "No es necesario");
        }
    }
    m_pReporter->Report("%s", "Deactivating log and captures...");
    DisableLogsAndCaptures(directory, KVXDIAG2_CAPTURE_MAX_SIZE, KVXDIAG2_CAPTURE_FLAG);
    // The workaround is what stays off; whatever else was switched on the way goes back, the TDI
    // manager of the step-1 run included when the analysis ends at the NDIS manager's step.
    RestoreSwitchedDrivers(deactivate);
    if (!deactivate.empty()) {
        KeepDriver(deactivate);
    }
    m_pReporter->EndSection("%s", DriverTitle(deactivate).c_str());
    ClearReboot();
    return KVXDIAG2_OK;
}

DWORD CForeman::CancelForUnknownFilters(DWORD dwStep, DWORD dwResult)
{
    KVX_FUNCTION_QUIET("CForeman::RunDeepAnalysis");
    KVX_LOG(eKVXDiagLog_ERROR,
            "Error! No se ha podido obtener los nombres de los filtros implicado en el paso %lu, del proceso de "
            "análisis.",
            static_cast<unsigned long>(dwStep));
    // A lookup task that could not be created has already told the caller; one cancellation is enough.
    if (dwResult != KVXDIAG2_ERR_CREATE_FAILED) {
        NotifyValue(eKVXDIAG2Notify_DEEPANALYSIS_CANCELLED, "ERROR: Can't obtain step involved filters!",
                    KVXDIAG2_ERR_NO_OBJECT);
    }
    return dwResult;
}

DWORD CForeman::MakeDriverEntry(const std::string& name, kvx::SJournalEntry& entry)
{
    KVX_FUNCTION_QUIET("CForeman::DeactivateFilter");
    if (name == KVXDRIVER_INTERMEDIATE) {
        return MakeBindingsEntry(entry);
    }
    DWORD dwStart = 0;
    bool bKeyMissing = false;
    const DWORD dwResult = kvx::QueryServiceStart(name, dwStart, bKeyMissing);
    if (dwResult != ERROR_SUCCESS) {
        // Without the original there is nothing to put back from, so the change is not made.
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo leer el valor Start del servicio %s; no se cambia. Error: %lu",
                name.c_str(), static_cast<unsigned long>(dwResult));
        if (!bKeyMissing && m_pReporter != nullptr) {
            m_pReporter->Report("Could not read the start type of %s; it is left unchanged.", name.c_str());
        }
        return dwResult;
    }
    KVX_LOG(eKVXDiagLog_INFO, "Se registra el valor Start original del servicio %s: %lu", name.c_str(),
            static_cast<unsigned long>(dwStart));
    entry = kvx::DriverEntry(name, dwStart);
    return KVXDIAG2_OK;
}

// The intermediate driver's bindings are journaled path by path: the ones that are on now, so that
// putting them back leaves off what the customer had off. Without that list nothing is switched.
DWORD CForeman::MakeBindingsEntry(kvx::SJournalEntry& entry)
{
    KVX_FUNCTION_QUIET("CForeman::DeactivateFilter");
    kvx::CHelperRef<CNetCfgHelper> netCfg(KVXDIAG2_HELPER_NETCFG);
    std::string component;
    std::vector<std::pair<std::wstring, bool>> states;
    DWORD dwResult = netCfg ? netCfg->GetIMName(component) : KVXDIAG2_ERR_NO_LIBRARY;
    if (dwResult == KVXDIAG2_OK) {
        dwResult = netCfg->GetBindingStates(component, states);
    }
    if (dwResult != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo leer el estado de los bindings del IM; no se cambian. Error: 0x%lX",
                static_cast<unsigned long>(dwResult));
        if (m_pReporter != nullptr) {
            m_pReporter->Report("Could not read the bindings of %s; they are left unchanged.", KVXDRIVER_INTERMEDIATE);
        }
        return dwResult;
    }
    entry = kvx::DriverEntry(KVXDRIVER_INTERMEDIATE, 0);
    for (const auto& state : states) {
        if (state.second) {
            entry.original = 1;
            entry.detail += (entry.detail.empty() ? L"" : L"\n") + state.first;
        }
    }
    return KVXDIAG2_OK;
}

DWORD CForeman::RestoreDriver(const kvx::SJournalEntry& entry)
{
    const std::string service = kvx::NarrowAscii(entry.target);
    if (entry.kind == kvx::eJournalKind_BINDING) {
        std::string component;
        return kvx::CChangeJournal::Undo(entry, [&](const kvx::SJournalEntry& e) -> DWORD {
            if (e.original == 0) {
                return KVXDIAG2_OK; // none was on
            }
            // An entry without its list of paths (from an older version) means every path was on.
            return ExecuteIntermediateSwitch(true, component, e.detail.empty() ? nullptr : &e.detail);
        });
    }
    return kvx::CChangeJournal::Undo(entry, [&](const kvx::SJournalEntry& e) -> DWORD {
        DWORD dwCurrent = 0;
        if (kvx::ReadServiceStart(service, dwCurrent) && dwCurrent == e.original) {
            return ERROR_SUCCESS;
        }
        return kvx::WriteServiceStart(service, e.original);
    });
}

void CForeman::RestoreSwitchedDrivers(const std::string& keepOff)
{
    KVX_FUNCTION("CForeman::RestoreSwitchedDrivers");
    kvx::GuardedProcedure(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT, [&]() {
        // The drivers go back even when no report can be written.
        const auto report = [this](const char* pszFormat, auto... args) {
            if (m_pReporter != nullptr) {
                m_pReporter->Report(pszFormat, args...);
            }
        };
        for (const kvx::SJournalEntry& entry : kvx::OpenEntries(kvx::eJournalOwner_DEEP_ANALYSIS)) {
            if (entry.kind != kvx::eJournalKind_SERVICE_START && entry.kind != kvx::eJournalKind_BINDING) {
                continue;
            }
            const std::string service = kvx::NarrowAscii(entry.target);
            if (!keepOff.empty() && service == keepOff) {
                KVX_LOG(eKVXDiagLog_EVENT, "El driver %s se mantiene desactivado.", service.c_str());
                continue;
            }
            const DWORD dwResult = RestoreDriver(entry);
            if (entry.kind == kvx::eJournalKind_BINDING) {
                report(dwResult == KVXDIAG2_OK ? "Bindings of %s enabled again." : "Failed to enable the bindings of %s again.",
                       service.c_str());
            } else if (dwResult == KVXDIAG2_OK) {
                KVX_LOG(eKVXDiagLog_EVENT, "El driver %s vuelve a su valor Start original: %lu", service.c_str(),
                        static_cast<unsigned long>(entry.original));
                report("Driver %s set back to its original start type %lu.", service.c_str(),
                       static_cast<unsigned long>(entry.original));
            } else {
                // The entry stays, so the next start tries again.
                KVX_LOG(eKVXDiagLog_ERROR,
                        "Error! No se pudo restaurar el valor Start del driver %s. Error devuelto: %lu",
                        service.c_str(), static_cast<unsigned long>(dwResult));
                report("Failed to set driver %s back to start type %lu.", service.c_str(),
                       static_cast<unsigned long>(entry.original));
            }
        }
    });
}

void CForeman::SwitchOffJournaledLogs(DWORD dwOwner, const std::string& fallbackDirectory)
{
    kvx::SJournalEntry entry;
    if (!kvx::CChangeJournal::Find(kvx::eJournalKind_LOGS_AND_CAPTURES, kvx::KVXDIAG2_JOURNAL_LOGS_TARGET, entry) ||
        entry.owner != dwOwner || entry.kept) {
        return;
    }
    // The old pass's directory receives its own captures when it is still there.
    std::string directory = kvx::NarrowAscii(entry.detail);
    const DWORD attributes = ::GetFileAttributesA(directory.c_str());
    if (directory.empty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        directory = fallbackDirectory;
    }
    if (m_pReporter != nullptr) {
        m_pReporter->Report("%s", "Deactivating log and captures...");
    }
    DisableLogsAndCaptures(directory, KVXDIAG2_CAPTURE_MAX_SIZE, KVXDIAG2_CAPTURE_FLAG);
}

DWORD CForeman::StoreResumeStep(DWORD dwStep)
{
    KVX_FUNCTION_QUIET("CForeman::PrepareReboot");
    kvx::UniqueTask task = kvx::MakeTask(KVXDIAG2_TASKID_PREPARE_CORE_REBOOT);
    if (!task) {
        NotifyTaskNotCreated(kvxFunctionName_, KVXDIAG2_TASKID_PREPARE_CORE_REBOOT);
        return KVXDIAG2_ERR_CREATE_FAILED;
    }
    CTaskDataLong step(dwStep);
    CTaskDataString directory(m_strResultsDirectory);
    if (task->SetConfig({&step, &directory}) != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! No fue posible establecer la configuración en el task.");
        return static_cast<DWORD>(ERROR_INVALID_DATA);
    }
    if (task->Execute(m_pReporter) != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR,
                "Error! No ha sido posible almacenar la información el estado del Análisis en curso. Estado: 0x%lX. "
                "Results path: %s",
                static_cast<unsigned long>(dwStep), m_strResultsDirectory.c_str());
        return KVXDIAG2_ERR_FAILED;
    }
    return KVXDIAG2_OK;
}

void CForeman::SettleDeepJob(DWORD dwJobId)
{
    std::lock_guard<std::mutex> lock(m_settledMutex);
    m_settledDeepJobs.insert(dwJobId);
}

bool CForeman::DeepJobLeftWorkToUndo(DWORD dwJobId)
{
    std::lock_guard<std::mutex> lock(m_settledMutex);
    return m_settledDeepJobs.erase(dwJobId) == 0;
}

// A deep analysis that ended without its own switch-backs (a crash, a failed undo, a reboot that never
// came) left its journal entries but no step to resume: on a fresh start they go back before anything
// else.
DWORD CForeman::UndoInterruptedDeepAnalysis()
{
    KVX_FUNCTION("CForeman::UndoInterruptedDeepAnalysis");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (kvx::OpenEntries(kvx::eJournalOwner_DEEP_ANALYSIS).empty()) {
            return KVXDIAG2_OK;
        }
        if (m_pReporter == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: El objeto Reporter no está disponible!!");
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        KVX_LOG(eKVXDiagLog_EVENT, "%s",
                "Se encontraron drivers desactivados por un análisis en profundidad interrumpido. Se restauran.");
        m_pReporter->BeginSection("%s", "======================Interrupted Deep Analysis======================");
        SwitchOffJournaledLogs(kvx::eJournalOwner_DEEP_ANALYSIS, EvidenceDirectory(m_strResultsDirectory, ""));
        RestoreSwitchedDrivers(std::string());
        ForgetCoreAutostart();
        m_pReporter->EndSection("%s", "---- Interrupted Deep Analysis Finished ----");
        return KVXDIAG2_OK;
    });
}

DWORD CForeman::UndoDeepAnalysis()
{
    KVX_FUNCTION("CForeman::UndoDeepAnalysis");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (m_pReporter == nullptr) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "ERROR: El objeto Reporter no está disponible!!");
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        KVX_LOG(eKVXDiagLog_EVENT, "%s",
                "Análisis en profundidad cancelado por el usuario. Se restauran los drivers desactivados.");
        // The resume state goes first: a crash from here on must not resume an analysis the user has
        // cancelled, and the next fresh start puts back from the journal whatever this undo leaves.
        const DWORD dwResult = ClearReboot();
        m_pReporter->BeginSection("%s", "-Deep analysis cancelled, restoring the drivers...");
        // A cancel can arrive while a refused reboot left the module logs and captures on; nothing would
        // switch them off later.
        const std::string directory = EvidenceDirectory(m_strResultsDirectory, KVXDIAG2_CANCELLED_DIR);
        MakeDirectoryTree(directory);
        m_pReporter->Report("%s", "Deactivating log and captures...");
        DisableLogsAndCaptures(directory, KVXDIAG2_CAPTURE_MAX_SIZE, KVXDIAG2_CAPTURE_FLAG);
        RestoreSwitchedDrivers(std::string());
        m_pReporter->EndSection("%s", "-Deep analysis cancelled, restoring the drivers finished....");
        return dwResult;
    });
}

void CForeman::KeepDriver(const std::string& name)
{
    const kvx::SJournalEntry probe = kvx::DriverEntry(name, 0);
    if (kvx::CChangeJournal::SetKept(probe.kind, probe.target, true) != ERROR_SUCCESS) {
        KVX_FUNCTION_QUIET("CForeman::RunDeepAnalysis");
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo marcar en el diario que %s se mantiene desactivado.",
                name.c_str());
    }
}

void CForeman::ReportNotRecorded(const std::string& name)
{
    if (m_pReporter != nullptr) {
        m_pReporter->Report("Could not record the original state of %s; it is left unchanged.", name.c_str());
    }
}

DWORD CForeman::CompleteInterruptedSwitch(DWORD dwStep)
{
    KVX_FUNCTION_QUIET("CForeman::RunDeepAnalysis");
    std::string reactivate;
    std::string deactivate;
    if (!kvx::ReadPendingSwitch(dwStep, reactivate, deactivate)) {
        kvx::ForgetPendingSwitch(); // written for a step that was never stored: nothing was switched
        return KVXDIAG2_OK;
    }
    KVX_LOG(eKVXDiagLog_EVENT, "El paso anterior se interrumpió antes de terminar sus cambios. Se completan: '%s', '%s'.",
            reactivate.c_str(), deactivate.c_str());
    m_pReporter->Report("Completing the switches of an interrupted step: %s back, %s off.",
                        reactivate.empty() ? "none" : reactivate.c_str(), deactivate.empty() ? "none" : deactivate.c_str());
    // Both are safe to repeat: a driver already back has no entry left, and a second record of a
    // driver switched off keeps its first original.
    kvx::SJournalEntry recorded;
    if (!reactivate.empty() && kvx::FindDriverEntry(reactivate, recorded)) {
        const DWORD dwResult = RestoreDriver(recorded);
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
    }
    if (!deactivate.empty()) {
        const DWORD dwResult = SwitchDriver(deactivate, false, false);
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
    }
    kvx::ForgetPendingSwitch();
    return KVXDIAG2_OK;
}
