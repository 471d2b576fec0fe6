// The form's layout. The pages between the header and the buttons are 505 x 251 pixels; the welcome
// and final pages have no header and a wider logo, so their rows use other widths.
#include "wizard/FormLayout.h"

#include <commctrl.h>

namespace kvxui {

namespace {

// Page columns: 16 pixels of margin on each side of a 505-pixel page.
constexpr int X = 16;
constexpr int W = 472;

const SControlLayout kLayout[] = {
    // Frame. LayoutFrame() gives the panels their real places.
    {panelTop, KVXDIAG2_PARENT_FORM, eKind_PANEL, 0, 0, 0, 0, 0},
    {imgHeader, panelTop, eKind_IMAGE, 0, 0, 0, 0, 0},
    {panelLeft, KVXDIAG2_PARENT_FORM, eKind_PANEL, 0, 0, 0, 0, 0},
    {panelSteps, panelLeft, eKind_PANEL, 0, 0, KVXDIAG2_LEFT_WIDTH, 316, 0},
    {panelInitialCheck, panelSteps, eKind_PANEL, 0, 12, KVXDIAG2_LEFT_WIDTH, 56, 0},
    {imgInitialCheck, panelInitialCheck, eKind_IMAGE, 5, 4, 48, 48, 0},
    {lbInitialCheck, panelInitialCheck, eKind_LABEL, 57, 4, 62, 48, 0},
    {panelDataObtain, panelSteps, eKind_PANEL, 0, 72, KVXDIAG2_LEFT_WIDTH, 56, 0},
    {imgDataObtain, panelDataObtain, eKind_IMAGE, 5, 4, 48, 48, 0},
    {lbDataObtain, panelDataObtain, eKind_LABEL, 57, 4, 62, 48, 0},
    {panelBasicAnalysis, panelSteps, eKind_PANEL, 0, 132, KVXDIAG2_LEFT_WIDTH, 56, 0},
    {imgBasicAnalysis, panelBasicAnalysis, eKind_IMAGE, 5, 4, 48, 48, 0},
    {lbBasicAnalysis, panelBasicAnalysis, eKind_LABEL, 57, 4, 62, 48, 0},
    {panelDeepAnalysis, panelSteps, eKind_PANEL, 0, 192, KVXDIAG2_LEFT_WIDTH, 56, 0},
    {imgDeepAnalysis, panelDeepAnalysis, eKind_IMAGE, 5, 4, 48, 48, 0},
    {lbDeepAnalysis, panelDeepAnalysis, eKind_LABEL, 57, 4, 62, 48, 0},
    {panelSendToOrvex, panelSteps, eKind_PANEL, 0, 252, KVXDIAG2_LEFT_WIDTH, 56, 0},
    {imgSendToOrvex, panelSendToOrvex, eKind_IMAGE, 5, 4, 48, 48, 0},
    {lbSendToOrvex, panelSendToOrvex, eKind_LABEL, 57, 4, 62, 48, 0},
    // The logo comes after the step panels, so that they cover it while they are shown.
    {Image3, panelLeft, eKind_IMAGE, 1, 1, 164, 314, 0},
    {nbMain, KVXDIAG2_PARENT_FORM, eKind_PANEL, 0, 0, 0, 0, 0},
    {panelBotton, KVXDIAG2_PARENT_FORM, eKind_PANEL, 0, KVXDIAG2_CLIENT_HEIGHT - KVXDIAG2_BOTTOM_HEIGHT,
     KVXDIAG2_CLIENT_WIDTH, KVXDIAG2_BOTTOM_HEIGHT, 0},
    {btBack, panelBotton, eKind_BUTTON, 338, 14, 88, 25, 0},
    {btNext, panelBotton, eKind_BUTTON, 426, 14, 88, 25, 0},
    {btCancel, panelBotton, eKind_BUTTON, 526, 14, 88, 25, 0},

    // 0 Initial (462 x 316)
    {Label3, Page(0), eKind_BIGTITLE, 28, 32, 400, 34, 0},
    {Label7, Page(0), eKind_LABEL, 28, 90, 400, 44, 0},
    {Label45, Page(0), eKind_LABEL, 28, 146, 400, 44, 0},

    // 1 LicenseAgreement
    {Label8, Page(1), eKind_LABEL, X, 10, W, 16, 0},
    {reLicense, Page(1), eKind_RICHEDIT, X, 30, W, 184, 0},
    {cbLicenseAccept, Page(1), eKind_CHECK, X, 222, W, 20, 0},

    // 2 UserInfo
    {Label2, Page(2), eKind_LABEL, X, 10, W, 16, 0},
    {reUserIssueDescription, Page(2), eKind_RICHEDIT, X, 30, W, 164, ES_WANTRETURN},
    {Label9, Page(2), eKind_LABEL, X, 212, 200, 16, 0},
    {edIssueNumber, Page(2), eKind_EDIT, 220, 208, 268, 22, 0},

    // 3 InitialUserChecks
    {RichEdit1, Page(3), eKind_RICHEDIT, X, 10, W, 231, 0},

    // 4 FiltersStatus
    {Label4, Page(4), eKind_LABEL, X, 6, W, 30, 0},
    {Label1, Page(4), eKind_LABEL, X, 40, W, 30, 0},
    {ListView1, Page(4), eKind_LISTVIEW, X, 74, W, 130, 0},
    {btRefresh, Page(4), eKind_BUTTON, X, 214, 90, 25, 0},
    {cbIgnoreFiltersErrors, Page(4), eKind_CHECK, 120, 216, 368, 20, 0},

    // 5 DiagnosticInProgress
    {Label10, Page(5), eKind_LABEL, X, 30, W, 30, 0},
    {Label5, Page(5), eKind_LABEL, X, 92, W, 16, 0},
    {ProgressBar1, Page(5), eKind_PROGRESS, X, 112, W, 18, PBS_MARQUEE},

    // 6 DiagnosticResults
    {Label11, Page(6), eKind_LABEL, X, 8, W, 16, 0},
    {ListBox1, Page(6), eKind_LISTBOX, X, 28, W, 86, 0},
    {Label6, Page(6), eKind_LABEL, X, 124, W, 58, 0},
    {Label12, Page(6), eKind_LABEL, X, 196, W, 16, 0},

    // 7 DiagnosticNoResults
    {lbDiagnosisEnd, Page(7), eKind_LABEL, X, 16, W, 58, 0},
    {lbBasicAnalysisPresentation, Page(7), eKind_LABEL, X, 90, W, 58, 0},

    // 8 BasicAnalysisInProgress
    {Label13, Page(8), eKind_LABEL, X, 40, W, 30, 0},
    {Label14, Page(8), eKind_LABEL, X, 100, W, 16, 0},
    {pbBasicAnalysisProgress, Page(8), eKind_PROGRESS, X, 120, W, 18, 0},

    // 9 BasicAnalysisProblemFixed
    {Label15, Page(9), eKind_LABEL, X, 4, W, 16, 0},
    {ListBox2, Page(9), eKind_LISTBOX, X, 22, W, 36, 0},
    {Label16, Page(9), eKind_LABEL, X, 64, W, 30, 0},
    {RadioButton1, Page(9), eKind_RADIO, 24, 98, 464, 18, WS_GROUP},
    {RadioButton2, Page(9), eKind_RADIO, 24, 118, 464, 18, 0},
    {Label17, Page(9), eKind_LABEL, X, 144, W, 58, 0},

    // 10 BasicAnalysisUserAsk
    {Label20, Page(10), eKind_LABEL, X, 20, W, 30, 0},
    {Label22, Page(10), eKind_LABEL, X, 70, W, 16, 0},
    {rbBAUserResponseFixed, Page(10), eKind_RADIO, 28, 94, 460, 20, WS_GROUP},
    {rbBAUserResponseNotFixed, Page(10), eKind_RADIO, 28, 118, 460, 20, 0},

    // 11 BasicAnalysisUnsuccess
    {Label24, Page(11), eKind_LABEL, X, 12, W, 44, 0},
    {Label25, Page(11), eKind_LABEL, X, 66, W, 58, 0},

    // 12 DeepAnalysisReboot
    {Label27, Page(12), eKind_LABEL, X, 12, W, 44, 0},
    {lbRebootProgress, Page(12), eKind_LABEL, X, 80, W, 16, 0},
    {pbTimeToReboot, Page(12), eKind_PROGRESS, X, 100, W, 18, 0},
    {Button1, Page(12), eKind_BUTTON, 368, 134, 120, 25, 0},

    // 13 DeepAnalysisProblemFixed
    {Label34, Page(13), eKind_LABEL, X, 4, W, 30, 0},
    {StringGrid1, Page(13), eKind_LISTVIEW, X, 36, W, 64, LVS_NOCOLUMNHEADER},
    {Label33, Page(13), eKind_LABEL, X, 106, W, 44, 0},
    {RadioButton7, Page(13), eKind_RADIO, 24, 156, 464, 18, WS_GROUP},
    {RadioButton8, Page(13), eKind_RADIO, 24, 178, 464, 18, 0},

    // 14 DeepAnalysisUserAsk
    {Label29, Page(14), eKind_LABEL, X, 20, W, 30, 0},
    {Label31, Page(14), eKind_LABEL, X, 70, W, 16, 0},
    {rbBDAUserResponseFixed, Page(14), eKind_RADIO, 28, 94, 460, 20, WS_GROUP},
    {rbDAUserResponseNotFixed, Page(14), eKind_RADIO, 28, 118, 460, 20, 0},

    // 15 DeepAnalysisUnsuccess
    {Label21, Page(15), eKind_TITLE, X, 12, W, 22, 0},
    {Label35, Page(15), eKind_LABEL, X, 44, W, 44, 0},
    {Label36, Page(15), eKind_LABEL, X, 100, W, 16, 0},

    // 16 DeepAnalysisSuccess
    {Label23, Page(16), eKind_TITLE, X, 8, W, 22, 0},
    {Label37, Page(16), eKind_LABEL, X, 38, W, 44, 0},
    {Label26, Page(16), eKind_LABEL, X, 88, W, 44, 0},
    {CheckBox1, Page(16), eKind_CHECK, X, 136, W, 20, 0},
    {Label38, Page(16), eKind_LABEL, X, 166, W, 16, 0},

    // 17 UserCancel
    {panelCancelWait, Page(17), eKind_PANEL, 0, 0, 505, 64, 0},
    {Label41, panelCancelWait, eKind_LABEL, X, 10, W, 16, 0},
    {ttKitBar, panelCancelWait, eKind_TRACKBAR, X, 30, W, 26, 0},
    {Label39, Page(17), eKind_TITLE, X, 76, W, 22, 0},
    {Label40, Page(17), eKind_LABEL, X, 106, W, 44, 0},

    // 18 SendToOrvex holds nothing.

    // 19 SaveToDisk
    {Label30, Page(19), eKind_TITLE, X, 12, W, 22, 0},
    {Label18, Page(19), eKind_LABEL, X, 44, W, 30, 0},
    {Label19, Page(19), eKind_LABEL, X, 90, W, 16, 0},
    {edResultsPackDestination, Page(19), eKind_EDIT, X, 108, 432, 22, 0},
    {btBrowse, Page(19), eKind_BUTTON, 452, 107, 36, 24, 0},
    {lbPackageContents, Page(19), eKind_LABEL, X, 146, W, 58, 0},
    {cbRemovePersonalData, Page(19), eKind_CHECK, X, 210, W, 20, 0},

    // 20 The End (426 x 316)
    {Label28, Page(20), eKind_BIGTITLE, 28, 32, 370, 34, 0},
    {Label42, Page(20), eKind_LABEL, 28, 90, 370, 30, 0},
    {Label43, Page(20), eKind_LABEL, 28, 130, 370, 30, 0},
};

} // namespace

const SControlLayout* FormLayout(size_t& count)
{
    count = sizeof(kLayout) / sizeof(kLayout[0]);
    return kLayout;
}

} // namespace kvxui
