// The wizard's main form: one fixed-size window with a notebook of 21 pages that leads the user
// through the analysis, follows the core library's notifications and asks the user its questions.
#pragma once

#include "common/log/KVXDiagObject.h"
#include "core/interface/KVXDiagTypes.h"
#include "wizard/FormToolkit.h"
#include "wizard/GuiHandles.h"
#include "wizard/KVXDiagCoreWrapper.h"
#include "wizard/WizardControls.h"
#include "wizard/WizardTexts.h"

#include <windows.h>

#include <atomic>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Steps of the indicator on the left.
enum EKVXDiag2GuiStep : int {
    eStep_INITIALCHECK = 1,
    eStep_DIAGNOSTICS = 2,
    eStep_BASICANALYSIS = 3,
    eStep_DEEPANALYSIS = 4,
    eStep_SENDTOORVEX = 5,
    eStep_DISABLED = 6,
};

class TMainForm {
public:
    // Builds the form (hidden) on page 0, writes the log configuration and loads the core. Throws
    // std::runtime_error("Can't create KVXDiag Base Object...") when the log object cannot be made.
    explicit TMainForm(HINSTANCE hInstance);
    ~TMainForm();

    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // FormCreate, FormShow, then the message loop until the form is closed; returns the exit code.
    int Run(int nCmdShow);

    // Registered with the core; runs on a job thread of the core library.
    static int WINAPI NotifyCallback(DWORD dwCode, KVXDIAG2_CONTEXT context, const char* pszText, DWORD dwSize,
                                     ULONG_PTR data);

    // The private message that hands a stored notification to the user-interface thread.
    static constexpr UINT KVXDIAG2_WM_SYNCNOTIFY = WM_APP + 0x0E05;
    // Requests of the cancel thread, carried out on the user-interface thread (wParam: ECancelRequest).
    static constexpr UINT KVXDIAG2_WM_CANCELREQUEST = WM_APP + 0x0E06;

private:
    enum ECancelRequest : WPARAM {
        eCancelRequest_CLOSE_FORM = 0,
        eCancelRequest_DISABLE_CANCEL = 1,
        eCancelRequest_ADVANCE_BAR = 2,
        eCancelRequest_FINISHED = 3,
        // The core's cancel returned (lParam: its result): the run can be ended.
        eCancelRequest_JOB_CANCELLED = 4,
    };
    enum EWaitResult {
        eWait_EXIT,     // the exit event: the wizard is closing
        eWait_RESPONSE, // the awaited event
        eWait_FAILED,
    };

    // Window plumbing.
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool CreateFormWindow();
    bool CreateControls();
    void LayoutFrame();
    void LayoutStepLabels();
    void ApplyLanguage();
    HWND Ctl(int id) const;
    HWND PageWindow(int page) const;
    int PageIndex() const { return m_iPageIndex; }
    // Shows a page; runs nbMainPageChanged when the page really changes.
    void SetPageIndex(int page);
    void SetCancelCaptionClose();
    bool CancelReadsClose() const;
    void SetNotebookBusy(bool busy);
    bool ProcessMessages();
    // Lets the interface run for a while: messages are handled as they come, nothing blocks.
    void PumpFor(DWORD milliseconds);
    void OnCommand(int id, int code);
    void OnDrawItem(const DRAWITEMSTRUCT& item);
    LRESULT OnCtlColor(HDC hdc, HWND control);
    void OnClose();
    const wchar_t* Text(kvxui::ECodeText text) const;

    // Form and control handlers.
    void FormCreate();
    void FormShow();
    void FormDestroy();
    void nbMainPageChanged();
    void btNextClick();
    void btBackClick();
    void btCancelClick();
    void cbLicenseAcceptClick();
    void btBrowseClick();
    void nbMainClick();
    void timeRebootTimer();
    void Button1Click();
    void Initializations();
    void Releases();
    void SetStep(int step);
    void ManageBasicAnalysis(int page);
    void ManageDeepAnalysis(int page);

    // Notifications, questions and cancellation.
    LRESULT SynchronizedNotifyCallback();
    // Waits for the exit event or hEvent while handling the window's messages.
    EWaitResult WaitForUser(HANDLE hEvent, bool bLogMessages);
    static DWORD WINAPI CancelInOtherThread(LPVOID pParameter);
    DWORD CancelInOtherThreadBody();
    void CancelRequest(ECancelRequest request, LPARAM lParam);
    void AdvanceKitBar();
    void StartCancelThread();
    // The jobs this run started: each is cancelled (or, for a deep analysis that is to resume, left to
    // the core's End) before the core goes.
    struct SStartedJob {
        int id;
        int type;
        bool cancelled;
    };
    void RecordStartedJob(DWORD rc, int type);
    SStartedJob* StartedJob(int type);
    // The job that Cancel stops: the basic analysis while it runs, else this run's deep analysis while
    // it runs or while its resume state is stored. None when nothing can be cancelled.
    const SStartedJob* JobToCancel();
    // Carries out a cancel (or a close) on a thread of its own while this one keeps handling the
    // window's messages, so that a job thread that sends to the window is always answered.
    void RunWhilePumping(LPTHREAD_START_ROUTINE routine, void* pParameter);
    // Stops whatever still runs (the cancel thread, a job) before the window goes, while pumping
    // messages, so that no job thread is left blocked in a send to a window that no longer exists.
    void StopRunningWork();
    bool WaitPumping(HANDLE handle);

    // The wizard's own changes to the machine, logging and incident data.
    bool Is64BitSO();
    std::string GetKVXDiagTmpPath(bool bTrailingSeparator);
    void ActivateLogs();
    void RegSetValueA(const char* pszValueName, const BYTE* pData, DWORD dwType, DWORD dwSize);
    void SaveIncidenceData(const std::string& incidentNumber, const std::string& description, size_t length);
    void DeactivateShield(bool& bChanged);
    // The shield back to its recorded start type; false when that could not be done.
    bool ActivateShield(bool& bChanged);
    bool GetPathAV(std::wstring& path);
    BOOL DeactivateConflictiveModules(bool& bChanged);
    BOOL ActivateConflictiveModules(bool& bChanged);
    DWORD MarkAppToAutoLunch();
    DWORD UnmarkAppToAutoLunch();
    DWORD RegDeleteKeyRecursively(HKEY hRoot, const char* pszKeyPath);
    // bRunWaits: this run goes on after the boot (the start-up reboot), so its changes are not put back
    // by the start that follows it.
    int Reboot(bool bRunWaits);
    void AskStartupReboot();
    void AskClosingReboot();
    // Puts back the wizard's own journal entries of these kinds, newest first; an entry whose undo
    // failed stays. True when none is left; bChanged when something on the machine was put back.
    bool PutBackWizardChanges(std::initializer_list<DWORD> kinds, bool& bChanged);
    // The shield or the module is still switched by this tool (the autostart value must then stay).
    bool HasWizardChanges();
    // At each start, before the core is loaded: the wizard's entries are put back unless they belong to
    // the run that waited for this boot, or to a deep analysis that waits to be resumed.
    void ApplyStartRule();
    // At each start, before the core is loaded (its start puts back what is no longer kept): offers to
    // put back what an earlier run kept applied.
    void AskAboutKeptSolution();
    // Page 16's choice: unchecked, what this run kept goes back with the core's end.
    void ReleaseKeptSolutionIfUnchecked();
    // Shield and module back, autostart value and resume state gone: the end of a finished or
    // cancelled run. False when something could not be put back; it then stays recorded, with the
    // autostart value, for the next start.
    bool RestoreMachineAndForgetRun(bool& bChanged);
    // A deep analysis waits to be resumed: its stored step (2 to 10) with a results directory.
    bool IsDeepAnalysisPending();
    // The core's records of what its analyses switched off are still there after its jobs ended: the
    // core could not put it back, and only its next start can.
    bool AreCoreChangesLeft();
    // However the run ends: with a deep analysis pending, everything stays for the resume; otherwise
    // the machine is put back as the last page does. Runs once.
    // bFinal: the wizard is closing, and the user is told of anything that could not be put back.
    void EndRun(const char* pszHow, bool bFinal);
    std::string VendorKey() const;

    HINSTANCE m_hInstance;
    HWND m_hwnd = nullptr;
    kvx::UniqueModule m_hRichEditLibrary;
    kvxui::SFonts m_fonts;
    kvx::UniqueImageList ilStatus;
    kvx::UniqueImageList ilStatusBlackAndWhite;
    kvx::UniqueBitmap m_hLogo;
    kvx::UniqueBitmap m_hHeader;
    HWND m_controls[kvxui::KVXDIAG2_CONTROL_END - kvxui::KVXDIAG2_CONTROL_FIRST] = {};
    HWND m_pages[kvxui::KVXDIAG2_PAGE_COUNT] = {};
    int m_iPageIndex = -1;
    int m_iStep = eStep_DISABLED;
    int m_iLeftWidth = 121;
    bool m_bNotebookBusy = false;
    bool m_bTimeRebootEnabled = false;

    // Form state.
    std::unique_ptr<CKVXDiagObject> m_pObject;
    std::unique_ptr<CKVXDiagCore> m_pKVXDiagCore;
    int m_iJobId = 0;
    int m_iUserAnswer = 0;
    std::atomic<int> m_iAnswerToCore{0};
    std::atomic<bool> m_bBasicAnalysisRunning{false};
    std::atomic<bool> m_bDeepAnalysisRunning{false};
    std::atomic<bool> m_bCancelRequested{false};
    int m_iCountdown = 0;
    // The notification being shown (written under "Notify Access" before the synchronous send).
    DWORD m_dwLastCode = 0;
    KVXDIAG2_CONTEXT m_lastContext = 0;
    std::string m_strLastText;
    DWORD m_dwLastSize = 0;
    ULONG_PTR m_lastData = 0;
    std::atomic<DWORD> m_dwLastHandledCode{0};
    kvx::UniqueHandle m_hUserResponseEvent;
    kvx::UniqueHandle m_hCancelEvent;
    kvx::UniqueHandle m_hRebootTimeEvent;
    kvx::UniqueHandle m_hExitEvent;
    kvx::CCriticalSection m_csNotifyAccess;
    kvx::CCriticalSection m_csControlManage;
    kvx::UniqueHandle m_hCancelThread;
    // Set when the form is going away: the cancel thread then skips its closing animation.
    std::atomic<bool> m_bClosing{false};
    // How many messages are being handled on the stack. A close that arrives while another handler
    // is still below it waits until that handler has returned.
    int m_iHandlerDepth = 0;
    // How many notifications are being handled (a question waits while this is above 0).
    int m_iNotifyDepth = 0;
    bool m_bClosePending = false;
    bool m_bDestroyed = false;
    std::vector<SStartedJob> m_startedJobs;
    // What Cancel confirmed stops, chosen on this thread when the user confirms.
    int m_iCancelJobId = 0;
    int m_iCancelJobType = 0;
    // The run has been ended (put back or kept for the resume); the closing question follows if set.
    bool m_bRunEnded = false;
    bool m_bOfferClosingReboot = false;
    // A restart is under way (asked at start-up, or the session ends): nothing is put back, the
    // changes are what the restart is for, and the autostart value brings the wizard back.
    bool m_bRestarting = false;
    // The core reported a pending deep analysis at start-up.
    bool m_bPendingAtStart = false;
    // The journal's kept entries once the start-up question was answered (kind, target): anything kept
    // beyond these was kept by this run.
    std::vector<std::pair<DWORD, std::wstring>> m_keptAtStart;
    // Page 16 was shown: a verdict was reached in this run.
    bool m_bVerdictShown = false;

    // Process-wide flags.
    bool m_b64BitSystem = false;
    bool m_bSpanishInterface = true;
    kvxui::ELanguage m_eLanguage = kvxui::eLanguage_SPANISH;
    bool m_bShieldDeactivated = false;
    bool m_bModulesDeactivated = false;
    // The results directory predicted at start, where the log file and the incident file go.
    std::string m_strResultsDirectory;
};
