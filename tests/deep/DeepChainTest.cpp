// Whole deep analyses across "reboots": every boot is a process of its own (kvxcoredriver.exe) that
// loads the core, resumes from the registry through _0003_, runs one step through _0004_ and answers
// like the user. Under Wine the reboot really happens (ExitWindowsEx ends the session and runs the Run
// entries, which start the driver's batch file); the console driver survives it. After every boot the
// test checks what the next boot will find: the drivers' start types, the resume state and the
// autostart entry, and what the user was told.
#include "core/interface/KVXDiagTypes.h"
#include "tests/support/CoreDriver.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/SimNetCfg.h"
#include "tests/support/SimProduct.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using kvxtest::SDriverRun;
using kvxtest::ServiceStart;

constexpr DWORD AUTOSTART_TIMEOUT_MS = 30000;

struct SExpectedNotification {
    DWORD code;
    std::string text;
};

class DeepChainTest : public ::testing::Test {
protected:
    void Install(bool ndisManager = true)
    {
        kvxtest::SSimProductOptions options;
        options.ndisManager = ndisManager;
        // The old installation goes first: its removal would otherwise take the new one's services along.
        m_state.reset();
        m_product.reset();
        m_product.reset(new kvxtest::CSimProduct(options));
        ASSERT_EQ(m_product->Error(), "");
        m_state.reset(new kvxtest::CScopedResumeState());
        ASSERT_TRUE(m_autostart.Valid());
    }
    void TearDown() override
    {
        m_state.reset();
        m_product.reset();
        kvxtest::RemoveResultsDirectories();
    }

    // One boot. reboot is the answer to the reboot question; a boot whose reboot is accepted must have
    // set off the autostart entry.
    // release: the caller frees the ended job with _0005_, as a caller written to the exports does.
    SDriverRun Boot(int ask, int reboot = eKVXDIAG2NotifyRet_REBOOT_ACCEPTED, bool release = false)
    {
        m_autostart.Reset();
        std::vector<std::string> args = {"deep", "--ask", std::to_string(ask), "--reboot", std::to_string(reboot)};
        if (release) {
            args.insert(args.end(), {"--cancel", "1"});
        }
        SDriverRun run = kvxtest::RunCoreDriver(args);
        EXPECT_TRUE(run.started);
        EXPECT_TRUE(run.finished) << "the boot did not end within its time-out";
        EXPECT_EQ(run.initRc, 0u);
        EXPECT_EQ(run.jobRc, 0u);
        EXPECT_EQ(run.endRc, 0u);
        return run;
    }

    static void ExpectNotifications(const SDriverRun& run, const std::vector<SExpectedNotification>& expected)
    {
        std::vector<std::string> actual;
        for (const kvxtest::SDriverNotification& n : run.notifications) {
            actual.push_back(std::to_string(n.code) + " " + n.text);
        }
        std::vector<std::string> wanted;
        for (const SExpectedNotification& n : expected) {
            wanted.push_back(std::to_string(n.code) + " " + n.text);
        }
        EXPECT_EQ(actual, wanted);
    }

    static void ExpectStarts(const std::map<std::string, DWORD>& expected)
    {
        for (const auto& entry : expected) {
            EXPECT_EQ(ServiceStart(entry.first).value_or(0xDEAD), entry.second) << entry.first;
        }
    }

    // The state a reboot leaves for the next boot; the first such boot fixes the results directory.
    void ExpectStoredAndRebooted(DWORD step)
    {
        const kvxtest::SResumeState state = kvxtest::ReadResumeState();
        EXPECT_EQ(state.step.value_or(0), step);
        ASSERT_TRUE(state.resultsDir.has_value());
        if (m_resultsDir.empty()) {
            m_resultsDir = *state.resultsDir;
            EXPECT_NE(m_resultsDir.find("KVXDIAG2-Results"), std::string::npos) << m_resultsDir;
        }
        EXPECT_EQ(*state.resultsDir, m_resultsDir);
        std::string batch = kvxtest::CoreDriverBatchPath();
        EXPECT_EQ(state.autostart.value_or(""), "\"" + batch + "\"");
        EXPECT_TRUE(m_autostart.Wait(AUTOSTART_TIMEOUT_MS)) << "the reboot did not run the autostart entry";
    }

    static void ExpectCleared()
    {
        const kvxtest::SResumeState state = kvxtest::ReadResumeState();
        EXPECT_FALSE(state.step.has_value());
        EXPECT_FALSE(state.resultsDir.has_value());
        EXPECT_FALSE(state.autostart.has_value());
        EXPECT_FALSE(state.tdiSuspicious);
    }

    // The report lines this analysis writes itself (tasks and console programs left out), each with its
    // indentation as a leading number of tabs.
    std::vector<std::string> DeepReportLines() const
    {
        static const char* const prefixes[] = {"-> ======",
                                               "-> -",
                                               "<- -",
                                               "-> Dynamic Data",
                                               "<- Dynamic Data",
                                               "!!!",
                                               "Step: ",
                                               "TDI desactivado",
                                               "Enabling log",
                                               "Deactivating log",
                                               "Activating previous",
                                               "Deactivating actual",
                                               "Preparing to reboot",
                                               "Reboot",
                                               "No more filters"};
        std::vector<std::string> lines;
        for (const kvxtest::SReportLine& line : kvxtest::ReadReportLines(m_resultsDir + "\\KVXDiagReport.txt")) {
            EXPECT_TRUE(line.valid) << line.text;
            for (const char* prefix : prefixes) {
                if (line.text.rfind(prefix, 0) == 0) {
                    lines.push_back(std::to_string(line.tabs) + " " + line.text);
                    break;
                }
            }
        }
        return lines;
    }

    // Boots 1 and 2, which every whole chain starts with: the TDI manager off, then reference data and the
    // NDIS manager off.
    void FirstTwoBoots(const std::string& ndisManager)
    {
        SDriverRun boot = Boot(0);
        EXPECT_EQ(boot.pending, 0);
        EXPECT_EQ(boot.step, 1);
        ExpectNotifications(boot, {{11, "Job started"}, {13, "KVXTMGR"}});
        ExpectStarts({{"KVXTMGR", 4}, {ndisManager, 1}});
        ExpectStoredAndRebooted(2);

        boot = Boot(0);
        EXPECT_EQ(boot.pending, 1);
        EXPECT_EQ(boot.step, 2);
        ExpectNotifications(boot, {{11, "Job started"}, {4, ndisManager}, {13, ndisManager}});
        ExpectStarts({{"KVXTMGR", 4}});
        if (ndisManager == "KVXNMGR") {
            ExpectStarts({{"KVXNMGR", 4}});
        }
        ExpectStoredAndRebooted(3);
        EXPECT_TRUE(kvxtest::DirectoryExists(m_resultsDir + "\\DeepAnalisys\\Previous-Data"));
        EXPECT_TRUE(kvxtest::DirectoryExists(m_resultsDir + "\\DeepAnalisys\\" + ndisManager));
    }

    std::unique_ptr<kvxtest::CSimProduct> m_product;
    std::unique_ptr<kvxtest::CScopedResumeState> m_state;
    kvxtest::CAutostartWatch m_autostart;
    std::string m_resultsDir;
};

TEST_F(DeepChainTest, CulpritAmongTheNDISPlugins)
{
    Install();
    FirstTwoBoots("KVXNMGR");

    SDriverRun boot = Boot(eKVXDIAG2NotifyRet_PROBLEM_FIXED);
    EXPECT_EQ(boot.step, 3);
    ExpectNotifications(boot,
                        {{11, "Job started"}, {14, "Step completed. Ask for user."}, {4, "KVXTMGR"}, {13, "KVXTMGR"}});
    ExpectStarts({{"KVXNMGR", 1}, {"KVXTMGR", 4}});
    ExpectStoredAndRebooted(8);
    EXPECT_FALSE(kvxtest::ReadResumeState().tdiSuspicious);

    boot = Boot(eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED);
    EXPECT_EQ(boot.step, 8);
    ExpectNotifications(boot,
                        {{11, "Job started"}, {14, "Step completed. Ask for user."}, {4, "KVXFLTE"}, {13, "KVXFLTE"}});
    ExpectStarts({{"KVXTMGR", 1}, {"KVXFLTE", 4}, {"KVXNMGR", 1}});
    ExpectStoredAndRebooted(4);

    boot = Boot(eKVXDIAG2NotifyRet_PROBLEM_FIXED);
    EXPECT_EQ(boot.step, 4);
    ExpectNotifications(boot, {{11, "Job started"}, {14, "Step completed. Ask for user."}, {15, "KVXFLTE"}});
    ExpectStarts({{"KVXFLTE", 4}, {"KVXFLTD", 3}, {"KVXTMGR", 1}, {"KVXNMGR", 1}});
    ExpectCleared();

    const std::vector<std::string> expected = {
        // boot 1
        "0 Step: INITIALIZATIONS_STEP",
        "0 TDI desactivado OK para evitar conflictos en la desactivacion de IM",
        "0 Preparing to reboot...",
        "0 Reboot...",
        // boot 2
        "0 -> ======================Deep Analysis======================",
        "1 -> -Previous operations for all filters...",
        "2 Enabling log and captures...",
        "2 -> Dynamic Data",
        "2 <- Dynamic Data",
        "2 Deactivating log and captures...",
        "1 <- -Previous operations for all filters finished...",
        "1 -> -Operations for filter \"KVXNMGR\"",
        "2 Enabling log and captures...",
        "2 -> Dynamic Data",
        "2 <- Dynamic Data",
        "2 Activating previous filter:  ...",
        "2 Deactivating actual filter: KVXNMGR ...",
        "2 Deactivating log and captures...",
        "2 Preparing to reboot...",
        "2 Reboot...",
        "1 <- -Operations for filter \"KVXNMGR\"",
        // boot 3: the previous driver's section was closed before the reboot, so its closing title finds no
        // open section in the new process and is not written.
        "0 !!!Problem fixed deactivating NDIS",
        "0 -> -Operations for filter \"KVXTMGR\"",
        "1 Enabling log and captures...",
        "1 -> Dynamic Data",
        "1 <- Dynamic Data",
        "1 Activating previous filter: KVXNMGR ...",
        "1 Deactivating actual filter: KVXTMGR ...",
        "1 Deactivating log and captures...",
        "1 Preparing to reboot...",
        "1 Reboot...",
        "0 <- -Operations for filter \"KVXTMGR\"",
        // boot 4
        "0 -> -Operations for filter \"KVXFLTE\"",
        "1 Enabling log and captures...",
        "1 -> Dynamic Data",
        "1 <- Dynamic Data",
        "1 Activating previous filter: KVXTMGR ...",
        "1 Deactivating actual filter: KVXFLTE ...",
        "1 Deactivating log and captures...",
        "1 Preparing to reboot...",
        "1 Reboot...",
        "0 <- -Operations for filter \"KVXFLTE\"",
        // boot 5
        "0 !!!Problem fixed deactivating KVXFLTE filter.",
    };
    EXPECT_EQ(DeepReportLines(), expected);
}

// Releasing an ended job with _0005_ is how callers free it. After a prepared reboot or a verdict it
// changes nothing; an answer that is no answer about the problem switches nothing either.
TEST_F(DeepChainTest, ReleasingAnEndedJobKeepsTheRebootAndTheVerdict)
{
    Install();
    const bool release = true;
    SDriverRun boot = Boot(0, eKVXDIAG2NotifyRet_REBOOT_ACCEPTED, release);
    ExpectStarts({{"KVXTMGR", 4}});
    ExpectStoredAndRebooted(2);
    boot = Boot(0, eKVXDIAG2NotifyRet_REBOOT_ACCEPTED, release);
    ExpectStarts({{"KVXTMGR", 4}, {"KVXNMGR", 4}});
    ExpectStoredAndRebooted(3);
    boot = Boot(eKVXDIAG2NotifyRet_PROBLEM_FIXED, eKVXDIAG2NotifyRet_REBOOT_ACCEPTED, release);
    ExpectStoredAndRebooted(8);
    boot = Boot(eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED, eKVXDIAG2NotifyRet_REBOOT_ACCEPTED, release);
    ExpectStarts({{"KVXTMGR", 1}, {"KVXFLTE", 4}, {"KVXNMGR", 1}});
    ExpectStoredAndRebooted(4);

    // "Exiting" at a plug-in's question, then closed: nothing is switched and the question stays.
    boot = Boot(eKVXDIAG2NotifyRet_EXITING);
    ExpectStarts({{"KVXFLTE", 4}, {"KVXFLTD", 3}});
    EXPECT_EQ(kvxtest::ReadResumeState().step.value_or(0), 4u);

    // A refused reboot: the step that names the new configuration is stored all the same, and the
    // driver switched back gets its own start type again.
    boot = Boot(eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED, 0);
    ExpectStarts({{"KVXFLTE", 3}, {"KVXFLTD", 4}});
    EXPECT_EQ(kvxtest::ReadResumeState().step.value_or(0), 5u);

    boot = Boot(eKVXDIAG2NotifyRet_PROBLEM_FIXED, eKVXDIAG2NotifyRet_REBOOT_ACCEPTED, release);
    ExpectNotifications(boot, {{11, "Job started"}, {14, "Step completed. Ask for user."}, {15, "KVXFLTD"}});
    ExpectStarts({{"KVXFLTE", 3}, {"KVXFLTD", 4}, {"KVXTMGR", 1}, {"KVXNMGR", 1}});
    ExpectCleared();
    const std::vector<kvx::SJournalEntry> entries = kvx::CChangeJournal::Entries();
    ASSERT_EQ(entries.size(), 1u) << "the culprit alone, kept";
    EXPECT_TRUE(entries[0].kept);
    EXPECT_EQ(entries[0].original, 3u);
}

// The TDI manager switched off by the first boot is no workaround here: it goes back to its recorded
// start type with the rest.
TEST_F(DeepChainTest, NoSolutionAtTheNDISManagerStepPutsTheTDIManagerBack)
{
    Install();
    FirstTwoBoots("KVXNMGR");
    const SDriverRun boot = Boot(eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED);
    ExpectNotifications(boot, {{11, "Job started"}, {14, "Step completed. Ask for user."}, {16, "KVXNMGR"}});
    ExpectStarts({{"KVXNMGR", 1}, {"KVXTMGR", 1}});
    ExpectCleared();
    EXPECT_TRUE(kvxtest::DirectoryExists(m_resultsDir + "\\DeepAnalisys"));
    const std::vector<std::string> lines = DeepReportLines();
    ASSERT_GE(lines.size(), 7u);
    const std::vector<std::string> tail(lines.end() - 7, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"0 -> -Operations for filter \"\"", "1 Enabling log and captures...",
                                              "1 -> Dynamic Data", "1 <- Dynamic Data",
                                              "1 No more filters. DeepAnalysis finished...",
                                              "1 Deactivating log and captures...",
                                              "0 <- -Operations for filter \"\""}));
    // The last gathering's module log and TDI capture were stopped, so they end complete in the results.
    const std::string directory = m_resultsDir + "\\DeepAnalisys\\";
    const std::string log = kvxtest::ReadFileText(directory + "KVXApiSrvLog.txt");
    const std::string capture = kvxtest::ReadFileText(directory + "KVXATDI.dat");
    EXPECT_NE(log.find("log stopped"), std::string::npos) << log;
    EXPECT_NE(capture.find("capture stopped"), std::string::npos) << capture;
}

TEST_F(DeepChainTest, TDISuspiciousBranchEndsWithTheWorkaround)
{
    Install();
    FirstTwoBoots("KVXNMGR");
    Boot(eKVXDIAG2NotifyRet_PROBLEM_FIXED);
    ExpectStoredAndRebooted(8);

    SDriverRun boot = Boot(eKVXDIAG2NotifyRet_PROBLEM_FIXED);
    ExpectNotifications(boot,
                        {{11, "Job started"}, {14, "Step completed. Ask for user."}, {4, "KVXFLTF"}, {13, "KVXFLTF"}});
    EXPECT_TRUE(kvxtest::ReadResumeState().tdiSuspicious);
    ExpectStarts({{"KVXTMGR", 1}, {"KVXFLTF", 4}});
    ExpectStoredAndRebooted(9);

    boot = Boot(eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED);
    ExpectNotifications(boot,
                        {{11, "Job started"}, {14, "Step completed. Ask for user."}, {4, "KVXMON"}, {13, "KVXMON"}});
    ExpectStarts({{"KVXFLTF", 3}, {"KVXMON", 4}}); // back to its own start type, not the system's
    EXPECT_TRUE(kvxtest::ReadResumeState().tdiSuspicious);
    ExpectStoredAndRebooted(10);

    boot = Boot(eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED);
    ExpectNotifications(boot,
                        {{11, "Job started"}, {14, "Step completed. Ask for user."}, {16, "KVXMON"}, {4, "KVXTMGR"}});
    ExpectStarts({{"KVXMON", 1}, {"KVXTMGR", 4}, {"KVXFLTF", 3}, {"KVXNMGR", 1}});
    ExpectCleared();
}

// The branches after a suspicious TDI manager, resumed from the state that boot 8 of the chain above
// leaves behind.
TEST_F(DeepChainTest, TDIPluginsNamedAsCulprits)
{
    for (const bool monitor : {false, true}) {
        SCOPED_TRACE(monitor ? "KVXMON" : "KVXFLTF");
        Install();
        kvxtest::CScopedTempDir results("KVXDIAG2-Results-seed");
        ASSERT_TRUE(kvxtest::StoreResumeState(9, results.Path(), true));
        ASSERT_TRUE(kvxtest::SetDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\KVXFLTF", "Start", 4));
        m_resultsDir = results.Path();
        if (monitor) {
            Boot(eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED);
            ExpectStoredAndRebooted(10);
        }
        const SDriverRun boot = Boot(eKVXDIAG2NotifyRet_PROBLEM_FIXED);
        EXPECT_EQ(boot.step, monitor ? 10 : 9);
        const std::string culprit = monitor ? "KVXMON" : "KVXFLTF";
        ExpectNotifications(boot, {{11, "Job started"}, {14, "Step completed. Ask for user."}, {15, culprit}});
        ExpectStarts({{culprit, 4}, {"KVXTMGR", 1}});
        ExpectCleared();
        const std::vector<std::string> lines = DeepReportLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "0 !!!Problem fixed deactivating " + culprit + " filter.");
        m_resultsDir.clear();
    }
}

TEST_F(DeepChainTest, ExitingAtTheNDISManagerStepCancelsAndKeepsTheStep)
{
    Install();
    kvxtest::CScopedTempDir results("KVXDIAG2-Results-seed");
    ASSERT_TRUE(kvxtest::StoreResumeState(3, results.Path()));
    ASSERT_TRUE(kvxtest::SetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                   "KVXDIAG2_AUTOSTART", "\"" + kvxtest::CoreDriverBatchPath() + "\""));
    for (const char* service : {"KVXTMGR", "KVXNMGR"}) {
        ASSERT_TRUE(kvxtest::SetDword(HKEY_LOCAL_MACHINE,
                                      std::string("SYSTEM\\CurrentControlSet\\Services\\") + service, "Start", 4));
    }
    const SDriverRun boot = Boot(eKVXDIAG2NotifyRet_EXITING);
    ASSERT_EQ(boot.notifications.size(), 3u);
    ExpectNotifications(boot,
                        {{11, "Job started"},
                         {14, "Step completed. Ask for user."},
                         {12, "ERROR: Can't obtain step involved filters!"}});
    EXPECT_EQ(boot.notifications[2].value, 4312u);
    const kvxtest::SResumeState state = kvxtest::ReadResumeState();
    EXPECT_EQ(state.step.value_or(0), 3u);
    EXPECT_EQ(state.resultsDir.value_or(""), results.Path());
    EXPECT_EQ(state.autostart.value_or(""), "\"" + kvxtest::CoreDriverBatchPath() + "\"");
    ExpectStarts({{"KVXTMGR", 4}, {"KVXNMGR", 4}});
}

TEST_F(DeepChainTest, StoredStepSevenStillAsksAndThenCancels)
{
    Install();
    kvxtest::CScopedTempDir results("KVXDIAG2-Results-seed");
    ASSERT_TRUE(kvxtest::StoreResumeState(7, results.Path()));
    for (const int answer : {eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED, eKVXDIAG2NotifyRet_PROBLEM_FIXED}) {
        SCOPED_TRACE(answer);
        const SDriverRun boot = Boot(answer);
        EXPECT_EQ(boot.pending, 1);
        EXPECT_EQ(boot.step, 7);
        ExpectNotifications(boot,
                            {{11, "Job started"},
                             {14, "Step completed. Ask for user."},
                             {12, "ERROR: Can't obtain step involved filters!"}});
        EXPECT_EQ(kvxtest::ReadResumeState().step.value_or(0), 7u);
    }
}

TEST_F(DeepChainTest, RefusedFirstRebootStoresNothingAndTheNextStartIsFresh)
{
    Install();
    SDriverRun boot = Boot(0, eKVXDIAG2NotifyRet_EXITING);
    ExpectNotifications(boot, {{11, "Job started"}, {13, "KVXTMGR"}});
    ExpectStarts({{"KVXTMGR", 1}, {"KVXNMGR", 1}});
    const kvxtest::SResumeState state = kvxtest::ReadResumeState();
    EXPECT_FALSE(state.step || state.resultsDir || state.autostart);

    boot = kvxtest::RunCoreDriver({"init"});
    EXPECT_EQ(boot.initRc, 0u);
    EXPECT_EQ(boot.pending, 0);
    EXPECT_EQ(boot.step, 1);
}

// Without the NDIS manager the intermediate driver is taken out through its network component. While
// another program holds the network configuration, the switch fails, nothing is asked and the next
// boot repeats the step.
TEST_F(DeepChainTest, IntermediateDriverThroughItsNetworkComponent)
{
    Install(false);
    kvxtest::CSimNetCfgRegistration registration;
    ASSERT_EQ(registration.Result(), 0u);
    kvxtest::CSimNetCfgModel model;
    ASSERT_EQ(model.Result(), 0u);
    // The customer had the second binding off: it must stay off when the bindings are put back.
    ASSERT_EQ(model.AddTypicalMachine(false), 0u);

    SDriverRun boot = Boot(0);
    ExpectStoredAndRebooted(2);
    {
        kvxtest::CSimNetCfgLockHolder holder(L"Another network installer");
        ASSERT_EQ(holder.Start(), 0u);
        boot = Boot(0);
        ExpectNotifications(boot, {{11, "Job started"}});
        EXPECT_EQ(kvxtest::ReadResumeState().step.value_or(0), 2u);
        EXPECT_EQ(model.IsPathEnabled(L"kvximd", 0).value_or(false), true);
        EXPECT_EQ(holder.Stop(), 0u);
    }
    boot = Boot(0);
    ExpectNotifications(boot, {{11, "Job started"}, {4, "KVXIMD"}, {13, "KVXIMD"}});
    EXPECT_EQ(model.IsPathEnabled(L"kvximd", 0).value_or(true), false);
    EXPECT_EQ(model.IsPathEnabled(L"kvximd", 1).value_or(true), false);
    ExpectStarts({{"KVXIMD", 1}, {"KVXTMGR", 4}});
    ExpectStoredAndRebooted(3);

    boot = Boot(eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED);
    ExpectNotifications(boot, {{11, "Job started"}, {14, "Step completed. Ask for user."}, {16, "KVXIMD"}});
    EXPECT_EQ(model.IsPathEnabled(L"kvximd", 0).value_or(false), true);
    EXPECT_EQ(model.IsPathEnabled(L"kvximd", 1).value_or(true), false);
    ExpectCleared();
}

} // namespace
