// Every control of the main form, by name, with its window id. The names are the form's own; the ids
// let anything outside the form (the UI driver, screen readers) find a control with GetDlgItem.
#pragma once

#include <windows.h>

// X(name): one row per control, in creation order.
#define KVXDIAG2_FORM_CONTROLS(X)                                                                                   \
    /* frame */                                                                                                     \
    X(panelTop) X(imgHeader) X(panelLeft) X(Image3) X(panelSteps)                                                   \
    X(panelInitialCheck) X(imgInitialCheck) X(lbInitialCheck)                                                       \
    X(panelDataObtain) X(imgDataObtain) X(lbDataObtain)                                                             \
    X(panelBasicAnalysis) X(imgBasicAnalysis) X(lbBasicAnalysis)                                                    \
    X(panelDeepAnalysis) X(imgDeepAnalysis) X(lbDeepAnalysis)                                                       \
    X(panelSendToOrvex) X(imgSendToOrvex) X(lbSendToOrvex)                                                          \
    X(nbMain) X(panelBotton) X(btBack) X(btNext) X(btCancel)                                                        \
    /* 0 Initial */ X(Label3) X(Label7) X(Label45)                                                                  \
    /* 1 LicenseAgreement */ X(Label8) X(reLicense) X(cbLicenseAccept)                                              \
    /* 2 UserInfo */ X(Label2) X(reUserIssueDescription) X(Label9) X(edIssueNumber)                                 \
    /* 3 InitialUserChecks */ X(RichEdit1)                                                                          \
    /* 4 FiltersStatus */ X(Label4) X(Label1) X(ListView1) X(btRefresh) X(cbIgnoreFiltersErrors)                    \
    /* 5 DiagnosticInProgress */ X(Label10) X(Label5) X(ProgressBar1)                                               \
    /* 6 DiagnosticResults */ X(Label11) X(ListBox1) X(Label6) X(Label12)                                           \
    /* 7 DiagnosticNoResults */ X(lbDiagnosisEnd) X(lbBasicAnalysisPresentation)                                    \
    /* 8 BasicAnalysisInProgress */ X(Label13) X(Label14) X(pbBasicAnalysisProgress)                                \
    /* 9 BasicAnalysisProblemFixed */ X(Label15) X(ListBox2) X(Label16) X(RadioButton1) X(RadioButton2) X(Label17)  \
    /* 10 BasicAnalysisUserAsk */ X(Label20) X(Label22) X(rbBAUserResponseFixed) X(rbBAUserResponseNotFixed)        \
    /* 11 BasicAnalysisUnsuccess */ X(Label24) X(Label25)                                                           \
    /* 12 DeepAnalysisReboot */ X(Label27) X(lbRebootProgress) X(pbTimeToReboot) X(Button1)                         \
    /* 13 DeepAnalysisProblemFixed */ X(Label34) X(StringGrid1) X(Label33) X(RadioButton7) X(RadioButton8)          \
    /* 14 DeepAnalysisUserAsk */ X(Label29) X(Label31) X(rbBDAUserResponseFixed) X(rbDAUserResponseNotFixed)        \
    /* 15 DeepAnalysisUnsuccess */ X(Label21) X(Label35) X(Label36)                                                 \
    /* 16 DeepAnalysisSuccess */ X(Label23) X(Label37) X(Label26) X(CheckBox1) X(Label38)                           \
    /* 17 UserCancel */ X(panelCancelWait) X(Label41) X(ttKitBar) X(Label39) X(Label40)                             \
    /* 19 SaveToDisk */ X(Label30) X(Label18) X(Label19) X(edResultsPackDestination) X(btBrowse)                    \
    X(lbPackageContents) X(cbRemovePersonalData)                                                                    \
    /* 20 The End */ X(Label28) X(Label42) X(Label43)

namespace kvxui {

// Control ids start well above IDOK/IDCANCEL, which IsDialogMessage sends for Enter and Escape.
enum EControl : int {
    KVXDIAG2_CONTROL_FIRST = 1000,
#define KVXDIAG2_CONTROL_ENUM(name) name,
    KVXDIAG2_FORM_CONTROLS(KVXDIAG2_CONTROL_ENUM)
#undef KVXDIAG2_CONTROL_ENUM
    KVXDIAG2_CONTROL_END
};

// The pages of nbMain. Each page is a child window of nbMain with id KVXDIAG2_PAGE_ID_BASE + index.
constexpr int KVXDIAG2_PAGE_COUNT = 21;
constexpr int KVXDIAG2_PAGE_ID_BASE = 900;

constexpr int KVXDIAG2_GUI_PAGE_INITIAL = 0;
constexpr int KVXDIAG2_GUI_PAGE_LICENSEAGREEMENT = 1;
constexpr int KVXDIAG2_GUI_PAGE_USERINFO = 2;
constexpr int KVXDIAG2_GUI_PAGE_INITIALUSERCHECKS = 3;
constexpr int KVXDIAG2_GUI_PAGE_FILTERSSTATUS = 4;
constexpr int KVXDIAG2_GUI_PAGE_DIAGNOSTICINPROGRESS = 5;
constexpr int KVXDIAG2_GUI_PAGE_DIAGNOSTICRESULTS = 6;
constexpr int KVXDIAG2_GUI_PAGE_DIAGNOSTICNORESULTS = 7;
constexpr int KVXDIAG2_GUI_PAGE_BASICANALYSISINPROGRESS = 8;
constexpr int KVXDIAG2_GUI_PAGE_BASICANALYSISPROBLEMFIXED = 9;
constexpr int KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK = 10;
constexpr int KVXDIAG2_GUI_PAGE_BASICANALYSISUNSUCCESS = 11;
constexpr int KVXDIAG2_GUI_PAGE_DEEPANALYSISREBOOT = 12;
constexpr int KVXDIAG2_GUI_PAGE_DEEPANALYSISPROBLEMFIXED = 13;
constexpr int KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK = 14;
constexpr int KVXDIAG2_GUI_PAGE_DEEPANALYSISUNSUCCESS = 15;
constexpr int KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS = 16;
constexpr int KVXDIAG2_GUI_PAGE_USERCANCEL = 17;
constexpr int KVXDIAG2_GUI_PAGE_SENDTOORVEX = 18;
constexpr int KVXDIAG2_GUI_PAGE_SAVETODISK = 19;
constexpr int KVXDIAG2_GUI_PAGE_FINAL = 20;

// The page captions, by index: the names the form gives its pages.
extern const char* const KVXDIAG2_PAGE_CAPTIONS[KVXDIAG2_PAGE_COUNT];

// The control's name as the form spells it, or nullptr for an id that is not a control.
const char* ControlName(int id);
// The id of a named control, or 0.
int ControlId(const char* name);

// The main window's class name and title.
constexpr const wchar_t* KVXDIAG2_FORM_CLASS = L"TMainForm";
constexpr const wchar_t* KVXDIAG2_FORM_TITLE = L"KVXDiag2";

// A private query the form answers on its own thread: wParam selects the value, the result is it.
// Lets automation follow the wizard without reading its log.
constexpr UINT KVXDIAG2_WM_QUERY = WM_APP + 0x0E10;
enum EFormQuery : WPARAM {
    eFormQuery_PAGE_INDEX = 0,       // the page shown
    eFormQuery_LAST_NOTIFICATION = 1, // code of the last notification handed to the form, 0 if none
    eFormQuery_ANSWER_TO_CORE = 2,   // what the last notification was answered
    eFormQuery_NOTIFY_DEPTH = 3,     // how many notifications are being handled (questions waiting)
};

} // namespace kvxui
