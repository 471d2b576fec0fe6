// The helper factory and the shared reference-counted singleton scheme.
#include "core/helpers/HelperRef.h"
#include "core/helpers/HelpersFactory.h"
#include "core/helpers/RefCountedSingleton.h"
#include "core/helpers/SysUtilsHelper.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A helper that counts its lives, to see creation and deletion under concurrent use.
class CCountingHelper final : public kvx::CSharedHelper<CCountingHelper> {
public:
    static constexpr const char* KVXHELPER_NAME = "KVXTEST_COUNTING";
    static constexpr const char* KVXHELPER_CLASS = "CCountingHelper";

    static volatile LONG s_lCreated;
    static volatile LONG s_lDestroyed;
    static volatile LONG s_lLive;
    static volatile LONG s_lMaxLive;

    CCountingHelper()
    {
        ::InterlockedIncrement(&s_lCreated);
        const LONG live = ::InterlockedIncrement(&s_lLive);
        LONG seen = s_lMaxLive;
        while (live > seen && ::InterlockedCompareExchange(&s_lMaxLive, live, seen) != seen) {
            seen = s_lMaxLive;
        }
        m_lMagic = 0x600DF00D;
    }
    ~CCountingHelper()
    {
        m_lMagic = 0;
        ::InterlockedDecrement(&s_lLive);
        ::InterlockedIncrement(&s_lDestroyed);
    }
    volatile LONG m_lMagic = 0;
};
volatile LONG CCountingHelper::s_lCreated = 0;
volatile LONG CCountingHelper::s_lDestroyed = 0;
volatile LONG CCountingHelper::s_lLive = 0;
volatile LONG CCountingHelper::s_lMaxLive = 0;

IHelper* NeverCalled()
{
    ADD_FAILURE() << "a refused registration's creation function was called";
    return nullptr;
}

DWORD WINAPI HammerHelper(LPVOID pFailures)
{
    for (int i = 0; i < 2000; ++i) {
        IHelper* pHelper = CHelpersFactory::GetHelper(CCountingHelper::KVXHELPER_NAME);
        if (pHelper == nullptr || static_cast<CCountingHelper*>(pHelper)->m_lMagic != 0x600DF00D) {
            ::InterlockedIncrement(static_cast<volatile LONG*>(pFailures));
        }
        if (pHelper != nullptr) {
            pHelper->Destroy();
        }
    }
    return 0;
}

} // namespace

TEST(HelpersFactory, SysUtilsIsOneSharedInstanceUntilTheLastRelease)
{
    IHelper* pFirst = CHelpersFactory::GetHelper("SYSUTILS");
    ASSERT_NE(pFirst, nullptr);
    const LONG refsAfterFirst = CSysUtilsHelper::Singleton::RefCount();
    IHelper* pSecond = CHelpersFactory::GetHelper("SYSUTILS");
    EXPECT_EQ(pSecond, pFirst);
    EXPECT_EQ(CSysUtilsHelper::Singleton::RefCount(), refsAfterFirst + 1);

    std::string name;
    EXPECT_EQ(pFirst->GetName(name), 0u);
    EXPECT_EQ(name, "SYSUTILS");

    pSecond->Destroy();
    EXPECT_EQ(CSysUtilsHelper::Singleton::RefCount(), refsAfterFirst);
    pFirst->Destroy();
    EXPECT_EQ(CSysUtilsHelper::Singleton::RefCount(), refsAfterFirst - 1);
    if (refsAfterFirst == 1) {
        EXPECT_EQ(CSysUtilsHelper::Singleton::Peek(), nullptr) << "the last release deletes the instance";
    }
}

TEST(HelpersFactory, UnknownNamesAndCaseVariantsGiveNone)
{
    for (const char* name : {"sysutils", "SYSUTILS ", "", "NOPE"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(CHelpersFactory::GetHelper(name), nullptr);
    }
}

TEST(HelpersFactory, DuplicateNameIsRefusedAndTheFirstStays)
{
    EXPECT_EQ(CHelpersFactory::Subscribe("SYSUTILS", &NeverCalled), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    kvx::CHelperRef<CSysUtilsHelper> helper("SYSUTILS");
    ASSERT_TRUE(helper);
    std::string name;
    helper->GetName(name);
    EXPECT_EQ(name, "SYSUTILS");
}

TEST(HelpersFactory, MissingCreationFunctionIsRefused)
{
    EXPECT_EQ(CHelpersFactory::Subscribe("KVXTEST_NULL", nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CHelpersFactory::GetHelper("KVXTEST_NULL"), nullptr);
}

TEST(HelpersFactory, BrokenRegistrationGivesNone)
{
    CHelpersFactory::GetSubscriptionMap()["KVXTEST_BROKEN"] = nullptr;
    EXPECT_EQ(CHelpersFactory::GetHelper("KVXTEST_BROKEN"), nullptr);
    CHelpersFactory::GetSubscriptionMap().erase("KVXTEST_BROKEN");
}

TEST(HelpersFactory, ReleaseOfAStaleInstanceIsIgnored)
{
    CHelpersFactory::Subscribe(CCountingHelper::KVXHELPER_NAME, &CCountingHelper::AutoCreation);
    IHelper* pHelper = CHelpersFactory::GetHelper(CCountingHelper::KVXHELPER_NAME);
    ASSERT_NE(pHelper, nullptr);
    const LONG destroyedBefore = CCountingHelper::s_lDestroyed;
    // Released on behalf of something that is not the instance: nothing may be freed.
    CCountingHelper::Singleton::Release(nullptr, "test");
    EXPECT_EQ(CCountingHelper::Singleton::RefCount(), 1);
    pHelper->Destroy();
    EXPECT_EQ(CCountingHelper::s_lDestroyed, destroyedBefore + 1);
    EXPECT_EQ(CCountingHelper::Singleton::Peek(), nullptr);
}

TEST(HelpersFactory, ConcurrentFirstUseAndLastReleaseKeepOneInstance)
{
    CHelpersFactory::Subscribe(CCountingHelper::KVXHELPER_NAME, &CCountingHelper::AutoCreation);
    ASSERT_EQ(CCountingHelper::Singleton::Peek(), nullptr);
    volatile LONG failures = 0;
    std::vector<HANDLE> threads;
    for (int i = 0; i < 8; ++i) {
        HANDLE thread = ::CreateThread(nullptr, 0, &HammerHelper, const_cast<LONG*>(&failures), 0, nullptr);
        ASSERT_NE(thread, nullptr);
        threads.push_back(thread);
    }
    const DWORD wait = ::WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 120000);
    for (HANDLE thread : threads) {
        ::CloseHandle(thread);
    }
    ASSERT_EQ(wait, WAIT_OBJECT_0) << "the threads did not finish in 120 s";
    EXPECT_EQ(failures, 0) << "a thread got no instance or one being deleted";
    EXPECT_LE(CCountingHelper::s_lMaxLive, 1) << "two instances lived at once";
    EXPECT_EQ(CCountingHelper::s_lCreated, CCountingHelper::s_lDestroyed);
    EXPECT_EQ(CCountingHelper::Singleton::RefCount(), 0);
    EXPECT_EQ(CCountingHelper::Singleton::Peek(), nullptr);
}
