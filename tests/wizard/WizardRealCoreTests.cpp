// The wizard against the real core library and the simulated product: the basic analysis with the
// user's answers, the package, and a cancel during a question. Parts of the core that are not there
// yet are detected at run time and the test is skipped with the reason.
#include "tests/support/CoreDriver.h"
#include "tests/support/SimAntivirus.h"
#include "tests/support/SimNetCfg.h"
#include "tests/support/SimProduct.h"
#include "tests/wizard/WizardFixture.h"

#include <memory>
#include <utility>

namespace kvxtest {

namespace {

using namespace kvxui;

constexpr DWORD KVX_ANALYSIS_TIMEOUT_MS = 240000;
// Where the deep analysis records each driver's start type before it first switches it.
constexpr const char* KVX_SWITCHED_DRIVERS_KEY =
    "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2\\SwitchedDrivers";

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
            FAIL() << "KVXDiagCore.dll is not built beside the wizard";
        }
        // A basic analysis runs ping and nslookup: only the prefix's stand-ins may answer them.
        wchar_t system[MAX_PATH];
        const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
        const std::wstring systemDir(system, length);
        for (const char* program : {"ping.exe", "nslookup.exe"}) {
            if (DllOverride(program) != "native" ||
                IsWineBuiltinStub(systemDir + L"\\" + std::wstring(program, program + strlen(program)))) {
                FAIL() << "the prefix has no stand-in for " << program
                             << "; a basic analysis could send packets off this machine";
            }
        }
        m_product.reset(new CSimProduct());
        if (!m_product->Error().empty()) {
            FAIL() << "the simulated product could not be installed: " << m_product->Error();
        }
        m_netcfg.reset(new CSimNetCfgRegistration());
        if (m_netcfg->Result() != ERROR_SUCCESS) {
            FAIL() << "the network configuration double could not be registered: " << m_netcfg->Result();
        }
        m_model.reset(new CSimNetCfgModel());
        if (m_model->Result() != ERROR_SUCCESS || m_model->AddTypicalMachine() != ERROR_SUCCESS) {
            FAIL() << "the network configuration model could not be made";
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
    void StartBasicAnalysis()
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
                FAIL() << "the core's basic analysis ended with notification " << last
                             << " before asking anything";
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

// The deep analysis across real reboots of the Wine session: the core's reboot ends the wizard, and the
// autostart entry (KVXDiag2.bat beside the program) starts it again at once. The antivirus is as the
// first start left it (shield off, module aside), so no start asks anything until the end.
class WizardRealCoreReboot : public WizardRealCore {
protected:
    void SetUp() override
    {
        WizardRealCore::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        SSimAntivirusOptions options;
        options.shieldStart = 4;
        options.module = EModuleFile::ASIDE;
        m_antivirus.reset(new CSimAntivirus(options));
        ASSERT_EQ("", m_antivirus->Error());
    }
    void TearDown() override
    {
        WizardRealCore::TearDown();
        m_antivirus.reset();
    }

    // Puts in a product whose plug-in filters other than KVXFLTE cannot be switched, so that the basic
    // analysis asks once and then ends without a culprit.
    void InstallProductWithOneFilter()
    {
        SSimProductOptions options;
        // An SDK generation that switches the plug-ins itself, and so refuses those not installed.
        options.sdk = ESimSdk::V3_2;
        options.omitServices = {"KVXFLTF", "KVXFLTD", "KVXFLTC", "KVXFLTB", "KVXFLTA"};
        m_product.reset();
        m_product.reset(new CSimProduct(options));
        ASSERT_EQ("", m_product->Error());
    }

    // On page 12: "Restart now". The core stores its state and reboots, which ends this wizard; the
    // autostart entry starts the next one.
    void RestartNowAndFollowTheReboot()
    {
        ASSERT_TRUE(WaitForPageLong(m_driver, KVXDIAG2_GUI_PAGE_DEEPANALYSISREBOOT))
            << "last notification " << m_driver.Query(eFormQuery_LAST_NOTIFICATION);
        VisitPage(KVXDIAG2_GUI_PAGE_DEEPANALYSISREBOOT, "real");
        ASSERT_TRUE(m_driver.Click(Button1));
        ASSERT_TRUE(m_driver.WaitForExit(60000)) << "the reboot did not end the wizard";
        ASSERT_TRUE(m_driver.Attach(120000)) << "the autostart entry did not start the wizard again";
        ExpectNoQuestion();
        // The wizard's own entry has replaced the core's by the time its window shows.
        std::string autostart;
        EXPECT_TRUE(ReadAutostart(autostart));
        EXPECT_EQ("\"" + Narrow(RealWizardPath()) + "\"", autostart);
    }

    void ExpectNoQuestion() { EXPECT_EQ(nullptr, m_driver.WaitForMessageBox(0)) << "a question was asked"; }

    // The results directory that the wizard told the log to use, without the log's file name.
    static std::string ResultsDirectoryOfThisRun()
    {
        std::string path;
        GetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2\\Log\\DD000002",
                  "LOG_FilePath", path, KEY_WOW64_32KEY);
        const size_t slash = path.find_last_of('\\');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }

    // From the verdict page: save the package, close on the last page without a reboot, and check that
    // the machine is back and the wizard's state gone.
    void SaveCloseAndExpectTheMachineRestored()
    {
        ASSERT_TRUE(m_driver.Click(btNext));
        VisitPage(KVXDIAG2_GUI_PAGE_SAVETODISK, "real");
        const std::string destination = m_temp->Path() + "\\KVXDiag2-results.zip";
        ASSERT_TRUE(m_driver.SetText(edResultsPackDestination, std::wstring(destination.begin(), destination.end())));
        ASSERT_TRUE(m_driver.Click(btNext));
        ASSERT_TRUE(WaitForPageLong(m_driver, KVXDIAG2_GUI_PAGE_FINAL))
            << "last notification " << m_driver.Query(eFormQuery_LAST_NOTIFICATION);
        EXPECT_EQ(0u, ReadFileText(destination).find("PK")) << "the package is not a ZIP archive";
        ASSERT_TRUE(m_driver.Click(btCancel));
        AnswerRebootQuestion(eCodeText_CLOSING_REBOOT_QUESTION, IDCANCEL);
        ASSERT_TRUE(m_driver.WaitForExit(30000));
        ExpectTheMachineRestored();
    }

    void ExpectTheMachineRestored()
    {
        EXPECT_EQ(1u, CSimAntivirus::ShieldStart().value_or(0xDEAD));
        EXPECT_TRUE(m_antivirus->ModuleInPlace());
        std::string autostart;
        EXPECT_FALSE(ReadAutostart(autostart)) << autostart;
        EXPECT_FALSE(ReadResumeState().keyExists) << "the wizard's key is still there";
    }

    // The antivirus as the start-up reboot leaves it: shield off, module aside.
    void ReinstallAntivirusLeftOff()
    {
        SSimAntivirusOptions options;
        options.shieldStart = 4;
        options.module = EModuleFile::ASIDE;
        m_antivirus.reset();
        m_antivirus.reset(new CSimAntivirus(options));
        ASSERT_EQ("", m_antivirus->Error());
    }

    std::unique_ptr<CSimAntivirus> m_antivirus;
};

} // namespace

TEST_F(WizardRealCore, BasicAnalysisNotFixedNotFixedFixedThenThePackageIsSaved)
{
    StartWithRealCore();
    StartBasicAnalysis();
    if (HasFatalFailure()) {
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
    // The user asks for personal data to be removed: the package says it was cleaned, and the choice
    // does not outlive the wizard.
    EXPECT_FALSE(m_driver.IsChecked(cbRemovePersonalData)) << "unchecked until the user asks";
    ASSERT_TRUE(m_driver.Click(cbRemovePersonalData));
    EXPECT_TRUE(m_driver.IsChecked(cbRemovePersonalData));
    Shot(KVXDIAG2_GUI_PAGE_SAVETODISK, "remove-personal-data");
    const std::string destination = m_temp->Path() + "\\KVXDiag2-results.zip";
    ASSERT_TRUE(m_driver.SetText(edResultsPackDestination, std::wstring(destination.begin(), destination.end())));
    ASSERT_TRUE(m_driver.Click(btNext));
    if (!WaitForPageLong(m_driver, KVXDIAG2_GUI_PAGE_FINAL)) {
        FAIL() << "pack and send did not finish; last notification "
                     << m_driver.Query(eFormQuery_LAST_NOTIFICATION);
    }
    VisitPage(KVXDIAG2_GUI_PAGE_FINAL, "real");
    const std::string package = ReadFileText(destination);
    EXPECT_EQ(0u, package.find("PK")) << "the package is not a ZIP archive";
    EXPECT_NE(std::string::npos, package.find("KVXPrivacy.txt")) << "the package has no note of its cleaning";
    EXPECT_EQ(std::string::npos, package.find("KVXPrivacyMap.txt")) << "the table of tokens was packed";
    std::string log;
    GetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2\\Log\\DD000002",
              "LOG_FilePath", log, KEY_WOW64_32KEY);
    EXPECT_NE(std::string::npos, ReadFileText(log.substr(0, log.find_last_of('\\')) + "\\KVXDiagReport.txt")
                                     .find("Personal data: removed from the package, as the user chose"));
    EXPECT_FALSE(m_driver.IsVisible(btNext));
    ASSERT_TRUE(m_driver.Click(btCancel));
    AnswerRebootQuestion(eCodeText_CLOSING_REBOOT_QUESTION, IDCANCEL);
    EXPECT_TRUE(m_driver.WaitForExit(30000));
    DWORD choice = 0;
    EXPECT_FALSE(GetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2",
                          "RemovePersonalData", choice, KEY_WOW64_32KEY))
        << "the choice outlived the wizard";
}

TEST_F(WizardRealCore, BasicAnalysisNotFixedSixTimesEndsUnsuccessfulWithEveryFilterBack)
{
    StartWithRealCore();
    StartBasicAnalysis();
    if (HasFatalFailure()) {
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
    StartBasicAnalysis();
    if (HasFatalFailure()) {
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


// The shortest whole path without a culprit: a fresh start whose basic analysis finds nothing, the
// deep analysis's first step and its reboot, the reference step resumed on page 5 and its reboot, and
// "not fixed" with the NDIS manager off.
TEST_F(WizardRealCoreReboot, NoSolutionAfterTwoRebootsFromAFreshStart)
{
    InstallProductWithOneFilter();
    StartWithRealCore();
    StartBasicAnalysis();
    if (HasFatalFailure()) {
        return;
    }
    const std::string resultsDir = ResultsDirectoryOfThisRun();
    AnswerBasicQuestion(false);
    ASSERT_TRUE(WaitForPageLong(m_driver, KVXDIAG2_GUI_PAGE_BASICANALYSISUNSUCCESS))
        << "last notification " << m_driver.Query(eFormQuery_LAST_NOTIFICATION);
    ASSERT_TRUE(m_driver.PostClick(btNext));

    // Step 1 switches the TDI manager off and asks to reboot.
    RestartNowAndFollowTheReboot();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(4u, ServiceStart("KVXTMGR").value_or(0));
    ASSERT_TRUE(m_driver.WaitForPage(KVXDIAG2_GUI_PAGE_DIAGNOSTICINPROGRESS, 10000)) << "page " << m_driver.PageIndex();
    VisitPage(KVXDIAG2_GUI_PAGE_DIAGNOSTICINPROGRESS, "real");
    EXPECT_FALSE(m_driver.IsEnabled(btNext));
    const SResumeState state = ReadResumeState();
    EXPECT_EQ(2u, state.step.value_or(0));
    EXPECT_EQ(resultsDir, state.resultsDir.value_or(""));

    // Step 2 gathers the reference data, switches the NDIS manager off and asks to reboot again.
    RestartNowAndFollowTheReboot();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(4u, ServiceStart("KVXNMGR").value_or(0));
    ASSERT_TRUE(WaitForPageLong(m_driver, KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK));
    VisitPage(KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK, "real");
    ASSERT_TRUE(m_driver.Click(rbDAUserResponseNotFixed));
    ASSERT_TRUE(m_driver.Click(btNext));
    ASSERT_TRUE(WaitForPageLong(m_driver, KVXDIAG2_GUI_PAGE_DEEPANALYSISUNSUCCESS))
        << "last notification " << m_driver.Query(eFormQuery_LAST_NOTIFICATION);
    VisitPage(KVXDIAG2_GUI_PAGE_DEEPANALYSISUNSUCCESS, "real");
    EXPECT_EQ(1u, ServiceStart("KVXNMGR").value_or(0));

    // The restarts came through the batch file that the core named, and each run's log went on in the
    // one results directory.
    const std::string log = ReadFileText(resultsDir + "\\KVXDiagLog.dat");
    const std::string bin = Narrow(WizardProgramDirectory());
    EXPECT_NE(std::string::npos, log.find("Autoarranque preparado: \"" + bin + "KVXDiag2.bat\""));
    EXPECT_NE(std::string::npos, log.find("Hay un análisis en profundidad pendiente, en estado: 0x3. Se relanza."));

    SaveCloseAndExpectTheMachineRestored();
}

// A culprit through three reboots, from where the first step's reboot leaves the machine (TDI manager
// off, step 2 stored): the reference step on page 5; "fixed" with the NDIS manager off, which brings
// it back and takes the TDI manager off; "not fixed", which brings that back and takes KVXFLTE off;
// and "fixed", which names KVXFLTE and leaves it off.
TEST_F(WizardRealCoreReboot, AFilterNamedAfterThreeRebootsFromTheReferenceStep)
{
    CScopedTempDir results("KVXDIAG2-Results-seed");
    ASSERT_TRUE(StoreResumeState(2, results.Path()));
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\KVXTMGR", "Start", 4));
    // As the first step leaves it: the TDI manager's start type before it was switched is on record.
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, KVX_SWITCHED_DRIVERS_KEY, "KVXTMGR", 1, KEY_WOW64_32KEY));

    StartWithRealCore();
    ASSERT_FALSE(HasFatalFailure());
    ExpectNoQuestion();
    ASSERT_TRUE(m_driver.WaitForPage(KVXDIAG2_GUI_PAGE_DIAGNOSTICINPROGRESS, 10000)) << "page " << m_driver.PageIndex();
    EXPECT_FALSE(m_driver.IsEnabled(btNext));

    struct SBoot {
        const char* what;
        bool fixed;         // the answer on page 14 of the next boot
        DWORD storedStep;   // what the reboot leaves for the next boot
        const char* off;    // switched off by this boot
        const char* backOn; // switched on again by this boot
    };
    const SBoot boots[] = {
        {"reference data, NDIS manager off", true, 3, "KVXNMGR", nullptr},
        {"fixed: NDIS manager back, TDI manager off", false, 8, "KVXTMGR", "KVXNMGR"},
        {"not fixed: TDI manager back, KVXFLTE off", true, 4, "KVXFLTE", "KVXTMGR"},
    };
    for (const SBoot& boot : boots) {
        SCOPED_TRACE(boot.what);
        RestartNowAndFollowTheReboot();
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(boot.storedStep, ReadResumeState().step.value_or(0));
        EXPECT_EQ(results.Path(), ReadResumeState().resultsDir.value_or(""));
        EXPECT_EQ(4u, ServiceStart(boot.off).value_or(0));
        if (boot.backOn != nullptr) {
            EXPECT_EQ(1u, ServiceStart(boot.backOn).value_or(0));
        }
        ASSERT_TRUE(WaitForPageLong(m_driver, KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK))
            << "last notification " << m_driver.Query(eFormQuery_LAST_NOTIFICATION);
        ASSERT_TRUE(m_driver.Click(boot.fixed ? rbBDAUserResponseFixed : rbDAUserResponseNotFixed));
        ASSERT_TRUE(m_driver.Click(btNext));
    }

    ASSERT_TRUE(WaitForPageLong(m_driver, KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS))
        << "last notification " << m_driver.Query(eFormQuery_LAST_NOTIFICATION);
    VisitPage(KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS, "deep-real");
    EXPECT_EQ(4u, ServiceStart("KVXFLTE").value_or(0)) << "the culprit stays off";
    EXPECT_EQ(1u, ServiceStart("KVXTMGR").value_or(0));
    EXPECT_EQ(1u, ServiceStart("KVXNMGR").value_or(0));

    SaveCloseAndExpectTheMachineRestored();
}

// However the wizard ends without a deep analysis waiting, it ends the run as the last page does: the
// shield on, the module back, no autostart value, no wizard key, and the restart offered.
TEST_F(WizardRealCoreReboot, EveryEndingWithoutAPendingAnalysisPutsTheMachineBack)
{
    enum EEnding { CLOSE_BOX_ON_PAGE_0, CLOSE_ON_PAGE_16, CLOSE_ON_PAGE_19 };
    const struct {
        const char* name;
        EEnding ending;
    } cases[] = {
        {"close box on page 0", CLOSE_BOX_ON_PAGE_0},
        {"Close on the success page", CLOSE_ON_PAGE_16},
        {"Close on the save page", CLOSE_ON_PAGE_19},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReinstallAntivirusLeftOff();
        m_product.reset();
        m_product.reset(new CSimProduct());
        ASSERT_EQ("", m_product->Error());
        StartWithRealCore();
        ASSERT_FALSE(HasFatalFailure());
        ExpectNoQuestion();
        if (c.ending == CLOSE_BOX_ON_PAGE_0) {
            VisitPage(KVXDIAG2_GUI_PAGE_INITIAL);
            EXPECT_TRUE(CloseAnsweringTheClosingQuestion());
        } else {
            StartBasicAnalysis();
            ASSERT_FALSE(HasFatalFailure());
            AnswerBasicQuestion(true);
            ASSERT_TRUE(WaitForPageLong(m_driver, KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS));
            if (c.ending == CLOSE_ON_PAGE_19) {
                ASSERT_TRUE(m_driver.Click(btNext));
                VisitPage(KVXDIAG2_GUI_PAGE_SAVETODISK, "real");
            }
            ASSERT_EQ(CloseText(), m_driver.Text(btCancel));
            ASSERT_TRUE(m_driver.Click(btCancel));
            AnswerRebootQuestion(eCodeText_CLOSING_REBOOT_QUESTION, IDCANCEL);
            ASSERT_TRUE(m_driver.WaitForExit(30000));
        }
        ExpectTheMachineRestored();
    }
}

namespace {

size_t Occurrences(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) {
        ++count;
    }
    return count;
}

} // namespace

// Cancel while the second filter's question waits: the core puts that filter back on and the logs and
// captures off before it reports the cancel, and only then does the wizard end the run.
TEST_F(WizardRealCoreReboot, CancelDuringTheSecondQuestionPutsTheFilterBackAndEndsTheRun)
{
    StartWithRealCore();
    StartBasicAnalysis();
    ASSERT_FALSE(HasFatalFailure());
    const std::string report = ResultsDirectoryOfThisRun() + "\\KVXDiagReport.txt";
    AnswerBasicQuestion(false);
    ASSERT_TRUE(WaitForPageLong(m_driver, KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK));
    ASSERT_TRUE(m_driver.WaitForQuery(eFormQuery_NOTIFY_DEPTH, 1, 30000));
    CancelAndAnswer(IDYES);
    const double end = CWizardDriver::NowMs() + 60000;
    while (!(m_driver.IsEnabled(btCancel) && m_driver.Text(btCancel) == CloseText()) && CWizardDriver::NowMs() < end) {
        ::Sleep(50);
    }
    ASSERT_EQ(CloseText(), m_driver.Text(btCancel));
    for (const char* filter : {"KVXFLTA", "KVXFLTB", "KVXFLTC", "KVXFLTD", "KVXFLTE", "KVXFLTF"}) {
        EXPECT_TRUE(m_product->FilterEnabled(filter)) << filter << " was not enabled again";
    }
    const std::string text = ReadFileText(report);
    // Every switch-on has its switch-off.
    const std::pair<const char*, const char*> switches[] = {
        {"Log enabled for", "Log disabled for"},
        {"PCap captures enabled", "PCap captures disabled"},
        {"ATDI captures enabled", "Captures disabled on filter TDI Manager"},
    };
    for (const auto& pair : switches) {
        EXPECT_EQ(Occurrences(text, pair.first), Occurrences(text, pair.second)) << pair.first << " in " << report;
    }
    EXPECT_GT(Occurrences(text, "Log disabled for"), 0u) << report;
    ExpectTheMachineRestored();
    ASSERT_TRUE(m_driver.Click(btCancel));
    AnswerRebootQuestion(eCodeText_CLOSING_REBOOT_QUESTION, IDCANCEL);
    EXPECT_TRUE(m_driver.WaitForExit(30000));
}

// A deep analysis cancelled on its question at step 3 (TDI and NDIS managers off): the core sets both
// back to the start types it recorded before it first switched them, and the run ends.
TEST_F(WizardRealCoreReboot, DeepAnalysisCancelledAtStepThreePutsBothManagersBack)
{
    CScopedTempDir results("KVXDIAG2-Results-seed");
    ASSERT_TRUE(StoreResumeState(3, results.Path()));
    for (const char* driver : {"KVXTMGR", "KVXNMGR"}) {
        ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, KVX_SWITCHED_DRIVERS_KEY, driver, 2, KEY_WOW64_32KEY));
        ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, std::string("SYSTEM\\CurrentControlSet\\Services\\") + driver,
                             "Start", 4));
    }
    StartWithRealCore();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(WaitForPageLong(m_driver, KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK))
        << "last notification " << m_driver.Query(eFormQuery_LAST_NOTIFICATION);
    CancelAndAnswer(IDYES);
    const double end = CWizardDriver::NowMs() + 60000;
    while (!(m_driver.IsEnabled(btCancel) && m_driver.Text(btCancel) == CloseText()) && CWizardDriver::NowMs() < end) {
        ::Sleep(50);
    }
    ASSERT_EQ(CloseText(), m_driver.Text(btCancel));
    for (const char* driver : {"KVXTMGR", "KVXNMGR"}) {
        EXPECT_EQ(2u, ServiceStart(driver).value_or(0)) << driver << " is not at its recorded start type";
    }
    ExpectTheMachineRestored();
    // The drivers come back at the next boot, so the restart is offered.
    ASSERT_TRUE(m_driver.Click(btCancel));
    AnswerRebootQuestion(eCodeText_CLOSING_REBOOT_QUESTION, IDCANCEL);
    EXPECT_TRUE(m_driver.WaitForExit(30000));
}

} // namespace kvxtest
