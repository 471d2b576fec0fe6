// The basic analysis: static evidence once, then each plug-in filter in turn switched off, evidence
// taken before and after, and the user asked whether the problem is gone.
#include "core/jobs/Foreman.h"

#include "common/log/GuardedOperation.h"
#include "core/jobs/ExtendedEvidence.h"
#include "core/jobs/ScopedTask.h"
#include "core/helpers/KVXApiTypes.h"
#include "core/jobs/UndoRecords.h"
#include "core/report/IReporter.h"
#include "core/tasks/TaskDataBool.h"
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskIds.h"

#include <string>

namespace {

// Tried in this order; the list's length is the total of the progress notifications.
constexpr const char* KVXDIAG2_BASIC_FILTERS[] = {"KVXFLTF", "KVXFLTE", "KVXFLTD", "KVXFLTC", "KVXFLTB", "KVXFLTA"};
constexpr DWORD KVXDIAG2_BASIC_FILTER_COUNT = sizeof KVXDIAG2_BASIC_FILTERS / sizeof KVXDIAG2_BASIC_FILTERS[0];

constexpr DWORD KVXDIAG2_CAPTURE_MAX_SIZE = 8192;
constexpr DWORD KVXDIAG2_CANCEL_NOTIFY_DELAY_MS = 500;

std::string WithBackslash(std::string path)
{
    if (path.empty() || path.back() != '\\') {
        path += '\\';
    }
    return path;
}

} // namespace

DWORD CForeman::SwitchFilter(DWORD dwTaskId, const std::string& name, bool bEnable)
{
    KVX_FUNCTION_QUIET("CForeman::SwitchFilter");
    kvx::UniqueTask task = kvx::MakeTask(dwTaskId);
    if (!task) {
        KVX_LOG(eKVXDiagLog_SYSTEM, "ERROR: No se ha podido crear tarea id: 0x%lX", static_cast<unsigned long>(dwTaskId));
        NotifyValue(eKVXDIAG2Notify_BASICANALYSIS_CANCELLED, "ERROR: Notify object not available!",
                    KVXDIAG2_ERR_NO_OBJECT);
        return KVXDIAG2_ERR_CREATE_FAILED;
    }
    CTaskDataString filter(name);
    DWORD rc = task->SetConfig(TaskDataList{&filter});
    if (rc != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_SYSTEM,
                bEnable ? "ERROR! Al establecer la configuración para activar filtro %s. LastError: 0x%lX"
                        : "ERROR! Al establecer la configuración para desactivar filtro %s. LastError: 0x%lX",
                name.c_str(), static_cast<unsigned long>(rc));
        return rc;
    }
    rc = task->Execute(m_pReporter);
    if (rc != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_SYSTEM,
                bEnable ? "ERROR! Al ejecutar la activación del filtro %s. LastError: 0x%lX"
                        : "ERROR! Al ejecutar la desactivación del filtro %s. LastError: 0x%lX",
                name.c_str(), static_cast<unsigned long>(rc));
        return rc;
    }
    KVX_LOG(eKVXDiagLog_INFO, bEnable ? "El filtro %s se activo con éxito." : "El filtro %s se desactivo con éxito.",
            name.c_str());
    return KVXDIAG2_OK;
}

DWORD CForeman::EnableFilter(const std::string& name)
{
    KVX_FUNCTION("CForeman::EnableFilter");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        return SwitchFilter(KVXDIAG2_TASKID_ENABLE_FILTER, name, true);
    });
}

DWORD CForeman::DisableFilter(const std::string& name)
{
    KVX_FUNCTION("CForeman::DisableFilter");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        return SwitchFilter(KVXDIAG2_TASKID_DISABLE_FILTER, name, false);
    });
}

// The filter's state is read and journaled before it is switched off; a state that cannot be read is
// not switched, since nothing could put it back as it was.
DWORD CForeman::DisableFilterJournaled(const std::string& name)
{
    KVX_FUNCTION_QUIET("CForeman::RunBasicAnalysis");
    DWORD dwState = 0;
    DWORD dwResult = GetFilterState(name, dwState);
    if (dwResult != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo leer el estado del filtro %s; no se cambia. Error: %lu",
                name.c_str(), static_cast<unsigned long>(dwResult));
        m_pReporter->Report("Could not read the state of the %s filter; it is left unchanged.", name.c_str());
        return dwResult;
    }
    bool bRecorded = false;
    dwResult = kvx::CChangeJournal::Apply(kvx::FilterEntry(name, dwState),
                                          [&]() -> DWORD { return DisableFilter(name); }, &bRecorded);
    if (!bRecorded) {
        ReportNotRecorded(name);
    }
    return dwResult;
}

DWORD CForeman::GetFilterState(const std::string& name, DWORD& dwState)
{
    kvx::UniqueTask task = kvx::MakeTask(KVXDIAG2_TASKID_GET_FILTER_STATE);
    if (!task) {
        return KVXDIAG2_ERR_CREATE_FAILED;
    }
    CTaskDataString filter(name);
    DWORD dwResult = task->SetConfig({&filter});
    if (dwResult == KVXDIAG2_OK) {
        dwResult = task->Execute(m_pReporter);
    }
    ITaskData* pState = nullptr;
    if (dwResult == KVXDIAG2_OK) {
        dwResult = task->GetResults(&pState);
    }
    if (dwResult == KVXDIAG2_OK && (pState == nullptr || pState->GetType() != eKVXDiagTLVType_LONG)) {
        dwResult = static_cast<DWORD>(ERROR_INVALID_DATA);
    }
    if (dwResult == KVXDIAG2_OK) {
        static_cast<CTaskDataLong*>(pState)->GetData(dwState);
    }
    return dwResult;
}

void CForeman::CopyStaticLog(ITask& task, const std::string& source, const std::string& fileName,
                             const std::string& destination, bool bWithFlag, DWORD& dwResult)
{
    KVX_FUNCTION_QUIET("CForeman::RunBasicAnalysis");
    CTaskDataString sourceValue(source);
    CTaskDataString destinationValue(destination);
    CTaskDataBool deleteSource(false);
    TaskDataList params{&sourceValue, &destinationValue};
    if (bWithFlag) {
        params.push_back(&deleteSource);
    }
    const DWORD rc = task.SetConfig(params);
    if (rc != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR,
                "Error! Al intentar establecer la configuración al task de copia del %s. Error devuelto: 0x%lX",
                fileName.c_str(), static_cast<unsigned long>(rc));
        dwResult = ERROR_INVALID_DATA;
        return;
    }
    dwResult = task.Execute(m_pReporter);
    if (dwResult == KVXDIAG2_OK) {
        m_pReporter->Report("%s file copied to %s", fileName.c_str(), destination.c_str());
    } else {
        m_pReporter->Report("Fail to copy %s log file from %s.", fileName.c_str(), source.c_str());
    }
}

void CForeman::GatherStaticData(DWORD& dwResult)
{
    KVX_FUNCTION_QUIET("CForeman::RunBasicAnalysis");
    char systemDirectory[MAX_PATH] = {};
    const UINT systemLength = ::GetSystemDirectoryA(systemDirectory, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH) {
        systemDirectory[0] = '\0';
    }
    const std::string staticDirectory = WithBackslash(m_strResultsDirectory) + "DataGathering\\StaticData";

    m_pReporter->BeginSection("%s", "======================Data Gathering======================");
    m_pReporter->BeginSection("%s", "Static Data");
    if (MakeDirectoryTree(staticDirectory) == KVXDIAG2_OK) {
        m_pReporter->BeginSection("%s", "Windows Registry System Key");
        const std::string hiveFile = staticDirectory + "\\RegistrySystemKey.reg";
        if (ExportRegistryKey(HKEY_LOCAL_MACHINE, "SYSTEM", hiveFile) == KVXDIAG2_OK) {
            m_pReporter->Report("Windows Registry System key exported to %s", hiveFile.c_str());
        } else {
            m_pReporter->Report("%s", "Fail to export System key from Windows Registry.");
        }
        m_pReporter->EndSection();
    }

    m_pReporter->BeginSection("%s", "Loaded drivers");
    ExecuteProgram(std::string(systemDirectory) + "\\driverquery.exe", "/v", "Getting driver list");
    m_pReporter->EndSection();

    m_pReporter->BeginSection("%s", "Network info and bindings");
    if (kvx::UniqueTask dump = kvx::MakeTask(KVXDIAG2_TASKID_DUMP_NETWORK_COMPONENTS)) {
        dump->Execute(m_pReporter);
    }
    m_pReporter->EndSection();

    if (kvx::UniqueTask copy = kvx::MakeTask(KVXDIAG2_TASKID_COPY_MOVE_FILE_WILDCARDS)) {
        const std::string destination = WithBackslash(staticDirectory);
        m_pReporter->BeginSection("%s", "Windows device installation log (setupapi.log)");
        char windowsDirectory[520] = {};
        const UINT windowsLength = ::GetWindowsDirectoryA(windowsDirectory, sizeof windowsDirectory);
        if (windowsLength != 0 && windowsLength < sizeof windowsDirectory) {
            CopyStaticLog(*copy, WithBackslash(windowsDirectory) + "SetupApi.log", "SetupApi.log", destination, true,
                          dwResult);
        }
        m_pReporter->EndSection();
        char tempDirectory[520] = {};
        const DWORD tempLength = ::GetTempPathA(sizeof tempDirectory, tempDirectory);
        if (tempLength != 0 && tempLength < sizeof tempDirectory) {
            CopyStaticLog(*copy, WithBackslash(tempDirectory) + "KVXSetup.log", "KVXSetup.log", destination, false,
                          dwResult);
        }
    }
    m_pReporter->EndSection("%s", "Static data gathering, finshed.");
    m_pReporter->EndSection("%s", "Data gathering, finshed.");
}

bool CForeman::ReenableFilterAfterPass(const std::string& name)
{
    KVX_FUNCTION_QUIET("CForeman::RunBasicAnalysis");
    kvx::SJournalEntry entry;
    const kvx::SJournalEntry probe = kvx::FilterEntry(name, 0);
    if (!kvx::CChangeJournal::Find(probe.kind, probe.target, entry)) {
        return true;
    }
    const DWORD enabled = RestoreFilter(entry);
    if (enabled != KVXDIAG2_OK) {
        m_pReporter->Report("Error occurred trying to reactivate the %s filter. Continues with next.", name.c_str());
        KVX_LOG(eKVXDiagLog_ERROR,
                "ERROR! Al intentar reactivar el filtro %s. Se continua con el siguiente. LastError: 0x%lX.",
                name.c_str(), static_cast<unsigned long>(enabled));
        return false;
    }
    m_pReporter->Report(entry.original == KVXAPI_FILTER_STATE_STARTED ? "Filter %s reactivated."
                                                                       : "Filter %s left disabled, as it was found.",
                        name.c_str());
    return true;
}

// Back to the state the filter was found in: a filter the customer had off stays off.
DWORD CForeman::RestoreFilter(const kvx::SJournalEntry& entry)
{
    return kvx::CChangeJournal::Undo(entry, [this](const kvx::SJournalEntry& e) -> DWORD {
        return e.original == KVXAPI_FILTER_STATE_STARTED ? EnableFilter(kvx::NarrowAscii(e.target)) : KVXDIAG2_OK;
    });
}

// What a basic analysis left in the journal (a run that crashed or was killed: a filter off, logs and
// captures on) is undone before the new run changes anything. The SDK does the work, as it did the
// switching.
DWORD CForeman::UndoInterruptedBasicAnalysis()
{
    KVX_FUNCTION("CForeman::UndoInterruptedBasicAnalysis");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        const std::vector<kvx::SJournalEntry> open = kvx::OpenEntries(kvx::eJournalOwner_BASIC_ANALYSIS);
        if (open.empty()) {
            return KVXDIAG2_OK;
        }
        if (m_pReporter == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: El objeto Reporter no está disponible!!");
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        KVX_LOG(eKVXDiagLog_EVENT, "%s",
                "Se encontraron cambios de un análisis básico interrumpido. Se deshacen antes de continuar.");
        m_pReporter->BeginSection("%s", "======================Interrupted Basic Analysis======================");
        DWORD dwResult = KVXDIAG2_OK;
        for (const kvx::SJournalEntry& entry : open) {
            const std::string filter = kvx::NarrowAscii(entry.target);
            if (entry.kind == kvx::eJournalKind_PLUGIN_FILTER) {
                const DWORD enabled = RestoreFilter(entry);
                if (enabled == KVXDIAG2_OK) {
                    m_pReporter->Report("Filter %s left disabled by an interrupted analysis, reactivated.",
                                        filter.c_str());
                } else {
                    m_pReporter->Report(
                        "Error occurred trying to reactivate the %s filter left disabled by an interrupted analysis.",
                        filter.c_str());
                    dwResult = enabled;
                }
            } else if (entry.kind == kvx::eJournalKind_LOGS_AND_CAPTURES) {
                SwitchOffJournaledLogs(kvx::eJournalOwner_BASIC_ANALYSIS, WithBackslash(m_strResultsDirectory));
                m_pReporter->Report("Log and captures left enabled by an interrupted analysis, disabled.");
            }
        }
        m_pReporter->EndSection("%s", "---- Interrupted Basic Analysis Finished ----");
        return dwResult;
    });
}

DWORD CForeman::RunBasicAnalysis(DWORD dwJobId)
{
    KVX_FUNCTION("CForeman::RunBasicAnalysis");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        KVX_LOG(eKVXDiagLog_INFO, "Se inicia el trabajo %lu", static_cast<unsigned long>(dwJobId));
        if (m_pINotifier == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: El objeto Notify no está disponible!!");
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        if (m_pReporter == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: El objeto Reporter no está disponible!!");
            return KVXDIAG2_ERR_NO_OBJECT;
        }

        m_dwChangeOwner = kvx::eJournalOwner_BASIC_ANALYSIS;
        DWORD result = KVXDIAG2_OK;
        GatherStaticData(result);
        CExtendedEvidence(m_pReporter, WithBackslash(m_strResultsDirectory) + "DataGathering\\ExtendedData",
                          [this, dwJobId] { return IsThisJobCancelled(dwJobId); })
            .Gather();

        NotifyValue(eKVXDIAG2Notify_BASICANALYSIS_BEGUN, "Job started", 0);
        if (IsThisJobCancelled(dwJobId)) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "El trabajo %lu ha sido cancelado!!", static_cast<unsigned long>(dwJobId));
            return KVXDIAG2_ERR_CANCELLED;
        }

        m_pReporter->BeginSection("%s", "======================Basic Analysis======================");
        // The directory of the pass whose logs and captures are on, empty while they are off.
        std::string logsDirectory;
        for (DWORD index = 0; index < KVXDIAG2_BASIC_FILTER_COUNT; ++index) {
            const std::string name = KVXDIAG2_BASIC_FILTERS[index];
            const std::string directory = WithBackslash(m_strResultsDirectory) + "BasicAnalisys\\" + name + "\\";
            const std::string pre = directory + "Pre\\";
            const std::string post = directory + "Post\\";

            m_pReporter->BeginSection("-Operations for filter \"%s\"", name.c_str());
            m_pReporter->BeginSection("%s", "PRE");
            MakeDirectoryTree(pre);
            m_pReporter->Report("%s", "Enabling log and captures...");
            logsDirectory = directory;
            EnableLogsAndCaptures(directory, KVXDIAG2_CAPTURE_MAX_SIZE, false);
            m_pReporter->BeginSection("%s", "Dynamic Data");
            GatherDinamycData(pre);
            m_pReporter->EndSection();

            const DWORD disabled = DisableFilterJournaled(name);
            if (disabled != KVXDIAG2_OK) {
                m_pReporter->Report("Error occurred trying to deactivate the %s filter. Continue with next.",
                                    name.c_str());
                KVX_LOG(eKVXDiagLog_ERROR, "ERROR: Al establecer la configuración para desactivar filtro %s. "
                        "LastError: %lu",
                        name.c_str(), static_cast<unsigned long>(disabled));
                m_pReporter->EndSection("%s", "PRE");
                m_pReporter->EndSection("-Operations for filter \"%s\", Finished", name.c_str());
                continue;
            }
            m_pReporter->Report("Filter %s deactivated.", name.c_str());
            m_pReporter->EndSection("%s", "PRE");
            m_pReporter->BeginSection("%s", "POST");
            MakeDirectoryTree(post);
            m_pReporter->BeginSection("%s", "Dynamic Data");
            GatherDinamycData(post);
            m_pReporter->EndSection();

            const int answer = NotifyValue(eKVXDIAG2Notify_FILTER_DISABLED, name, 0);
            m_pReporter->Report("%s", "Disabling log and captures...");
            DisableLogsAndCaptures(directory, KVXDIAG2_CAPTURE_MAX_SIZE, false);
            logsDirectory.clear();

            if (answer == eKVXDIAG2NotifyRet_PROBLEM_FIXED || answer == eKVXDIAG2NotifyRet_EXITING) {
                if (answer == eKVXDIAG2NotifyRet_PROBLEM_FIXED) {
                    m_pReporter->Report("%s", "The problem was fixed, analysis finished.");
                    NotifyValue(eKVXDIAG2Notify_BASICANALYSIS_SUCCESS_FINISHED, name, 0);
                    result = KVXDIAG2_OK;
                    // The culprit stays off: that is the user's working configuration. Its entry is
                    // kept, with the state it had, so that a later run can put it back.
                    const kvx::SJournalEntry culprit = kvx::FilterEntry(name, 0);
                    kvx::CChangeJournal::SetKept(culprit.kind, culprit.target, true);
                } else {
                    m_pReporter->Report("%s", "KVXDiag is closing, canceling analysis...");
                    result = KVXDIAG2_ERR_CANCELLED;
                    // Nobody would ever switch it on again once the caller has gone.
                    ReenableFilterAfterPass(name);
                }
                m_pReporter->EndSection("%s", "POST");
                m_pReporter->EndSection("-Operations for filter \"%s\", Finished", name.c_str());
                break;
            }
            if (answer == eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED) {
                result = eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED;
                m_pReporter->Report("%s", "The problem was not fixed. Analysis continues with the next filter.");
            } else {
                KVX_LOG(eKVXDiagLog_SYSTEM, "Error! Respuesta recibida de usuario desconocida: 0x%X", answer);
                result = ERROR_GEN_FAILURE;
            }
            if (!ReenableFilterAfterPass(name)) {
                m_pReporter->EndSection("%s", "POST");
                m_pReporter->EndSection("-Operations for filter \"%s\", Finished", name.c_str());
                continue;
            }
            m_pReporter->EndSection("%s", "POST");
            m_pReporter->EndSection("-Operations for filter \"%s\", Finished", name.c_str());
            CTaskDataLong total(KVXDIAG2_BASIC_FILTER_COUNT);
            CTaskDataLong current(index + 1);
            NotifyList(eKVXDIAG2Notify_BASICANALYSIS_IN_PROGRESS, "Progress", TaskDataList{&total, &current});
        }

        if (!logsDirectory.empty()) {
            // The last pass could not disable its filter and so never reached the switch-off.
            m_pReporter->Report("%s", "Disabling log and captures...");
            DisableLogsAndCaptures(logsDirectory, KVXDIAG2_CAPTURE_MAX_SIZE, false);
        }
        KVX_LOG(eKVXDiagLog_INFO, "Finalizado bucle de análisis básico. RetVal: 0x%lX", static_cast<unsigned long>(result));
        if (result == KVXDIAG2_ERR_CANCELLED) {
            m_pReporter->Report("%s", "The analysis was cancelled.");
            // Gives the caller's interface time to settle after its "closing" answer before it hears
            // of the cancellation.
            ::Sleep(KVXDIAG2_CANCEL_NOTIFY_DELAY_MS);
            NotifyValue(eKVXDIAG2Notify_BASICANALYSIS_CANCELLED, "Job cancelled by user", 0);
        } else if (result == eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED) {
            m_pReporter->Report("%s", "The analysis was unsuccessfull.");
            NotifyValue(eKVXDIAG2Notify_BASICANALYSIS_UNSUCCESS_FINISHED, "Job completed unsuccessed", 0);
        }
        NotifyValue(eKVXDIAG2Notify_BASICANALYSIS_ENDED, "Job ended", 0);
        m_pReporter->EndSection("%s", "---- Basic Analysis Finished ----");
        return result;
    });
}
