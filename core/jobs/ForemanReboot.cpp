// The foreman's reboot and resume-state operations: what a deep-analysis run stores before it restarts
// Windows, the restart itself, and the clean-up once the analysis has ended. The registry work is done
// by tasks; these operations only compose them and turn their outcomes into the foreman's codes.
#include "core/jobs/Foreman.h"

#include "core/jobs/ScopedTask.h"
#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskIds.h"

namespace {

constexpr const char* KVXDIAG2_TEXT_NOTIFY_NOT_AVAILABLE = "ERROR: Notify object not available!";

} // namespace

void CForeman::NotifyTaskNotCreated(const char* pszFunction, DWORD dwTaskId)
{
    WriteLog(eKVXDiagLog_SYSTEM, KVXDIAG_LOG_MODULE, pszFunction, "ERROR: No se ha podido crear tarea id: %lu (%s) !!",
             static_cast<unsigned long>(dwTaskId), GetTaskIdName(dwTaskId));
    NotifyValue(eKVXDIAG2Notify_DEEPANALYSIS_CANCELLED, KVXDIAG2_TEXT_NOTIFY_NOT_AVAILABLE, KVXDIAG2_ERR_NO_OBJECT);
}

DWORD CForeman::RunSingleTask(const char* pszFunction, DWORD dwTaskId, const char* pszFailure, const char* pszSuccess)
{
    kvx::UniqueTask task = kvx::MakeTask(dwTaskId);
    if (!task) {
        NotifyTaskNotCreated(pszFunction, dwTaskId);
        return KVXDIAG2_ERR_CREATE_FAILED;
    }
    const DWORD dwResult = task->Execute(m_pReporter);
    if (dwResult != KVXDIAG2_OK) {
        WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction, "%s", pszFailure);
        WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction, "Error devuelto por la tarea: %lu",
                 static_cast<unsigned long>(dwResult));
        return KVXDIAG2_ERR_FAILED;
    }
    if (pszSuccess != nullptr) {
        WriteLog(eKVXDiagLog_EVENT, KVXDIAG_LOG_MODULE, pszFunction, "%s", pszSuccess);
    }
    return KVXDIAG2_OK;
}

// The autostart entry is a convenience: without it the wizard must be started by hand after the reboot,
// and the stored state still resumes the analysis. Its failures are therefore only logged.
void CForeman::PrepareProcessReboot()
{
    KVX_FUNCTION_QUIET("CForeman::PrepareReboot");
    kvx::UniqueTask pathTask = kvx::MakeTask(KVXDIAG2_TASKID_GET_PROCESS_FULL_PATH);
    if (!pathTask) {
        NotifyTaskNotCreated(kvxFunctionName_, KVXDIAG2_TASKID_GET_PROCESS_FULL_PATH);
    }
    kvx::UniqueTask autostartTask = kvx::MakeTask(KVXDIAG2_TASKID_PREPARE_PROCESS_REBOOT);
    if (!autostartTask) {
        NotifyTaskNotCreated(kvxFunctionName_, KVXDIAG2_TASKID_PREPARE_PROCESS_REBOOT);
    }
    if (!pathTask || !autostartTask || pathTask->Execute(m_pReporter) != KVXDIAG2_OK) {
        return;
    }
    ITaskData* pPath = nullptr;
    if (pathTask->GetResults(&pPath) != KVXDIAG2_OK || pPath == nullptr ||
        pPath->GetType() != eKVXDiagTLVType_CHARSTRING) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! No se pudo obtener el path del proceso actual.");
        return;
    }
    if (autostartTask->SetConfig({pPath}) != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! No fue posible establecer la configuración en el task.");
        return;
    }
    // The wizard's own entry, when it has one, already holds the value and keeps its owner.
    if (kvx::CChangeJournal::Record(kvx::AutostartEntry(kvx::eJournalOwner_DEEP_ANALYSIS)) != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! No se pudo registrar el autoarranque en el diario; no se escribe.");
        return;
    }
    kvx::CChangeJournal::KillPoint("before change");
    const DWORD dwWritten = autostartTask->Execute(m_pReporter);
    kvx::CChangeJournal::KillPoint("after change");
    if (dwWritten != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s",
                "Error! No se pudo preparar el reinicio del GUI. Fallo el task correspondiente.");
        return;
    }
    KVX_LOG(eKVXDiagLog_EVENT, "%s", "Proceso GUI se ha preparado para ser auto-lanzado tras el reinicio.");
}

DWORD CForeman::PrepareReboot(DWORD dwStep)
{
    KVX_FUNCTION("CForeman::PrepareReboot");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        PrepareProcessReboot();
        const DWORD dwResult = StoreResumeStep(dwStep);
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
        KVX_LOG(eKVXDiagLog_EVENT,
                "Se almaceno con éxito, la información del estado del análisis para su recuperación tras el reinicio. "
                "Estado: 0x%lX. Results dir: %s",
                static_cast<unsigned long>(dwStep), m_strResultsDirectory.c_str());
        return KVXDIAG2_OK;
    });
}

DWORD CForeman::Reboot()
{
    KVX_FUNCTION("CForeman::Reboot");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        // From here until the next start after that boot, the journal's entries belong to the run that
        // waits for it; a start that finds no boot since undoes them.
        // Only the core's part: the wizard's entries are kept for the resume by the pending analysis,
        // and a caller without the wizard would leave the wizard's part set for good.
        kvx::CChangeJournal::MarkAwaitingReboot(kvx::eJournalParty_CORE);
        return RunSingleTask(kvxFunctionName_, KVXDIAG2_TASKID_REBOOT, "Error!! No ha sido posible reiniciar el SO.",
                             "El reinicio se ha lanzado con éxito.");
    });
}

DWORD CForeman::MarkTDIManagerSuspicious()
{
    KVX_FUNCTION("CForeman::MarkTDIManagerSuspicious");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        return RunSingleTask(kvxFunctionName_, KVXDIAG2_TASKID_MARK_TDI_MANAGER_SUSPICIOUS,
                             "Error!! No ha sido posible marcar como sospechoso el TDI Manager.", nullptr);
    });
}

DWORD CForeman::UnmarkTDIManagerSuspicious()
{
    KVX_FUNCTION("CForeman::UnmarkTDIManagerSuspicious");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        return RunSingleTask(kvxFunctionName_, KVXDIAG2_TASKID_UNMARK_TDI_MANAGER_SUSPICIOUS,
                             "Error!! No ha sido posible eliminar la marca de sospechoso al TDI Manager.", nullptr);
    });
}

DWORD CForeman::ClearReboot()
{
    KVX_FUNCTION("CForeman::ClearReboot");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        kvx::UniqueTask autostartTask = kvx::MakeTask(KVXDIAG2_TASKID_DISABLE_PROCESS_REBOOT);
        kvx::UniqueTask stateTask = kvx::MakeTask(KVXDIAG2_TASKID_DISABLE_CORE_REBOOT);
        if (!autostartTask || !stateTask) {
            NotifyTaskNotCreated(kvxFunctionName_,
                                 !autostartTask ? KVXDIAG2_TASKID_DISABLE_PROCESS_REBOOT
                                                : KVXDIAG2_TASKID_DISABLE_CORE_REBOOT);
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        // The wizard's autostart value is the wizard's to remove: deleted here, a wizard that is then
        // killed would leave its shield off with nothing to start it again.
        kvx::SJournalEntry autostart;
        const bool bWizardOwnsIt = kvx::CChangeJournal::Find(kvx::eJournalKind_AUTOSTART,
                                                             kvx::KVXDIAG2_JOURNAL_AUTOSTART, autostart) &&
                                   autostart.owner == kvx::eJournalOwner_WIZARD;
        DWORD dwResult = KVXDIAG2_OK;
        if (!bWizardOwnsIt) {
            dwResult = ForgetCoreAutostart(autostartTask.get());
        }
        if (dwResult == KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_EVENT, "%s",
                    "Deshabilitado el auto-lanzamiento, tras el reinicio, del proceso-asistente.");
        } else {
            KVX_LOG(eKVXDiagLog_ERROR, "%s%lu",
                    "Error! No fue posible deshabilitar el auto-lanzamiento, tras el reinicio, del proceso-asistente. "
                    "Error devuelto: ",
                    static_cast<unsigned long>(dwResult));
        }
        autostartTask.reset();

        dwResult = stateTask->Execute(m_pReporter);
        if (dwResult == KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_EVENT, "%s", "Eliminados restos de análisis pendientes");
        } else {
            KVX_LOG(eKVXDiagLog_ERROR, "%s%lu",
                    "Error! No fue posible eliminar los restos de análisis pendientes. Error devuelto: ",
                    static_cast<unsigned long>(dwResult));
        }
        stateTask.reset();

        // A run that never marked the TDI manager has nothing to unmark; that failure is only logged.
        UnmarkTDIManagerSuspicious();
        return dwResult;
    });
}

// The deletion of the autostart value the core wrote is the undo of its journal entry: the task
// removes it from this view, and the other view's copy goes with it. A value no entry describes (left by
// an older version) is still removed by the task, as the stored state it belongs to is removed.
DWORD CForeman::ForgetCoreAutostart(ITask* pTask)
{
    KVX_FUNCTION_QUIET("CForeman::ClearReboot");
    kvx::SJournalEntry entry;
    const bool bJournaled =
        kvx::CChangeJournal::Find(kvx::eJournalKind_AUTOSTART, kvx::KVXDIAG2_JOURNAL_AUTOSTART, entry);
    if (bJournaled && entry.owner == kvx::eJournalOwner_WIZARD) {
        return KVXDIAG2_OK;
    }
    if (!bJournaled) {
        return pTask != nullptr ? pTask->Execute(m_pReporter) : KVXDIAG2_OK;
    }
    DWORD dwTask = KVXDIAG2_OK;
    const DWORD dwResult = kvx::CChangeJournal::Undo(entry, [&](const kvx::SJournalEntry&) -> DWORD {
        if (pTask != nullptr) {
            dwTask = pTask->Execute(m_pReporter);
        }
        return kvx::DeleteAutostartFromBothViews();
    });
    if (dwResult != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo eliminar el autoarranque. Error devuelto: %lu",
                static_cast<unsigned long>(dwResult));
        return dwResult;
    }
    return dwTask;
}
