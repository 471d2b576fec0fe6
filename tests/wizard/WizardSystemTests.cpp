// The wizard's own changes to the machine, with the stand-in core and a simulated antivirus: the shield
// switched off and the conflicting module moved aside at start, the reboot question that follows, the
// autostart value, the log's place among taken results directories, and the restore on the last page.
// Two cases let the wizard really restart the session (Wine runs the Run and RunOnce entries at once).
#include "tests/support/CoreDriver.h"
#include "tests/support/SimAntivirus.h"
#include "tests/wizard/WizardFixture.h"

#include <memory>

namespace kvxtest {

namespace {

using namespace kvxui;

constexpr DWORD KVX_REBOOT_TIMEOUT_MS = 30000;
constexpr const char* KVX_RUNONCE_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const char* KVX_PROBE_VALUE = "KVXTEST_REBOOT_PROBE";
constexpr const char* KVX_RUN_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* KVX_JOURNAL_KEY = "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2Journal";
constexpr const char* KVX_LOG_KEYS[] = {
    "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2\\Log\\DD000001",
    "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2\\Log\\DD000002"};

// A RunOnce entry that a restart of the session runs and removes: its disappearance shows that the
// wizard's reboot really happened.
class CRebootProbe {
public:
    CRebootProbe() { m_valid = SetString(HKEY_LOCAL_MACHINE, KVX_RUNONCE_KEY, KVX_PROBE_VALUE, "cmd.exe /c exit 0"); }
    ~CRebootProbe()
    {
        kvx::UniqueHkey key;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVX_RUNONCE_KEY, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
            ::RegDeleteValueA(key.get(), KVX_PROBE_VALUE);
        }
    }
    CRebootProbe(const CRebootProbe&) = delete;
    CRebootProbe& operator=(const CRebootProbe&) = delete;

    bool Valid() const { return m_valid; }
    bool WaitConsumed(DWORD timeoutMs) const
    {
        const double end = CWizardDriver::NowMs() + timeoutMs;
        std::string value;
        while (GetString(HKEY_LOCAL_MACHINE, KVX_RUNONCE_KEY, KVX_PROBE_VALUE, value)) {
            if (CWizardDriver::NowMs() >= end) {
                return false;
            }
            ::Sleep(10);
        }
        return true;
    }

private:
    bool m_valid = false;
};

std::string Quoted(const std::wstring& path) { return "\"" + Narrow(path) + "\""; }

std::string TempDirectory()
{
    char temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(sizeof(temp), temp);
    return std::string(temp, length);
}

class WizardSystem : public WizardTest {
protected:
    void Install(const SSimAntivirusOptions& options)
    {
        m_antivirus.reset();
        m_antivirus.reset(new CSimAntivirus(options));
        ASSERT_EQ("", m_antivirus->Error());
    }
    void TearDown() override
    {
        WizardTest::TearDown();
        m_antivirus.reset();
    }

    // Once the window shows, the start-up question has been asked or not: it comes before the window.
    void ExpectNoQuestion() { EXPECT_EQ(nullptr, m_driver.WaitForMessageBox(0)) << "a question was asked"; }

    std::unique_ptr<CSimAntivirus> m_antivirus;
};

} // namespace

TEST_F(WizardSystem, StartUpSwitchesTheShieldOffAndCancelPutsEverythingBack)
{
    Install(SSimAntivirusOptions());
    // The log goes where the core will put this run's results: the first free name of the series.
    const std::string temp = TempDirectory();
    ASSERT_TRUE(::CreateDirectoryA((temp + "KVXDIAG2-Results").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA((temp + "KVXDIAG2-Results_").c_str(), nullptr));

    LaunchWithStandInCore();
    ASSERT_FALSE(HasFatalFailure());
    const HWND box = m_driver.WaitForMessageBox(60000);
    ASSERT_NE(nullptr, box) << "no start-up question";
    // While the question waits, the machine is as the wizard left it.
    EXPECT_EQ(4u, CSimAntivirus::ShieldStart().value_or(0xDEAD));
    EXPECT_TRUE(m_antivirus->ModuleAside());
    std::string autostart;
    EXPECT_TRUE(ReadAutostart(autostart));
    EXPECT_EQ(Quoted(StandInWizardPath()), autostart);

    AnswerRebootQuestion(eCodeText_STARTUP_REBOOT_QUESTION, IDCANCEL);
    ASSERT_TRUE(m_driver.WaitForWindow(30000)) << "the wizard did not go on after the question";
    VisitPage(KVXDIAG2_GUI_PAGE_INITIAL);
    EXPECT_EQ(1u, CSimAntivirus::ShieldStart().value_or(0xDEAD));
    EXPECT_TRUE(m_antivirus->ModuleInPlace());
    ExpectNoQuestion();

    const std::string expected = temp + "KVXDIAG2-Results__\\KVXDiagLog.dat";
    for (const char* key : KVX_LOG_KEYS) {
        SCOPED_TRACE(key);
        std::string path;
        EXPECT_TRUE(GetString(HKEY_LOCAL_MACHINE, key, "LOG_FilePath", path, KEY_WOW64_32KEY));
        EXPECT_EQ(expected, path);
    }
    ASSERT_TRUE(WaitForJournal("results", {{"dir", temp + "KVXDIAG2-Results__"}}, 1000));
    const std::string log = ReadFileText(expected);
    for (const char* line :
         {"Se ha desactivado el escudo OK...", "Fichero renombrado OK", "Se ha activado el escudo OK..."}) {
        EXPECT_NE(std::string::npos, log.find(line)) << line;
    }
    EXPECT_FALSE(FileExists(temp + "KVXDIAG2-Results\\KVXDiagLog.dat"));
    EXPECT_FALSE(FileExists(temp + "KVXDIAG2-Results_\\KVXDiagLog.dat"));
}

// Nothing to change, or nothing that can be changed safely: no question, and the machine as it was.
TEST_F(WizardSystem, NothingChangedAtStartUpMeansNothingIsAsked)
{
    struct SCase {
        const char* name;
        SSimAntivirusOptions options;
        DWORD startAfter;    // 0: no shield key
        const char* logLine; // what the log must say, if anything
    };
    SSimAntivirusOptions alreadyOff;
    alreadyOff.shieldStart = 4;
    alreadyOff.module = EModuleFile::NONE;
    SSimAntivirusOptions missing;
    missing.shield = EShieldKey::NONE;
    missing.setupKey = false;
    missing.module = EModuleFile::NONE;
    // A directory that does not fit the 1024 bytes it is read into, and one that fits while the name
    // the module is moved to does not: both are refused, never cut into another path.
    SSimAntivirusOptions pathTooLong = alreadyOff;
    pathTooLong.module = EModuleFile::IN_PLACE;
    pathTooLong.path = "C:\\" + std::string(1100, 'a') + "\\";
    SSimAntivirusOptions nameTooLong = pathTooLong;
    nameTooLong.path = "C:\\" + std::string(1005, 'a') + "\\";
    const SCase cases[] = {
        {"shield already off, no module", alreadyOff, 4, nullptr},
        {"no shield, no setup key", missing, 0, "Error: La clave del escudo no existe!!!"},
        {"PATH longer than its buffer", pathTooLong, 4, "Error 234: Al intentar leer el valor de PATH."},
        {"module's new name too long", nameTooLong, 4, "Error 206: Renombrando fichero"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        Install(c.options);
        ASSERT_FALSE(HasFatalFailure());
        StartWithStandInCore();
        ASSERT_FALSE(HasFatalFailure());
        ExpectNoQuestion();
        EXPECT_EQ(c.startAfter, CSimAntivirus::ShieldStart().value_or(0));
        EXPECT_EQ(c.options.module == EModuleFile::IN_PLACE,
                  FileExists(m_antivirus->Directory() + CSimAntivirus::MODULE));
        // The autostart value is written at every start, whatever the antivirus.
        std::string autostart;
        EXPECT_TRUE(ReadAutostart(autostart));
        std::string logPath;
        EXPECT_TRUE(GetString(HKEY_LOCAL_MACHINE, KVX_LOG_KEYS[1], "LOG_FilePath", logPath, KEY_WOW64_32KEY));
        // No analysis waits, so closing puts the shield back on, and then offers the restart.
        EXPECT_EQ(c.startAfter != 0, CloseAnsweringTheClosingQuestion());
        ASSERT_TRUE(m_driver.WaitForExit(0));
        EXPECT_EQ(c.startAfter != 0 ? 1u : 0u, CSimAntivirus::ShieldStart().value_or(0));
        if (c.logLine != nullptr) {
            EXPECT_NE(std::string::npos, ReadFileText(logPath).find(c.logLine)) << c.logLine;
        }
        DeleteAutostart();
    }
}

TEST_F(WizardSystem, TheStartUpRebootKeepsTheChangesForItsRunAndTheEndPutsBackTheRecordedStartType)
{
    // Only the second shield key, at a start type other than "on".
    SSimAntivirusOptions options;
    options.shield = EShieldKey::AVGUARD2;
    options.shieldStart = 3;
    Install(options);
    CRebootProbe probe;
    ASSERT_TRUE(probe.Valid());

    LaunchWithStandInCore();
    ASSERT_FALSE(HasFatalFailure());
    AnswerRebootQuestion(eCodeText_STARTUP_REBOOT_QUESTION, IDOK);
    ASSERT_FALSE(HasFatalFailure());
    // The wizard that the restart starts beside the test's hold on the mutex touches nothing.
    m_beforeBoot = [this]() {
        EXPECT_EQ(4u, CSimAntivirus::ShieldStart().value_or(0xDEAD));
        EXPECT_TRUE(m_antivirus->ModuleAside());
    };
    ASSERT_TRUE(FollowRebootAsABoot(StandInWizardPath(), {}));
    EXPECT_TRUE(probe.WaitConsumed(KVX_REBOOT_TIMEOUT_MS)) << "the session was not restarted";

    // The start after the boot belongs to the run that waited for it: nothing is put back or asked.
    VisitPage(KVXDIAG2_GUI_PAGE_INITIAL);
    ExpectNoQuestion();
    EXPECT_EQ(4u, CSimAntivirus::ShieldStart().value_or(0xDEAD));
    EXPECT_TRUE(m_antivirus->ModuleAside());

    // Closed before the end with no analysis waiting, the run ends as on the last page: the shield goes
    // back to the start type it was found at, not to "on".
    ASSERT_TRUE(m_driver.Click(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_LICENSEAGREEMENT);
    EXPECT_TRUE(CloseAnsweringTheClosingQuestion()) << "the shield was put back: the restart is offered";
    EXPECT_EQ(3u, CSimAntivirus::ShieldStart().value_or(0xDEAD));
    EXPECT_TRUE(m_antivirus->ModuleInPlace());
    std::string autostart;
    EXPECT_FALSE(ReadAutostart(autostart)) << autostart;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2",
                           KEY_WOW64_32KEY));
    // (The stand-in core never takes its own half of the reboot mark, so the journal key itself may stay.)
    EXPECT_TRUE(kvx::CChangeJournal::Entries().empty()) << "the journal was left with entries";
}

// Declining the start-up restart puts the shield back to the start type it had, whichever key and value;
// the end of the run then takes the autostart value out of both views of the Run key, also the one the
// other build writes.
TEST_F(WizardSystem, DecliningTheStartUpRebootPutsTheShieldBackToItsOwnStartType)
{
    struct SCase {
        const char* name;
        EShieldKey shield;
        DWORD start;
    };
    const SCase cases[] = {{"AVGUARD1 found at 3", EShieldKey::AVGUARD1, 3}, {"AVGUARD2 found at 2", EShieldKey::AVGUARD2, 2}};
    const REGSAM otherView = sizeof(void*) == 4 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SSimAntivirusOptions options;
        options.shield = c.shield;
        options.shieldStart = c.start;
        Install(options);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, KVX_RUN_KEY, "KVXDIAG2_AUTOSTART", "\"C:\\other\\KVXDiag2.bat\"",
                              otherView));

        LaunchWithStandInCore();
        ASSERT_FALSE(HasFatalFailure());
        AnswerRebootQuestion(eCodeText_STARTUP_REBOOT_QUESTION, IDCANCEL);
        ASSERT_TRUE(m_driver.WaitForWindow(30000));
        EXPECT_EQ(c.start, CSimAntivirus::ShieldStart().value_or(0xDEAD));
        EXPECT_TRUE(m_antivirus->ModuleInPlace());

        EXPECT_FALSE(CloseAnsweringTheClosingQuestion()) << "nothing was left to put back at the end";
        EXPECT_EQ(c.start, CSimAntivirus::ShieldStart().value_or(0xDEAD));
        std::string autostart;
        EXPECT_FALSE(GetString(HKEY_LOCAL_MACHINE, KVX_RUN_KEY, "KVXDIAG2_AUTOSTART", autostart, KEY_WOW64_32KEY))
            << autostart;
        EXPECT_FALSE(GetString(HKEY_LOCAL_MACHINE, KVX_RUN_KEY, "KVXDIAG2_AUTOSTART", autostart, KEY_WOW64_64KEY))
            << autostart;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, KVX_JOURNAL_KEY, KEY_WOW64_32KEY));
    }
}

// One wizard per machine: a second one says so and leaves before it writes anything, not even the log
// configuration or the autostart value, and never loads the core.
TEST_F(WizardSystem, ASecondWizardBesideTheFirstSaysSoAndTouchesNothing)
{
    StartWithStandInCore();
    ASSERT_FALSE(HasFatalFailure());
    VisitPage(KVXDIAG2_GUI_PAGE_INITIAL);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, KVX_RUN_KEY, "KVXDIAG2_AUTOSTART", "sentinel"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, KVX_LOG_KEYS[1], "LOG_FilePath", "sentinel", KEY_WOW64_32KEY));

    CWizardDriver second;
    ASSERT_TRUE(second.Launch(StandInWizardPath(), {L"KVXFAKE_JOURNAL=" + Widen(m_journalPath)}));
    const HWND box = second.WaitForMessageBox(30000);
    ASSERT_NE(nullptr, box) << "the second wizard said nothing";
    EXPECT_EQ(std::wstring(CodeText(eCodeText_ANOTHER_INSTANCE, m_language)), CWizardDriver::MessageBoxText(box));
    ASSERT_TRUE(CWizardDriver::AnswerMessageBox(box, IDOK));
    ASSERT_TRUE(second.WaitForExit(30000));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SINGLE_INSTANCE_APP), second.ExitCode());

    std::string value;
    EXPECT_TRUE(ReadAutostart(value));
    EXPECT_EQ("sentinel", value);
    EXPECT_TRUE(GetString(HKEY_LOCAL_MACHINE, KVX_LOG_KEYS[1], "LOG_FilePath", value, KEY_WOW64_32KEY));
    EXPECT_EQ("sentinel", value);
    int starts = 0;
    for (const SJournalEntry& entry : Journal()) {
        starts += entry.event == "init" ? 1 : 0;
    }
    EXPECT_EQ(1, starts) << "the second wizard loaded the core";
    EXPECT_EQ(KVXDIAG2_GUI_PAGE_INITIAL, m_driver.PageIndex()) << "the first wizard is still there";
}

// An undo that fails leaves its record and the autostart value, the user is told, and the next start
// tries again.
TEST_F(WizardSystem, AChangeThatCannotBePutBackStaysRecordedAndTheNextStartTriesAgain)
{
    Install(SSimAntivirusOptions());
    LaunchWithStandInCore();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_NE(nullptr, m_driver.WaitForMessageBox(60000));
    // Something takes the module's own name while it is aside: moving it back would overwrite a file.
    const std::string blocker = m_antivirus->Directory() + CSimAntivirus::MODULE;
    ASSERT_TRUE(WriteFileText(blocker, "someone else's file"));
    AnswerRebootQuestion(eCodeText_STARTUP_REBOOT_QUESTION, IDCANCEL);
    ASSERT_TRUE(m_driver.WaitForWindow(30000));
    EXPECT_EQ(1u, CSimAntivirus::ShieldStart().value_or(0xDEAD));

    EXPECT_TRUE(::PostMessageW(m_driver.Window(), WM_CLOSE, 0, 0));
    const HWND box = m_driver.WaitForMessageBox(30000);
    ASSERT_NE(nullptr, box) << "the user was not told";
    EXPECT_EQ(std::wstring(CodeText(eCodeText_CHANGES_LEFT, m_language)), CWizardDriver::MessageBoxText(box));
    ASSERT_TRUE(CWizardDriver::AnswerMessageBox(box, IDOK));
    ASSERT_TRUE(m_driver.WaitForExit(30000));
    std::string autostart;
    EXPECT_TRUE(ReadAutostart(autostart)) << "nothing would bring the wizard back";
    kvx::SJournalEntry entry;
    EXPECT_TRUE(kvx::CChangeJournal::Find(kvx::eJournalKind_FILE_NAME,
                                          Widen(m_antivirus->Directory() + CSimAntivirus::MODULE), entry));
    EXPECT_EQ("someone else's file", ReadFileText(blocker));

    // The way clear, the next start puts the module back before it does anything else.
    ASSERT_TRUE(::DeleteFileA(blocker.c_str()));
    LaunchWithStandInCore();
    ASSERT_FALSE(HasFatalFailure());
    AnswerRebootQuestion(eCodeText_STARTUP_REBOOT_QUESTION, IDCANCEL);
    ASSERT_TRUE(m_driver.WaitForWindow(30000));
    EXPECT_TRUE(m_antivirus->ModuleInPlace());
    EXPECT_FALSE(CloseAnsweringTheClosingQuestion());
    EXPECT_FALSE(ReadAutostart(autostart)) << autostart;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, KVX_JOURNAL_KEY, KEY_WOW64_32KEY));
}

// With a deep analysis stored for the resume, closing the window (not cancelling) keeps everything: the
// question is answered "exiting", the core's cancel (which would undo the analysis) is not called, and
// the shield, the module, the autostart value and the resume state stay for the next start.
TEST_F(WizardSystem, ClosingDuringAPendingDeepAnalysisKeepsEverythingForTheResume)
{
    SSimAntivirusOptions leftOff;
    leftOff.shieldStart = 4;
    leftOff.module = EModuleFile::ASIDE;
    Install(leftOff);
    CScopedTempDir results("KVXDIAG2-Results-pending");
    ASSERT_TRUE(StoreResumeState(3, results.Path()));

    StartWithStandInCore({L"KVXFAKE_PENDING_STEP=3", L"KVXFAKE_DEEP=11,14"});
    ASSERT_FALSE(HasFatalFailure());
    VisitPage(KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK);
    EXPECT_FALSE(CloseAnsweringTheClosingQuestion()) << "nothing was put back, so no restart is offered";
    EXPECT_EQ((std::vector<int>{5}), Answers(eKVXDIAG2Notify_DEEPANALYSIS_USER_ASK));
    EXPECT_FALSE(WaitForJournal("cancel", {}, 0)) << "closing is not a cancel";
    SJournalEntry end;
    ASSERT_TRUE(WaitForJournal("end", {}, 1000, &end));
    EXPECT_EQ(4u, CSimAntivirus::ShieldStart().value_or(0xDEAD));
    EXPECT_TRUE(m_antivirus->ModuleAside());
    std::string autostart;
    EXPECT_TRUE(ReadAutostart(autostart));
    EXPECT_EQ(3u, ReadResumeState().step.value_or(0));
    EXPECT_EQ(results.Path(), ReadResumeState().resultsDir.value_or(""));
}

// A cancelled run is over: with the autostart value and the resume state gone, nothing would ever switch
// the shield back on or put the module back, so Cancel restores them as the last page does.
TEST_F(WizardSystem, CancelRestoresWhatAnEarlierStartSwitchedOff)
{
    SSimAntivirusOptions leftOff;
    leftOff.shieldStart = 4;
    leftOff.module = EModuleFile::ASIDE;
    Install(leftOff);

    StartWithStandInCore();
    ASSERT_FALSE(HasFatalFailure());
    VisitPage(KVXDIAG2_GUI_PAGE_INITIAL);
    ExpectNoQuestion();
    std::string autostart;
    ASSERT_TRUE(ReadAutostart(autostart));

    ASSERT_TRUE(m_driver.Click(btCancel));
    VisitPage(KVXDIAG2_GUI_PAGE_USERCANCEL);
    EXPECT_EQ(1u, CSimAntivirus::ShieldStart().value_or(0xDEAD));
    EXPECT_TRUE(m_antivirus->ModuleInPlace());
    EXPECT_FALSE(ReadAutostart(autostart));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2",
                           KEY_WOW64_32KEY));
    ExpectNoQuestion();
}

TEST_F(WizardSystem, TheLastPageRestoresTheMachineRemovesTheStateAndRebootsOnRequest)
{
    // The machine as a resumed run finds it: shield off and module aside since the first start.
    SSimAntivirusOptions options;
    options.shieldStart = 4;
    options.module = EModuleFile::ASIDE;
    Install(options);
    CRebootProbe probe;
    ASSERT_TRUE(probe.Valid());

    StartWithStandInCore({L"KVXFAKE_PENDING_STEP=4", L"KVXFAKE_DEEP=11,14,15"});
    ASSERT_FALSE(HasFatalFailure());
    ExpectNoQuestion();
    VisitPage(KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK);
    ASSERT_TRUE(m_driver.Click(rbBDAUserResponseFixed));
    ASSERT_TRUE(m_driver.Click(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS, "deep");
    ASSERT_TRUE(m_driver.Click(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_SAVETODISK);
    const std::string destination = m_temp->Path() + "\\results.zip";
    ASSERT_TRUE(m_driver.SetText(edResultsPackDestination, std::wstring(destination.begin(), destination.end())));
    ASSERT_TRUE(m_driver.Click(btNext));
    VisitPage(KVXDIAG2_GUI_PAGE_FINAL);
    EXPECT_EQ(4u, CSimAntivirus::ShieldStart().value_or(0xDEAD)) << "restored before the end";

    ASSERT_TRUE(m_driver.Click(btCancel));
    // The machine is put back before the question is asked.
    const HWND box = m_driver.WaitForMessageBox(30000);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(1u, CSimAntivirus::ShieldStart().value_or(0xDEAD));
    EXPECT_TRUE(m_antivirus->ModuleInPlace());
    std::string autostart;
    EXPECT_FALSE(ReadAutostart(autostart)) << autostart;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2",
                           KEY_WOW64_32KEY));
    AnswerRebootQuestion(eCodeText_CLOSING_REBOOT_QUESTION, IDOK);
    ASSERT_TRUE(m_driver.WaitForExit(KVX_REBOOT_TIMEOUT_MS));
    EXPECT_TRUE(probe.WaitConsumed(KVX_REBOOT_TIMEOUT_MS)) << "the session was not restarted";
}

// What an earlier run kept applied is offered back at the start, before the core is loaded (its start
// puts back what is no longer kept); never while a deep analysis waits to resume.
TEST_F(WizardSystem, ALaterRunOffersToPutAKeptCulpritBack)
{
    struct SCase {
        const char* name;
        bool pending;
        int answer; // 0: no question expected
        bool keptAfter;
    };
    const SCase cases[] = {{"yes", false, IDYES, false}, {"no", false, IDNO, true}, {"deep analysis pending", true, 0, true}};
    const std::wstring expected =
        m_language == eLanguage_ENGLISH
            ? L"A temporary solution from an earlier analysis is still applied: KVXFLTE switched off on 09-12-2026. "
              L"Switch it back on now?"
            : L"Sigue aplicada una solución temporal de un análisis anterior: KVXFLTE desactivado el 09-12-2026. "
              L"¿Desea reactivarla ahora?";
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        kvx::SJournalEntry culprit;
        culprit.kind = kvx::eJournalKind_SERVICE_START;
        culprit.owner = kvx::eJournalOwner_DEEP_ANALYSIS;
        culprit.target = L"KVXFLTE";
        culprit.original = 3;
        culprit.kept = true;
        culprit.keptOn = L"09-12-2026";
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kvx::CChangeJournal::Record(culprit));
        std::unique_ptr<CScopedTempDir> results;
        std::vector<std::wstring> scenario;
        if (c.pending) {
            results.reset(new CScopedTempDir("KVXDIAG2-Results-pending"));
            ASSERT_TRUE(StoreResumeState(3, results->Path()));
            scenario = {L"KVXFAKE_PENDING_STEP=3", L"KVXFAKE_DEEP=11,14"};
        }

        LaunchWithStandInCore(scenario);
        ASSERT_FALSE(HasFatalFailure());
        if (c.answer != 0) {
            const HWND box = m_driver.WaitForMessageBox(60000);
            ASSERT_NE(nullptr, box) << "no question about the kept change";
            EXPECT_EQ(expected, CWizardDriver::MessageBoxText(box));
            EXPECT_FALSE(WaitForJournal("init", {}, 0)) << "the core was loaded before the answer";
            ASSERT_TRUE(CWizardDriver::AnswerMessageBox(box, c.answer));
        }
        ASSERT_TRUE(m_driver.WaitForWindow(60000));
        ExpectNoQuestion();
        kvx::SJournalEntry after;
        EXPECT_EQ(c.keptAfter, kvx::CChangeJournal::Find(culprit.kind, culprit.target, after) && after.kept);
        EXPECT_EQ(!c.keptAfter, WaitForJournal("replay", {{"at", "init"}, {"target", "1.KVXFLTE"}}, 0))
            << "what is no longer kept goes back with the core's start";
        CloseAnsweringTheClosingQuestion();
        ASSERT_TRUE(m_driver.WaitForExit(30000));
        DeleteAutostart();
        CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, KVX_JOURNAL_KEY, KEY_WOW64_32KEY);
        CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2",
                                    KEY_WOW64_32KEY);
        ::DeleteFileA(m_journalPath.c_str());
    }
}

// Page 16's check box starts checked and keeps the culprit; unchecked, the culprit goes back with the
// core's end and the closing restart is offered.
TEST_F(WizardSystem, PageSixteenUncheckedPutsTheCulpritBackWithTheCoresEnd)
{
    for (const bool keep : {true, false}) {
        SCOPED_TRACE(keep ? "checked" : "unchecked");
        StartWithStandInCore({L"KVXFAKE_PENDING_STEP=4", L"KVXFAKE_DEEP=11,14,15"});
        ASSERT_FALSE(HasFatalFailure());
        VisitPage(KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK);
        ASSERT_TRUE(m_driver.Click(rbBDAUserResponseFixed));
        ASSERT_TRUE(m_driver.Click(btNext));
        VisitPage(KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS, "deep");
        EXPECT_TRUE(m_driver.IsChecked(CheckBox1)) << "the default keeps the temporary solution";
        // What the core does at the verdict: the culprit's entry is kept.
        kvx::SJournalEntry culprit;
        culprit.kind = kvx::eJournalKind_SERVICE_START;
        culprit.owner = kvx::eJournalOwner_DEEP_ANALYSIS;
        culprit.target = L"KVXTMGR";
        culprit.original = 1;
        culprit.kept = true;
        culprit.keptOn = kvx::CChangeJournal::Today();
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kvx::CChangeJournal::Record(culprit));
        if (!keep) {
            ASSERT_TRUE(m_driver.Click(CheckBox1));
        }
        EXPECT_EQ(!keep, CloseAnsweringTheClosingQuestion());
        kvx::SJournalEntry after;
        EXPECT_EQ(keep, kvx::CChangeJournal::Find(culprit.kind, culprit.target, after) && after.kept);
        EXPECT_EQ(!keep, WaitForJournal("replay", {{"at", "end"}, {"target", "1.KVXTMGR"}}, 0));
        std::string autostart;
        EXPECT_FALSE(ReadAutostart(autostart)) << autostart;
        CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, KVX_JOURNAL_KEY, KEY_WOW64_32KEY);
        ::DeleteFileA(m_journalPath.c_str());
    }
}

} // namespace kvxtest
