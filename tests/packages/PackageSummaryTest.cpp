// Packages made by the real core in the test prefix, read back by kvxinspect --json: the basic analysis
// run through the exports in this process, the deep analysis as real chains of boots of the console
// driver, each then packed as the wizard packs it. The trail and the verdict are checked field by field.
#include "common/win/UniqueHandles.h"
#include "core/interface/Exports.h"
#include "tests/support/CoreDriver.h"
#include "tests/support/SimNetCfg.h"
#include "tests/support/SimProduct.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#ifdef KVX_HAVE_KVXINSPECT
#include <nlohmann/json.hpp>
#endif

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr DWORD JOB_TIMEOUT_MS = 300000;

std::string TempPath()
{
    char temp[MAX_PATH + 1] = {};
    ::GetTempPathA(MAX_PATH, temp);
    return temp;
}

// Answers the basic analysis's questions from a script; signals the end of each job.
class CScriptedUser {
public:
    explicit CScriptedUser(std::deque<int> answers) : m_answers(std::move(answers)) {}
    static int WINAPI Callback(DWORD code, KVXDIAG2_CONTEXT context, const char*, DWORD, ULONG_PTR)
    {
        return reinterpret_cast<CScriptedUser*>(context)->On(code);
    }
    bool Wait(DWORD ms) { return ::WaitForSingleObject(m_ended.get(), ms) == WAIT_OBJECT_0; }
    DWORD LastCode()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_last;
    }

private:
    int On(DWORD code)
    {
        int answer = 0;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_last = code;
            if (code == 1 && !m_answers.empty()) {
                answer = m_answers.front();
                m_answers.pop_front();
            }
        }
        if (code == 10 || code == 20 || code == 21 || code == 18) {
            ::SetEvent(m_ended.get());
        }
        return answer;
    }
    std::mutex m_lock;
    std::deque<int> m_answers;
    DWORD m_last = 0;
    kvx::UniqueHandle m_ended{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
};

// One scenario's expectations, in the names of kvxinspect's JSON.
struct SExpected {
    std::string name;
    std::vector<std::string> filters; // basic: "NAME answer"
    std::vector<std::string> runs;    // deep: "step answer reboot"
    // "kind analysis culprit layer step workaround", "-" for null
    std::string verdict;
};

class PackageSummaryTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        m_state.reset();
        m_product.reset();
        kvxtest::RemoveResultsDirectories();
        for (const std::string& package : m_packages) {
            ::DeleteFileA(package.c_str());
        }
    }

    void Install(kvxtest::ESimSdk sdk = kvxtest::ESimSdk::V3_2)
    {
        m_state.reset();
        m_product.reset();
        kvxtest::SSimProductOptions options;
        options.sdk = sdk;
        m_product.reset(new kvxtest::CSimProduct(options));
        ASSERT_EQ(m_product->Error(), "");
        for (const char* filter : {"KVXFLTF", "KVXFLTE", "KVXFLTD", "KVXFLTC", "KVXFLTB", "KVXFLTA"}) {
            m_product->SetFilter(filter, true);
        }
        m_state.reset(new kvxtest::CScopedResumeState());
    }

    std::string NewPackagePath(const std::string& name)
    {
        m_packages.push_back(TempPath() + "kvxpackage-" + name + ".zip");
        ::DeleteFileA(m_packages.back().c_str());
        return m_packages.back();
    }

    // A basic analysis and its package, in one session of the core as the wizard runs them.
    std::string BasicPackage(const std::string& name, std::deque<int> answers)
    {
        kvxtest::CSimNetCfgRegistration registration;
        kvxtest::CSimNetCfgModel model;
        EXPECT_EQ(model.AddTypicalMachine(), 0u);
        CScriptedUser user(std::move(answers));
        const std::string package = NewPackagePath(name);
        int pending = -1;
        int step = -1;
        EXPECT_EQ(_0003_(&pending, &step), 0u);
        EXPECT_EQ(_0002_(&CScriptedUser::Callback, reinterpret_cast<KVXDIAG2_CONTEXT>(&user)), 0u);
        int jobId = 0;
        EXPECT_EQ(_0006_(&jobId), 0u);
        EXPECT_TRUE(user.Wait(JOB_TIMEOUT_MS)) << "the basic analysis did not end";
        EXPECT_EQ(_0005_(jobId), 0u);
        EXPECT_EQ(_0008_(package.c_str(), &jobId), 0u);
        EXPECT_TRUE(user.Wait(JOB_TIMEOUT_MS)) << "pack and send did not end";
        EXPECT_EQ(user.LastCode(), 20u);
        EXPECT_EQ(_0005_(jobId), 0u);
        _0002_(nullptr, 0);
        EXPECT_EQ(_0001_(), 0u);
        return package;
    }

    // One boot per answer (question, reboot question), then a start that packs the chain's results
    // directory, as the wizard's last page does.
    std::string DeepPackage(const std::string& name, const std::vector<std::pair<int, int>>& boots)
    {
        std::string resultsDir;
        for (const auto& boot : boots) {
            const kvxtest::SDriverRun run = kvxtest::RunCoreDriver(
                {"deep", "--ask", std::to_string(boot.first), "--reboot", std::to_string(boot.second)});
            EXPECT_TRUE(run.finished);
            EXPECT_EQ(run.jobRc, 0u);
            const kvxtest::SResumeState state = kvxtest::ReadResumeState();
            if (state.resultsDir) {
                resultsDir = *state.resultsDir;
            }
        }
        EXPECT_FALSE(resultsDir.empty());
        const std::string package = NewPackagePath(name);
        // The core packs the results directory it starts with: a resumed start hands it the chain's.
        const bool ended = !kvxtest::ReadResumeState().step;
        if (ended) {
            EXPECT_TRUE(kvxtest::StoreResumeState(2, resultsDir));
        }
        const kvxtest::SDriverRun run = kvxtest::RunCoreDriver({"pack", "--dest", package});
        if (ended) {
            kvxtest::ClearResumeState();
        }
        EXPECT_TRUE(run.finished);
        EXPECT_NE(run.Find(20), nullptr) << "pack and send failed";
        return package;
    }

    static void Inspect(const std::string& package, const SExpected& expected)
    {
        SCOPED_TRACE(expected.name);
        ASSERT_TRUE(kvxtest::FileExists(package));
#ifndef KVX_HAVE_KVXINSPECT
        GTEST_SKIP() << "kvxinspect is not part of this build tree; the packages were made but not inspected";
#else
        const std::string out = package + ".json";
        DWORD exitCode = 0;
        ASSERT_TRUE(RunInspector(package, out, exitCode));
        EXPECT_EQ(exitCode, 0u) << kvxtest::ReadFileText(out);
        const nlohmann::json j = nlohmann::json::parse(kvxtest::ReadFileText(out), nullptr, false);
        ::DeleteFileA(out.c_str());
        ASSERT_FALSE(j.is_discarded()) << "not JSON";
        EXPECT_EQ(j["verification"]["status"], "verified") << j["verification"].dump();
        EXPECT_EQ(j["verification"]["manifest"]["status"], "ok") << j["verification"]["manifest"].dump();
        std::vector<std::string> filters;
        if (j["basic_analysis"].is_object()) {
            for (const auto& f : j["basic_analysis"]["filters"]) {
                EXPECT_EQ(f["switched_off"], true) << f.dump();
                filters.push_back(f["name"].get<std::string>() + " " + f["answer"].get<std::string>());
            }
        }
        EXPECT_EQ(filters, expected.filters);
        std::vector<std::string> runs;
        if (j["deep_analysis"].is_object()) {
            for (const auto& r : j["deep_analysis"]["runs"]) {
                runs.push_back(std::to_string(r["step"].get<int>()) + " " + r["answer"].get<std::string>() + " " +
                               r["reboot"].get<std::string>());
            }
        }
        EXPECT_EQ(runs, expected.runs);
        const nlohmann::json& v = j["verdict"];
        std::string verdict;
        for (const char* field : {"kind", "analysis", "culprit", "layer", "step", "workaround"}) {
            const nlohmann::json& value = v[field];
            verdict += verdict.empty() ? "" : " ";
            verdict += value.is_null() ? "-" : value.is_string() ? value.get<std::string>() : value.dump();
        }
        EXPECT_EQ(verdict, expected.verdict) << v.dump();
#endif
    }

#ifdef KVX_HAVE_KVXINSPECT
    // kvxinspect.exe beside the test program, its standard output into a file.
    static bool RunInspector(const std::string& package, const std::string& out, DWORD& exitCode)
    {
        char self[MAX_PATH + 1] = {};
        ::GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string program = self;
        program = program.substr(0, program.find_last_of('\\') + 1) + "kvxinspect.exe";
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        kvx::UniqueFileHandle output(
            ::CreateFileA(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
        if (!output) {
            return false;
        }
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output.get();
        startup.hStdError = output.get();
        std::string commandLine = "\"" + program + "\" --json \"" + package + "\"";
        std::vector<char> buffer(commandLine.begin(), commandLine.end());
        buffer.push_back('\0');
        PROCESS_INFORMATION process = {};
        if (!::CreateProcessA(program.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                              &process)) {
            return false;
        }
        kvx::UniqueHandle processHandle(process.hProcess);
        kvx::UniqueHandle threadHandle(process.hThread);
        if (::WaitForSingleObject(processHandle.get(), 120000) != WAIT_OBJECT_0) {
            ::TerminateProcess(processHandle.get(), 259);
            return false;
        }
        return ::GetExitCodeProcess(processHandle.get(), &exitCode) != 0;
    }
#endif

    std::unique_ptr<kvxtest::CSimProduct> m_product;
    std::unique_ptr<kvxtest::CScopedResumeState> m_state;
    std::vector<std::string> m_packages;
};

TEST_F(PackageSummaryTest, BasicAnalyses)
{
    struct SCase {
        std::deque<int> answers;
        SExpected expected;
    };
    const std::vector<SCase> cases = {
        {{4, 4, 3},
         {"fixed at the third", {"KVXFLTF not_fixed", "KVXFLTE not_fixed", "KVXFLTD fixed"}, {}, "culprit basic KVXFLTD plugin - -"}},
        {{4, 4, 4, 4, 4, 4},
         {"never fixed",
          {"KVXFLTF not_fixed", "KVXFLTE not_fixed", "KVXFLTD not_fixed", "KVXFLTC not_fixed", "KVXFLTB not_fixed",
           "KVXFLTA not_fixed"},
          {},
          "not_found basic - - - -"}},
        {{4, 5}, {"closed at the second question", {"KVXFLTF not_fixed", "KVXFLTE exiting"}, {}, "cancelled basic - - - -"}},
    };
    for (const SCase& c : cases) {
        Install();
        const std::string package = BasicPackage(c.expected.name.substr(0, c.expected.name.find(' ')), c.answers);
        Inspect(package, c.expected);
        kvxtest::RemoveResultsDirectories();
    }
}

TEST_F(PackageSummaryTest, DeepAnalysisChains)
{
    constexpr int FIXED = eKVXDIAG2NotifyRet_PROBLEM_FIXED;
    constexpr int NOT_FIXED = eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED;
    constexpr int ACCEPT = eKVXDIAG2NotifyRet_REBOOT_ACCEPTED;
    struct SCase {
        std::vector<std::pair<int, int>> boots;
        SExpected expected;
    };
    const std::vector<SCase> cases = {
        {{{0, ACCEPT}, {0, ACCEPT}, {FIXED, ACCEPT}, {NOT_FIXED, ACCEPT}, {FIXED, ACCEPT}},
         {"culprit",
          {},
          {"1 none accepted", "2 none accepted", "3 fixed accepted", "8 not_fixed accepted", "4 fixed none"},
          "culprit deep KVXFLTE ndis_plugin - -"}},
        {{{0, ACCEPT}, {0, ACCEPT}, {NOT_FIXED, ACCEPT}},
         {"nosolution", {}, {"1 none accepted", "2 none accepted", "3 not_fixed none"}, "no_solution deep - - - -"}},
        {{{0, ACCEPT}, {0, ACCEPT}, {FIXED, ACCEPT}, {FIXED, ACCEPT}, {NOT_FIXED, ACCEPT}, {NOT_FIXED, ACCEPT}},
         {"workaround",
          {},
          {"1 none accepted", "2 none accepted", "3 fixed accepted", "8 fixed accepted", "9 not_fixed accepted",
           "10 not_fixed none"},
          "workaround deep - tdi_manager - KVXTMGR"}},
        {{{0, ACCEPT}, {0, ACCEPT}},
         {"unfinished", {}, {"1 none accepted", "2 none accepted"}, "unfinished deep - - 3 -"}},
    };
    for (const SCase& c : cases) {
        Install(kvxtest::ESimSdk::V4_0);
        const std::string package = DeepPackage(c.expected.name, c.boots);
        Inspect(package, c.expected);
        kvxtest::RemoveResultsDirectories();
    }
}

} // namespace
