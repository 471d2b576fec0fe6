// Notification delivery: the checks, the flattening of data and the answers handed back to the job.
#include "core/interface/Coordinator.h"
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskDataString.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SDelivered {
    DWORD code;
    KVXDIAG2_CONTEXT context;
    std::string text;
    DWORD size;
    std::vector<DWORD> record; // the progress record's fields, or the plain value
    bool nullData;
};

std::vector<SDelivered> g_delivered;
int g_answer = 0;

int WINAPI Capture(DWORD code, KVXDIAG2_CONTEXT context, const char* text, DWORD size, ULONG_PTR data)
{
    SDelivered d{code, context, text != nullptr ? text : "", size, {}, data == 0};
    if (size == sizeof(SKVXDiag2Progress)) {
        const auto* progress = reinterpret_cast<const SKVXDiag2Progress*>(data);
        d.record = {progress->dwSize, progress->dwTotal, progress->dwCurrent};
    } else if (size == sizeof(DWORD)) {
        d.record = {static_cast<DWORD>(data)};
    }
    g_delivered.push_back(d);
    return g_answer;
}

class NotifyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_delivered.clear();
        g_answer = 0;
        m_coordinator = CCoordinator::CreateSingletonObject();
        ASSERT_NE(m_coordinator, nullptr);
    }
    void TearDown() override
    {
        m_coordinator->Finish();
        CCoordinator::DestroySingletonObject();
        kvxtest::RemoveResultsDirectories();
    }
    void InitAndRegister(KVXDIAG2_CONTEXT context)
    {
        int pending = 0;
        int step = 0;
        ASSERT_EQ(m_coordinator->Init(&pending, &step), 0u);
        ASSERT_EQ(m_coordinator->RegisterNotificationsCallback(Capture, context), 0u);
    }

    kvxtest::CScopedRegistryTree m_resume{HKEY_LOCAL_MACHINE,
                                          "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2",
#ifdef _WIN64
                                          KEY_WOW64_32KEY
#else
                                          0
#endif
    };
    CCoordinator* m_coordinator = nullptr;
};

TEST_F(NotifyTest, NothingIsDeliveredBeforeInitOrWithoutCallback)
{
    EXPECT_EQ(m_coordinator->Notify(5, 0, "Job started", 0u), 2);
    int pending = 0;
    int step = 0;
    ASSERT_EQ(m_coordinator->Init(&pending, &step), 0u);
    EXPECT_EQ(m_coordinator->Notify(5, 0, "Job started", 0u), 2) << "no callback registered yet";
    EXPECT_TRUE(g_delivered.empty());
}

TEST_F(NotifyTest, CodesOutsideTheTableAreNotDelivered)
{
    InitAndRegister(0);
    for (DWORD code : {0u, 22u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(m_coordinator->Notify(code, 0, "x", 0u), 2);
        EXPECT_EQ(m_coordinator->Notify(code, 0, "x", TaskDataList{}), 2);
    }
    EXPECT_TRUE(g_delivered.empty());
    EXPECT_STREQ(CCoordinator::GetNotifiedDescription(22), "[INVALID]");
    // The one extension beyond the documented codes; see KVXDiagTypes.h.
    EXPECT_STREQ(CCoordinator::GetNotifiedDescription(eKVXDIAG2Notify_EXTENDEDDATA_ITEM), "EXTENDEDDATA ITEM");
    EXPECT_STREQ(CCoordinator::GetNotifiedDescription(17), "PACK&SEND BEGUN");
}

TEST_F(NotifyTest, ProgressArrivesAsTwelveByteRecord)
{
    InitAndRegister(0xABCD);
    g_answer = 4;
    CTaskDataLong total(6);
    CTaskDataLong current(3);
    EXPECT_EQ(m_coordinator->Notify(6, 0xABCD, "Progress", TaskDataList{&total, &current}), 4);
    ASSERT_EQ(g_delivered.size(), 1u);
    EXPECT_EQ(g_delivered[0].code, 6u);
    EXPECT_EQ(g_delivered[0].context, 0xABCDu);
    EXPECT_EQ(g_delivered[0].text, "Progress");
    EXPECT_EQ(g_delivered[0].size, 12u);
    EXPECT_EQ(g_delivered[0].record, (std::vector<DWORD>{12, 6, 3}));
}

TEST_F(NotifyTest, DataThatDoesNotFitTheCodeIsRefused)
{
    InitAndRegister(0);
    CTaskDataLong one(1);
    CTaskDataLong two(2);
    CTaskDataString text("abc");
    struct SCase {
        const char* label;
        DWORD code;
        TaskDataList data;
    } cases[] = {
        {"progress with one value", 6, {&one}},
        {"progress with a string", 6, {&one, &text}},
        {"progress with three values", 6, {&one, &two, &one}},
        {"cancelled with two values", 9, {&one, &two}},
        {"cancelled with a string", 9, {&text}},
        {"another code with data", 5, {&one}},
        {"progress with a null element", 6, {&one, nullptr}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(m_coordinator->Notify(c.code, 0, "x", c.data), 2);
    }
    EXPECT_TRUE(g_delivered.empty());
}

TEST_F(NotifyTest, CancelledCarriesItsValueOrNothing)
{
    InitAndRegister(0);
    CTaskDataLong seven(7);
    EXPECT_EQ(m_coordinator->Notify(9, 0, "Job cancelled by user", TaskDataList{&seven}), 0);
    EXPECT_EQ(m_coordinator->Notify(9, 0, "Job cancelled by user", TaskDataList{}), 0);
    ASSERT_EQ(g_delivered.size(), 2u);
    EXPECT_EQ(g_delivered[0].size, 4u);
    EXPECT_EQ(g_delivered[0].record, std::vector<DWORD>{7});
    EXPECT_EQ(g_delivered[1].size, 0u);
    EXPECT_TRUE(g_delivered[1].nullData);
}

TEST_F(NotifyTest, SingleValueFormSendsTheJobsTextNotTheDescription)
{
    InitAndRegister(0);
    g_answer = 5;
    EXPECT_EQ(m_coordinator->Notify(5, 0, "Job started", 0u), 5);
    ASSERT_EQ(g_delivered.size(), 1u);
    EXPECT_EQ(g_delivered[0].text, "Job started");
    EXPECT_EQ(g_delivered[0].size, 4u);
    EXPECT_EQ(g_delivered[0].record, std::vector<DWORD>{0});
}

} // namespace
