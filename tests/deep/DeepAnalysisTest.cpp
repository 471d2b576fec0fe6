// The deep analysis inside one process: the transition table row by row, and the runs that end before
// any driver is switched (invalid answers and steps, a refused first reboot, a missing TDI manager,
// cancellation).
#include "core/jobs/Foreman.h"
#include "core/jobs/UndoRecords.h"
#include "core/tasks/TaskIds.h"
#include "core/tasks/TasksFactory.h"
#include "tests/support/CoreDriver.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/SimProduct.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using kvxtest::ServiceStart;

constexpr DWORD NO_OBJECT = 4312;

// Answers each code from a table and records what it was told; optionally blocks the first
// notification that arrives on another thread than the test's own until released.
class CScriptedNotifier : public INotify {
public:
    CScriptedNotifier()
        : m_release(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          m_blocked(::CreateEventA(nullptr, TRUE, FALSE, nullptr))
    {
    }

    int Notify(DWORD code, KVXDIAG2_CONTEXT, const std::string& text, const TaskDataList&) override
    {
        return Record(code, text, 0);
    }
    int Notify(DWORD code, KVXDIAG2_CONTEXT, const std::string& text, DWORD value) override
    {
        return Record(code, text, value);
    }

    struct SRecord {
        DWORD code;
        std::string text;
        DWORD value;
    };
    std::vector<SRecord> Records()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_records;
    }
    std::vector<DWORD> Codes()
    {
        std::vector<DWORD> codes;
        for (const SRecord& record : Records()) {
            codes.push_back(record.code);
        }
        return codes;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_records.clear();
    }

    std::map<DWORD, int> answers;
    std::atomic<DWORD> blockOtherThreadsOn{0};
    DWORD testThread = ::GetCurrentThreadId();
    HANDLE Blocked() const { return m_blocked.get(); }
    void Release() { ::SetEvent(m_release.get()); }

private:
    int Record(DWORD code, const std::string& text, DWORD value)
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_records.push_back({code, text, value});
        }
        if (code == blockOtherThreadsOn && ::GetCurrentThreadId() != testThread) {
            ::SetEvent(m_blocked.get());
            EXPECT_EQ(::WaitForSingleObject(m_release.get(), 60000), WAIT_OBJECT_0);
        }
        const auto answer = answers.find(code);
        return answer != answers.end() ? answer->second : 0;
    }

    std::mutex m_lock;
    std::vector<SRecord> m_records;
    kvx::UniqueHandle m_release;
    kvx::UniqueHandle m_blocked;
};

struct STransition {
    DWORD step;
    int answer;
    bool tdiSuspicious;
    DWORD nextStep;
    const char* reactivate; // "$NDIS" stands for the installed NDIS manager
    const char* deactivate;
    DWORD result;
};

constexpr STransition TRANSITIONS[] = {
    {2, 0, false, 3, "", "$NDIS", 0},
    {2, 4, true, 3, "", "$NDIS", 0},
    {3, 3, false, 8, "$NDIS", "KVXTMGR", 0},
    {3, 4, false, 11, "$NDIS", "", 0},
    {3, 5, false, 0, "$NDIS", "", 87},
    {3, 0, true, 0, "$NDIS", "", 87},
    {4, 3, false, 5, "KVXFLTE", "KVXFLTD", 0},
    {4, 4, true, 5, "KVXFLTE", "KVXFLTD", 0},
    {5, 4, false, 6, "KVXFLTD", "KVXFLTC", 0},
    {6, 4, false, 11, "KVXFLTC", "", 0},
    {6, 3, true, 11, "KVXFLTC", "", 0},
    {8, 3, false, 9, "KVXTMGR", "KVXFLTF", 0},
    {8, 4, false, 4, "KVXTMGR", "KVXFLTE", 0},
    {8, 1, false, 0, "KVXTMGR", "", 87},
    {9, 4, false, 10, "KVXFLTF", "KVXMON", 0},
    {9, 3, true, 10, "KVXFLTF", "KVXMON", 0},
    {10, 4, true, 11, "KVXMON", "KVXTMGR", 0},
    {10, 3, true, 11, "KVXMON", "KVXTMGR", 0},
    {10, 4, false, 3, "KVXMON", "$NDIS", 0},
    {11, 4, false, 11, "", "", 0},
    {0, 3, false, 0, "", "", 87},
    {1, 3, false, 1, "", "", 87},
    {7, 3, false, 7, "", "", 87},
    {12, 4, true, 12, "", "", 87},
};

std::string Expand(const char* name, const std::string& ndisManager)
{
    return std::string(name) == "$NDIS" ? ndisManager : std::string(name);
}

TEST(DeepAnalysisTransitions, EveryRowForEitherNDISManager)
{
    for (const bool ndisManager : {true, false}) {
        const std::string manager = ndisManager ? "KVXNMGR" : "KVXIMD";
        SCOPED_TRACE(manager);
        kvxtest::SSimProductOptions options;
        options.ndisManager = ndisManager;
        kvxtest::CSimProduct product(options);
        ASSERT_EQ(product.Error(), "");
        CForeman foreman;
        std::string name;
        ASSERT_EQ(foreman.GetNDISManagerFilterName(name), 0u);
        EXPECT_EQ(name, manager);
        for (const STransition& row : TRANSITIONS) {
            SCOPED_TRACE(testing::Message() << "step " << row.step << ", answer " << row.answer << ", TDI suspicious "
                                            << row.tdiSuspicious);
            DWORD step = row.step;
            std::string deactivate = "stale";
            std::string reactivate = "stale";
            EXPECT_EQ(foreman.GetStepInvolvedFilters(step, row.answer, row.tdiSuspicious, deactivate, reactivate),
                      row.result);
            EXPECT_EQ(step, row.nextStep);
            EXPECT_EQ(reactivate, Expand(row.reactivate, manager));
            EXPECT_EQ(deactivate, Expand(row.deactivate, manager));
        }
    }
}

class DeepRunTest : public ::testing::Test {
protected:
    void Start(const kvxtest::SSimProductOptions& options = kvxtest::SSimProductOptions())
    {
        m_product.reset();
        m_product.reset(new kvxtest::CSimProduct(options));
        ASSERT_EQ(m_product->Error(), "");
        m_state.reset(new kvxtest::CScopedResumeState());
        ASSERT_EQ(m_foreman.Init(5, false, m_results.Path()), 0u);
        ASSERT_EQ(m_foreman.RegisterNotifier(&m_notifier, 0x10), 0u);
    }
    void TearDown() override { m_foreman.Finish(); }

    std::vector<std::string> ReportTexts() const
    {
        std::vector<std::string> texts;
        for (const kvxtest::SReportLine& line : kvxtest::ReadReportLines(m_results.Path() + "\\KVXDiagReport.txt")) {
            texts.push_back(line.text);
        }
        return texts;
    }

    kvxtest::CScopedTempDir m_results{"KVXDIAG2-Results-deep"};
    std::unique_ptr<kvxtest::CSimProduct> m_product;
    std::unique_ptr<kvxtest::CScopedResumeState> m_state;
    CScriptedNotifier m_notifier;
    CForeman m_foreman;
};

TEST_F(DeepRunTest, InvalidAnswerOrStepCancelsTheRunAndKeepsTheStoredState)
{
    Start();
    const struct {
        DWORD step;
        int answer;
    } cases[] = {{3, 5}, {3, 0}, {8, 5}, {8, 1}, {7, 4}, {7, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "step " << c.step << ", answer " << c.answer);
        ASSERT_TRUE(kvxtest::StoreResumeState(c.step, m_results.Path()));
        m_notifier.Clear();
        m_notifier.answers = {{eKVXDIAG2Notify_DEEPANALYSIS_USER_ASK, c.answer}};
        EXPECT_EQ(m_foreman.RunDeepAnalysis(100, c.step, false), 87u);
        const auto records = m_notifier.Records();
        ASSERT_EQ(m_notifier.Codes(), (std::vector<DWORD>{11, 14, 12}));
        EXPECT_EQ(records[0].text, "Job started");
        EXPECT_EQ(records[1].text, "Step completed. Ask for user.");
        EXPECT_EQ(records[2].text, "ERROR: Can't obtain step involved filters!");
        EXPECT_EQ(records[2].value, NO_OBJECT);
        const kvxtest::SResumeState state = kvxtest::ReadResumeState();
        EXPECT_EQ(state.step.value_or(0), c.step);
        EXPECT_EQ(state.resultsDir.value_or(""), m_results.Path());
        for (const std::string& service : m_product->Services()) {
            EXPECT_EQ(ServiceStart(service).value_or(0), service.compare(0, 6, "KVXFLT") == 0 ? 3u : 1u) << service;
        }
    }
}

// Nothing is stored for a resume, so the TDI manager cannot stay off waiting for one.
TEST_F(DeepRunTest, RefusedFirstRebootPutsTheTDIManagerBackAndStoresNothing)
{
    Start();
    m_notifier.answers = {{eKVXDIAG2Notify_DEEPANALYSIS_PREPARED_TO_REBOOT, eKVXDIAG2NotifyRet_EXITING}};
    EXPECT_EQ(m_foreman.RunDeepAnalysis(100, 1, false), 0u);
    const auto records = m_notifier.Records();
    ASSERT_EQ(m_notifier.Codes(), (std::vector<DWORD>{11, 13}));
    EXPECT_EQ(records[1].text, "KVXTMGR");
    EXPECT_EQ(ServiceStart("KVXTMGR").value_or(0), 1u);
    EXPECT_EQ(ServiceStart("KVXNMGR").value_or(0), 1u);
    const kvxtest::SResumeState state = kvxtest::ReadResumeState();
    EXPECT_FALSE(state.step || state.resultsDir || state.autostart);
    EXPECT_TRUE(kvxtest::OpenDeepEntries().empty());
    EXPECT_EQ(ReportTexts(),
              (std::vector<std::string>{"Step: INITIALIZATIONS_STEP",
                                        "TDI desactivado OK para evitar conflictos en la desactivacion de IM",
                                        "Reboot canceled by user. Process will continue on next boot ...",
                                        "Driver KVXTMGR set back to its original start type 1."}));
}

TEST_F(DeepRunTest, FirstStepWithoutTDIManagerFailsWithTheRegistryCode)
{
    kvxtest::SSimProductOptions options;
    options.omitServices = {"KVXTMGR"};
    Start(options);
    EXPECT_EQ(m_foreman.RunDeepAnalysis(100, 1, false), 2u);
    EXPECT_EQ(m_notifier.Codes(), (std::vector<DWORD>{11}));
    EXPECT_FALSE(ServiceStart("KVXTMGR").has_value()) << "no service key made";
    EXPECT_EQ(
        ReportTexts(),
        (std::vector<std::string>{"Step: INITIALIZATIONS_STEP", "Failed to disable filter KVXTMGR before KVXIM."}));
}

// The job's thread holds its first notification while another thread cancels the job; the run on
// the test's thread then meets the cancellation point with the event set.
TEST_F(DeepRunTest, CancelledJobStopsAfterItsFirstNotification)
{
    Start();
    const DWORD jobId = 41;
    m_notifier.blockOtherThreadsOn = eKVXDIAG2Notify_DEEPANALYSIS_BEGUN;
    ASSERT_EQ(m_foreman.ScheduleJob(eKVXDiag2Job_DEEP_ANALYSIS, jobId), 0u);
    ASSERT_EQ(::WaitForSingleObject(m_notifier.Blocked(), 30000), WAIT_OBJECT_0);
    std::thread canceller([&] { EXPECT_EQ(m_foreman.CancelJob(jobId), 0u); });
    bool cancelled = false;
    for (int i = 0; i < 3000 && !(cancelled = m_foreman.IsThisJobCancelled(jobId)); ++i) {
        ::Sleep(1);
    }
    ASSERT_TRUE(cancelled);
    m_notifier.Clear();
    EXPECT_EQ(m_foreman.RunDeepAnalysis(jobId, 1, false), 1223u);
    EXPECT_EQ(m_notifier.Codes(), (std::vector<DWORD>{11}));
    EXPECT_EQ(ServiceStart("KVXTMGR").value_or(0), 1u) << "nothing switched";
    m_notifier.Release();
    canceller.join();
    EXPECT_EQ(m_notifier.Codes(), (std::vector<DWORD>{11})) << "the job's own run stopped as well";
    EXPECT_EQ(ServiceStart("KVXTMGR").value_or(0), 1u);
}

// The NDIS manager's lookup fails in either of its two ways while the test runs: its task cannot be
// created, or the manager's service key cannot be read.
class CFailedNDISManagerLookup {
public:
    explicit CFailedNDISManagerLookup(bool bCreation)
    {
        if (bCreation) {
            auto& tasks = CTasksFactory::GetSubscriptionMap();
            m_create = tasks.at(KVXDIAG2_TASKID_IS_SERVICE_INSTALLED);
            tasks[KVXDIAG2_TASKID_IS_SERVICE_INSTALLED] = +[]() -> ITask* { return nullptr; };
            return;
        }
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\KVXNMGR", 0,
                            READ_CONTROL | WRITE_DAC, m_key.put()) != ERROR_SUCCESS) {
            return;
        }
        DWORD size = 0;
        ::RegGetKeySecurity(m_key.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
        m_dacl.resize(size);
        if (size == 0 || ::RegGetKeySecurity(m_key.get(), DACL_SECURITY_INFORMATION, m_dacl.data(), &size) != 0) {
            m_dacl.clear();
            return;
        }
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        if (!::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
            return;
        }
        alignas(DWORD) BYTE buffer[256] = {};
        ACL* acl = reinterpret_cast<ACL*>(buffer);
        SECURITY_DESCRIPTOR descriptor;
        const bool built = ::InitializeAcl(acl, sizeof buffer, ACL_REVISION) &&
                           ::AddAccessDeniedAce(acl, ACL_REVISION, KEY_QUERY_VALUE, everyone) &&
                           ::AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone) &&
                           ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                           ::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
        ::FreeSid(everyone);
        m_denied = built && ::RegSetKeySecurity(m_key.get(), DACL_SECURITY_INFORMATION, &descriptor) == 0;
    }
    ~CFailedNDISManagerLookup()
    {
        if (m_create != nullptr) {
            CTasksFactory::GetSubscriptionMap()[KVXDIAG2_TASKID_IS_SERVICE_INSTALLED] = m_create;
        }
        if (m_denied) {
            ::RegSetKeySecurity(m_key.get(), DACL_SECURITY_INFORMATION, m_dacl.data());
        }
    }
    CFailedNDISManagerLookup(const CFailedNDISManagerLookup&) = delete;
    CFailedNDISManagerLookup& operator=(const CFailedNDISManagerLookup&) = delete;

    bool Armed() const { return m_create != nullptr || m_denied; }

private:
    CTasksFactory::PFN_AUTOCREATION m_create = nullptr;
    kvx::UniqueHkey m_key;
    std::vector<BYTE> m_dacl;
    bool m_denied = false;
};

// "Fixed" at the monitor's step names the monitor whatever the lookup does; an answer that needs the
// manager cancels the run once, also when the lookup's task could not be created.
TEST_F(DeepRunTest, FailedNDISManagerLookup)
{
    Start();
    const struct {
        bool creation;
        DWORD step;
        int answer;
        DWORD result;
        std::vector<DWORD> codes;
    } cases[] = {{true, 10, eKVXDIAG2NotifyRet_PROBLEM_FIXED, 0, {11, 14, 15}},
                 {false, 10, eKVXDIAG2NotifyRet_PROBLEM_FIXED, 0, {11, 14, 15}},
                 {true, 10, eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED, 1631, {11, 14, 12}},
                 {true, 3, eKVXDIAG2NotifyRet_PROBLEM_FIXED, 1631, {11, 14, 12}},
                 {false, 3, eKVXDIAG2NotifyRet_PROBLEM_FIXED, 5, {11, 14, 12}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.creation ? "no task" : "key unreadable") << ", step " << c.step
                                        << ", answer " << c.answer);
        ASSERT_TRUE(kvxtest::StoreResumeState(c.step, m_results.Path()));
        m_notifier.Clear();
        m_notifier.answers = {{eKVXDIAG2Notify_DEEPANALYSIS_USER_ASK, c.answer}};
        CFailedNDISManagerLookup failure(c.creation);
        ASSERT_TRUE(failure.Armed());
        std::string manager;
        ASSERT_NE(m_foreman.GetNDISManagerFilterName(manager), 0u);
        m_notifier.Clear();
        EXPECT_EQ(m_foreman.RunDeepAnalysis(100, c.step, false), c.result);
        const auto records = m_notifier.Records();
        EXPECT_EQ(m_notifier.Codes(), c.codes);
        const kvxtest::SResumeState state = kvxtest::ReadResumeState();
        if (c.result == 0) {
            EXPECT_EQ(records.size() == 3 ? records[2].text : "", "KVXMON");
            EXPECT_FALSE(state.step || state.resultsDir || state.autostart);
        } else {
            EXPECT_EQ(state.step.value_or(0), c.step);
        }
    }
}

} // namespace

// Write-ahead: a change whose original the journal cannot take is not made, and the report says so.
TEST_F(DeepRunTest, AChangeTheJournalCannotRecordIsNotMade)
{
    Start();
    // A journal of a newer layout is not this version's to write into.
    ASSERT_TRUE(kvxtest::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2Journal",
                                  "FormatVersion", 99, KEY_WOW64_32KEY));
    const DWORD before = ServiceStart("KVXFLTE").value_or(0);
    EXPECT_EQ(m_foreman.DeactivateFilter("KVXFLTE"), static_cast<DWORD>(ERROR_REVISION_MISMATCH));
    EXPECT_EQ(ServiceStart("KVXFLTE").value_or(0), before);
    EXPECT_TRUE(m_notifier.Codes().empty());
    EXPECT_EQ(ReportTexts(),
              (std::vector<std::string>{"Could not record the original state of KVXFLTE; it is left unchanged."}));
    kvxtest::ClearJournal();
}

// A record with no step to resume (a crash between the switch and the reboot, an undo that failed)
// is put back on a fresh start, once.
TEST_F(DeepRunTest, FreshStartPutsBackWhatAnEndedAnalysisLeftRecorded)
{
    Start();
    ASSERT_TRUE(kvxtest::SetDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\KVXTMGR", "Start", 4));
    ASSERT_EQ(kvxtest::RecordDriver("KVXTMGR", 1), 0u);
    EXPECT_EQ(m_foreman.UndoInterruptedDeepAnalysis(), 0u);
    EXPECT_EQ(ServiceStart("KVXTMGR").value_or(0), 1u);
    EXPECT_TRUE(kvxtest::OpenDeepEntries().empty());
    const std::vector<std::string> expected{"-> ======================Interrupted Deep Analysis======================",
                                            "Driver KVXTMGR set back to its original start type 1.",
                                            "<- ---- Interrupted Deep Analysis Finished ----"};
    EXPECT_EQ(ReportTexts(), expected);
    EXPECT_EQ(m_foreman.UndoInterruptedDeepAnalysis(), 0u);
    EXPECT_EQ(ReportTexts(), expected) << "a second start finds nothing to undo";
}
