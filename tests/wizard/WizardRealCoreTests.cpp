// The wizard against the real core library and the simulated product: the basic analysis with the
// user's answers, the package, and a cancel during a question. Parts of the core that are not there
// yet are detected at run time and the test is skipped with the reason.
#include "tests/support/SimNetCfg.h"
#include "tests/support/SimProduct.h"
#include "tests/wizard/WizardFixture.h"

#include <memory>

namespace kvxtest {

namespace {

using namespace kvxui;

constexpr DWORD KVX_ANALYSIS_TIMEOUT_MS = 240000;

bool IsWineBuiltinStub(const std::wstring& path)
{
    const std::string text = ReadFileText(Narrow(path));
    return text.empty() || text.find("Wine builtin DLL") != std::string::npos ||
           text.find("Wine placeholder DLL") != std::string::npos;
}

std::string DllOverride(const char* name)
{
    std::string value;
    GetString(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", name, value);
    return value;
}

class WizardRealCore : public WizardTest {
protected:
    void SetUp() override
    {
        WizardTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        if (::GetFileAttributesW((WizardProgramDirectory() + L"KVXDiagCore.dll").c_str()) == INVALID_FILE_ATTRIBUTES) {
            GTEST_SKIP() << "KVXDiagCore.dll is not built beside the wizard";
        }
        // A basic analysis runs ping and nslookup: only the prefix's stand-ins may answer them.
        wchar_t system[MAX_PATH];
        const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
        const std::wstring systemDir(system, length);
        for (const char* program : {"ping.exe", "nslookup.exe"}) {
            if (DllOverride(program) != "native" ||
                IsWineBuiltinStub(systemDir + L"\\" + std::wstring(program, program + strlen(program)))) {
                GTEST_SKIP() << "the prefix has no stand-in for " << program
                             << "; a basic analysis could send packets off this machine";
            }
        }
        m_product.reset(new CSimProduct());
        if (!m_product->Error().empty()) {
            GTEST_SKIP() << "the simulated product could not be installed: " << m_product->Error();
        }
        m_netcfg.reset(new CSimNetCfgRegistration());
        if (m_netcfg->Result() != ERROR_SUCCESS) {
            GTEST_SKIP() << "the network configuration double could not be registered: " << m_netcfg->Result();
        }
        m_model.reset(new CSimNetCfgModel());
        if (m_model->Result() != ERROR_SUCCESS || m_model->AddTypicalMachine() != ERROR_SUCCESS) {
            GTEST_SKIP() << "the network configuration model could not be made";
        }
    }

    void TearDown() override
    {
        WizardTest::TearDown();
        m_model.reset();
        m_netcfg.reset();
        m_product.reset();
    }

    // Goes from page 7 to the first question. A core whose basic analysis ends without asking is
    // not complete yet: the test is skipped, naming the notification it ended with.
    void StartBasicAnalysisOrSkip()
    {
        WalkToPage7();
        ASSERT_TRUE(m_driver.PostClick(btNext));
        const double end = CWizardDriver::NowMs() + KVX_ANALYSIS_TIMEOUT_MS;
        for (;;) {
            if (m_driver.PageIndex() == KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK) {
                return;
            }
            const LRESULT last = m_driver.Query(eFormQuery_LAST_NOTIFICATION);
            if (last == eKVXDIAG2Notify_BASICANALYSIS_ENDED || last == eKVXDIAG2Notify_BASICANALYSIS_CANCELLED ||
                last == eKVXDIAG2Notify_BASICANALYSIS_UNSUCCESS_FINISHED) {
                GTEST_SKIP() << "the core's basic analysis ended with notification " << last
                             << " before asking anything: it is not complete yet";
            }
            ASSERT_LT(CWizardDriver::NowMs(), end) << "no question within " << KVX_ANALYSIS_TIMEOUT_MS / 1000
                                                   << " s; last notification " << last;
            ::Sleep(50);
        }
    }

    std::unique_ptr<CSimProduct> m_product;
    std::unique_ptr<CSimNetCfgRegistration> m_netcfg;
    std::unique_ptr<CSimNetCfgModel> m_model;
};

bool WaitForPageLong(const CWizardDriver& driver, int page) { return driver.WaitForPage(page, KVX_ANALYSIS_TIMEOUT_MS); }

} // namespace

TEST_F(WizardRealCore, BasicAnalysisNotFixedNotFixedFixedThenThePackageIsSaved)
{
    StartWithRealCore();
    StartBasicAnalysisOrSkip();
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    for (int question = 0; question < 2; ++question) {
        SCOPED_TRACE(question);
        AnswerBasicQuestion(false);
        ASSERT_TRUE(WaitForPageLong(m_driver, KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK))
            << "last notification " << m_driver.Query(eFormQuery_LAST_NOTIFICATION);
    }
    AnswerBasicQuestion(true);
    ASSERT_TRUE(WaitForPageLong(m_driver, KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS));
    VisitPage(KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS, "real");
    EXPECT_EQ(CloseText(), m_driver.Text(btCancel));

    ASSERT_TRUE(m_driver.Click(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_SAVETODISK);
    const std::string destination = m_temp->Path() + "\\KVXDiag2-results.zip";
    ASSERT_TRUE(m_driver.SetText(edResultsPackDestination, std::wstring(destination.begin(), destination.end())));
    ASSERT_TRUE(m_driver.Click(btNext));
    if (!WaitForPageLong(m_driver, KVXDIAG2_GUI_PAGE_FINAL)) {
        GTEST_SKIP() << "pack and send did not finish; last notification "
                     << m_driver.Query(eFormQuery_LAST_NOTIFICATION);
    }
    VisitPage(KVXDIAG2_GUI_PAGE_FINAL, "real");
    EXPECT_EQ(0u, ReadFileText(destination).find("PK")) << "the package is not a ZIP archive";
    EXPECT_FALSE(m_driver.IsVisible(btNext));
    ASSERT_TRUE(m_driver.Click(btCancel));
    EXPECT_TRUE(m_driver.WaitForExit(30000));
}

TEST_F(WizardRealCore, BasicAnalysisNotFixedSixTimesEndsUnsuccessfulWithEveryFilterBack)
{
    StartWithRealCore();
    StartBasicAnalysisOrSkip();
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    int questions = 0;
    while (m_driver.PageIndex() == KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK && questions < 6) {
        AnswerBasicQuestion(false);
        ++questions;
        const double end = CWizardDriver::NowMs() + KVX_ANALYSIS_TIMEOUT_MS;
        // Wait for the next question or the end of the analysis.
        while (CWizardDriver::NowMs() < end) {
            const int page = m_driver.PageIndex();
            if (page == KVXDIAG2_GUI_PAGE_BASICANALYSISUNSUCCESS ||
                (page == KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK && m_driver.Query(eFormQuery_NOTIFY_DEPTH) == 1)) {
                break;
            }
            ::Sleep(50);
        }
    }
    VisitPage(KVXDIAG2_GUI_PAGE_BASICANALYSISUNSUCCESS, "real");
    // The core asks only about the filters it could switch off, so the count is the core's matter;
    // the wizard must have shown every question it was asked and then the end.
    RecordProperty("questions", questions);
    EXPECT_GE(questions, 1);
    EXPECT_EQ(0, m_driver.Query(eFormQuery_NOTIFY_DEPTH));
    for (const char* filter : {"KVXFLTA", "KVXFLTB", "KVXFLTC", "KVXFLTD", "KVXFLTE", "KVXFLTF"}) {
        EXPECT_TRUE(m_product->FilterEnabled(filter)) << filter << " was not enabled again";
    }
}

TEST_F(WizardRealCore, CancelDuringAQuestionStopsTheRealJob)
{
    StartWithRealCore();
    StartBasicAnalysisOrSkip();
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    CancelAndAnswer(IDYES);
    VisitPage(KVXDIAG2_GUI_PAGE_USERCANCEL, "real");
    const double end = CWizardDriver::NowMs() + 60000;
    while (!(m_driver.IsEnabled(btCancel) && m_driver.Text(btCancel) == CloseText()) && CWizardDriver::NowMs() < end) {
        ::Sleep(50);
    }
    ASSERT_EQ(CloseText(), m_driver.Text(btCancel));
    ASSERT_TRUE(m_driver.Click(btCancel));
    EXPECT_TRUE(m_driver.WaitForExit(30000));
}

} // namespace kvxtest
