// Running console programs with captured output: exit codes, exact bytes, time-outs, concurrent runs
// and a large output.
#include "core/helpers/HelperRef.h"
#include "core/helpers/SysUtilsHelper.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstdio>

namespace {

class SysUtilsProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_helper) << "SYSUTILS is not registered";
        ASSERT_TRUE(kvxtest::FileExists(kvxtest::ConsoleProbePath())) << kvxtest::ConsoleProbePath();
    }

    // A copy of the probe under its own name, so that its processes can be found by name.
    std::string ProbeCopy(const std::string& name)
    {
        const std::string copy = m_dir.Path() + "\\" + name;
        EXPECT_TRUE(::CopyFileA(kvxtest::ConsoleProbePath().c_str(), copy.c_str(), FALSE));
        return copy;
    }

    kvx::CHelperRef<CSysUtilsHelper> m_helper{"SYSUTILS"};
    kvxtest::CScopedTempDir m_dir{"kvxprogram"};
};

// Process ids of the running processes whose executable has this name.
std::vector<DWORD> ProcessesNamed(const std::string& exeName)
{
    std::vector<DWORD> ids;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return ids;
    }
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL ok = ::Process32First(snapshot, &entry); ok; ok = ::Process32Next(snapshot, &entry)) {
        if (_stricmp(entry.szExeFile, exeName.c_str()) == 0) {
            ids.push_back(entry.th32ProcessID);
        }
    }
    ::CloseHandle(snapshot);
    return ids;
}

void KillProcessesNamed(const std::string& exeName)
{
    for (DWORD id : ProcessesNamed(exeName)) {
        HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (process != nullptr) {
            ::TerminateProcess(process, 1);
            ::WaitForSingleObject(process, 5000);
            ::CloseHandle(process);
        }
    }
}

struct SRun {
    CSysUtilsHelper* pHelper;
    std::string program;
    std::string arguments;
    DWORD dwTimeoutMs;
    DWORD dwResult = 0xDEADBEEF;
    std::string output = "poison";
    DWORD dwExitCode = 0xDEADBEEF;
};

DWORD WINAPI RunInThread(LPVOID pParam)
{
    SRun& run = *static_cast<SRun*>(pParam);
    run.dwResult =
        run.pHelper->ExecuteProgramAndGetOutput(run.program, run.arguments, run.output, run.dwExitCode, run.dwTimeoutMs);
    return 0;
}

} // namespace

TEST_F(SysUtilsProgramTest, CapturesTwoLinesAndTheExitCode)
{
    std::string output = "poison";
    DWORD dwExitCode = 0xDEADBEEF;
    EXPECT_EQ(m_helper->ExecuteProgramAndGetOutput(kvxtest::ConsoleProbePath(), "lines 3", output, dwExitCode), 0u);
    EXPECT_EQ(output, "first line\r\nsecond line\r\n");
    EXPECT_EQ(dwExitCode, 3u);
}

TEST_F(SysUtilsProgramTest, ProgramPathWithSpacesStarts)
{
    const std::string spaced = m_dir.Path() + "\\with space";
    ASSERT_TRUE(::CreateDirectoryA(spaced.c_str(), nullptr));
    const std::string copy = spaced + "\\probe copy.exe";
    ASSERT_TRUE(::CopyFileA(kvxtest::ConsoleProbePath().c_str(), copy.c_str(), FALSE));
    std::string output;
    DWORD dwExitCode = 0;
    EXPECT_EQ(m_helper->ExecuteProgramAndGetOutput(copy, "silent 42", output, dwExitCode), 0u);
    EXPECT_EQ(dwExitCode, 42u);
    EXPECT_EQ(output, "");
}

TEST_F(SysUtilsProgramTest, ZeroBytesAreDroppedAndTheRestKept)
{
    std::string output;
    DWORD dwExitCode = 1;
    EXPECT_EQ(m_helper->ExecuteProgramAndGetOutput(kvxtest::ConsoleProbePath(), "nul", output, dwExitCode), 0u);
    EXPECT_EQ(output, "AB\r\nHi\r\n") << "ASCII with NULs and UTF-16 text both survive";
    EXPECT_EQ(dwExitCode, 0u);
}

TEST_F(SysUtilsProgramTest, PercentSignsArriveUnchanged)
{
    std::string output;
    DWORD dwExitCode = 1;
    EXPECT_EQ(m_helper->ExecuteProgramAndGetOutput(kvxtest::ConsoleProbePath(), "text 100%%s%n", output, dwExitCode),
              0u);
    EXPECT_EQ(output, "100%%s%n");
}

TEST_F(SysUtilsProgramTest, ProgramThatCannotStartIsAFailure)
{
    std::string output = "poison";
    DWORD dwExitCode = 0xDEADBEEF;
    const DWORD dwResult =
        m_helper->ExecuteProgramAndGetOutput(m_dir.Path() + "\\missing.exe", "x", output, dwExitCode);
    EXPECT_TRUE(dwResult == ERROR_FILE_NOT_FOUND || dwResult == ERROR_PATH_NOT_FOUND) << dwResult;
    EXPECT_EQ(output, "");
    EXPECT_EQ(dwExitCode, 0u);
}

TEST_F(SysUtilsProgramTest, HangingProgramIsKilledAtTheTimeLimit)
{
    const std::string probe = ProbeCopy("kvx_hang_probe.exe");
    // A first run settles the handles the runtime opens once (console, log), so the count below
    // measures the run alone.
    std::string output;
    DWORD dwExitCode = 0;
    m_helper->ExecuteProgramAndGetOutput(probe, "silent 0", output, dwExitCode);
    const DWORD handlesBefore = kvxtest::ProcessHandleCount();

    output = "poison";
    dwExitCode = 0xDEADBEEF;
    const DWORD start = ::GetTickCount();
    const DWORD dwResult = m_helper->ExecuteProgramAndGetOutput(probe, "hang 60000", output, dwExitCode, 1500);
    const DWORD elapsed = ::GetTickCount() - start;

    EXPECT_EQ(dwResult, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(output, "") << "a killed program's partial output is not returned";
    EXPECT_EQ(dwExitCode, 0u);
    EXPECT_GE(elapsed, 1400u);
    EXPECT_LT(elapsed, 1500u + 4000u) << "the reader thread was not released by the kill";
    EXPECT_TRUE(ProcessesNamed("kvx_hang_probe.exe").empty()) << "the program is still running";
    EXPECT_EQ(kvxtest::ProcessHandleCount(), handlesBefore) << "a handle of the run was left open";
    KillProcessesNamed("kvx_hang_probe.exe");
}

TEST_F(SysUtilsProgramTest, GrandchildHoldingThePipeDoesNotHangTheCaller)
{
    // The program exits at once with 7 but leaves a child that keeps the output pipe open for 8 s.
    const std::string probe = ProbeCopy("kvx_spawn_probe.exe");
    std::string output = "poison";
    DWORD dwExitCode = 0xDEADBEEF;
    const DWORD start = ::GetTickCount();
    const DWORD dwResult = m_helper->ExecuteProgramAndGetOutput(probe, "spawn-hang 8000", output, dwExitCode, 1500);
    const DWORD elapsed = ::GetTickCount() - start;
    KillProcessesNamed("kvx_spawn_probe.exe");

    EXPECT_EQ(dwResult, static_cast<DWORD>(ERROR_TIMEOUT)) << "a run that ran out of time is never a success";
    EXPECT_EQ(output, "");
    EXPECT_EQ(dwExitCode, 0u);
    EXPECT_LT(elapsed, 1500u + 2u * 5000u + 2000u);
}

TEST_F(SysUtilsProgramTest, ConcurrentRunsEachWaitForTheirOwnProgram)
{
    // A slow run and a quick one at the same time: the quick one's end must not release the slow
    // one's wait (as one shared event would).
    SRun slow{m_helper.get(), kvxtest::ConsoleProbePath(), "hang 2500", 30000};
    HANDLE thread = ::CreateThread(nullptr, 0, &RunInThread, &slow, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    for (int i = 0; i < 3; ++i) {
        std::string output;
        DWORD dwExitCode = 0;
        EXPECT_EQ(m_helper->ExecuteProgramAndGetOutput(kvxtest::ConsoleProbePath(), "lines 5", output, dwExitCode), 0u);
        EXPECT_EQ(output, "first line\r\nsecond line\r\n");
        EXPECT_EQ(dwExitCode, 5u);
    }
    EXPECT_EQ(::WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    ::CloseHandle(thread);
    EXPECT_EQ(slow.dwResult, 0u);
    EXPECT_EQ(slow.output, "started\r\n");
    EXPECT_EQ(slow.dwExitCode, 0u);
}

TEST_F(SysUtilsProgramTest, CapturesTwentyMegabytesExactly)
{
    constexpr unsigned long size = 20ul * 1024 * 1024;
    std::string output;
    DWORD dwExitCode = 1;
    const DWORD start = ::GetTickCount();
    const DWORD dwResult =
        m_helper->ExecuteProgramAndGetOutput(kvxtest::ConsoleProbePath(), "bytes " + std::to_string(size), output,
                                             dwExitCode);
    const DWORD elapsed = ::GetTickCount() - start;
    ASSERT_EQ(dwResult, 0u);
    EXPECT_EQ(dwExitCode, 0u);
    ASSERT_EQ(output.size(), static_cast<size_t>(size));
    EXPECT_TRUE(output == kvxtest::ProbeNumberedLines(size)) << "the captured bytes differ from what was printed";
    std::printf("[ MEASURE  ] 20 MiB of console output captured in %lu ms (%.1f MiB/s)\n",
                static_cast<unsigned long>(elapsed), elapsed > 0 ? 20.0 * 1000.0 / elapsed : 0.0);
    RecordProperty("capture_20MiB_ms", static_cast<int>(elapsed));
}
