// The job engine: a store of jobs, one thread per job, cancellation, and the settings all jobs of a run
// share. The jobs themselves and the evidence, capture and reboot operations are further methods of
// this class, kept in their own source files (Foreman*.cpp) because each is a subsystem of its own.
#pragma once

#include "common/log/KVXDiagObject.h"
#include "core/interface/INotify.h"
#include "core/jobs/UndoRecords.h"
#include "core/tasks/ITask.h"

#include <windows.h>

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

class IReporter;
class CPackageCopyFeed;
class CPackageManifest;

// One stored job. Handles stay open until the job is released by CancelJob.
struct SJobData {
    DWORD dwJobId;
    HANDLE hThread;
    DWORD dwJobType;
    HANDLE hCancelEvent;
};

class CForeman : public CKVXDiagObject {
public:
    CForeman();
    ~CForeman() override;

    DWORD Init(DWORD dwStep, bool bTDISuspicious, const std::string& resultsDirectory);
    DWORD Finish();
    DWORD RegisterNotifier(INotify* _pINotifier, KVXDIAG2_CONTEXT context);
    DWORD SetPackedResultsDestinationFilePath(const std::string& path);

    DWORD ScheduleJob(DWORD dwJobType, DWORD dwJobId);
    // Cancels the job and waits for its thread; for a deep analysis it then undoes what the analysis
    // switched (UndoDeepAnalysis).
    DWORD CancelJob(DWORD dwJobId);
    // Cancels every stored job and waits for each thread, without undoing anything.
    void CancelAllJobs();
    bool IsThisJobCancelled(DWORD dwJobId);
    DWORD ReleaseJobResources(DWORD dwJobId);

    static const char* GetJobDescription(DWORD dwJobType);

    const std::string& GetResultsDirectory() const { return m_strResultsDirectory; }
    DWORD GetCurrentStep() const { return m_dwCurrentStep; }

    // Evidence gathering
    DWORD MakeTempDirectory(const std::string& name, std::string& createdPath);
    DWORD MakeDirectoryTree(const std::string& path);
    DWORD ExportRegistryKey(HKEY root, const std::string& subKey, const std::string& file);
    DWORD ExecuteProgram(const std::string& program, const std::string& args, const std::string& section,
                         int* pExitCode = nullptr);

    // Module logs and captures
    DWORD EnableModuleLog(DWORD dwModuleId, const std::string& logFile, DWORD dwMaxSize, bool bFlag);
    DWORD DisableModuleLog(DWORD dwModuleId);
    DWORD EnableKVXIMDPCap(const std::string& baseName, DWORD dwMaxSize, bool bFlag);
    DWORD DisableKVXIMDPCap(bool bFlag, const std::string& baseName, const std::string& destination);
    DWORD EnableKVXTMGRATDI(const std::string& captureFile, DWORD dwMaxSize, bool bFlag);
    DWORD DisableKVXTMGRATDI(bool bFlag);

    // Composite evidence operations and the filter switches of the basic analysis.
    DWORD EnableLogsAndCaptures(const std::string& directory, DWORD dwMaxSize, bool bFlag);
    DWORD DisableLogsAndCaptures(const std::string& directory, DWORD dwMaxSize, bool bFlag);
    DWORD GatherDinamycData(const std::string& directory);
    DWORD EnableFilter(const std::string& name);
    DWORD DisableFilter(const std::string& name);

    // The three jobs.
    DWORD RunBasicAnalysis(DWORD dwJobId);
    DWORD RunDeepAnalysis(DWORD dwJobId, DWORD dwStep, bool bTDISuspicious);
    DWORD PackAndSendResults(DWORD dwJobId, const std::string& destination);

    // Deep analysis, reboot and resume state
    DWORD PrepareReboot(DWORD dwStep);
    DWORD Reboot();
    DWORD ClearReboot();
    // Puts every driver the deep analysis switched back at its recorded state, writes one report line
    // for each, and removes the resume state and the autostart entry.
    DWORD UndoDeepAnalysis();
    // Undoes what an interrupted basic analysis left recorded (a filter off, logs and captures on), in
    // a report section of its own. Runs once at start-up.
    DWORD UndoInterruptedBasicAnalysis();
    // On a fresh start: puts back the drivers a deep analysis recorded but never restored.
    DWORD UndoInterruptedDeepAnalysis();
    // Whether the caller's cancel of this deep-analysis job must undo the analysis: not when its run
    // prepared its reboot or reached a verdict, since releasing such a job is how callers free it.
    bool DeepJobLeftWorkToUndo(DWORD dwJobId);
    DWORD MarkTDIManagerSuspicious();
    DWORD UnmarkTDIManagerSuspicious();
    // The transition function: from the step just tested and the user's answer to the next step, the
    // driver to switch back on and the driver to switch off.
    DWORD GetStepInvolvedFilters(DWORD& dwStep, int iAnswer, bool bTDISuspicious, std::string& deactivate,
                                 std::string& reactivate);
    DWORD GetNDISManagerFilterName(std::string& name);
    DWORD ActivateFilter(const std::string& name);
    DWORD DeactivateFilter(const std::string& name);
    DWORD DisableTDIandReboot(DWORD dwNextStep, INotify* pNotifier, IReporter* pReporter);

    // Pack and send: the job itself is PackAndSendResults above; its two stages follow below.

private:
    // Stages of the deep analysis, the reboot operations and pack and send.
    // bNotify false: a switch that only returns to the previous configuration tells the caller nothing.
    DWORD SwitchDriver(const std::string& name, bool bActivate, bool bNotify);
    DWORD SwitchIntermediateDriver(bool bActivate, bool bNotify);
    DWORD RunSingleTask(const char* pszFunction, DWORD dwTaskId, const char* pszFailure, const char* pszSuccess);
    void NotifyTaskNotCreated(const char* pszFunction, DWORD dwTaskId);
    void PrepareProcessReboot();
    void GatherDeepAnalysisEvidence(const std::string& directory);
    DWORD EndWithCulprit(DWORD dwStep, bool bTDISuspicious);
    DWORD EndWithoutSolution(const std::string& deactivate, const std::string& reactivate,
                             const std::string& directory);
    DWORD CancelForUnknownFilters(DWORD dwStep, DWORD dwResult);
    // Every journaled driver but keepOff back at its recorded state; an entry whose undo failed stays.
    void RestoreSwitchedDrivers(const std::string& keepOff);
    // Puts one journaled driver back at its recorded state; the entry is forgotten once that worked.
    DWORD RestoreDriver(const kvx::SJournalEntry& entry);
    // The journal's entry for a driver about to be switched off, its original read first; the registry's
    // code (logged and reported) when the original cannot be read, and then the driver is not switched.
    DWORD MakeDriverEntry(const std::string& name, kvx::SJournalEntry& entry);
    // The logs and captures of the given owner switched off, if its entry says they are on.
    void SwitchOffJournaledLogs(DWORD dwOwner, const std::string& fallbackDirectory);
    // Writes the step to resume at before the switch it names, so that no ending asks the previous
    // step's question against this step's drivers.
    DWORD StoreResumeStep(DWORD dwStep);
    void SettleDeepJob(DWORD dwJobId);
    // Completes the switches a run of this step left half done when it was ended (a crash, a kill).
    DWORD CompleteInterruptedSwitch(DWORD dwStep);
    // The verdict's driver stays off: its entry is marked kept, with its original, for a later run.
    void KeepDriver(const std::string& name);
    // Deletes the autostart value the core wrote, unless the wizard's own entry holds it; with the
    // removal task, its result (the journaled deletion covers both registry views).
    DWORD ForgetCoreAutostart(ITask* pTask = nullptr);
    // The intermediate driver's component switched through its task; pOnlyPaths limits an enable to the
    // listed binding paths (one token a line).
    DWORD ExecuteIntermediateSwitch(bool bActivate, std::string& name, const std::wstring* pOnlyPaths);
    DWORD MakeBindingsEntry(kvx::SJournalEntry& entry);
    // The report's line for a change the journal could not record, and that was therefore not made.
    void ReportNotRecorded(const std::string& name);
    DWORD CancelJobAndWait(DWORD dwJobId, bool bUndo);
    void CloneResultsDirectory(ITask& task, const std::string& copyDirectory);
    // Compresses the copy while copyWhileCompressing fills it (on the job thread); the copy runs
    // in every case, also when the compress task cannot be made.
    DWORD CompressResults(const std::string& copyDirectory, const std::string& destination,
                          CPackageManifest* pManifest, CPackageCopyFeed& feed,
                          const std::function<void()>& copyWhileCompressing);

private:
    struct SThreadParams;

    static DWORD WINAPI RunJobInOtherThread(LPVOID pParams);
    DWORD ExecuteJob(DWORD dwJobId, HANDLE hParamsReadEvent);

    // Store operations, each under the store mutex.
    DWORD StoreJobData(DWORD dwJobId, const SJobData& data);
    DWORD UpdateJobData(DWORD dwJobId, const SJobData& data);
    DWORD GetACopyOfJobData(DWORD dwJobId, SJobData& data);
    DWORD DeleteJobData(DWORD dwJobId);

    // Sends a notification to the registered notifier with this run's context; 2 when there is none.
    int NotifyValue(DWORD dwCode, const std::string& text, DWORD dwValue);
    int NotifyList(DWORD dwCode, const std::string& text, const TaskDataList& data);

    bool IsPacketCaptureUnsupported() const;
    // One filter switch through the product SDK (task 1 or 2), shared by EnableFilter and DisableFilter.
    DWORD SwitchFilter(DWORD dwTaskId, const std::string& name, bool bEnable);
    void GatherStaticData(DWORD& dwResult);
    // Switches a pass's filter on again and reports it; false (reported) when the SDK refused.
    bool ReenableFilterAfterPass(const std::string& name);
    DWORD RestoreFilter(const kvx::SJournalEntry& entry);
    DWORD DisableFilterJournaled(const std::string& name);
    DWORD GetFilterState(const std::string& name, DWORD& dwState);
    void CopyStaticLog(ITask& task, const std::string& source, const std::string& fileName,
                       const std::string& destination, bool bWithFlag, DWORD& dwResult);

    bool m_bInitialised = false;
    INotify* m_pINotifier = nullptr;
    IReporter* m_pReporter = nullptr;
    KVXDIAG2_CONTEXT m_context = 0;
    std::map<DWORD, SJobData> m_jobs;
    HANDLE m_hStoreMutex = nullptr;
    std::string m_strResultsDirectory;
    DWORD m_dwCurrentStep = 0;
    bool m_bTDISuspicious = false;
    std::string m_strPackageDestination;
    OSVERSIONINFOA m_osVersion = {};
    // Whose changes the running job makes, for the journal's entries of the logs and captures.
    DWORD m_dwChangeOwner = kvx::eJournalOwner_BASIC_ANALYSIS;
    bool m_bRebootPrepared = false;
    // Deep-analysis jobs whose run ended having prepared its reboot or reached a verdict.
    std::mutex m_settledMutex;
    std::set<DWORD> m_settledDeepJobs;
};
