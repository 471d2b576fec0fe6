// The job store and job threads: scheduling, the store's rules, cancellation and resource release.
#include "core/interface/Coordinator.h"
#include "core/jobs/Foreman.h"
#include "core/jobs/StoreMutexLock.h"
#include "common/win/UniqueHandles.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

namespace {

// A notifier that records codes; when told to, it blocks in any notification until its closing event
// is set and then answers "exiting", as the wizard does while a cancel is pending.
class CBlockingNotifier : public INotify {
public:
    CBlockingNotifier() : m_closing(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~CBlockingNotifier() override { ::CloseHandle(m_closing); }

    int Notify(DWORD code, KVXDIAG2_CONTEXT, const std::string&, const TaskDataList&) override { return Answer(code); }
    int Notify(DWORD code, KVXDIAG2_CONTEXT, const std::string&, DWORD) override { return Answer(code); }

    void Close() { ::SetEvent(m_closing); }
    std::atomic<bool> block{false};
    std::atomic<int> count{0};

private:
    int Answer(DWORD)
    {
        ++count;
        if (block) {
            // Bounded: a missing close must fail the test, not hang it.
            EXPECT_EQ(::WaitForSingleObject(m_closing, 30000), WAIT_OBJECT_0);
            return eKVXDIAG2NotifyRet_EXITING;
        }
        return eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED;
    }
    HANDLE m_closing;
};

class ForemanTest : public ::testing::Test {
protected:
    // Answers "exiting" only after the cancel has been requested, as the wizard does, so that the job
    // meets its cancellation point with the event already set.
    void CloseOnceCancelled(CBlockingNotifier& notifier, DWORD jobId)
    {
        for (int i = 0; i < 5000 && !m_foreman.IsThisJobCancelled(jobId); ++i) {
            ::Sleep(1);
        }
        notifier.Close();
    }

    void SetUp() override { ASSERT_EQ(m_foreman.Init(eKVXDiag2CoreStep_INITIALIZATIONS_STEP, false, ""), 0u); }
    void TearDown() override
    {
        m_foreman.Finish();
        kvxtest::RemoveResultsDirectories();
    }
    CForeman m_foreman;
};

TEST(ForemanInit, StepOutsideOneToTenIsRefused)
{
    for (DWORD step : {0u, 11u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(step);
        CForeman foreman;
        EXPECT_EQ(foreman.Init(step, false, ""), 13u);
        EXPECT_EQ(foreman.ScheduleJob(eKVXDiag2Job_DATA_COLLECTION, 1), 17u);
    }
}

TEST(ForemanInit, PendingStepKeepsTheGivenDirectoryAndMakesNone)
{
    kvxtest::CScopedTempDir dir("pending");
    CForeman foreman;
    ASSERT_EQ(foreman.Init(5, true, dir.Path()), 0u);
    EXPECT_EQ(foreman.GetResultsDirectory(), dir.Path());
    EXPECT_EQ(foreman.GetCurrentStep(), 5u);
    EXPECT_EQ(foreman.Finish(), 0u);
    EXPECT_EQ(foreman.Finish(), 17u);
}

TEST(ForemanInit, FreshStartMakesANewResultsDirectoryEachTime)
{
    CForeman first;
    CForeman second;
    ASSERT_EQ(first.Init(1, false, ""), 0u);
    ASSERT_EQ(second.Init(1, false, ""), 0u);
    EXPECT_NE(first.GetResultsDirectory(), second.GetResultsDirectory());
    EXPECT_EQ(second.GetResultsDirectory(), first.GetResultsDirectory() + "_");
    EXPECT_TRUE(kvxtest::FileExists(first.GetResultsDirectory()));
    first.Finish();
    second.Finish();
    kvxtest::RemoveResultsDirectories();
}

TEST_F(ForemanTest, BadTypeOrIdIsRefusedAndNothingIsStored)
{
    for (DWORD type : {0u, 6u}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(m_foreman.ScheduleJob(type, 1), 87u);
    }
    EXPECT_EQ(m_foreman.ScheduleJob(eKVXDiag2Job_BASIC_ANALYSIS, 0), 87u);
    EXPECT_EQ(m_foreman.CancelJob(1), 1168u);
    EXPECT_FALSE(m_foreman.IsThisJobCancelled(1));
}

TEST_F(ForemanTest, NonExecutableTypesAreStoredUntilCancelled)
{
    EXPECT_EQ(m_foreman.ScheduleJob(eKVXDiag2Job_DATA_COLLECTION, 1), 0u);
    EXPECT_EQ(m_foreman.ScheduleJob(eKVXDiag2Job_RESULTS_SHIPPING, 2), 0u);
    EXPECT_EQ(m_foreman.ScheduleJob(eKVXDiag2Job_DATA_COLLECTION, 1), 1013u) << "the id is taken";
    EXPECT_FALSE(m_foreman.IsThisJobCancelled(1));
    EXPECT_EQ(m_foreman.CancelJob(1), 0u);
    EXPECT_EQ(m_foreman.CancelJob(1), 1168u);
    EXPECT_EQ(m_foreman.CancelJob(2), 0u);
}

TEST_F(ForemanTest, RegisterNotifierChecksItsArguments)
{
    CForeman uninitialised;
    CBlockingNotifier notifier;
    EXPECT_EQ(uninitialised.RegisterNotifier(&notifier, 0), 17u);
    EXPECT_EQ(m_foreman.RegisterNotifier(nullptr, 0), 87u);
    EXPECT_EQ(m_foreman.RegisterNotifier(&notifier, 0), 0u);
}

TEST_F(ForemanTest, CancelReleasesABlockedJobOnceTheCallbackAnswersExiting)
{
    CBlockingNotifier notifier;
    notifier.block = true;
    ASSERT_EQ(m_foreman.RegisterNotifier(&notifier, 0), 0u);
    ASSERT_EQ(m_foreman.ScheduleJob(eKVXDiag2Job_PACK_RESULTS, 7), 0u);
    // The cancel blocks until the job's thread ends; the closing signal is what lets it end.
    std::thread closer([&] { CloseOnceCancelled(notifier, 7); });
    EXPECT_EQ(m_foreman.CancelJob(7), 0u);
    closer.join();
    EXPECT_GE(notifier.count.load(), 1);
    EXPECT_EQ(m_foreman.CancelJob(7), 1168u);
}

// Many jobs started and cancelled at random moments, some while blocked in a callback: every cancel
// returns, and every handle the jobs used is closed again.
TEST_F(ForemanTest, StressStartAndCancelLeavesNoHandles)
{
    constexpr int kJobs = 200;
    CBlockingNotifier warmup;
    ASSERT_EQ(m_foreman.RegisterNotifier(&warmup, 0), 0u);
    ASSERT_EQ(m_foreman.ScheduleJob(eKVXDiag2Job_DATA_COLLECTION, 100000), 0u);
    ASSERT_EQ(m_foreman.CancelJob(100000), 0u);
    const DWORD handlesBefore = kvxtest::ProcessHandleCount();

    std::mt19937 random(12345);
    for (int i = 1; i <= kJobs; ++i) {
        SCOPED_TRACE(i);
        CBlockingNotifier notifier;
        const bool blockInCallback = (i % 4) == 0;
        notifier.block = blockInCallback;
        ASSERT_EQ(m_foreman.RegisterNotifier(&notifier, 0), 0u);
        // Jobs that block in their first notification are pack-and-send jobs, which stop at their
        // cancellation point; the others end at once, so the cancel may find them running or ended.
        const DWORD type = blockInCallback ? eKVXDiag2Job_PACK_RESULTS
                                           : ((i % 2) == 0 ? eKVXDiag2Job_DATA_COLLECTION : eKVXDiag2Job_RESULTS_SHIPPING);
        ASSERT_EQ(m_foreman.ScheduleJob(type, static_cast<DWORD>(i)), 0u);
        // Cancel at a random moment: at once, after yielding, or after the job may have ended.
        switch (random() % 3) {
        case 0:
            break;
        case 1:
            ::SwitchToThread();
            break;
        default:
            ::Sleep(random() % 3);
            break;
        }
        std::thread closer;
        if (blockInCallback) {
            closer = std::thread([&, i] { CloseOnceCancelled(notifier, static_cast<DWORD>(i)); });
        }
        EXPECT_EQ(m_foreman.CancelJob(static_cast<DWORD>(i)), 0u);
        if (closer.joinable()) {
            closer.join();
        }
    }
    const DWORD handlesAfter = kvxtest::ProcessHandleCount();
    // Two handles of slack: the runtime may keep a thread-pool handle or two.
    EXPECT_LE(handlesAfter, handlesBefore + 2) << "before " << handlesBefore << ", after " << handlesAfter;
}

} // namespace

namespace {

// A thread that ends while holding the store mutex leaves it abandoned; the next store operation owns
// it then and must release it, or the store would stay locked for every later job.
TEST(StoreMutexLock, AbandonedMutexIsOwnedAndReleased)
{
    kvx::UniqueHandle mutex(::CreateMutexA(nullptr, FALSE, nullptr));
    ASSERT_TRUE(mutex.valid());
    std::thread([&] { ASSERT_EQ(::WaitForSingleObject(mutex.get(), 1000), WAIT_OBJECT_0); }).join();
    {
        CStoreMutexLock lock(mutex.get(), "test", 1000);
        EXPECT_EQ(lock.Result(), 0u);
    }
    DWORD wait = WAIT_FAILED;
    std::thread([&] {
        wait = ::WaitForSingleObject(mutex.get(), 1000);
        ::ReleaseMutex(mutex.get());
    }).join();
    EXPECT_EQ(wait, static_cast<DWORD>(WAIT_OBJECT_0)) << "released for the next thread";
}

} // namespace
