// The fixture of the wizard's tests: starts KVXDiag2.exe (beside the stand-in core or the real one),
// walks it like a user, checks every page it visits against the text tables, photographs each page
// once per language, reads the stand-in core's journal, and leaves the prefix as it found it.
#pragma once

#include "common/journal/ChangeJournal.h"
#include "common/journal/InstanceMutex.h"
#include "core/interface/KVXDiagTypes.h"
#include "tests/support/TestSupport.h"
#include "tests/wizard/WizardDriver.h"
#include "wizard/WizardControls.h"
#include "wizard/WizardTexts.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kvxtest {

// One line of the stand-in core's journal: "<ms> <event> key=value ...".
struct SJournalEntry {
    double ms = 0.0;
    std::string event;
    std::map<std::string, std::string> fields;
    int Int(const std::string& key) const;
};

std::vector<SJournalEntry> ReadJournal(const std::string& path);
std::wstring WizardProgramDirectory();
// Where screenshots and logs go: KVX_WIZARD_ARTIFACTS, else <build>\artifacts\wizard.
std::wstring ArtifactsDirectory();
std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);
// Text with carriage returns removed, so that rich-edit and table line ends compare equal.
std::wstring WithoutCarriageReturns(const std::wstring& text);

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the wizard beside the stand-in core with the given scenario ("NAME=value" entries).
    void StartWithStandInCore(const std::vector<std::wstring>& scenario = {});
    // Starts the wizard beside the real core library.
    void StartWithRealCore();
    // The same without waiting for the window, which a question at start-up keeps hidden.
    void LaunchWithStandInCore(const std::vector<std::wstring>& scenario = {});
    void LaunchWithRealCore();
    static std::wstring StandInWizardPath();
    static std::wstring RealWizardPath();

    // Waits for one of the wizard's reboot questions, checks its title and text, and answers it.
    void AnswerRebootQuestion(kvxui::ECodeText question, int button);
    // Closes the window with its close box and, when the wizard puts something back, answers the closing
    // reboot question with Cancel. Returns whether the question was asked.
    bool CloseAnsweringTheClosingQuestion();
    // The wizard's autostart value (the process's own view of the Run key), if there is one.
    static bool ReadAutostart(std::string& value);
    // Both views of the Run key: each one starts its own wizard at logon.
    static void DeleteAutostart();
    // After the wizard asked for a restart: Wine's restart ends the session and runs the autostart value
    // at once, but it is no boot (the volatile reboot mark survives it). This stands in for the boot:
    // the test holds the tool's mutex from the moment the wizard ends, so the wizard that the restart
    // starts must say so and leave; m_beforeBoot then looks at the machine; the mark is removed as a boot
    // removes it, and the wizard is started as the autostart value would start it. True when all of it
    // happened and the new wizard's window shows.
    bool FollowRebootAsABoot(const std::wstring& exe, const std::vector<std::wstring>& environment);
    std::function<void()> m_beforeBoot;

    // Asserts the page, compares its texts with the tables and photographs it (once per language).
    // m_pageSeenAt is when the page was seen: the checks after it take a second on a busy machine.
    void VisitPage(int page, const char* shotSuffix = nullptr);
    double m_pageSeenAt = 0;
    void ExpectPageTexts(int page);
    void ExpectFrameTexts();
    void Shot(int page, const char* suffix = nullptr);

    // 0 -> 1 -> accept -> 2 (description, number) -> 7.
    void WalkToPage7();
    // On page 10: picks the answer and presses Next.
    void AnswerBasicQuestion(bool fixed);
    // Clicks Cancel and answers the question that follows; the moment of the answer is returned.
    double CancelAndAnswer(int button);

    std::vector<SJournalEntry> Journal() const { return ReadJournal(m_journalPath); }
    // Waits until the journal holds an entry with this event whose fields match.
    bool WaitForJournal(const std::string& event, const std::map<std::string, std::string>& fields, DWORD timeoutMs,
                        SJournalEntry* found = nullptr) const;
    std::vector<int> Answers(int code) const;

    std::string ResultsDirectory() const;
    std::wstring CloseText() const;

    kvxui::ELanguage m_language = kvxui::eLanguage_SPANISH;
    CWizardDriver m_driver;
    std::unique_ptr<CScopedTempDir> m_temp;
    std::string m_journalPath;
    std::string m_vendorKey;
};

} // namespace kvxtest
