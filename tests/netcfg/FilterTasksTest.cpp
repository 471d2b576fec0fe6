// The plug-in filter tasks through the SDK adapter, against the simulated product: start and stop
// with their report lines, failures passed on, and the state query.
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskDisableFilter.h"
#include "core/tasks/TaskEnableFilter.h"
#include "core/tasks/TaskGetFilterState.h"
#include "core/tasks/TasksFactory.h"
#include "tests/netcfg/NetCfgTestSupport.h"
#include "tests/support/SimProduct.h"

#include <gtest/gtest.h>

#include <memory>
#include <typeinfo>

namespace {

using kvxtest::CSimProduct;
using kvxtest::ESimSdk;

std::unique_ptr<ITask> NewFilterTask(DWORD id, const std::string& filter)
{
    std::unique_ptr<ITask> task(CTasksFactory::GetTask(id));
    if (task) {
        CTaskDataString name(filter);
        if (task->SetConfig({&name}) != 0) {
            task.reset();
        }
    }
    return task;
}

kvxtest::SSimProductOptions Sdk(ESimSdk sdk)
{
    kvxtest::SSimProductOptions options;
    options.sdk = sdk;
    return options;
}

TEST(FilterTasks, StartAndStopGoThroughTheSdkAndPassItsFailureOn)
{
    CSimProduct product(Sdk(ESimSdk::V3_3));
    ASSERT_EQ("", product.Error());
    product.SetFilter("KVXFLTC", true);
    kvxtest::CReportFile report;

    struct SCase {
        DWORD id;
        const char* filter;
        DWORD expected;
        bool enabledAfter;
        const char* line;
    };
    const SCase cases[] = {
        {KVXDIAG2_TASKID_DISABLE_FILTER, "KVXFLTC", 0, false, "Filter KVXFLTC disabled."},
        {KVXDIAG2_TASKID_ENABLE_FILTER, "KVXFLTC", 0, true, "Filter KVXFLTC enabled."},
        // Filter B has no place in this generation: the adapter's 87 must not read as a stopped filter.
        {KVXDIAG2_TASKID_DISABLE_FILTER, "KVXFLTB", 87, true, "Failed to disable filter KVXFLTB."},
        {KVXDIAG2_TASKID_ENABLE_FILTER, "kvxfltc", 87, true, "Failed to enable filter kvxfltc."},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.line);
        std::unique_ptr<ITask> task = NewFilterTask(c.id, c.filter);
        ASSERT_NE(nullptr, task);
        EXPECT_EQ(c.expected, task->Execute(report.Reporter()));
        EXPECT_EQ(c.enabledAfter, product.FilterEnabled("KVXFLTC"));
        EXPECT_EQ(c.line, report.Lines().back());
        ITaskData* pResult = reinterpret_cast<ITaskData*>(1);
        EXPECT_EQ(232u, task->GetResults(&pResult));
        EXPECT_EQ(nullptr, pResult);
    }
}

TEST(FilterTasks, WithoutAProductTheTasksAnswerHelperMissing)
{
    CSimProduct::RemoveAll();
    kvxtest::CReportFile report;
    struct SCase {
        DWORD id;
        const char* line;
    };
    const SCase cases[] = {
        {KVXDIAG2_TASKID_DISABLE_FILTER, "Failed to disable filter KVXFLTA."},
        {KVXDIAG2_TASKID_ENABLE_FILTER, "Failed to enable filter KVXFLTA."},
        {KVXDIAG2_TASKID_GET_FILTER_STATE, nullptr},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.id);
        std::unique_ptr<ITask> task = NewFilterTask(c.id, "KVXFLTA");
        ASSERT_NE(nullptr, task);
        const size_t before = report.Lines().size();
        EXPECT_EQ(4301u, task->Execute(report.Reporter()));
        if (c.line != nullptr) {
            ASSERT_EQ(before + 1, report.Lines().size());
            EXPECT_EQ(c.line, report.Lines().back());
        } else {
            EXPECT_EQ(before, report.Lines().size());
        }
    }
}

TEST(FilterTasks, GetFilterStateHandsOutTheStateAfterAQuery)
{
    CSimProduct product(Sdk(ESimSdk::V4_0));
    ASSERT_EQ("", product.Error());
    std::unique_ptr<ITask> task = NewFilterTask(KVXDIAG2_TASKID_GET_FILTER_STATE, "KVXFLTE");
    ASSERT_NE(nullptr, task);
    ITaskData* pResult = reinterpret_cast<ITaskData*>(1);
    EXPECT_EQ(232u, task->GetResults(&pResult)) << "nothing before a query";
    EXPECT_EQ(nullptr, pResult);

    struct SCase {
        bool enabled;
        const char* state;
    };
    for (const SCase& c : {SCase{true, "0x2"}, SCase{false, "0x1"}}) {
        SCOPED_TRACE(c.state);
        product.SetFilter("KVXFLTE", c.enabled);
        EXPECT_EQ(0u, task->Execute(nullptr));
        ASSERT_EQ(0u, task->GetResults(&pResult));
        ASSERT_NE(nullptr, pResult);
        EXPECT_EQ(static_cast<LONG>(eKVXDiagTLVType_LONG), pResult->GetType());
        std::string text;
        pResult->GetDataAsString(text);
        EXPECT_EQ(c.state, text);
    }

    std::unique_ptr<ITask> unknown = NewFilterTask(KVXDIAG2_TASKID_GET_FILTER_STATE, "KVXNOSUCH");
    ASSERT_NE(nullptr, unknown);
    EXPECT_EQ(87u, unknown->Execute(nullptr));
    EXPECT_EQ(232u, unknown->GetResults(&pResult));
}

} // namespace
