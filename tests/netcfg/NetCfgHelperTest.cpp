// The network configuration helper against the engine double: binding switches and their Apply
// rules, the write lock held by another process, the intermediate driver's service name and the
// component listing.
#include "core/helpers/HelperRef.h"
#include "core/helpers/NetCfgHelper.h"
#include "tests/netcfg/NetCfgTestSupport.h"

#include <gtest/gtest.h>

namespace {

using kvxtest::SimComponent;
using kvxtest::SimPath;
using kvxtest::SIMNETCFG_CLASS_NET;
using kvxtest::SIMNETCFG_CLASS_NETSERVICE;
using kvxtest::SIMNETCFG_CLASS_NETTRANS;

constexpr HRESULT PATH_REFUSED = static_cast<HRESULT>(0x80040001);
constexpr HRESULT OTHER_REFUSAL = static_cast<HRESULT>(0x80040002);

class NetCfgHelperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_log.Ok());
        ASSERT_EQ(0u, m_registration.Result());
        ASSERT_EQ(0u, m_model.Result());
        ASSERT_TRUE(m_helper);
    }

    // The intermediate driver with two paths above it and one below it, and a bystander component.
    void AddIMAndBystander(std::optional<HRESULT> firstPathResult = {}, std::optional<HRESULT> secondPathResult = {})
    {
        kvxtest::SSimPathDef below = SimPath(L"kvximd->adapter");
        below.direction = 2;
        ASSERT_EQ(0u, m_model.AddComponent(SimComponent(
                          L"kvximd", SIMNETCFG_CLASS_NETSERVICE,
                          {SimPath(L"ms_tcpip->kvximd", true, firstPathResult),
                           SimPath(L"ms_server->kvximd", true, secondPathResult), below})));
        ASSERT_EQ(0u, m_model.AddComponent(SimComponent(L"ms_tcpip", SIMNETCFG_CLASS_NETTRANS,
                                                        {SimPath(L"ms_netbt->ms_tcpip")})));
    }

    std::vector<std::optional<bool>> StoredIMPaths() const
    {
        return {m_model.IsPathEnabled(L"kvximd", 0), m_model.IsPathEnabled(L"kvximd", 1),
                m_model.IsPathEnabled(L"kvximd", 2)};
    }

    kvxtest::CLogCapture m_log;
    kvxtest::CSimNetCfgRegistration m_registration;
    kvxtest::CSimNetCfgModel m_model;
    kvx::CHelperRef<CNetCfgHelper> m_helper{KVXDIAG2_HELPER_NETCFG};
};

TEST_F(NetCfgHelperTest, DisablingSwitchesEveryPathAboveAndALaterEngineSeesIt)
{
    AddIMAndBystander();

    // Component ids compare without regard to case, as the deep analysis passes the service name.
    EXPECT_EQ(0u, m_helper->EnableComponent("KVXIMD", false));
    EXPECT_EQ((std::vector<std::optional<bool>>{false, false, true}), StoredIMPaths())
        << "only the paths above the component change";
    EXPECT_EQ(std::optional<bool>(true), m_model.IsPathEnabled(L"ms_tcpip", 0));
    EXPECT_EQ(L"", m_model.LockHolder()) << "the write lock is released";

    std::vector<SNetworkComponent> services;
    ASSERT_EQ(0u, m_helper->GetComponents(KVXDIAG2_GUID_DEVCLASS_NETSERVICE, services));
    ASSERT_EQ(1u, services.size());
    ASSERT_EQ(2u, services[0].bindingPaths.size());
    EXPECT_FALSE(services[0].bindingPaths[0].bEnabled);
    EXPECT_FALSE(services[0].bindingPaths[1].bEnabled);

    EXPECT_EQ(0u, m_helper->EnableComponent("kvximd", true));
    EXPECT_EQ((std::vector<std::optional<bool>>{true, true, true}), StoredIMPaths());

    const std::string log = m_log.Contents();
    EXPECT_NE(std::string::npos, log.find("Disabling bindings for component KVXIMD"));
    EXPECT_NE(std::string::npos, log.find("Succesfully disabled binding 'ms_tcpip->kvximd' hr=0x00000000"));
    EXPECT_NE(std::string::npos, log.find("Succesfully enabled binding 'ms_server->kvximd' hr=0x00000000"));
    EXPECT_NE(std::string::npos, log.find("Exiting with result 0x00000000"));
}

TEST_F(NetCfgHelperTest, AbsentComponentAnswersNotFoundAndChangesNothing)
{
    AddIMAndBystander();
    EXPECT_EQ(1168u, m_helper->EnableComponent("kvx_absent", false));
    EXPECT_EQ((std::vector<std::optional<bool>>{true, true, true}), StoredIMPaths());
    EXPECT_EQ(std::optional<bool>(true), m_model.IsPathEnabled(L"ms_tcpip", 0));
    EXPECT_NE(std::string::npos, m_log.Contents().find("Component kvx_absent not found hr=0x00000001"));
}

// The running result is the last failing path's code, and the paths that did change are applied.
TEST_F(NetCfgHelperTest, FailingPathsGiveTheLastFailureAndTheOthersAreApplied)
{
    struct SCase {
        const char* name;
        std::optional<HRESULT> first;
        std::optional<HRESULT> second;
        DWORD expected;
        std::vector<std::optional<bool>> stored;
    };
    const SCase cases[] = {
        {"first fails", PATH_REFUSED, {}, static_cast<DWORD>(PATH_REFUSED), {true, false, true}},
        {"second fails", {}, PATH_REFUSED, static_cast<DWORD>(PATH_REFUSED), {false, true, true}},
        {"both fail", OTHER_REFUSAL, PATH_REFUSED, static_cast<DWORD>(PATH_REFUSED), {true, true, true}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        kvxtest::CSimNetCfgModel model;
        ASSERT_EQ(0u, model.Result());
        // The fixture's model object owns the same key; rebuild it for this case.
        ASSERT_EQ(0u, model.AddComponent(SimComponent(L"kvximd", SIMNETCFG_CLASS_NETSERVICE,
                                                      {SimPath(L"ms_tcpip->kvximd", true, c.first),
                                                       SimPath(L"ms_server->kvximd", true, c.second),
                                                       SimPath(L"ms_netbt->kvximd")})));
        const DWORD applies = model.ApplyCount();
        EXPECT_EQ(c.expected, m_helper->EnableComponent("kvximd", false));
        EXPECT_EQ(c.stored[0], model.IsPathEnabled(L"kvximd", 0));
        EXPECT_EQ(c.stored[1], model.IsPathEnabled(L"kvximd", 1));
        EXPECT_EQ(std::optional<bool>(false), model.IsPathEnabled(L"kvximd", 2));
        EXPECT_EQ(applies + 1, model.ApplyCount());
    }
    EXPECT_NE(std::string::npos, m_log.Contents().find("Failed to disable binding 'ms_server->kvximd' hr=0x80040001"));
}

// Failures before or instead of Apply: the code comes back and no change reaches the stored model.
TEST_F(NetCfgHelperTest, FailuresBeforeApplyDropEveryChange)
{
    struct SCase {
        const char* name;
        const wchar_t* fault;           // engine-wide fault, or none
        bool enumerationFails;          // the component's path enumerator cannot be had
        bool walkBreaksAfterFirstPath;  // the enumerator fails after handing out one path
        DWORD expected;
        const char* logged;
    };
    const HRESULT failure = static_cast<HRESULT>(0x80070032);
    const SCase cases[] = {
        {"FindComponent fails", L"FindComponentResult", false, false, 0x80070032,
         "FindComponent failed to find component kvximd hr=0x80070032"},
        {"no path enumerator", nullptr, true, false, 0x80070032, "Cannot get binding path enumerator 0x80070032"},
        {"enumerator breaks off", nullptr, false, true, 0x80070032, "se descartan los cambios"},
        {"Apply fails", L"ApplyResult", false, false, 0x80070032, "Apply result hr=0x80070032"},
        {"Initialize fails", L"InitializeResult", false, false, 0x80070032,
         "Cannot open netcfg, error code hr=0x80070032"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        kvxtest::CLogCapture log;
        kvxtest::CSimNetCfgModel model;
        ASSERT_EQ(0u, model.Result());
        kvxtest::SSimComponentDef im =
            SimComponent(L"kvximd", SIMNETCFG_CLASS_NETSERVICE, {SimPath(L"ms_tcpip->kvximd"), SimPath(L"ms_server->kvximd")});
        if (c.enumerationFails) {
            im.enumBindingPathsResult = failure;
        }
        if (c.walkBreaksAfterFirstPath) {
            im.pathEnumErrorAfter = 1;
            im.pathEnumError = failure;
        }
        ASSERT_EQ(0u, model.AddComponent(im));
        if (c.fault != nullptr) {
            ASSERT_EQ(0u, model.SetFault(c.fault, failure));
        }
        EXPECT_EQ(c.expected, m_helper->EnableComponent("kvximd", false));
        EXPECT_EQ(std::optional<bool>(true), model.IsPathEnabled(L"kvximd", 0));
        EXPECT_EQ(std::optional<bool>(true), model.IsPathEnabled(L"kvximd", 1));
        EXPECT_EQ(0u, model.ApplyCount());
        EXPECT_EQ(L"", model.LockHolder()) << "the write lock is released on every path";
        EXPECT_NE(std::string::npos, log.Contents().find(c.logged));
    }
}

TEST_F(NetCfgHelperTest, LockHeldByAnotherProgramAnswersNoWriteLockAndNamesTheHolder)
{
    AddIMAndBystander();
    kvxtest::CSimNetCfgLockHolder holder(L"Orvex Setup Wizard");
    ASSERT_EQ(0u, holder.Start());

    const DWORD started = ::GetTickCount();
    EXPECT_EQ(kvxtest::NETCFG_NO_WRITE_LOCK, m_helper->EnableComponent("kvximd", false));
    const DWORD waited = ::GetTickCount() - started;
    // The helper waits its 5000 ms for the lock before giving up.
    EXPECT_GE(waited, 4500u);
    EXPECT_EQ((std::vector<std::optional<bool>>{true, true, true}), StoredIMPaths());
    EXPECT_NE(std::string::npos,
              m_log.Contents().find("Cannot open netcfg, locked by Orvex Setup Wizard hr=0x8004a024"));

    // Once the other program is done, the same request goes through.
    ASSERT_EQ(0u, holder.Stop());
    EXPECT_EQ(0u, m_helper->EnableComponent("kvximd", false));
    EXPECT_EQ((std::vector<std::optional<bool>>{false, false, true}), StoredIMPaths());
}

class NetCfgIMNameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_log.Ok());
        ASSERT_TRUE(m_helper);
        const std::vector<std::string> foreign = kvxtest::ForeignIMServices();
        if (!foreign.empty()) {
            GTEST_SKIP() << "the prefix holds a service " << foreign.front() << " that this test did not create";
        }
    }
    kvxtest::CLogCapture m_log;
    kvx::CHelperRef<CNetCfgHelper> m_helper{KVXDIAG2_HELPER_NETCFG};
};

TEST_F(NetCfgIMNameTest, FirstCandidateWithoutDeleteFlagIsTheDriver)
{
    struct SService {
        const char* name;
        bool marked;
    };
    struct SCase {
        const char* title;
        std::vector<SService> services;
        DWORD expected;
        const char* name;
    };
    const SCase cases[] = {
        {"no candidate", {{"KVXTESTSVC", false}}, 1168, ""},
        {"marked copy skipped", {{"KVXIMD", true}, {"KVXIMD2", false}}, 0, "KVXIMD2"},
        {"only a marked copy", {{"KVXIMD", true}}, 1168, ""},
        {"prefix is case-sensitive", {{"kvximdx", false}}, 1168, ""},
        {"first of two", {{"KVXIMDA", false}, {"KVXIMDB", false}}, 0, "KVXIMDA"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.title);
        std::vector<std::unique_ptr<kvxtest::CScopedService>> services;
        for (const SService& s : c.services) {
            services.emplace_back(new kvxtest::CScopedService(s.name));
            ASSERT_TRUE(services.back()->Create());
            if (s.marked) {
                ASSERT_TRUE(services.back()->MarkForDeletion());
            }
        }
        std::string name = "stale";
        EXPECT_EQ(c.expected, m_helper->GetIMName(name));
        EXPECT_EQ(c.name, name);
    }
    const std::string log = m_log.Contents();
    EXPECT_NE(std::string::npos,
              log.find("Service 'KVXIMD' matches IM pattern but has DeleteFlag flag, ignoring this key"));
    EXPECT_NE(std::string::npos, log.find("Key found, service name 'KVXIMD2'"));
}

TEST_F(NetCfgHelperTest, ComponentsCarryTheirFieldsPathsAndInterfaces)
{
    kvxtest::SSimComponentDef adapter = SimComponent(L"pci\\ven_8086&dev_100e", SIMNETCFG_CLASS_NET);
    adapter.instanceGuid = L"{6B2F1C3A-8D4E-4F71-9A0B-2C5D7E9F1A34}";
    adapter.bindName = L"{6B2F1C3A-8D4E-4F71-9A0B-2C5D7E9F1A34}";
    adapter.displayName = L"Intel(R) PRO/1000 MT Network Connection";
    adapter.pnpDevNodeId = L"PCI\\VEN_8086&DEV_100E\\3&267A616A&0&18";
    adapter.helpText.reset();
    adapter.characteristics = 0x84;
    adapter.deviceStatus = 0x1234;
    kvxtest::SSimPathDef path = SimPath(L"ms_tcpip->kvximd->adapter", false);
    path.interfaces = {{L"ndis5", L"ms_tcpip", L"kvximd"}, {L"ndis5", L"kvximd", L"pci\\ven_8086&dev_100e"}};
    kvxtest::SSimPathDef deep = SimPath(L"ms_tcpip->adapter");
    deep.depth = 7;
    deep.interfaces = {{L"ndis5", L"ms_tcpip", L"unknown_component"}};
    adapter.paths = {path, deep};
    ASSERT_EQ(0u, m_model.AddComponent(adapter));
    ASSERT_EQ(0u, m_model.AddComponent(SimComponent(L"ms_tcpip", SIMNETCFG_CLASS_NETTRANS)));
    ASSERT_EQ(0u, m_model.AddComponent(SimComponent(L"kvximd", SIMNETCFG_CLASS_NETSERVICE)));
    ASSERT_EQ(0u, m_model.AddComponent(SimComponent(L"second_adapter", SIMNETCFG_CLASS_NET)));

    std::vector<SNetworkComponent> components(3); // an earlier list is replaced, not appended to
    ASSERT_EQ(0u, m_helper->GetComponents(KVXDIAG2_GUID_DEVCLASS_NET, components));
    ASSERT_EQ(2u, components.size());
    const SNetworkComponent& first = components[0];
    EXPECT_TRUE(IsEqualGUID(KVXDIAG2_GUID_DEVCLASS_NET, first.classGuid));
    const GUID instance = {0x6b2f1c3a, 0x8d4e, 0x4f71, {0x9a, 0x0b, 0x2c, 0x5d, 0x7e, 0x9f, 0x1a, 0x34}};
    EXPECT_TRUE(IsEqualGUID(instance, first.instanceGuid));
    EXPECT_EQ(L"pci\\ven_8086&dev_100e", first.strId);
    EXPECT_EQ(L"{6B2F1C3A-8D4E-4F71-9A0B-2C5D7E9F1A34}", first.strBindName);
    EXPECT_EQ(L"Intel(R) PRO/1000 MT Network Connection", first.strDisplayName);
    EXPECT_EQ(L"PCI\\VEN_8086&DEV_100E\\3&267A616A&0&18", first.strPnpDevNodeId);
    EXPECT_EQ(L"", first.strHelpText) << "a string the engine does not supply stays empty";
    EXPECT_EQ(0x84u, first.dwCharacteristics);
    EXPECT_EQ(0x1234u, first.dwDeviceStatus);
    ASSERT_EQ(2u, first.bindingPaths.size());
    EXPECT_FALSE(first.bindingPaths[0].bEnabled);
    EXPECT_EQ(2u, first.bindingPaths[0].dwDepth);
    EXPECT_EQ(L"ms_tcpip->kvximd->adapter", first.bindingPaths[0].strPathToken);
    ASSERT_EQ(2u, first.bindingPaths[0].interfaces.size());
    EXPECT_EQ(L"ndis5", first.bindingPaths[0].interfaces[1].strName);
    EXPECT_EQ(L"kvximd", first.bindingPaths[0].interfaces[1].strUpperComponentId);
    EXPECT_EQ(L"pci\\ven_8086&dev_100e", first.bindingPaths[0].interfaces[1].strLowerComponentId);
    EXPECT_TRUE(first.bindingPaths[1].bEnabled);
    EXPECT_EQ(7u, first.bindingPaths[1].dwDepth);
    ASSERT_EQ(1u, first.bindingPaths[1].interfaces.size());
    EXPECT_EQ(L"", first.bindingPaths[1].interfaces[0].strLowerComponentId) << "an unknown component has no id";
    EXPECT_EQ(L"second_adapter", components[1].strId);

    std::vector<SNetworkComponent> clients(2);
    EXPECT_EQ(0u, m_helper->GetComponents(KVXDIAG2_GUID_DEVCLASS_NETCLIENT, clients));
    EXPECT_TRUE(clients.empty());
    EXPECT_NE(std::string::npos, m_log.Contents().find("Getting class {4D36E972-E325-11CE-BFC1-08002BE10318} components"));
}

TEST(NetCfgHelperSingleton, HoldersShareOneInstanceUntilTheLastRelease)
{
    IHelper* first = CHelpersFactory::GetHelper(KVXDIAG2_HELPER_NETCFG);
    IHelper* second = CHelpersFactory::GetHelper(KVXDIAG2_HELPER_NETCFG);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    std::string name;
    EXPECT_EQ(0u, first->GetName(name));
    EXPECT_EQ("NETCFG", name);
    EXPECT_EQ(2, CNetCfgHelper::Singleton::RefCount());
    second->Destroy();
    EXPECT_EQ(1, CNetCfgHelper::Singleton::RefCount());
    first->Destroy();
    EXPECT_EQ(nullptr, CNetCfgHelper::Singleton::Peek());
}

} // namespace
