// Fixture of the wizard's tests. Everything it starts it also ends, and the results directories and
// the wizard's registry key it causes are removed again; the wizard's log and the stand-in core's
// journal are kept with the artefacts for a failed run.
#include "tests/wizard/WizardFixture.h"


#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace kvxtest {

namespace {

constexpr DWORD KVX_PAGE_TIMEOUT_MS = 30000;
constexpr DWORD KVX_START_TIMEOUT_MS = 60000;

} // namespace

std::wstring Widen(const std::string& text)
{
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(size > 0 ? static_cast<size_t>(size) : 0, L'\0');
    if (size > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size);
    }
    return out;
}

namespace {

std::wstring Env(const wchar_t* name)
{
    wchar_t buffer[1024];
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

// The wizard's keys, in the 32-bit view where the wizard writes them from either build.
constexpr const char* KVX_VENDOR_KEY = "SOFTWARE\\Orvex Software";
constexpr REGSAM KVX_VENDOR_VIEW = KEY_WOW64_32KEY;
// The autostart value lives in the system's Run key, in the view of the wizard's (and this program's)
// own bitness.
constexpr const char* KVX_RUN_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* KVX_AUTOSTART_VALUE = "KVXDIAG2_AUTOSTART";
constexpr DWORD KVX_QUESTION_TIMEOUT_MS = 30000;
constexpr DWORD KVX_REBOOT_TIMEOUT_MS = 30000;
constexpr const char* KVX_JOURNAL_KEY = "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2Journal";

void MakeDirectories(const std::wstring& path)
{
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\') {
            ::CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
        }
    }
}

std::string TestName()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info == nullptr ? std::string("unknown") : std::string(info->test_suite_name()) + "." + info->name();
}

const wchar_t* LanguageFolder(kvxui::ELanguage language)
{
    return language == kvxui::eLanguage_ENGLISH ? L"en" : L"es";
}

} // namespace

int SJournalEntry::Int(const std::string& key) const
{
    const auto found = fields.find(key);
    return found == fields.end() ? -1 : std::atoi(found->second.c_str());
}

std::vector<SJournalEntry> ReadJournal(const std::string& path)
{
    std::vector<SJournalEntry> entries;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        SJournalEntry entry;
        if (!(words >> entry.ms >> entry.event)) {
            continue;
        }
        // A word without "=" continues the previous value (texts may hold spaces).
        std::string word;
        std::string lastKey;
        while (words >> word) {
            const size_t equals = word.find('=');
            if (equals == std::string::npos || equals == 0) {
                if (!lastKey.empty()) {
                    entry.fields[lastKey] += " " + word;
                }
                continue;
            }
            lastKey = word.substr(0, equals);
            entry.fields[lastKey] = word.substr(equals + 1);
        }
        entries.push_back(entry);
    }
    return entries;
}

std::wstring WizardProgramDirectory()
{
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, length);
    return text.substr(0, text.find_last_of(L'\\') + 1);
}

std::wstring ArtifactsDirectory()
{
    std::wstring directory = Env(L"KVX_WIZARD_ARTIFACTS");
    if (directory.empty()) {
        directory = WizardProgramDirectory() + L"..\\artifacts\\wizard";
    }
    MakeDirectories(directory);
    return directory;
}

std::string Narrow(const std::wstring& text)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    }
    return out;
}

std::wstring WithoutCarriageReturns(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        if (c != L'\r') {
            out += c;
        }
    }
    return out;
}

void WizardTest::SetUp()
{
    m_language = kvxui::ChooseLanguage(::GetSystemDefaultLangID());
    // The test script runs one pass per language; a pass whose locale did not take effect would
    // quietly test the other language twice.
    const std::wstring expected = Env(L"KVX_WIZARD_LANG");
    if (!expected.empty()) {
        ASSERT_EQ(expected == L"en" ? kvxui::eLanguage_ENGLISH : kvxui::eLanguage_SPANISH, m_language)
            << "system language 0x" << std::hex << ::GetSystemDefaultLangID() << " does not match the pass "
            << Narrow(expected);
    }
    m_vendorKey = KVX_VENDOR_KEY;
    CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, m_vendorKey + "\\Orvex Network Manager\\KVXDIAG2",
                                KVX_VENDOR_VIEW);
    CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, KVX_JOURNAL_KEY, KVX_VENDOR_VIEW);
    // Every start of the wizard writes the autostart value; one left over would start a wizard at
    // the next reboot of the session.
    DeleteAutostart();
    RemoveResultsDirectories();
    m_temp.reset(new CScopedTempDir("kvxwiz"));
    m_journalPath = m_temp->Path() + "\\journal.txt";
}

void WizardTest::TearDown()
{
    if (m_driver.Process() != nullptr && ::WaitForSingleObject(m_driver.Process(), 0) == WAIT_TIMEOUT) {
        // A wizard closed on its last page asks whether to reboot, and one that a failed test left
        // at its start-up question has no window yet; neither question is answered with a reboot.
        const double end = CWizardDriver::NowMs() + 15000;
        bool ended = false;
        bool closePosted = false;
        while (!(ended = m_driver.WaitForExit(10)) && CWizardDriver::NowMs() < end) {
            if (const HWND box = m_driver.WaitForMessageBox(0)) {
                CWizardDriver::AnswerMessageBox(box, IDCANCEL);
            } else if (!closePosted && (m_driver.Window() != nullptr || m_driver.WaitForWindow(0))) {
                closePosted = ::PostMessageW(m_driver.Window(), WM_CLOSE, 0, 0) != FALSE;
            }
        }
        if (!ended) {
            ADD_FAILURE() << "the wizard did not close within 15 s";
            m_driver.Terminate();
        }
    }
    // Keep the wizard's log and the journal beside the screenshots.
    const std::wstring logs = ArtifactsDirectory() + L"\\logs";
    MakeDirectories(logs);
    const std::wstring stem = logs + L"\\" + Widen(TestName()) + L"-" + LanguageFolder(m_language);
    WIN32_FIND_DATAW data;
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring tempDir(temp, length);
    kvx::UniqueFindHandle find(::FindFirstFileW((tempDir + L"KVXDIAG2-Results*").c_str(), &data));
    if (find) {
        do {
            ::CopyFileW((tempDir + data.cFileName + L"\\KVXDiagLog.dat").c_str(), (stem + L".log").c_str(), FALSE);
        } while (::FindNextFileW(find.get(), &data));
    }
    ::CopyFileW(Widen(m_journalPath).c_str(), (stem + L".journal").c_str(), FALSE);
    RemoveResultsDirectories();
    CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, m_vendorKey + "\\Orvex Network Manager\\KVXDIAG2",
                                KVX_VENDOR_VIEW);
    CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, KVX_JOURNAL_KEY, KVX_VENDOR_VIEW);
    DeleteAutostart();
    m_temp.reset();
}

std::wstring WizardTest::StandInWizardPath() { return WizardProgramDirectory() + L"wizard-fakecore\\KVXDiag2.exe"; }

std::wstring WizardTest::RealWizardPath() { return WizardProgramDirectory() + L"KVXDiag2.exe"; }

void WizardTest::LaunchWithStandInCore(const std::vector<std::wstring>& scenario)
{
    std::vector<std::wstring> environment = scenario;
    environment.push_back(L"KVXFAKE_JOURNAL=" + Widen(m_journalPath));
    const std::wstring exe = StandInWizardPath();
    ASSERT_TRUE(m_driver.Launch(exe, environment)) << "cannot start " << Narrow(exe) << ": " << ::GetLastError();
}

void WizardTest::LaunchWithRealCore()
{
    const std::wstring exe = RealWizardPath();
    ASSERT_TRUE(m_driver.Launch(exe, {})) << "cannot start " << Narrow(exe) << ": " << ::GetLastError();
}

void WizardTest::StartWithStandInCore(const std::vector<std::wstring>& scenario)
{
    LaunchWithStandInCore(scenario);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(m_driver.WaitForWindow(KVX_START_TIMEOUT_MS)) << "the wizard's window did not appear";
}

void WizardTest::StartWithRealCore()
{
    LaunchWithRealCore();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(m_driver.WaitForWindow(KVX_START_TIMEOUT_MS)) << "the wizard's window did not appear";
}

void WizardTest::AnswerRebootQuestion(kvxui::ECodeText question, int button)
{
    const HWND box = m_driver.WaitForMessageBox(KVX_QUESTION_TIMEOUT_MS);
    ASSERT_NE(nullptr, box) << "no reboot question appeared";
    EXPECT_EQ(std::wstring(kvxui::CodeText(question, m_language)), CWizardDriver::MessageBoxText(box));
    wchar_t title[64] = {};
    ::GetWindowTextW(box, title, 64);
    EXPECT_EQ(std::wstring(L"KVXDiag2"), std::wstring(title));
    ASSERT_TRUE(CWizardDriver::AnswerMessageBox(box, button));
    // The click is posted; the box is gone once the wizard has taken the answer.
    const double end = CWizardDriver::NowMs() + KVX_QUESTION_TIMEOUT_MS;
    while (::IsWindow(box) && ::IsWindowVisible(box) && CWizardDriver::NowMs() < end) {
        ::Sleep(5);
    }
    EXPECT_FALSE(::IsWindow(box) && ::IsWindowVisible(box)) << "the reboot question did not take the answer";
}

bool WizardTest::CloseAnsweringTheClosingQuestion()
{
    EXPECT_TRUE(::PostMessageW(m_driver.Window(), WM_CLOSE, 0, 0));
    const double end = CWizardDriver::NowMs() + KVX_QUESTION_TIMEOUT_MS;
    while (!m_driver.WaitForExit(10) && CWizardDriver::NowMs() < end) {
        if (m_driver.WaitForMessageBox(0) != nullptr) {
            AnswerRebootQuestion(kvxui::eCodeText_CLOSING_REBOOT_QUESTION, IDCANCEL);
            EXPECT_TRUE(m_driver.WaitForExit(KVX_QUESTION_TIMEOUT_MS));
            return true;
        }
    }
    EXPECT_TRUE(m_driver.WaitForExit(0)) << "the wizard did not close";
    return false;
}

bool WizardTest::ReadAutostart(std::string& value)
{
    return GetString(HKEY_LOCAL_MACHINE, KVX_RUN_KEY, KVX_AUTOSTART_VALUE, value);
}

void WizardTest::DeleteAutostart()
{
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        kvx::UniqueHkey run;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVX_RUN_KEY, 0, KEY_SET_VALUE | view, run.put()) == ERROR_SUCCESS) {
            ::RegDeleteValueA(run.get(), KVX_AUTOSTART_VALUE);
        }
    }
}

bool WizardTest::FollowRebootAsABoot(const std::wstring& exe, const std::vector<std::wstring>& environment)
{
    kvx::UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, kvx::KVXDIAG2_INSTANCE_MUTEX));
    if (!mutex) {
        ADD_FAILURE() << "cannot open the instance mutex: " << ::GetLastError();
        return false;
    }
    // Granted the moment the ending wizard lets it go (or dies with it), before the restart starts the
    // next one.
    const DWORD wait = ::WaitForSingleObject(mutex.get(), KVX_REBOOT_TIMEOUT_MS);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        ADD_FAILURE() << "the wizard did not end for its reboot";
        return false;
    }
    const bool ended = m_driver.WaitForExit(KVX_REBOOT_TIMEOUT_MS);
    EXPECT_TRUE(ended) << "the reboot did not end the wizard";
    // The wizard that the restart starts finds the mutex taken, says so and leaves.
    CWizardDriver anyProcess;
    const HWND box = anyProcess.WaitForMessageBox(KVX_REBOOT_TIMEOUT_MS);
    bool bounced = box != nullptr;
    EXPECT_TRUE(bounced) << "the autostart value did not start the wizard again";
    if (bounced) {
        EXPECT_EQ(std::wstring(kvxui::CodeText(kvxui::eCodeText_ANOTHER_INSTANCE, m_language)),
                  CWizardDriver::MessageBoxText(box));
        DWORD pid = 0;
        ::GetWindowThreadProcessId(box, &pid);
        kvx::UniqueHandle second(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid));
        EXPECT_TRUE(CWizardDriver::AnswerMessageBox(box, IDOK));
        DWORD code = 0;
        bounced = second && ::WaitForSingleObject(second.get(), KVX_QUESTION_TIMEOUT_MS) == WAIT_OBJECT_0 &&
                  ::GetExitCodeProcess(second.get(), &code) && code == kvx::KVXDIAG2_ERR_ANOTHER_INSTANCE;
        EXPECT_TRUE(bounced) << "the second wizard did not leave with 1152 (exit code " << code << ")";
    }
    if (m_beforeBoot) {
        m_beforeBoot();
    }
    // The boot: the mark that the wizard left before its restart is volatile, and only a boot clears it.
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(KVX_JOURNAL_KEY) + "\\BootMarker", KVX_VENDOR_VIEW))
        << "no reboot mark was left before the restart";
    CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, std::string(KVX_JOURNAL_KEY) + "\\BootMarker", KVX_VENDOR_VIEW);
    ::ReleaseMutex(mutex.get());
    mutex.reset();
    if (!m_driver.Launch(exe, environment)) {
        ADD_FAILURE() << "cannot start " << Narrow(exe);
        return false;
    }
    return ended && bounced && m_driver.WaitForWindow(KVX_START_TIMEOUT_MS);
}

void WizardTest::VisitPage(int page, const char* shotSuffix)
{
    ASSERT_TRUE(m_driver.WaitForPage(page, KVX_PAGE_TIMEOUT_MS))
        << "page " << page << " (" << kvxui::KVXDIAG2_PAGE_CAPTIONS[page] << ") not shown; the page is "
        << m_driver.PageIndex();
    m_pageSeenAt = CWizardDriver::NowMs();
    ExpectPageTexts(page);
    ExpectFrameTexts();
    Shot(page, shotSuffix);
}

void WizardTest::ExpectPageTexts(int page)
{
    const kvxui::STextTable table = kvxui::PageTexts(page);
    std::set<int> seen;
    for (size_t i = 0; i < table.count; ++i) {
        const int id = table.rows[i].control;
        if (!seen.insert(id).second) {
            continue;
        }
        SCOPED_TRACE(kvxui::ControlName(id));
        if (id == kvxui::ListView1) {
            for (int column = kvxui::eListView_COLUMN_FILTER; column <= kvxui::eListView_COLUMN_SOLUTION; ++column) {
                std::wstring expected;
                for (size_t j = 0; j < table.count; ++j) {
                    if (table.rows[j].control == id && table.rows[j].item == column) {
                        expected = kvxui::RowText(table.rows[j], m_language);
                    }
                }
                EXPECT_EQ(expected, m_driver.ListViewColumn(id, column)) << "column " << column;
            }
            continue;
        }
        const std::wstring actual = m_driver.Text(id);
        // The countdown rewrites its label once it runs.
        if (id == kvxui::lbRebootProgress && actual.find(kvxui::CodeText(kvxui::eCodeText_COUNTDOWN_BEFORE, m_language)) == 0) {
            continue;
        }
        EXPECT_EQ(WithoutCarriageReturns(kvxui::ControlText(id, m_language)), WithoutCarriageReturns(actual));
    }
    if (page == kvxui::KVXDIAG2_GUI_PAGE_LICENSEAGREEMENT) {
        EXPECT_EQ(WithoutCarriageReturns(kvxui::AgreementText(m_language)),
                  WithoutCarriageReturns(m_driver.Text(kvxui::reLicense)));
    }
}

void WizardTest::ExpectFrameTexts()
{
    const kvxui::STextTable frame = kvxui::FrameTexts();
    for (size_t i = 0; i < frame.count; ++i) {
        const int id = frame.rows[i].control;
        SCOPED_TRACE(kvxui::ControlName(id));
        const std::wstring actual = m_driver.Text(id);
        if (id == kvxui::btCancel && actual == CloseText()) {
            continue;
        }
        EXPECT_EQ(std::wstring(kvxui::RowText(frame.rows[i], m_language)), actual);
    }
}

void WizardTest::Shot(int page, const char* suffix)
{
    static std::set<std::string> taken;
    char name[96];
    snprintf(name, sizeof(name), "page-%02d-%s%s%s", page, kvxui::KVXDIAG2_PAGE_CAPTIONS[page],
             suffix != nullptr ? "-" : "", suffix != nullptr ? suffix : "");
    std::string file = name;
    for (char& c : file) {
        c = c == ' ' ? '_' : c;
    }
    if (!taken.insert(file).second) {
        return;
    }
    const std::wstring directory = ArtifactsDirectory() + L"\\" + LanguageFolder(m_language);
    MakeDirectories(directory);
    EXPECT_TRUE(m_driver.Screenshot(directory + L"\\" + Widen(file) + L".bmp")) << "screenshot of " << file;
}

void WizardTest::WalkToPage7()
{
    VisitPage(kvxui::KVXDIAG2_GUI_PAGE_INITIAL);
    ASSERT_TRUE(m_driver.Click(kvxui::btNext));
    VisitPage(kvxui::KVXDIAG2_GUI_PAGE_LICENSEAGREEMENT);
    ASSERT_TRUE(m_driver.Click(kvxui::cbLicenseAccept));
    ASSERT_TRUE(m_driver.Click(kvxui::btNext));
    VisitPage(kvxui::KVXDIAG2_GUI_PAGE_USERINFO);
    ASSERT_TRUE(m_driver.SetText(kvxui::reUserIssueDescription, L"No hay conexión a Internet desde las 9:00."));
    ASSERT_TRUE(m_driver.SetText(kvxui::edIssueNumber, L"INC-2024-0042"));
    Shot(kvxui::KVXDIAG2_GUI_PAGE_USERINFO, "filled");
    ASSERT_TRUE(m_driver.Click(kvxui::btNext));
    VisitPage(kvxui::KVXDIAG2_GUI_PAGE_DIAGNOSTICNORESULTS);
}

void WizardTest::AnswerBasicQuestion(bool fixed)
{
    VisitPage(kvxui::KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK);
    ASSERT_TRUE(m_driver.WaitForQuery(kvxui::eFormQuery_NOTIFY_DEPTH, 1, KVX_PAGE_TIMEOUT_MS)) << "no question waits";
    ASSERT_TRUE(m_driver.Click(fixed ? kvxui::rbBAUserResponseFixed : kvxui::rbBAUserResponseNotFixed));
    ASSERT_TRUE(m_driver.Click(kvxui::btNext));
    // The question page goes as soon as the answer is taken; the next question is a new page change.
    const double end = CWizardDriver::NowMs() + KVX_PAGE_TIMEOUT_MS;
    while (m_driver.PageIndex() == kvxui::KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK && CWizardDriver::NowMs() < end) {
        ::Sleep(5);
    }
    ASSERT_NE(kvxui::KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK, m_driver.PageIndex()) << "the answer was not taken";
}

double WizardTest::CancelAndAnswer(int button)
{
    // Cancel opens a modal question, so the click is posted rather than sent.
    EXPECT_TRUE(m_driver.PostClick(kvxui::btCancel));
    const HWND box = m_driver.WaitForMessageBox(10000);
    EXPECT_NE(nullptr, box) << "no cancel question appeared";
    if (box == nullptr) {
        return -1.0;
    }
    EXPECT_EQ(std::wstring(kvxui::CodeText(kvxui::eCodeText_CANCEL_QUESTION, m_language)),
              CWizardDriver::MessageBoxText(box));
    wchar_t title[64] = {};
    ::GetWindowTextW(box, title, 64);
    EXPECT_EQ(std::wstring(L"KVXDiag2"), std::wstring(title));
    const double when = CWizardDriver::NowMs();
    EXPECT_TRUE(CWizardDriver::AnswerMessageBox(box, button));
    return when;
}

bool WizardTest::WaitForJournal(const std::string& event, const std::map<std::string, std::string>& fields,
                                DWORD timeoutMs, SJournalEntry* found) const
{
    const double end = CWizardDriver::NowMs() + timeoutMs;
    do {
        for (const SJournalEntry& entry : Journal()) {
            if (entry.event != event) {
                continue;
            }
            bool match = true;
            for (const auto& field : fields) {
                const auto value = entry.fields.find(field.first);
                match = match && value != entry.fields.end() && value->second == field.second;
            }
            if (match) {
                if (found != nullptr) {
                    *found = entry;
                }
                return true;
            }
        }
        ::Sleep(10);
    } while (CWizardDriver::NowMs() < end);
    return false;
}

std::vector<int> WizardTest::Answers(int code) const
{
    std::vector<int> answers;
    for (const SJournalEntry& entry : Journal()) {
        if (entry.event == "answer" && entry.Int("code") == code) {
            answers.push_back(entry.Int("answer"));
        }
    }
    return answers;
}

std::string WizardTest::ResultsDirectory() const
{
    for (const SJournalEntry& entry : Journal()) {
        if (entry.event == "results") {
            const auto dir = entry.fields.find("dir");
            if (dir != entry.fields.end()) {
                return dir->second;
            }
        }
    }
    return std::string();
}

std::wstring WizardTest::CloseText() const { return kvxui::CodeText(kvxui::eCodeText_CLOSE, m_language); }

} // namespace kvxtest
