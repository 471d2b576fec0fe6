// Crash consistency: every scenario is run once to learn its change points, then once more per point,
// ended there by the journal's test hook (exit code 77); the start that follows (a fresh start, or the
// resume of a pending deep analysis) must leave every value the run touched as it was before the run,
// or as the verdict keeps it. Each process of a scenario is one boot; between boots the journal's
// volatile key is deleted, which is what a boot does to it. The processes are the copies with kill
// points in bin\killpoints: kvxjournalhost.exe for the core's scenarios, KVXDiag2.exe for the wizard's.
//
// KVX_CRASH_STRIDE=N tries only every N-th point of the core's scenarios (the wizard's are always all);
// ctest runs a sample, KVX_CRASH_STRIDE=1 every point.
#include "tests/journal/MachineState.h"
#include "tests/journal/RegistryImage.h"
#include "simulator/kvxapi/SimKeys.h"
#include "simulator/netcfg/SimNetCfgLayout.h"
#include "tests/support/SimAntivirus.h"
#include "tests/support/SimNetCfg.h"
#include "tests/support/SimProduct.h"
#include "tests/support/TestSupport.h"
#include "tests/wizard/WizardDriver.h"

#include "common/win/UniqueHandles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using kvxtest::CMachineState;
using TState = std::map<std::string, std::string>;

constexpr DWORD KILLED_EXIT_CODE = 77;
constexpr DWORD PROCESS_TIMEOUT_MS = 300000;
constexpr DWORD WIZARD_STEP_TIMEOUT_MS = 60000;

std::string ProgramDirectory()
{
    std::string path(MAX_PATH, '\0');
    const DWORD length = ::GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
    path.resize(length);
    return path.substr(0, path.find_last_of('\\') + 1);
}

std::string KillPointsDirectory()
{
    return ProgramDirectory() + "killpoints\\";
}

std::string TempFile(const char* prefix)
{
    char directory[MAX_PATH + 1] = {};
    char file[MAX_PATH + 1] = {};
    ::GetTempPathA(sizeof directory, directory);
    ::GetTempFileNameA(directory, prefix, 0, file);
    return file;
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream stream(kvxtest::ReadFileText(path));
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

int Stride()
{
    char text[16] = {};
    const DWORD length = ::GetEnvironmentVariableA("KVX_CRASH_STRIDE", text, sizeof text);
    const int stride = length > 0 && length < sizeof text ? std::atoi(text) : 1;
    return stride > 0 ? stride : 1;
}

// The kill-point variables of this process, inherited by the child it starts next; gone afterwards.
class CScopedKillEnvironment {
public:
    CScopedKillEnvironment(int killAt, const std::string& log)
    {
        ::SetEnvironmentVariableA("KVX_KILL_AT", killAt > 0 ? std::to_string(killAt).c_str() : nullptr);
        ::SetEnvironmentVariableA("KVX_KILL_LOG", log.empty() ? nullptr : log.c_str());
        // The child counts its points from one, in its own environment.
        ::SetEnvironmentVariableA("KVX_KILL_COUNTER", nullptr);
    }
    ~CScopedKillEnvironment()
    {
        ::SetEnvironmentVariableA("KVX_KILL_AT", nullptr);
        ::SetEnvironmentVariableA("KVX_KILL_LOG", nullptr);
    }
    CScopedKillEnvironment(const CScopedKillEnvironment&) = delete;
    CScopedKillEnvironment& operator=(const CScopedKillEnvironment&) = delete;
};

// One process of the host: what it said, and how it ended.
struct SHostRun {
    bool started = false;
    bool finished = false;
    DWORD exitCode = 0;
    int pending = -1;
    int step = -1;
    bool ended = false; // wrote its END line
    std::vector<int> codes;
    std::vector<std::string> lines;

    bool Has(int code) const
    {
        for (int c : codes) {
            if (c == code) {
                return true;
            }
        }
        return false;
    }
    // The boot ended in an accepted reboot: the next process is the next boot.
    bool Rebooted() const { return Has(13) && !Has(12) && !Has(15) && !Has(16) && rebootAccepted; }
    bool rebootAccepted = false;
    std::string Transcript() const
    {
        std::string text;
        for (const std::string& line : lines) {
            text += "    " + line + "\n";
        }
        return text;
    }
};

SHostRun RunHost(const std::vector<std::string>& args, int killAt = 0, const std::string& killLog = std::string())
{
    SHostRun run;
    const std::string out = TempFile("kjh");
    std::string commandLine = "\"" + KillPointsDirectory() + "kvxjournalhost.exe\"";
    for (const std::string& arg : args) {
        commandLine += " " + arg;
    }
    commandLine += " --out \"" + out + "\"";
    kvx::UniqueHandle process;
    {
        CScopedKillEnvironment environment(killAt, killLog);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        run.started = ::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                       &info) != FALSE;
        if (!run.started) {
            return run;
        }
        ::CloseHandle(info.hThread);
        process.reset(info.hProcess);
    }
    run.finished = ::WaitForSingleObject(process.get(), PROCESS_TIMEOUT_MS) == WAIT_OBJECT_0;
    if (!run.finished) {
        ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), PROCESS_TIMEOUT_MS);
    }
    ::GetExitCodeProcess(process.get(), &run.exitCode);
    run.lines = ReadLines(out);
    ::DeleteFileA(out.c_str());
    for (const std::string& line : run.lines) {
        int a = 0, b = 0;
        if (std::sscanf(line.c_str(), "INIT rc=%*u pending=%d step=%d", &a, &b) == 2) {
            run.pending = a;
            run.step = b;
        } else if (std::sscanf(line.c_str(), "NOTIFY code=%d answer=%d", &a, &b) == 2) {
            run.codes.push_back(a);
            if (a == 13) {
                run.rebootAccepted = b == 1;
            }
        } else if (line.rfind("END ", 0) == 0) {
            run.ended = true;
        }
    }
    return run;
}

// The change points a process passed, from its kill log ("N where" per line). The numbers must run
// 1, 2, 3...: two modules of one process that counted apart (the wizard and the core it loads) would
// make KVX_KILL_AT name two points at once.
std::vector<std::string> KillPoints(const std::string& log, std::string* problem = nullptr)
{
    std::vector<std::string> points;
    for (const std::string& line : ReadLines(log)) {
        const size_t space = line.find(' ');
        if (problem != nullptr && std::atoi(line.c_str()) != static_cast<int>(points.size()) + 1) {
            *problem = "kill point " + std::to_string(points.size() + 1) + " is numbered \"" + line +
                       "\": the modules of the process count their points apart";
        }
        points.push_back(space == std::string::npos ? line : line.substr(space + 1));
    }
    return points;
}

enum class ERecovery {
    FRESH_START,       // _0003_ then _0001_
    RESUME_ONE_BOOT,   // a pending deep analysis goes on for one boot with the scenario's answers
    RESUME_AND_CANCEL, // a pending deep analysis is resumed, answered 5 and cancelled with _0005_
};

struct SScenario {
    const char* name;
    // SDK 3.2 switches the six plug-in filters through the SDK, so its double shows what a basic
    // analysis left off; the deep analysis switches drivers by their start types with any generation.
    kvxtest::ESimSdk sdk;
    bool ndisManager;              // "KVXNMGR" installed; otherwise "KVXIMD" through its network component
    std::vector<std::string> boot; // the host's arguments for every boot
    int boots;                     // how many boots the uninterrupted run takes
    ERecovery recovery;
    bool keepsSomething; // the uninterrupted run ends with something kept on the machine
};

void PrintTo(const SScenario& scenario, std::ostream* os)
{
    *os << scenario.name;
}

// The machine of one scenario: installed once, and put back to the state of a boot boundary of the
// uninterrupted run before every killed run (its registry through an image, the capture files the
// product's double writes, and the results directories that fresh starts make).
class CSimulatedMachine {
public:
    explicit CSimulatedMachine(const SScenario& scenario)
    {
        CMachineState::ClearToolState();
        kvxtest::RemoveResultsDirectories();
        kvxtest::SSimProductOptions options;
        options.sdk = scenario.sdk;
        options.ndisManager = scenario.ndisManager;
        m_product = std::make_unique<kvxtest::CSimProduct>(options);
        for (const char* filter : {"KVXFLTF", "KVXFLTE", "KVXFLTD", "KVXFLTC", "KVXFLTB", "KVXFLTA"}) {
            m_product->SetFilter(filter, true);
        }
        m_registration = std::make_unique<kvxtest::CSimNetCfgRegistration>();
        m_model = std::make_unique<kvxtest::CSimNetCfgModel>();
        m_model->AddTypicalMachine();
    }
    ~CSimulatedMachine()
    {
        m_model.reset();
        m_registration.reset();
        m_product.reset();
        CMachineState::ClearToolState();
        kvxtest::RemoveResultsDirectories();
    }
    CSimulatedMachine(const CSimulatedMachine&) = delete;
    CSimulatedMachine& operator=(const CSimulatedMachine&) = delete;

    std::string Error() const
    {
        if (!m_product->Error().empty()) {
            return m_product->Error();
        }
        if (m_registration->Result() != 0) {
            return "network configuration double not registered: " + std::to_string(m_registration->Result());
        }
        return m_model->Result() != 0 ? "network configuration model: " + std::to_string(m_model->Result())
                                      : std::string();
    }
    // The core marks the wizard's part of the reboot too, for the wizard's own entries; with the host in
    // the wizard's place nothing ever takes that mark, so only the core's part is compared.
    TState Read() const
    {
        TState state = CMachineState(m_product.get(), m_model.get(), nullptr).Read();
        state.erase(CMachineState::WIZARD_AWAITS_REBOOT);
        return state;
    }

    // Everything a run can change, as it is now.
    kvxtest::CRegistryImage Capture() const
    {
        kvxtest::CRegistryImage image;
        for (const std::string& service : m_product->Services()) {
            image.AddTree(HKEY_LOCAL_MACHINE, std::string(kvxtest::CSimProduct::SERVICES_KEY) + service, 0);
        }
        image.AddTree(HKEY_LOCAL_MACHINE, kvxsim::KVXSIM_ROOT_KEY, kvxsim::KVXSIM_VIEW);
        image.AddTree(HKEY_LOCAL_MACHINE, kvxsim::SIMNETCFG_ROOT, kvxsim::SIMNETCFG_VIEW);
        image.AddTree(HKEY_LOCAL_MACHINE, CMachineState::RESUME_KEY, KEY_WOW64_32KEY);
        image.AddTree(HKEY_LOCAL_MACHINE, CMachineState::JOURNAL_KEY, KEY_WOW64_32KEY);
        for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            image.AddValue(HKEY_LOCAL_MACHINE, CMachineState::RUN_KEY, CMachineState::AUTOSTART_VALUE, view);
        }
        image.Capture();
        m_resultsDirectories = ResultsDirectories();
        return image;
    }
    bool Restore(const kvxtest::CRegistryImage& image) const
    {
        for (const std::string& file : kvxtest::CSimProduct::NativeCaptureFiles("*")) {
            kvxtest::CSimProduct::DeleteNativeFile(file);
        }
        // A fresh start makes a new results directory each time; their names would grow past any path.
        for (const std::string& directory : ResultsDirectories()) {
            if (m_resultsDirectories.count(directory) == 0) {
                kvxtest::CScopedTempDir::RemoveTree(directory);
            }
        }
        return image.Restore();
    }

private:
    static std::set<std::string> ResultsDirectories()
    {
        std::set<std::string> directories;
        char temp[MAX_PATH + 1] = {};
        ::GetTempPathA(sizeof temp, temp);
        WIN32_FIND_DATAA data;
        kvx::UniqueFindHandle find(::FindFirstFileA((std::string(temp) + "KVXDIAG2-Results*").c_str(), &data));
        if (find) {
            do {
                directories.insert(std::string(temp) + data.cFileName);
            } while (::FindNextFileA(find.get(), &data));
        }
        return directories;
    }

    std::unique_ptr<kvxtest::CSimProduct> m_product;
    std::unique_ptr<kvxtest::CSimNetCfgRegistration> m_registration;
    std::unique_ptr<kvxtest::CSimNetCfgModel> m_model;
    mutable std::set<std::string> m_resultsDirectories;
};

// The uninterrupted run, boot by boot: the change points each boot passed, the step it ran, the machine
// at its start and the state it left.
struct SBootRecord {
    std::vector<std::string> points;
    int step = 0;
    kvxtest::CRegistryImage before;
    TState after;
};

class CrashConsistency : public ::testing::TestWithParam<SScenario> {
protected:
    // What is wrong after one killed run and the start that follows it; empty when the point held.
    static std::string TrialProblem(const SScenario& scenario, const CSimulatedMachine& machine,
                                    const std::vector<SBootRecord>& boots, const SHostRun& killed,
                                    const TState& original)
    {
        if (killed.exitCode != KILLED_EXIT_CODE) {
            return "the run was not ended at the point (exit " + std::to_string(killed.exitCode) + "):\n" +
                   killed.Transcript();
        }
        std::vector<std::string> args = scenario.boot;
        if (scenario.recovery == ERecovery::FRESH_START) {
            args = {"init"};
        } else {
            args[0] = "resume";
        }
        if (scenario.recovery == ERecovery::RESUME_AND_CANCEL) {
            args.insert(args.end(), {"--ask-default", "5", "--reboot", "5", "--cancel", "1"});
        }
        const SHostRun next = RunHost(args);
        if (!next.ended || next.exitCode != 0) {
            return "the start after the kill did not end (exit " + std::to_string(next.exitCode) + "):\n" +
                   next.Transcript();
        }
        const TState after = machine.Read();
        const TState& verdict = boots.back().after;
        // A resumed boot must leave what the same step left in the uninterrupted run.
        if (scenario.recovery == ERecovery::RESUME_ONE_BOOT && next.pending == 1) {
            for (const SBootRecord& boot : boots) {
                if (boot.step == next.step) {
                    const std::string differences = CMachineState::Differences(boot.after, after);
                    return differences.empty() ? std::string()
                                               : "the resumed step " + std::to_string(next.step) +
                                                     " left the machine otherwise than without the kill:\n" +
                                                     differences + next.Transcript();
                }
            }
            return "the start after the kill resumed step " + std::to_string(next.step) +
                   ", which the uninterrupted run never ran:\n" + next.Transcript();
        }
        // Otherwise everything is put back; only a run that got to its verdict may keep what it keeps.
        const std::string fromOriginal = CMachineState::Differences(original, after);
        const bool mayKeep = scenario.keepsSomething && scenario.recovery != ERecovery::RESUME_AND_CANCEL;
        if (fromOriginal.empty() || (mayKeep && CMachineState::Differences(verdict, after).empty())) {
            return std::string();
        }
        return "the machine is neither as it was found:\n" + fromOriginal +
               (mayKeep ? "nor as the verdict keeps it:\n" + CMachineState::Differences(verdict, after)
                        : std::string()) +
               next.Transcript();
    }
};

TEST_P(CrashConsistency, EveryChangePointIsUndoneOrKeptByTheNextStart)
{
    const SScenario& scenario = GetParam();
    CSimulatedMachine machine(scenario);
    ASSERT_EQ(machine.Error(), "");
    const TState original = machine.Read();

    std::vector<SBootRecord> boots(static_cast<size_t>(scenario.boots));
    std::string lastBoot;
    size_t total = 0;
    for (size_t boot = 0; boot < boots.size(); ++boot) {
        SBootRecord& record = boots[boot];
        record.before = machine.Capture();
        const std::string log = TempFile("kjl");
        const SHostRun run = RunHost(scenario.boot, 0, log);
        std::string numbering;
        record.points = KillPoints(log, &numbering);
        EXPECT_EQ(numbering, "") << "boot " << boot + 1;
        ::DeleteFileA(log.c_str());
        record.step = run.step;
        total += record.points.size();
        ASSERT_TRUE(run.finished && run.ended && run.exitCode == 0)
            << "boot " << boot + 1 << " of the uninterrupted run, exit " << run.exitCode << ":\n"
            << run.Transcript();
        ASSERT_EQ(run.Rebooted(), boot + 1 < boots.size())
            << "boot " << boot + 1 << " of the uninterrupted run " << (run.Rebooted() ? "rebooted" : "ended") << ":\n"
            << run.Transcript();
        CMachineState::SimulateBoot();
        record.after = machine.Read();
        lastBoot = run.Transcript();
    }
    const TState& verdict = boots.back().after;
    const SHostRun start = RunHost({"init"});
    ASSERT_TRUE(start.ended) << start.Transcript();
    EXPECT_EQ(CMachineState::Differences(verdict, machine.Read()), "")
        << "a fresh start after the uninterrupted run changed the machine";
    if (scenario.keepsSomething) {
        EXPECT_NE(CMachineState::Differences(original, verdict), "") << "the verdict keeps nothing:\n" << lastBoot;
    } else {
        EXPECT_EQ(CMachineState::Differences(original, verdict), "")
            << "the uninterrupted run did not leave the machine as it found it:\n"
            << lastBoot;
    }
    ASSERT_GT(total, 0u) << "the scenario passes no change point: its changes do not go through the journal";

    const int stride = Stride();
    const DWORD startTick = ::GetTickCount();
    int tried = 0;
    int held = 0;
    for (size_t boot = 0; boot < boots.size(); ++boot) {
        const std::vector<std::string>& points = boots[boot].points;
        // A sample starts one point later in each boot, so that it meets both sides of every change.
        for (size_t point = boot % static_cast<size_t>(stride); point < points.size();
             point += static_cast<size_t>(stride)) {
            SCOPED_TRACE("boot " + std::to_string(boot + 1) + " of " + std::to_string(boots.size()) + " (step " +
                         std::to_string(boots[boot].step) + "), kill point " + std::to_string(point + 1) + " of " +
                         std::to_string(points.size()) + " (" + points[point] + ")");
            ASSERT_TRUE(machine.Restore(boots[boot].before)) << "the machine could not be put back for the run";
            const SHostRun killed = RunHost(scenario.boot, static_cast<int>(point) + 1);
            ++tried;
            const std::string problem = TrialProblem(scenario, machine, boots, killed, original);
            if (problem.empty()) {
                ++held;
            } else {
                ADD_FAILURE() << problem;
            }
        }
    }
    std::printf("[ crash    ] %s: %d of %zu kill points tried%s in %lu s, %d held\n", scenario.name, tried, total,
                stride > 1 ? (" (one in " + std::to_string(stride) + ")").c_str() : "",
                static_cast<unsigned long>((::GetTickCount() - startTick) / 1000), held);
    EXPECT_EQ(held, tried);
}

// The wizard's own start: the shield switched off, HOSTGUARD moved aside and the autostart value written,
// then the start-up reboot question, answered Cancel, which puts them back. Killed at each of those
// points, the next start of the wizard with Cancel at its question must leave them as they were.
class WizardCrashConsistency : public ::testing::Test {
protected:
    void SetUp() override
    {
        char display[64] = {};
        if (::GetEnvironmentVariableA("DISPLAY", display, sizeof display) == 0) {
            GTEST_SKIP() << "no display: run through scripts/wizard-test.sh";
        }
    }

    static std::wstring WizardPath()
    {
        const std::string path = KillPointsDirectory() + "KVXDiag2.exe";
        return std::wstring(path.begin(), path.end());
    }

    // One start of the wizard as a user who cancels at the start-up question and then closes it. Answers
    // the wizard's exit code (77 when a kill point ended it), or STILL_ACTIVE when it would not end.
    static DWORD StartAndCancel(const std::vector<std::wstring>& environment)
    {
        kvxtest::CWizardDriver driver;
        if (!driver.Launch(WizardPath(), environment)) {
            return ::GetLastError();
        }
        bool closed = false;
        const double end = kvxtest::CWizardDriver::NowMs() + WIZARD_STEP_TIMEOUT_MS;
        while (!driver.WaitForExit(10) && kvxtest::CWizardDriver::NowMs() < end) {
            if (const HWND box = driver.WaitForMessageBox(0)) {
                // The start-up question first, then (after the close) the closing question, if any.
                kvxtest::CWizardDriver::AnswerMessageBox(box, IDCANCEL);
                driver.WaitForExit(50);
                continue;
            }
            if (!closed && driver.WaitForWindow(0)) {
                closed = true;
                ::PostMessageW(driver.Window(), WM_CLOSE, 0, 0);
            }
        }
        if (!driver.WaitForExit(0)) {
            driver.Terminate();
            return STILL_ACTIVE;
        }
        return driver.ExitCode();
    }

    static TState Read(const kvxtest::CSimAntivirus& antivirus)
    {
        return CMachineState(nullptr, nullptr, &antivirus).Read();
    }
};

TEST_F(WizardCrashConsistency, EveryChangePointOfTheStartIsUndoneByTheNextStart)
{
    kvxtest::SSimAntivirusOptions options;
    options.shieldStart = 3; // not the value a blind restore would write
    TState original;
    std::vector<std::string> points;
    {
        CMachineState::ClearToolState();
        kvxtest::CSimAntivirus antivirus(options);
        ASSERT_EQ(antivirus.Error(), "");
        original = Read(antivirus);
        const std::string log = TempFile("kjw");
        const std::wstring wideLog(log.begin(), log.end());
        EXPECT_EQ(StartAndCancel({L"KVX_KILL_LOG=" + wideLog}), 0u) << "the uninterrupted start";
        std::string numbering;
        points = KillPoints(log, &numbering);
        EXPECT_EQ(numbering, "");
        ::DeleteFileA(log.c_str());
        EXPECT_EQ(CMachineState::Differences(original, Read(antivirus)), "")
            << "Cancel at the start-up question did not put everything back";
        CMachineState::ClearToolState();
        kvxtest::RemoveResultsDirectories();
    }
    ASSERT_FALSE(points.empty()) << "the wizard's start passes no change point: its changes do not go through the "
                                    "journal";
    int held = 0;
    for (size_t point = 0; point < points.size(); ++point) {
        const std::string label = "kill point " + std::to_string(point + 1) + " of " + std::to_string(points.size()) +
                                  " (" + points[point] + ")";
        SCOPED_TRACE(label);
        CMachineState::ClearToolState();
        kvxtest::CSimAntivirus antivirus(options);
        ASSERT_EQ(antivirus.Error(), "");
        const DWORD killed = StartAndCancel({L"KVX_KILL_AT=" + std::to_wstring(point + 1)});
        const DWORD again = killed == KILLED_EXIT_CODE ? StartAndCancel({}) : 0;
        const std::string differences = CMachineState::Differences(original, Read(antivirus));
        CMachineState::ClearToolState();
        kvxtest::RemoveResultsDirectories();
        if (killed != KILLED_EXIT_CODE) {
            ADD_FAILURE() << "the wizard was not ended at the point (exit " << killed << ")";
        } else if (again != 0) {
            ADD_FAILURE() << "the next start of the wizard ended with " << again;
        } else if (!differences.empty()) {
            ADD_FAILURE() << "the next start with Cancel left the machine changed:\n" << differences;
        } else {
            ++held;
        }
    }
    std::printf("[ crash    ] WizardStart: %zu of %zu kill points tried, %d held\n", points.size(), points.size(),
                held);
    EXPECT_EQ(static_cast<size_t>(held), points.size());
}

const SScenario kScenarios[] = {
    {"BasicNotFixedNotFixedFixed",
     kvxtest::ESimSdk::V3_2,
     true,
     {"basic", "--answers", "4,4,3"},
     1,
     ERecovery::FRESH_START,
     true},
    {"BasicCancelledAtTheSecondFilter",
     kvxtest::ESimSdk::V3_2,
     true,
     {"basic", "--answers", "4,5", "--cancel", "1"},
     1,
     ERecovery::FRESH_START,
     false},
    // 1 -> 2 -> 3 fixed -> 8 not fixed -> 4 fixed: KVXFLTE is the culprit and stays off.
    {"DeepToACulprit",
     kvxtest::ESimSdk::V4_0,
     true,
     {"deep", "--ask", "3:3,8:4,4:3"},
     5,
     ERecovery::RESUME_ONE_BOOT,
     true},
    // Through the intermediate driver's bindings: 1 -> 2 -> 3 fixed -> 8 fixed -> 9 -> 10, no solution, and
    // the TDI manager stays off as the workaround.
    {"DeepToNoSolutionWithTheWorkaround",
     kvxtest::ESimSdk::V4_0,
     false,
     {"deep", "--ask", "3:3,8:3,9:4,10:4"},
     6,
     ERecovery::RESUME_ONE_BOOT,
     true},
    // 1 -> 2 -> 3, where the user cancels: answer 5, then _0005_.
    {"DeepCancelledAtTheNDISManagerStep",
     kvxtest::ESimSdk::V4_0,
     false,
     {"deep", "--ask", "3:5", "--reboot", "1", "--cancel", "1"},
     3,
     ERecovery::RESUME_AND_CANCEL,
     false},
};

INSTANTIATE_TEST_SUITE_P(Scenarios, CrashConsistency, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<SScenario>& info) { return info.param.name; });

} // namespace
