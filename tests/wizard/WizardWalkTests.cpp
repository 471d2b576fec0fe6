// Walks through the wizard with the stand-in core, in the language of the test pass: the agreement
// gate, Back and Next, the questions of the basic analysis, cancelling, saving and the end. Every page
// visited is compared with the text tables and photographed.
#include "tests/wizard/WizardFixture.h"

#include <commctrl.h>

namespace kvxtest {

namespace {

using namespace kvxui;

class WizardWalk : public WizardTest {};

std::string ReadAll(const std::string& path) { return ReadFileText(path); }

} // namespace

TEST_F(WizardWalk, AgreementGatesNextUntilAccepted)
{
    StartWithStandInCore();
    VisitPage(KVXDIAG2_GUI_PAGE_INITIAL);
    // The exact words of the buttons, independent of the tables.
    EXPECT_EQ(std::wstring(m_language == eLanguage_SPANISH ? L"&Siguiente  >" : L"&Next  >"), m_driver.Text(btNext));
    EXPECT_EQ(std::wstring(m_language == eLanguage_SPANISH ? L"<   &Atrás" : L"<   &Back"), m_driver.Text(btBack));

    ASSERT_TRUE(m_driver.Click(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_LICENSEAGREEMENT);
    EXPECT_FALSE(m_driver.IsChecked(cbLicenseAccept));
    EXPECT_FALSE(m_driver.IsEnabled(btNext));
    EXPECT_FALSE(m_driver.Click(btNext)) << "a disabled Next must not be clickable";

    struct SStep {
        const char* what;
        bool checked;
    };
    const SStep steps[] = {{"accept", true}, {"withdraw", false}, {"accept again", true}};
    for (const SStep& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_TRUE(m_driver.Click(cbLicenseAccept));
        EXPECT_EQ(step.checked, m_driver.IsChecked(cbLicenseAccept));
        EXPECT_EQ(step.checked, m_driver.IsEnabled(btNext));
    }

    // Back on the agreement page stays there.
    ASSERT_TRUE(m_driver.Click(btBack));
    EXPECT_EQ(KVXDIAG2_GUI_PAGE_LICENSEAGREEMENT, m_driver.PageIndex());

    ASSERT_TRUE(m_driver.Click(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_USERINFO);

    // The pages that the normal path never shows, photographed and read in place.
    for (int page : {KVXDIAG2_GUI_PAGE_INITIALUSERCHECKS, KVXDIAG2_GUI_PAGE_FILTERSSTATUS,
                     KVXDIAG2_GUI_PAGE_DIAGNOSTICRESULTS}) {
        SCOPED_TRACE(page);
        ExpectPageTexts(page);
        m_driver.ShowPageDirectly(page);
        Shot(page);
        m_driver.RestorePage(page);
    }
}

TEST_F(WizardWalk, BackFromPage7ShowsPage2AndEachNextAppendsToTheIncidentFile)
{
    StartWithStandInCore();
    WalkToPage7();
    ASSERT_FALSE(m_driver.IsVisible(lbDiagnosisEnd)) << "page 7 shows only the presentation of the analysis";
    EXPECT_TRUE(m_driver.IsVisible(lbBasicAnalysisPresentation));

    const std::string incidentFile = ResultsDirectory() + "\\KVXIncidenceFile.txt";
    ASSERT_FALSE(ResultsDirectory().empty());
    const std::string firstBlock =
        "\r\n############### Incidence Number: INC-2024-0042  ################# \r\n\r\n"
        "No hay conexi\xC3\xB3n a Internet desde las 9:00.";
    EXPECT_EQ(firstBlock, ReadAll(incidentFile));

    ASSERT_TRUE(m_driver.Click(btBack));
    VisitPage(KVXDIAG2_GUI_PAGE_USERINFO);
    ASSERT_TRUE(m_driver.SetText(reUserIssueDescription, L"Line one\r\nLine two"));
    ASSERT_TRUE(m_driver.SetText(edIssueNumber, L"7"));
    ASSERT_TRUE(m_driver.Click(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_DIAGNOSTICNORESULTS);
    EXPECT_EQ(firstBlock + "\r\n############### Incidence Number: 7  ################# \r\n\r\nLine one\r\nLine two",
              ReadAll(incidentFile));
}

TEST_F(WizardWalk, BasicAnalysisNotFixedTwiceThenFixedEndsOnTheSuccessPage)
{
    // The pause after each answer keeps page 9 on screen long enough to be seen.
    // The hold before the first question keeps page 8 on screen to be looked at.
    StartWithStandInCore({L"KVXFAKE_ANSWER_DELAY_MS=800", L"KVXFAKE_BASIC_HOLD_MS=3000"});
    WalkToPage7();
    // Next on page 7 starts the analysis and stays in its handler until the first question: posted.
    ASSERT_TRUE(m_driver.PostClick(btNext));
    ASSERT_TRUE(m_driver.WaitForPage(KVXDIAG2_GUI_PAGE_BASICANALYSISINPROGRESS, 10000));
    EXPECT_FALSE(m_driver.IsEnabled(btBack));
    EXPECT_FALSE(m_driver.IsEnabled(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_BASICANALYSISINPROGRESS);

    AnswerBasicQuestion(false);
    VisitPage(KVXDIAG2_GUI_PAGE_BASICANALYSISINPROGRESS);
    AnswerBasicQuestion(false);
    VisitPage(KVXDIAG2_GUI_PAGE_BASICANALYSISINPROGRESS);
    AnswerBasicQuestion(true);
    // "Fixed" goes straight to the result page, not back to the progress page.
    EXPECT_EQ(KVXDIAG2_GUI_PAGE_BASICANALYSISPROBLEMFIXED, m_driver.PageIndex());
    // The result page waits for the verdict: Next must not bring back a question nobody asks.
    EXPECT_FALSE(m_driver.Click(btNext));
    EXPECT_NE(KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK, m_driver.PageIndex());
    VisitPage(KVXDIAG2_GUI_PAGE_BASICANALYSISPROBLEMFIXED);
    VisitPage(KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS);

    EXPECT_EQ((std::vector<int>{4, 4, 3}), Answers(eKVXDIAG2Notify_FILTER_DISABLED));
    EXPECT_FALSE(m_driver.IsEnabled(btBack));
    EXPECT_TRUE(m_driver.IsEnabled(btNext));
    EXPECT_EQ(CloseText(), m_driver.Text(btCancel));
}

TEST_F(WizardWalk, BasicAnalysisNotFixedSixTimesEndsOnTheUnsuccessPage)
{
    StartWithStandInCore();
    WalkToPage7();
    // Next on page 7 starts the analysis and stays in its handler until the first question: posted.
    ASSERT_TRUE(m_driver.PostClick(btNext));
    for (int filter = 0; filter < 6; ++filter) {
        SCOPED_TRACE(filter);
        AnswerBasicQuestion(false);
    }
    VisitPage(KVXDIAG2_GUI_PAGE_BASICANALYSISUNSUCCESS);
    EXPECT_TRUE(m_driver.IsEnabled(btNext));
    EXPECT_EQ(std::vector<int>(6, 4), Answers(eKVXDIAG2Notify_FILTER_DISABLED));

    // Next starts the deep analysis.
    ASSERT_TRUE(m_driver.Click(btNext));
    EXPECT_FALSE(m_driver.IsEnabled(btNext));
    EXPECT_TRUE(WaitForJournal("job-start", {{"type", "3"}}, 10000));
}

TEST_F(WizardWalk, CancelDuringAQuestionAnswersExitingAtOnceAndEndsOnTheCancelPage)
{
    StartWithStandInCore();
    WalkToPage7();
    // Next on page 7 starts the analysis and stays in its handler until the first question: posted.
    ASSERT_TRUE(m_driver.PostClick(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK);

    const double answeredAt = CancelAndAnswer(IDYES);
    SJournalEntry answer;
    ASSERT_TRUE(WaitForJournal("answer", {{"code", "1"}, {"answer", "5"}}, 5000, &answer));
    const double delay = answer.ms - answeredAt;
    RecordProperty("cancel_answer_ms", static_cast<int>(delay));
    EXPECT_LT(delay, 500.0) << "the job must be released as soon as the user confirms";

    VisitPage(KVXDIAG2_GUI_PAGE_USERCANCEL, "cancelling");
    EXPECT_FALSE(m_driver.IsVisible(btBack));
    EXPECT_FALSE(m_driver.IsVisible(btNext));
    // The cancel thread ends with the Cancel button turned into Close.
    ASSERT_TRUE(WaitForJournal("cancel", {{"rc", "0"}}, 10000));
    const double end = CWizardDriver::NowMs() + 15000;
    while (!(m_driver.IsEnabled(btCancel) && m_driver.Text(btCancel) == CloseText()) && CWizardDriver::NowMs() < end) {
        ::Sleep(20);
    }
    EXPECT_TRUE(m_driver.IsEnabled(btCancel));
    EXPECT_EQ(CloseText(), m_driver.Text(btCancel));
    EXPECT_EQ(std::wstring(m_language == eLanguage_SPANISH ? L"&Cerrar" : L"&Close"), m_driver.Text(btCancel));
    EXPECT_FALSE(m_driver.IsVisible(panelCancelWait));
    Shot(KVXDIAG2_GUI_PAGE_USERCANCEL, "cancelled");

    ASSERT_TRUE(m_driver.Click(btCancel));
    ASSERT_TRUE(m_driver.WaitForExit(10000));
    SJournalEntry end2;
    ASSERT_TRUE(WaitForJournal("end", {}, 1000, &end2));
    EXPECT_EQ(0, end2.Int("running")) << "the core was finished while a job still ran";
}

TEST_F(WizardWalk, CancelAnsweredNoChangesNothing)
{
    StartWithStandInCore();
    WalkToPage7();
    // Next on page 7 starts the analysis and stays in its handler until the first question: posted.
    ASSERT_TRUE(m_driver.PostClick(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK);
    CancelAndAnswer(IDNO);
    ASSERT_TRUE(m_driver.WaitForQuery(eFormQuery_NOTIFY_DEPTH, 1, 5000)) << "the question must still wait";
    EXPECT_EQ(KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK, m_driver.PageIndex());
    const double end = CWizardDriver::NowMs() + 5000;
    while (!m_driver.IsEnabled(btCancel) && CWizardDriver::NowMs() < end) {
        ::Sleep(10);
    }
    EXPECT_TRUE(m_driver.IsEnabled(btCancel));
    EXPECT_EQ(std::wstring(m_language == eLanguage_SPANISH ? L"&Cancelar" : L"&Cancel"), m_driver.Text(btCancel));
    EXPECT_TRUE(Answers(eKVXDIAG2Notify_FILTER_DISABLED).empty());

    AnswerBasicQuestion(true);
    VisitPage(KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS);
    EXPECT_EQ((std::vector<int>{3}), Answers(eKVXDIAG2Notify_FILTER_DISABLED));
}

TEST_F(WizardWalk, CancelWithNothingRunningOffersCloseAndCloses)
{
    StartWithStandInCore();
    VisitPage(KVXDIAG2_GUI_PAGE_INITIAL);
    ASSERT_TRUE(m_driver.Click(btCancel));
    VisitPage(KVXDIAG2_GUI_PAGE_USERCANCEL, "idle");
    EXPECT_EQ(nullptr, m_driver.WaitForMessageBox(200)) << "nothing runs, so nothing is asked";
    EXPECT_EQ(CloseText(), m_driver.Text(btCancel));
    EXPECT_TRUE(m_driver.IsEnabled(btCancel));
    EXPECT_FALSE(m_driver.IsVisible(btBack));
    EXPECT_FALSE(m_driver.IsVisible(btNext));
    EXPECT_FALSE(m_driver.IsVisible(panelLeft));
    ASSERT_TRUE(m_driver.Click(btCancel));
    EXPECT_TRUE(m_driver.WaitForExit(10000));
}

TEST_F(WizardWalk, SaveToDiskWaitsForADestinationThenPacksAndEnds)
{
    StartWithStandInCore();
    WalkToPage7();
    // Next on page 7 starts the analysis and stays in its handler until the first question: posted.
    ASSERT_TRUE(m_driver.PostClick(btNext));
    AnswerBasicQuestion(true);
    VisitPage(KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS);
    ASSERT_TRUE(m_driver.Click(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_SAVETODISK);
    EXPECT_EQ(std::wstring(L"..."), m_driver.Text(btBrowse));

    // Back stays disabled from the success page on, so the empty page before this one is only
    // photographed in place.
    EXPECT_FALSE(m_driver.IsEnabled(btBack));
    m_driver.ShowPageDirectly(KVXDIAG2_GUI_PAGE_SENDTOORVEX);
    Shot(KVXDIAG2_GUI_PAGE_SENDTOORVEX);
    m_driver.RestorePage(KVXDIAG2_GUI_PAGE_SENDTOORVEX);

    // An empty destination does nothing.
    ASSERT_TRUE(m_driver.Click(btNext));
    EXPECT_EQ(KVXDIAG2_GUI_PAGE_SAVETODISK, m_driver.PageIndex());
    EXPECT_TRUE(m_driver.IsEnabled(btNext));
    EXPECT_FALSE(WaitForJournal("pack", {}, 300));

    const std::string destination = m_temp->Path() + "\\results.zip";
    ASSERT_TRUE(m_driver.SetText(edResultsPackDestination, std::wstring(destination.begin(), destination.end())));
    Shot(KVXDIAG2_GUI_PAGE_SAVETODISK, "destination");
    ASSERT_TRUE(m_driver.Click(btNext));
    ASSERT_TRUE(WaitForJournal("pack", {{"destination", destination}}, 10000));
    VisitPage(KVXDIAG2_GUI_PAGE_FINAL);
    EXPECT_FALSE(m_driver.IsVisible(btBack));
    EXPECT_FALSE(m_driver.IsVisible(btNext));
    EXPECT_TRUE(m_driver.IsVisible(btCancel));
    EXPECT_TRUE(m_driver.IsEnabled(btCancel));
    EXPECT_EQ(CloseText(), m_driver.Text(btCancel));

    ASSERT_TRUE(m_driver.Click(btCancel));
    // Closing after the end offers the reboot that puts the machine's settings back; no reboot here.
    AnswerRebootQuestion(eCodeText_CLOSING_REBOOT_QUESTION, IDCANCEL);
    ASSERT_TRUE(m_driver.WaitForExit(10000));
    SJournalEntry end;
    ASSERT_TRUE(WaitForJournal("end", {}, 1000, &end));
    EXPECT_EQ(0, end.Int("running"));
}

TEST_F(WizardWalk, ResumedDeepAnalysisAtStepTwoShowsItsProgressPageThenAsks)
{
    // The pause before the first notification keeps page 5 on screen.
    StartWithStandInCore({L"KVXFAKE_PENDING_STEP=2", L"KVXFAKE_DEEP=w8000,11,14,16"});
    ASSERT_TRUE(m_driver.WaitForPage(KVXDIAG2_GUI_PAGE_DIAGNOSTICINPROGRESS, 5000));
    EXPECT_FALSE(m_driver.IsEnabled(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_DIAGNOSTICINPROGRESS);
    EXPECT_TRUE(WaitForJournal("job-start", {{"type", "3"}}, 5000));

    VisitPage(KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK);
    EXPECT_FALSE(m_driver.IsChecked(rbBDAUserResponseFixed));
    EXPECT_FALSE(m_driver.IsChecked(rbDAUserResponseNotFixed));
    EXPECT_TRUE(m_driver.IsEnabled(btNext));
    // Neither answer picked counts as "fixed".
    ASSERT_TRUE(m_driver.Click(btNext));
    ASSERT_TRUE(WaitForJournal("answer", {{"code", "14"}}, 5000));
    EXPECT_EQ((std::vector<int>{3}), Answers(eKVXDIAG2Notify_DEEPANALYSIS_USER_ASK));

    VisitPage(KVXDIAG2_GUI_PAGE_DEEPANALYSISUNSUCCESS);
    EXPECT_FALSE(m_driver.IsEnabled(btBack));
    ASSERT_TRUE(m_driver.Click(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_SAVETODISK);
}

TEST_F(WizardWalk, BackFromTheDeepQuestionShowsTheFixedPage)
{
    StartWithStandInCore({L"KVXFAKE_PENDING_STEP=4", L"KVXFAKE_DEEP=11,14"});
    VisitPage(KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK);
    ASSERT_TRUE(m_driver.Click(btBack));
    VisitPage(KVXDIAG2_GUI_PAGE_DEEPANALYSISPROBLEMFIXED);
    EXPECT_FALSE(m_driver.IsEnabled(btBack));
    EXPECT_FALSE(m_driver.IsEnabled(btNext));
    // Only cancelling is left; it releases the waiting job.
    CancelAndAnswer(IDYES);
    ASSERT_TRUE(WaitForJournal("answer", {{"code", "14"}, {"answer", "5"}}, 5000));
    VisitPage(KVXDIAG2_GUI_PAGE_USERCANCEL);
}

TEST_F(WizardWalk, DeepAnalysisSuccessShowsTheSuccessPage)
{
    StartWithStandInCore({L"KVXFAKE_PENDING_STEP=4", L"KVXFAKE_DEEP=11,14,15"});
    VisitPage(KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK);
    ASSERT_TRUE(m_driver.Click(rbBDAUserResponseFixed));
    ASSERT_TRUE(m_driver.Click(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS, "deep");
    EXPECT_EQ(CloseText(), m_driver.Text(btCancel));
    EXPECT_TRUE(m_driver.IsEnabled(btNext));
}

TEST_F(WizardWalk, ClosingTheWindowDuringAQuestionReleasesTheJob)
{
    StartWithStandInCore();
    WalkToPage7();
    // Next on page 7 starts the analysis and stays in its handler until the first question: posted.
    ASSERT_TRUE(m_driver.PostClick(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK);
    ASSERT_TRUE(m_driver.Close(10000)) << "the wizard must close although a job waits for an answer";
    EXPECT_EQ((std::vector<int>{5}), Answers(eKVXDIAG2Notify_FILTER_DISABLED));
    SJournalEntry end;
    ASSERT_TRUE(WaitForJournal("end", {}, 1000, &end));
    EXPECT_EQ(0, end.Int("running")) << "the core was finished while a job still ran";
}

} // namespace kvxtest
