// How the analyses end on the machine: a deep analysis at the NDIS manager's step cancelled by the user,
// closed for its resume, or ended without a solution; and a basic analysis whose process is killed
// while a question waits, undone by the next start.
#include "core/interface/Exports.h"
#include "core/jobs/Foreman.h"
#include "core/jobs/UndoRecords.h"
#include "tests/support/CoreDriver.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/SimNetCfg.h"
#include "tests/support/SimProduct.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

using kvxtest::ServiceStart;

constexpr const char* RESUME_KEY = "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2";
#ifdef _WIN64
constexpr REGSAM VENDOR_VIEW = KEY_WOW64_32KEY;
#else
constexpr REGSAM VENDOR_VIEW = 0;
#endif
constexpr DWORD JOB_TIMEOUT_MS = 300000;


bool ReportHas(const std::string& directory, const std::string& text)
{
    for (const kvxtest::SReportLine& line : kvxtest::ReadReportLines(directory + "\\KVXDiagReport.txt")) {
        if (line.text == text) {
            return true;
        }
    }
    return false;
}

// Answers the deep analysis's question with a fixed answer and signals its last notification.
struct SUser {
    int answer = 0;
    std::mutex lock;
    std::vector<DWORD> codes;
    kvx::UniqueHandle ended{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};

    static int WINAPI Callback(DWORD code, KVXDIAG2_CONTEXT context, const char*, DWORD, ULONG_PTR)
    {
        SUser& user = *reinterpret_cast<SUser*>(context);
        {
            std::lock_guard<std::mutex> guard(user.lock);
            user.codes.push_back(code);
        }
        if (code == 12 || code == 15 || code == 16) {
            ::SetEvent(user.ended.get());
        }
        if (code == eKVXDIAG2Notify_DEEPANALYSIS_USER_ASK) {
            return user.answer;
        }
        return code == eKVXDIAG2Notify_DEEPANALYSIS_PREPARED_TO_REBOOT ? eKVXDIAG2NotifyRet_EXITING : 0;
    }
};

class DeepEndingTest : public ::testing::Test {
protected:
    // The machine as the boots 1 and 2 leave it: both managers off (each recorded first), step 3
    // stored, the autostart value written.
    void PrepareStepThree()
    {
        CForeman foreman;
        ASSERT_EQ(foreman.Init(5, false, m_results.Path()), 0u);
        ASSERT_TRUE(kvxtest::StoreResumeState(3, m_results.Path()));
        ASSERT_EQ(foreman.DeactivateFilter("KVXNMGR"), 0u);
        foreman.Finish();
        ASSERT_TRUE(kvx::WriteServiceStart("KVXTMGR", 4) == 0 && kvxtest::RecordDriver("KVXTMGR", 1) == 0);
        HKEY run = nullptr;
        ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                                  KEY_SET_VALUE, &run),
                  ERROR_SUCCESS);
        const char value[] = "\"C:\\kvx.bat\"";
        ::RegSetValueExA(run, "KVXDIAG2_AUTOSTART", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value - 1);
        ::RegCloseKey(run);
        EXPECT_EQ(ServiceStart("KVXNMGR").value_or(0), 4u);
    }

    kvxtest::CSimProduct m_product;
    kvxtest::CScopedResumeState m_state;
    kvxtest::CScopedTempDir m_results{"KVXDIAG2-Results-ending"};
};

TEST_F(DeepEndingTest, AtTheNDISManagerStepCancelCloseAndNoSolution)
{
    ASSERT_EQ(m_product.Error(), "");
    enum EEnd { CANCEL, CLOSE, NOT_FIXED };
    const struct {
        EEnd end;
        int answer;
        std::vector<DWORD> codes;
    } cases[] = {{CANCEL, eKVXDIAG2NotifyRet_EXITING, {11, 14, 12}},
                 {CLOSE, eKVXDIAG2NotifyRet_EXITING, {11, 14, 12}},
                 {NOT_FIXED, eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED, {11, 14, 16}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.end);
        ::DeleteFileA((m_results.Path() + "\\KVXDiagReport.txt").c_str());
        kvx::WriteServiceStart("KVXTMGR", 1);
        kvx::WriteServiceStart("KVXNMGR", 1);
        PrepareStepThree();
        SUser user;
        user.answer = c.answer;
        int pending = -1;
        int step = -1;
        ASSERT_EQ(_0003_(&pending, &step), 0u);
        ASSERT_EQ(pending, 1);
        ASSERT_EQ(step, 3);
        ASSERT_EQ(_0002_(&SUser::Callback, reinterpret_cast<KVXDIAG2_CONTEXT>(&user)), 0u);
        int jobId = 0;
        ASSERT_EQ(_0004_(&jobId), 0u);
        ASSERT_EQ(::WaitForSingleObject(user.ended.get(), JOB_TIMEOUT_MS), WAIT_OBJECT_0);
        if (c.end == CANCEL) {
            EXPECT_EQ(_0005_(jobId), 0u);
        }
        EXPECT_EQ(_0001_(), 0u) << "closing: the job is cancelled and waited for, nothing undone";
        EXPECT_EQ(user.codes, c.codes);

        const kvxtest::SResumeState state = kvxtest::ReadResumeState();
        if (c.end == CLOSE) {
            EXPECT_EQ(ServiceStart("KVXTMGR").value_or(0), 4u);
            EXPECT_EQ(ServiceStart("KVXNMGR").value_or(0), 4u);
            EXPECT_EQ(state.step.value_or(0), 3u);
            EXPECT_TRUE(state.autostart.has_value());
            EXPECT_FALSE(kvxtest::OpenDeepEntries().empty());
            ASSERT_EQ(_0003_(&pending, &step), 0u);
            EXPECT_EQ(pending, 1);
            EXPECT_EQ(step, 3);
            EXPECT_EQ(_0001_(), 0u);
        } else {
            EXPECT_EQ(ServiceStart("KVXTMGR").value_or(0), 1u);
            EXPECT_EQ(ServiceStart("KVXNMGR").value_or(0), 1u);
            EXPECT_FALSE(state.step || state.resultsDir || state.autostart || state.tdiSuspicious);
            EXPECT_TRUE(kvxtest::OpenDeepEntries().empty());
            EXPECT_TRUE(ReportHas(m_results.Path(), "Driver KVXTMGR set back to its original start type 1."));
            EXPECT_EQ(ReportHas(m_results.Path(), "Driver KVXNMGR set back to its original start type 1."),
                      c.end == CANCEL) << "at no solution the manager was switched on by the analysis itself";
        }
        kvxtest::ClearResumeState();
        kvxtest::ClearJournal();
    }
}

// The records are the only memory of what was switched: with none, or with a damaged one, the undo
// still ends the analysis and touches nothing it does not know about.
TEST_F(DeepEndingTest, UndoWithMissingOrDamagedRecords)
{
    ASSERT_EQ(m_product.Error(), "");
    CForeman foreman;
    ASSERT_EQ(foreman.Init(5, false, m_results.Path()), 0u);
    ASSERT_TRUE(kvxtest::StoreResumeState(4, m_results.Path()));
    ASSERT_EQ(kvx::WriteServiceStart("KVXFLTE", 4), 0u);
    ASSERT_EQ(kvxtest::RecordDriver("KVXFLTE", 3), 0u);
    kvxtest::SetString(HKEY_LOCAL_MACHINE,
                       "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2Journal\\Entries\\1.KVXFLTD", "Kind",
                       "not a number", KEY_WOW64_32KEY);
    EXPECT_EQ(foreman.UndoDeepAnalysis(), 0u);
    EXPECT_EQ(ServiceStart("KVXFLTE").value_or(0), 3u);
    EXPECT_EQ(ServiceStart("KVXFLTD").value_or(0), 3u);
    EXPECT_TRUE(kvxtest::OpenDeepEntries().empty());
    EXPECT_FALSE(kvxtest::ReadResumeState().step.has_value());
    ASSERT_TRUE(kvxtest::StoreResumeState(4, m_results.Path()));
    EXPECT_EQ(foreman.UndoDeepAnalysis(), 0u) << "nothing recorded";
    EXPECT_FALSE(kvxtest::ReadResumeState().step.has_value());
    foreman.Finish();
}

std::string NewestResultsDirectory()
{
    char temp[MAX_PATH + 1] = {};
    ::GetTempPathA(sizeof temp, temp);
    std::string best;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((std::string(temp) + "KVXDIAG2-Results_*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string candidate = std::string(temp) + data.cFileName;
            if (candidate.size() > best.size()) {
                best = candidate; // the newest has the most "_"
            }
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
    const std::string plain = std::string(temp) + "KVXDIAG2-Results";
    return best.empty() ? plain : best;
}

class InterruptedBasicTest : public ::testing::Test {
protected:
    static kvxtest::SSimProductOptions ProductOptions()
    {
        kvxtest::SSimProductOptions options;
        options.sdk = kvxtest::ESimSdk::V3_2;
        return options;
    }
    void TearDown() override { kvxtest::RemoveResultsDirectories(); }

    kvxtest::CScopedRegistryTree m_resume{HKEY_LOCAL_MACHINE, RESUME_KEY, VENDOR_VIEW};
    kvxtest::CSimProduct m_product{ProductOptions()};
    kvxtest::CSimNetCfgRegistration m_netcfgRegistration;
    kvxtest::CSimNetCfgModel m_model;
    kvxtest::CScopedTempDir m_dir{"kvx-killed"};
};

TEST_F(InterruptedBasicTest, KilledAtTheSecondQuestionIsUndoneByTheNextStart)
{
    ASSERT_EQ(m_product.Error(), "");
    ASSERT_EQ(m_netcfgRegistration.Result(), 0u);
    ASSERT_EQ(m_model.AddTypicalMachine(), 0u);
    for (const char* filter : {"KVXFLTF", "KVXFLTE", "KVXFLTD", "KVXFLTC", "KVXFLTB", "KVXFLTA"}) {
        m_product.SetFilter(filter, true);
    }
    kvx::UniqueHandle holding(::CreateEventA(nullptr, TRUE, FALSE, "KVXCoreDriverHolding"));
    ASSERT_TRUE(holding.valid());
    ::ResetEvent(holding.get());
    std::string commandLine =
        "\"" + kvxtest::CoreDriverPath() + "\" basic --hold 2 --out \"" + m_dir.Path() + "\\driver.txt\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process));
    kvx::UniqueHandle processHandle(process.hProcess);
    kvx::UniqueHandle threadHandle(process.hThread);
    const DWORD held = ::WaitForSingleObject(holding.get(), JOB_TIMEOUT_MS);
    ::TerminateProcess(processHandle.get(), 1);
    ASSERT_EQ(::WaitForSingleObject(processHandle.get(), 30000), WAIT_OBJECT_0);
    ASSERT_EQ(held, WAIT_OBJECT_0) << kvxtest::ReadFileText(m_dir.Path() + "\\driver.txt");
    EXPECT_FALSE(m_product.FilterEnabled("KVXFLTE"));
    EXPECT_TRUE(kvxtest::CSimProduct::LogsOrCapturesOn());
    ASSERT_TRUE(kvxtest::HasJournalEntries(kvx::eJournalOwner_BASIC_ANALYSIS));

    for (const bool first : {true, false}) {
        SCOPED_TRACE(first ? "first start" : "second start");
        m_product.ClearJournal();
        int pending = -1;
        int step = -1;
        ASSERT_EQ(_0003_(&pending, &step), 0u);
        const std::string results = NewestResultsDirectory();
        EXPECT_EQ(_0001_(), 0u);
        EXPECT_EQ(pending, 0);
        EXPECT_TRUE(m_product.FilterEnabled("KVXFLTE"));
        EXPECT_FALSE(kvxtest::CSimProduct::LogsOrCapturesOn());
        EXPECT_FALSE(kvxtest::HasJournalEntries(kvx::eJournalOwner_BASIC_ANALYSIS));
        EXPECT_EQ(m_product.Calls("KVXEnableFilter").size(), first ? 1u : 0u) << "through the SDK, once";
        const std::vector<std::string> expected = {
            "-> ======================Interrupted Basic Analysis======================",
            "Filter KVXFLTE left disabled by an interrupted analysis, reactivated.",
            "Log and captures left enabled by an interrupted analysis, disabled.",
            "<- ---- Interrupted Basic Analysis Finished ----"};
        std::vector<std::string> section;
        for (const kvxtest::SReportLine& line : kvxtest::ReadReportLines(results + "\\KVXDiagReport.txt")) {
            if (line.text.find("nterrupted") != std::string::npos) {
                section.push_back(line.text);
            }
        }
        EXPECT_EQ(section, first ? expected : std::vector<std::string>()) << results;
    }
}

} // namespace
