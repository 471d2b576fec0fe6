// The filter and network-component tasks: start types of driver services, the installed check, the
// intermediate driver's name, binding switches and the network-component dump, with their report lines.
#include "core/tasks/TaskActivateFilter.h"
#include "core/tasks/TaskActivateNetworkComponent.h"
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskDeactivateFilter.h"
#include "core/tasks/TaskDeactivateNetworkComponent.h"
#include "core/tasks/TaskDisableFilter.h"
#include "core/tasks/TaskDumpNetworkComponents.h"
#include "core/tasks/TaskEnableFilter.h"
#include "core/tasks/TaskGetFilterState.h"
#include "core/tasks/TaskGetIMName.h"
#include "core/tasks/TaskIsServiceInstalled.h"
#include "core/tasks/TasksFactory.h"
#include "tests/netcfg/NetCfgTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <typeinfo>

namespace {

using kvxtest::SimComponent;
using kvxtest::SimPath;
using Lines = std::vector<std::string>;

std::unique_ptr<ITask> NewTask(DWORD id) { return std::unique_ptr<ITask>(CTasksFactory::GetTask(id)); }

// Creates, configures with one text and executes a task; answers Execute's code (or SetConfig's).
DWORD RunWithText(ITask& task, const std::string& text, IReporter* pReporter)
{
    CTaskDataString parameter(text);
    const DWORD dwConfig = task.SetConfig({&parameter});
    if (dwConfig != 0) {
        return dwConfig;
    }
    return task.Execute(pReporter);
}

TEST(NetworkTasks, FactoryMakesEachTaskByItsId)
{
    struct SCase {
        DWORD id;
        const std::type_info& type;
    };
    const SCase cases[] = {
        {KVXDIAG2_TASKID_ENABLE_FILTER, typeid(CTaskEnableFilter)},
        {KVXDIAG2_TASKID_DISABLE_FILTER, typeid(CTaskDisableFilter)},
        {KVXDIAG2_TASKID_GET_FILTER_STATE, typeid(CTaskGetFilterState)},
        {KVXDIAG2_TASKID_DEACTIVATE_FILTER, typeid(CTaskDeactivateFilter)},
        {KVXDIAG2_TASKID_ACTIVATE_FILTER, typeid(CTaskActivateFilter)},
        {KVXDIAG2_TASKID_GET_IM_NAME, typeid(CTaskGetIMName)},
        {KVXDIAG2_TASKID_ACTIVATE_NETWORK_COMPONENT, typeid(CTaskActivateNetworkComponent)},
        {KVXDIAG2_TASKID_DEACTIVATE_NETWORK_COMPONENT, typeid(CTaskDeactivateNetworkComponent)},
        {KVXDIAG2_TASKID_IS_SERVICE_INSTALLED, typeid(CTaskIsServiceInstalled)},
        {KVXDIAG2_TASKID_DUMP_NETWORK_COMPONENTS, typeid(CTaskDumpNetworkComponents)},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.id);
        std::unique_ptr<ITask> task = NewTask(c.id);
        ASSERT_NE(nullptr, task);
        EXPECT_EQ(c.type, typeid(*task));
    }
}

TEST(NetworkTasks, ParameterListsAreCheckedPerTask)
{
    CTaskDataLong number(5);
    CTaskDataString name("x");
    for (DWORD id : {KVXDIAG2_TASKID_ENABLE_FILTER, KVXDIAG2_TASKID_DISABLE_FILTER, KVXDIAG2_TASKID_GET_FILTER_STATE,
                     KVXDIAG2_TASKID_DEACTIVATE_FILTER, KVXDIAG2_TASKID_ACTIVATE_FILTER,
                     KVXDIAG2_TASKID_ACTIVATE_NETWORK_COMPONENT, KVXDIAG2_TASKID_DEACTIVATE_NETWORK_COMPONENT,
                     KVXDIAG2_TASKID_IS_SERVICE_INSTALLED}) {
        SCOPED_TRACE(id);
        std::unique_ptr<ITask> task = NewTask(id);
        ASSERT_NE(nullptr, task);
        EXPECT_EQ(87u, task->SetConfig({}));
        EXPECT_EQ(87u, task->SetConfig({&number}));
        EXPECT_EQ(0u, task->SetConfig({&name, &number})) << "a second element is ignored";
    }
    EXPECT_EQ(50u, NewTask(KVXDIAG2_TASKID_GET_IM_NAME)->SetConfig({&name}));
    EXPECT_EQ(0u, NewTask(KVXDIAG2_TASKID_DUMP_NETWORK_COMPONENTS)->SetConfig({&number}));
}

class FilterStartTaskTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_service.Create(3)); }
    kvxtest::CScopedService m_service{"KVXTESTFLT"};
    kvxtest::CScopedService m_absent{"KVXTESTNOSUCH"};
    kvxtest::CReportFile m_report;
};

TEST_F(FilterStartTaskTest, ActivateAndDeactivateWriteTheStartTypeAndReport)
{
    struct SCase {
        DWORD id;
        const char* service;
        DWORD expected;
        DWORD start;
        const char* line;
    };
    const SCase cases[] = {
        {KVXDIAG2_TASKID_DEACTIVATE_FILTER, "KVXTESTFLT", 0, 4, "Filter KVXTESTFLT deactivated."},
        {KVXDIAG2_TASKID_ACTIVATE_FILTER, "KVXTESTFLT", 0, 1, "Filter KVXTESTFLT activated."},
        {KVXDIAG2_TASKID_ACTIVATE_FILTER, "KVXTESTNOSUCH", 2, 1, "Failed to activate filter KVXTESTNOSUCH."},
        {KVXDIAG2_TASKID_DEACTIVATE_FILTER, "KVXTESTNOSUCH", 2, 1, "Failed to deactivate filter KVXTESTNOSUCH."},
        // No name would make the services key itself the target.
        {KVXDIAG2_TASKID_DEACTIVATE_FILTER, "", 87, 1, "Failed to deactivate filter ."},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.line);
        std::unique_ptr<ITask> task = NewTask(c.id);
        ASSERT_NE(nullptr, task);
        EXPECT_EQ(c.expected, RunWithText(*task, c.service, m_report.Reporter()));
        EXPECT_EQ(c.start, m_service.Start());
        EXPECT_EQ(c.line, m_report.Lines().back());
        EXPECT_FALSE(kvxtest::KeyExists(HKEY_LOCAL_MACHINE, kvxtest::CScopedService::Path("KVXTESTNOSUCH")));
    }
    DWORD start = 0;
    EXPECT_FALSE(kvxtest::GetDword(HKEY_LOCAL_MACHINE, kvxtest::NETCFG_SERVICES_KEY, "Start", start));

    // Without a reporter the task changes the value all the same and writes nothing.
    const size_t lines = m_report.Lines().size();
    std::unique_ptr<ITask> task = NewTask(KVXDIAG2_TASKID_DEACTIVATE_FILTER);
    EXPECT_EQ(0u, RunWithText(*task, "KVXTESTFLT", nullptr));
    EXPECT_EQ(4u, m_service.Start());
    EXPECT_EQ(lines, m_report.Lines().size());
}

TEST_F(FilterStartTaskTest, IsServiceInstalledTellsPresenceAndKeepsItsAnswerOnFailure)
{
    std::unique_ptr<ITask> task = NewTask(KVXDIAG2_TASKID_IS_SERVICE_INSTALLED);
    ASSERT_NE(nullptr, task);
    ITaskData* pResult = nullptr;
    ASSERT_EQ(0u, task->GetResults(&pResult));
    std::string text;
    pResult->GetDataAsString(text);
    EXPECT_EQ("False", text) << "false until known";

    struct SCase {
        const char* service;
        DWORD expected;
        const char* answer;
        const char* line;
    };
    const SCase cases[] = {
        {"KVXTESTFLT", 0, "True", "Service 'KVXTESTFLT' is installed."},
        // A failure keeps the previous answer.
        {"", 87, "True", "Failed to determine if service '' is installed."},
        {"KVXTESTNOSUCH", 0, "False", "Service 'KVXTESTNOSUCH' is not installed."},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(c.expected, RunWithText(*task, c.service, m_report.Reporter()));
        pResult = nullptr;
        ASSERT_EQ(0u, task->GetResults(&pResult));
        ASSERT_NE(nullptr, pResult);
        EXPECT_EQ(static_cast<LONG>(eKVXDiagTLVType_BOOL), pResult->GetType());
        pResult->GetDataAsString(text);
        EXPECT_EQ(c.answer, text);
        EXPECT_EQ(c.line, m_report.Lines().back());
    }
}

class NetCfgTaskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_log.Ok());
        ASSERT_EQ(0u, m_registration.Result());
        ASSERT_EQ(0u, m_model.Result());
    }
    kvxtest::CLogCapture m_log;
    kvxtest::CSimNetCfgRegistration m_registration;
    kvxtest::CSimNetCfgModel m_model;
    kvxtest::CReportFile m_report;
};

TEST_F(NetCfgTaskTest, GetIMNameHandsOutTheNameOnlyWhenFound)
{
    const std::vector<std::string> foreign = kvxtest::ForeignIMServices();
    if (!foreign.empty()) {
        GTEST_SKIP() << "the prefix holds a service " << foreign.front() << " that this test did not create";
    }
    std::unique_ptr<ITask> task = NewTask(KVXDIAG2_TASKID_GET_IM_NAME);
    ASSERT_NE(nullptr, task);
    EXPECT_EQ(1168u, task->Execute(m_report.Reporter()));
    EXPECT_EQ("Failed to get NDIS Intermediate Driver name.", m_report.Lines().back());
    ITaskData* pResult = reinterpret_cast<ITaskData*>(1);
    EXPECT_EQ(232u, task->GetResults(&pResult));
    EXPECT_EQ(nullptr, pResult);

    kvxtest::CScopedService im("KVXIMD");
    ASSERT_TRUE(im.Create());
    EXPECT_EQ(0u, task->Execute(m_report.Reporter()));
    EXPECT_EQ("NDIS Intermediate Driver name is KVXIMD.", m_report.Lines().back());
    ASSERT_EQ(0u, task->GetResults(&pResult));
    ASSERT_NE(nullptr, pResult);
    std::string name;
    ASSERT_EQ(static_cast<LONG>(eKVXDiagTLVType_CHARSTRING), pResult->GetType());
    static_cast<CTaskDataString*>(pResult)->GetData(name);
    EXPECT_EQ("KVXIMD", name);
}

TEST_F(NetCfgTaskTest, NetworkComponentTasksSwitchBindingsAndReport)
{
    ASSERT_EQ(0u, m_model.AddComponent(SimComponent(L"kvximd", kvxtest::SIMNETCFG_CLASS_NETSERVICE,
                                                    {SimPath(L"ms_tcpip->kvximd"), SimPath(L"ms_server->kvximd")})));
    struct SCase {
        DWORD id;
        const char* component;
        DWORD expected;
        bool stored;
        const char* line;
    };
    const SCase cases[] = {
        {KVXDIAG2_TASKID_DEACTIVATE_NETWORK_COMPONENT, "kvximd", 0, false, "Network component kvximd deactivated."},
        {KVXDIAG2_TASKID_ACTIVATE_NETWORK_COMPONENT, "kvximd", 0, true, "Network component kvximd activated."},
        {KVXDIAG2_TASKID_DEACTIVATE_NETWORK_COMPONENT, "kvx_absent", 1168, true,
         "Failed to deactivate network component kvx_absent."},
        {KVXDIAG2_TASKID_ACTIVATE_NETWORK_COMPONENT, "kvx_absent", 1168, true,
         "Failed to activate network component kvx_absent."},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.line);
        std::unique_ptr<ITask> task = NewTask(c.id);
        ASSERT_NE(nullptr, task);
        EXPECT_EQ(c.expected, RunWithText(*task, c.component, m_report.Reporter()));
        EXPECT_EQ(std::optional<bool>(c.stored), m_model.IsPathEnabled(L"kvximd", 0));
        EXPECT_EQ(std::optional<bool>(c.stored), m_model.IsPathEnabled(L"kvximd", 1));
        EXPECT_EQ(c.line, m_report.Lines().back());
    }
}

TEST_F(NetCfgTaskTest, DeactivatingWhileAnotherProgramHoldsTheLockChangesNothing)
{
    ASSERT_EQ(0u, m_model.AddComponent(SimComponent(L"kvximd", kvxtest::SIMNETCFG_CLASS_NETSERVICE,
                                                    {SimPath(L"ms_tcpip->kvximd")})));
    kvxtest::CSimNetCfgLockHolder holder(L"Network Setup Test");
    ASSERT_EQ(0u, holder.Start());
    std::unique_ptr<ITask> task = NewTask(KVXDIAG2_TASKID_DEACTIVATE_NETWORK_COMPONENT);
    ASSERT_NE(nullptr, task);
    EXPECT_EQ(kvxtest::NETCFG_NO_WRITE_LOCK, RunWithText(*task, "KVXIMD", m_report.Reporter()));
    EXPECT_EQ(std::optional<bool>(true), m_model.IsPathEnabled(L"kvximd", 0));
    EXPECT_EQ("Failed to deactivate network component KVXIMD.", m_report.Lines().back());
    EXPECT_NE(std::string::npos, m_log.Contents().find("locked by Network Setup Test hr=0x8004a024"));
    EXPECT_EQ(0u, holder.Stop());
}

TEST_F(NetCfgTaskTest, DumpWithoutReporterListsNothing)
{
    std::unique_ptr<ITask> task = NewTask(KVXDIAG2_TASKID_DUMP_NETWORK_COMPONENTS);
    ASSERT_NE(nullptr, task);
    EXPECT_EQ(87u, task->Execute(nullptr));
    EXPECT_TRUE(m_report.Lines().empty());
    EXPECT_NE(std::string::npos, m_log.Contents().find("Error. El reporter no es valido, no se hace nada."));
}

TEST_F(NetCfgTaskTest, DumpWritesEveryClassAsNestedSections)
{
    kvxtest::SSimComponentDef adapter = SimComponent(L"pci\\ven_8086&dev_100e", kvxtest::SIMNETCFG_CLASS_NET);
    adapter.instanceGuid = L"{6B2F1C3A-8D4E-4F71-9A0B-2C5D7E9F1A34}";
    adapter.bindName = L"{6B2F1C3A-8D4E-4F71-9A0B-2C5D7E9F1A34}";
    adapter.displayName = L"Intel(R) PRO/1000 MT 100% Network";
    adapter.pnpDevNodeId = L"PCI\\VEN_8086&DEV_100E\\3&267A616A&0&18";
    adapter.characteristics = 0x4A5; // virtual, physical, software enumerated, not user removable, UI, filter
    adapter.deviceStatus = 0x1A;
    kvxtest::SSimPathDef path = SimPath(L"kvximd->adapter", false);
    path.interfaces = {{L"ndis5", L"kvximd", L"pci\\ven_8086&dev_100e"}};
    adapter.paths = {path};
    ASSERT_EQ(0u, m_model.AddComponent(adapter));
    kvxtest::SSimComponentDef im = SimComponent(L"kvximd", kvxtest::SIMNETCFG_CLASS_NETSERVICE);
    im.instanceGuid = L"{5D7C2E91-4A3B-4F68-8C1D-9E0F2A3B4C5D}";
    im.bindName = L"KVXIMD";
    im.displayName = L"Orvex Network Manager Intermediate Driver";
    im.helpText = L"Filters the traffic.";
    im.characteristics = 0x1A; // software enumerated, hidden, no service
    ASSERT_EQ(0u, m_model.AddComponent(im));

    std::unique_ptr<ITask> task = NewTask(KVXDIAG2_TASKID_DUMP_NETWORK_COMPONENTS);
    ASSERT_NE(nullptr, task);
    ASSERT_EQ(0u, task->SetConfig({}));
    EXPECT_EQ(0u, task->Execute(m_report.Reporter()));

    const Lines expected = {
        "-> Getting Network Components.",
        "\t-> Networks",
        "\t\t-> Intel(R) PRO/1000 MT 100% Network",
        "\t\t\tComponent        pci\\ven_8086&dev_100e",
        "\t\t\tInstance Id      {6B2F1C3A-8D4E-4F71-9A0B-2C5D7E9F1A34}",
        "\t\t\tBind Name        {6B2F1C3A-8D4E-4F71-9A0B-2C5D7E9F1A34}",
        "\t\t\tHelp Text        ",
        "\t\t\tPnp Name         PCI\\VEN_8086&DEV_100E\\3&267A616A&0&18",
        "\t\t\tStatus           0x0000001a",
        "\t\t\t-> Characteristics  0x000004a5",
        "\t\t\t\tRaw Value :1189 (0x4a5)",
        "\t\t\t\tVirtual :Yes",
        "\t\t\t\tPhysical :Yes",
        "\t\t\t\tSoftware Enumerated :No",
        "\t\t\t\tHidden :No",
        "\t\t\t\tNo Service :No",
        "\t\t\t\tNot User Removable :Yes",
        "\t\t\t\tMultiport Instanced Adapter :No",
        "\t\t\t\tHas User Interface :Yes",
        "\t\t\t\tFilter :Yes",
        "\t\t\t<- Characteristics  0x000004a5",
        "\t\t\t-> Binding Paths (1)",
        "\t\t\t\t-> Path kvximd->adapter",
        "\t\t\t\t\tEnabled No",
        "\t\t\t\t\tDepth 1",
        "\t\t\t\t\tInterfaces (1)",
        "\t\t\t\t\t-> Interface ndis5",
        "\t\t\t\t\t\tUpper Component kvximd",
        "\t\t\t\t\t\tLower Component pci\\ven_8086&dev_100e",
        "\t\t\t\t\t<- Interface ndis5",
        "\t\t\t\t<- Path kvximd->adapter",
        "\t\t\t<- Binding Paths (1)",
        "\t\t<- Intel(R) PRO/1000 MT 100% Network",
        "\t<- Networks",
        "\t-> Transports",
        "\t<- Transports",
        "\t-> Clients",
        "\t<- Clients",
        "\t-> Services",
        "\t\t-> Orvex Network Manager Intermediate Driver",
        "\t\t\tComponent        kvximd",
        "\t\t\tInstance Id      {5D7C2E91-4A3B-4F68-8C1D-9E0F2A3B4C5D}",
        "\t\t\tBind Name        KVXIMD",
        "\t\t\tHelp Text        Filters the traffic.",
        "\t\t\tPnp Name         ",
        "\t\t\tStatus           0x00000000",
        "\t\t\t-> Characteristics  0x0000001a",
        "\t\t\t\tRaw Value :26 (0x1a)",
        "\t\t\t\tVirtual :No",
        "\t\t\t\tPhysical :No",
        "\t\t\t\tSoftware Enumerated :Yes",
        "\t\t\t\tHidden :Yes",
        "\t\t\t\tNo Service :Yes",
        "\t\t\t\tNot User Removable :No",
        "\t\t\t\tMultiport Instanced Adapter :No",
        "\t\t\t\tHas User Interface :No",
        "\t\t\t\tFilter :No",
        "\t\t\t<- Characteristics  0x0000001a",
        "\t\t\t-> Binding Paths (0)",
        "\t\t\t<- Binding Paths (0)",
        "\t\t<- Orvex Network Manager Intermediate Driver",
        "\t<- Services",
        "<- Getting Network Components.",
    };
    EXPECT_EQ(expected, m_report.Lines());
}

} // namespace
