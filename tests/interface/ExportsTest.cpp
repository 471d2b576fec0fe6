// The exported entry points, called through the real DLL as the wizard calls them. Each test loads a
// fresh copy of the library so that its process-wide state starts empty.
#include "common/win/ProcAddress.h"
#include "core/interface/KVXDiagTypes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <string>
#include <vector>

namespace {

constexpr const char* RESUME_KEY = "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2";

#ifdef _WIN64
constexpr REGSAM VENDOR_VIEW = KEY_WOW64_32KEY;
#else
constexpr REGSAM VENDOR_VIEW = 0;
#endif

struct SCallRecord {
    DWORD code;
    std::string text;
    DWORD size;
    ULONG_PTR data;
};

std::vector<SCallRecord> g_calls;

int WINAPI RecordingCallback(DWORD code, KVXDIAG2_CONTEXT, const char* text, DWORD size, ULONG_PTR data)
{
    g_calls.push_back({code, text != nullptr ? text : "", size, data});
    return 0;
}

class ExportsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_module = ::LoadLibraryA("KVXDiagCore.dll");
        ASSERT_NE(m_module, nullptr) << "error " << ::GetLastError();
        m_finish = Resolve<PFN_KVXDIAG2_FINISH>("_0001_");
        m_register = Resolve<PFN_KVXDIAG2_REGISTER>("_0002_");
        m_init = Resolve<PFN_KVXDIAG2_INIT>("_0003_");
        m_deep = Resolve<PFN_KVXDIAG2_DEEP>("_0004_");
        m_cancel = Resolve<PFN_KVXDIAG2_CANCEL>("_0005_");
        m_basic = Resolve<PFN_KVXDIAG2_BASIC>("_0006_");
        m_reserved = Resolve<PFN_KVXDIAG2_RESERVED>("_0007_");
        m_pack = Resolve<PFN_KVXDIAG2_PACK>("_0008_");
        g_calls.clear();
    }

    void TearDown() override
    {
        if (m_module != nullptr) {
            ::FreeLibrary(m_module);
        }
        RemoveResultsDirectories();
    }

    template <typename T>
    T Resolve(const char* name)
    {
        T proc = kvx::GetProc<T>(m_module, name);
        EXPECT_NE(proc, nullptr) << name;
        return proc;
    }

    void RemoveResultsDirectories() { kvxtest::RemoveResultsDirectories(); }

    HMODULE m_module = nullptr;
    kvxtest::CScopedRegistryTree m_resume{HKEY_LOCAL_MACHINE, RESUME_KEY, VENDOR_VIEW};
    PFN_KVXDIAG2_FINISH m_finish = nullptr;
    PFN_KVXDIAG2_REGISTER m_register = nullptr;
    PFN_KVXDIAG2_INIT m_init = nullptr;
    PFN_KVXDIAG2_DEEP m_deep = nullptr;
    PFN_KVXDIAG2_CANCEL m_cancel = nullptr;
    PFN_KVXDIAG2_BASIC m_basic = nullptr;
    PFN_KVXDIAG2_RESERVED m_reserved = nullptr;
    PFN_KVXDIAG2_PACK m_pack = nullptr;
};

TEST_F(ExportsTest, EveryExportBeforeInitAnswersNoObject)
{
    int jobId = -7;
    EXPECT_EQ(m_finish(), 4312u);
    EXPECT_EQ(m_register(RecordingCallback, 0), 4312u);
    EXPECT_EQ(m_deep(&jobId), 4312u);
    EXPECT_EQ(m_cancel(1), 4312u);
    EXPECT_EQ(m_basic(&jobId), 4312u);
    EXPECT_EQ(m_pack("c:\\x.zip", &jobId), 4312u);
    EXPECT_EQ(jobId, -7) << "no job id may be handed out without a coordinator";
}

TEST_F(ExportsTest, ReservedExportAlwaysAnswersMinusOne)
{
    EXPECT_EQ(m_reserved(0), 0xFFFFFFFFu);
    EXPECT_EQ(m_reserved(12345), 0xFFFFFFFFu);
    int pending = 0;
    int step = 0;
    ASSERT_EQ(m_init(&pending, &step), 0u);
    EXPECT_EQ(m_reserved(1), 0xFFFFFFFFu);
    EXPECT_EQ(m_finish(), 0u);
}

TEST_F(ExportsTest, FreshStartIsNotPendingAndSecondInitTouchesNothing)
{
    int pending = -1;
    int step = -1;
    ASSERT_EQ(m_init(&pending, &step), 0u);
    EXPECT_EQ(pending, 0);
    EXPECT_EQ(step, 1);

    pending = -5;
    step = -6;
    EXPECT_EQ(m_init(&pending, &step), 0u);
    EXPECT_EQ(pending, -5);
    EXPECT_EQ(step, -6);

    EXPECT_EQ(m_finish(), 0u);
    EXPECT_EQ(m_finish(), 4312u) << "the coordinator is gone after the first finish";
}

TEST_F(ExportsTest, JobIdsFollowCallOrderAndAreUsedUpOnFailure)
{
    int pending = 0;
    int step = 0;
    ASSERT_EQ(m_init(&pending, &step), 0u);
    ASSERT_EQ(m_register(RecordingCallback, 0x1234), 0u);
    int ids[3] = {0, 0, 0};
    m_basic(&ids[0]);
    m_deep(&ids[1]);
    m_pack("", &ids[2]);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], 2);
    EXPECT_EQ(ids[2], 3);
    for (int id : ids) {
        SCOPED_TRACE(id);
        EXPECT_EQ(m_cancel(id), 0u);
        EXPECT_EQ(m_cancel(id), 1168u) << "a released job is unknown";
    }
    EXPECT_EQ(m_cancel(99), 1168u);
    EXPECT_EQ(m_finish(), 0u);
}

TEST_F(ExportsTest, NullCallbackIsAcceptedAndNothingIsDelivered)
{
    int pending = 0;
    int step = 0;
    ASSERT_EQ(m_init(&pending, &step), 0u);
    EXPECT_EQ(m_register(nullptr, 0), 0u);
    int jobId = 0;
    ASSERT_EQ(m_deep(&jobId), 0u);
    EXPECT_EQ(m_cancel(jobId), 0u);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(m_finish(), 0u);
}

TEST_F(ExportsTest, InvalidStoredStepFailsInitAndFinishAnswersNotInitialised)
{
    for (DWORD badStep : {0u, 11u}) {
        SCOPED_TRACE(badStep);
        ASSERT_TRUE(kvxtest::SetDword(HKEY_LOCAL_MACHINE, RESUME_KEY, "CurrentStep", badStep, VENDOR_VIEW));
        ASSERT_TRUE(kvxtest::SetString(HKEY_LOCAL_MACHINE, RESUME_KEY, "ResultsDir", "C:\\windows\\temp", VENDOR_VIEW));
        int pending = -1;
        int step = -1;
        EXPECT_EQ(m_init(&pending, &step), 13u);
        EXPECT_EQ(static_cast<DWORD>(step), badStep);
        int jobId = 0;
        EXPECT_EQ(m_basic(&jobId), 17u);
        EXPECT_EQ(m_finish(), 17u) << "the coordinator stays while its foreman failed";
        // Start the next case from a freshly loaded library.
        ::FreeLibrary(m_module);
        SetUp();
    }
}

// A step needs a directory to resume into: none, or one whose text is empty (only zeros, which would
// resume into the root of the drive), is a fresh start.
TEST_F(ExportsTest, StoredStepWithoutResultsDirectoryIsNotPending)
{
    for (const int zeros : {-1, 3}) {
        SCOPED_TRACE(zeros);
        ASSERT_TRUE(kvxtest::SetDword(HKEY_LOCAL_MACHINE, RESUME_KEY, "CurrentStep", 3, VENDOR_VIEW));
        if (zeros > 0) {
            HKEY key = nullptr;
            ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, RESUME_KEY, 0, KEY_SET_VALUE | VENDOR_VIEW, &key), 0);
            const BYTE empty[3] = {};
            ::RegSetValueExA(key, "ResultsDir", 0, REG_SZ, empty, static_cast<DWORD>(zeros));
            ::RegCloseKey(key);
        }
        int pending = -1;
        int step = -1;
        ASSERT_EQ(m_init(&pending, &step), 0u);
        EXPECT_EQ(pending, 0);
        EXPECT_EQ(step, 1);
        DWORD stored = 0;
        EXPECT_TRUE(kvxtest::GetDword(HKEY_LOCAL_MACHINE, RESUME_KEY, "CurrentStep", stored, VENDOR_VIEW))
            << "the stale step stays until the next clean-up";
        EXPECT_EQ(m_finish(), 0u);
    }
}

DWORD ProcessThreadCount()
{
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    DWORD count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId() ? 1 : 0;
    }
    ::CloseHandle(snapshot);
    return count;
}

HANDLE g_lastNotification = nullptr;

int WINAPI SignallingCallback(DWORD, KVXDIAG2_CONTEXT, const char*, DWORD, ULONG_PTR)
{
    ::SetEvent(g_lastNotification);
    return 0;
}

// _0001_ with a job still on its thread: right after its last notification (a first deep-analysis step
// that finds no TDI manager and ends after code 11), or at once after the start (pack and send). It
// must cancel and wait for the job, so that no thread of the core runs on a deleted foreman.
TEST_F(ExportsTest, FinishWithAJobStillRunningWaitsForIt)
{
    kvxtest::CScopedTempDir destination("finish-loop");
    g_lastNotification = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(g_lastNotification, nullptr);
    auto once = [&](int i) {
        int pending = -1;
        int step = -1;
        ASSERT_EQ(m_init(&pending, &step), 0u);
        ASSERT_EQ(m_register(&SignallingCallback, 0), 0u);
        int jobId = 0;
        if (i % 2 == 0) {
            ASSERT_EQ(m_deep(&jobId), 0u);
            ASSERT_EQ(::WaitForSingleObject(g_lastNotification, 30000), WAIT_OBJECT_0);
        } else {
            ASSERT_EQ(m_pack((destination.Path() + "\\package.zip").c_str(), &jobId), 0u);
        }
        ASSERT_EQ(m_finish(), 0u);
        RemoveResultsDirectories();
    };
    once(0);
    once(1);
    const DWORD handlesBefore = kvxtest::ProcessHandleCount();
    const DWORD threadsBefore = ProcessThreadCount();
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        once(i);
        if (HasFatalFailure()) {
            break;
        }
    }
    const DWORD threadsAfter = ProcessThreadCount();
    const DWORD handlesAfter = kvxtest::ProcessHandleCount();
    ::CloseHandle(g_lastNotification);
    EXPECT_LE(threadsAfter, threadsBefore) << "a thread of the core outlived _0001_";
    EXPECT_LE(handlesAfter, handlesBefore + 2) << "before " << handlesBefore << ", after " << handlesAfter;
}

TEST_F(ExportsTest, PendingAnalysisResumesWithStoredDirectory)
{
    kvxtest::CScopedTempDir dir("resume");
    ASSERT_TRUE(kvxtest::SetDword(HKEY_LOCAL_MACHINE, RESUME_KEY, "CurrentStep", 5, VENDOR_VIEW));
    ASSERT_TRUE(kvxtest::SetString(HKEY_LOCAL_MACHINE, RESUME_KEY, "ResultsDir", dir.Path(), VENDOR_VIEW));
    int pending = -1;
    int step = -1;
    ASSERT_EQ(m_init(&pending, &step), 0u);
    EXPECT_EQ(pending, 1);
    EXPECT_EQ(step, 5);
    EXPECT_EQ(m_finish(), 0u);
}

} // namespace
