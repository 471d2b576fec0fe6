// The module-log, capture and snapshot tasks against a simulated product, and the foreman's switches
// that wrap them.
#include "common/win/UniqueHandles.h"
#include "core/jobs/Foreman.h"
#include "core/tasks/ITask.h"
#include "core/tasks/TaskDataBool.h"
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskIds.h"
#include "core/tasks/TasksFactory.h"
#include "simulator/kvxapi/SimKeys.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/SimProduct.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

using kvxtest::CRecordingReporter;
using kvxtest::CScopedTempDir;
using kvxtest::CSimProduct;
using kvxtest::ESimSdk;
using kvxtest::SSimProductOptions;

namespace {

using UniqueTask = std::unique_ptr<ITask>;

SSimProductOptions Sdk(ESimSdk sdk)
{
    SSimProductOptions options;
    options.sdk = sdk;
    return options;
}

// Owns the values of one parameter list.
class CParams {
public:
    CParams& Long(DWORD value) { return Add(std::make_unique<CTaskDataLong>(value)); }
    CParams& Text(const std::string& value) { return Add(std::make_unique<CTaskDataString>(value)); }
    CParams& Bool(bool value) { return Add(std::make_unique<CTaskDataBool>(value)); }
    const TaskDataList& List() const { return m_list; }

private:
    CParams& Add(std::unique_ptr<ITaskData> value)
    {
        m_list.push_back(value.get());
        m_owned.push_back(std::move(value));
        return *this;
    }
    std::vector<std::unique_ptr<ITaskData>> m_owned;
    TaskDataList m_list;
};

// Configures and runs one task; the reporter keeps what it wrote.
DWORD RunTask(DWORD id, const CParams& params, CRecordingReporter& reporter)
{
    UniqueTask task(CTasksFactory::GetTask(id));
    EXPECT_TRUE(task) << id;
    if (!task) {
        return 0xDEADBEEF;
    }
    const DWORD config = task->SetConfig(params.List());
    EXPECT_EQ(0u, config) << "SetConfig of task " << id;
    const DWORD result = task->Execute(&reporter);
    ITaskData* pResult = reinterpret_cast<ITaskData*>(1);
    EXPECT_EQ(232u, task->GetResults(&pResult));
    EXPECT_EQ(nullptr, pResult);
    return result;
}

std::vector<std::string> Files(const std::string& directory)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    kvx::UniqueFindHandle find(::FindFirstFileA((directory + "\\*").c_str(), &data));
    if (!find) {
        return names;
    }
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            names.push_back(data.cFileName);
        }
    } while (::FindNextFileA(find.get(), &data));
    return names;
}

struct SSwitchCase {
    const char* name;
    DWORD id;
    std::function<void(CParams&, const std::string& dir)> params;
    const char* function; // the SDK call that carries the task's request
    std::string success;  // report line on success, with dir as "<dir>"
    std::string failurePrefix;
};

std::string Expand(std::string text, const std::string& dir)
{
    const size_t at = text.find("<dir>");
    if (at != std::string::npos) {
        text.replace(at, 5, dir);
    }
    return text;
}

const std::vector<SSwitchCase>& SwitchCases()
{
    static const std::vector<SSwitchCase> cases = {
        {"enable module log", KVXDIAG2_TASKID_ENABLE_MODULE_LOG,
         [](CParams& p, const std::string& d) { p.Long(21).Text(d + "KVXNDISUsrModules.etl").Long(8192).Bool(true); },
         "KVXLogSetStatus",
         "REPORT Log enabled for 0x15 module. File Base Name: <dir>KVXNDISUsrModules.etl. Persistent configuration: True",
         "REPORT Failed to enable log for 0x15 module. Error: 0x"},
        {"disable module log", KVXDIAG2_TASKID_DISABLE_MODULE_LOG, [](CParams& p, const std::string&) { p.Long(21); },
         "KVXLogSetStatus", "REPORT Log disabled for 0x15 module.",
         "REPORT Failed to disable log for 0x15 module. Error: 0x"},
        {"enable packet capture", KVXDIAG2_TASKID_ENABLE_KVXIM_PCAP,
         [](CParams& p, const std::string&) { p.Text("KVXPcapTmp").Long(8192).Bool(false); }, "KVXPCapSetStatus",
         "REPORT NDIS Manager's PCap captures enabled. File Base Name: KVXPcapTmp. Enable on restart: False",
         "REPORT Failed to enable  NDIS Manager's PCap captures. Error: 0x"},
        {"enable TDI capture", KVXDIAG2_TASKID_ENABLE_KVXTMGR_ATDI,
         [](CParams& p, const std::string& d) { p.Text(d + "KVXATDI.dat").Long(8192).Bool(true); },
         "KVXATDICapSetStatus",
         "REPORT ATDI captures enabled on filter TDI Manager. File Base Name: <dir>KVXATDI.dat. Enable on restart: True",
         "REPORT Failed to enable captures on filter TDI Manager. Error: 0x"},
        {"disable TDI capture", KVXDIAG2_TASKID_DISABLE_KVXTMGR_ATDI, [](CParams& p, const std::string&) { p.Bool(false); },
         "KVXATDICapSetStatus", "REPORT Captures disabled on filter TDI Manager. Enable on restart: False",
         "REPORT Failed to disable captures on filter TDI Manager. Error: 0x"},
        {"snapshot", KVXDIAG2_TASKID_SNAPSHOT, [](CParams& p, const std::string& d) { p.Text(d + "KVXSnapshot.txt"); },
         "KVX_TakeSConfigSnapShot", "REPORT Snapshot generated at <dir>KVXSnapshot.txt",
         "REPORT Failed to generate snapshot at <dir>KVXSnapshot.txt."},
    };
    return cases;
}

TEST(CaptureTasks, EachSwitchReachesTheProductAndReportsSuccess)
{
    for (ESimSdk sdk : {ESimSdk::V3_2, ESimSdk::V4_0}) {
        CSimProduct product(Sdk(sdk));
        ASSERT_EQ("", product.Error());
        for (const SSwitchCase& c : SwitchCases()) {
            SCOPED_TRACE(c.name);
            product.ClearJournal();
            CParams params;
            c.params(params, product.ProductDir());
            CRecordingReporter reporter;
            EXPECT_EQ(0u, RunTask(c.id, params, reporter));
            ASSERT_EQ(1u, reporter.Calls().size());
            EXPECT_EQ(Expand(c.success, product.ProductDir()), reporter.Calls()[0]);
            const auto calls = product.Calls(c.function);
            ASSERT_EQ(1u, calls.size());
            EXPECT_EQ(1u, calls[0].result);
        }
    }
}

// Without an adapter every task answers 4301 and still reports its failure line.
TEST(CaptureTasks, WithoutAnAdapterEveryTaskReports4301)
{
    struct SSetup {
        const char* name;
        std::function<std::unique_ptr<CSimProduct>()> make;
    };
    const SSetup setups[] = {
        {"no product",
         [] {
             CSimProduct::RemoveAll();
             return std::unique_ptr<CSimProduct>();
         }},
        {"SDK 4.1", [] { return std::make_unique<CSimProduct>(Sdk(ESimSdk::V4_1)); }},
    };
    CScopedTempDir dir("kvxcap");
    const std::string base = dir.Path() + "\\";
    for (const SSetup& setup : setups) {
        SCOPED_TRACE(setup.name);
        std::unique_ptr<CSimProduct> product = setup.make();
        for (const SSwitchCase& c : SwitchCases()) {
            SCOPED_TRACE(c.name);
            CParams params;
            c.params(params, base);
            CRecordingReporter reporter;
            EXPECT_EQ(4301u, RunTask(c.id, params, reporter));
            ASSERT_EQ(1u, reporter.Calls().size());
            EXPECT_EQ(0u, reporter.Calls()[0].find(Expand(c.failurePrefix, base))) << reporter.Calls()[0];
        }
        CParams params;
        params.Bool(false).Text("KVXPcapTmp").Text(base);
        CRecordingReporter reporter;
        EXPECT_EQ(4301u, RunTask(KVXDIAG2_TASKID_DISABLE_KVXIM_PCAP, params, reporter));
        ASSERT_EQ(1u, reporter.Calls().size());
        EXPECT_EQ("REPORT Failed to disable NDIS Manager's PCap captures. Error: 0x10CD", reporter.Calls()[0]);
    }
}

TEST(CaptureTasks, AnSdkFailureIsPassedOnAndReported)
{
    CSimProduct product(Sdk(ESimSdk::V3_3));
    ASSERT_EQ("", product.Error());
    for (const SSwitchCase& c : SwitchCases()) {
        SCOPED_TRACE(c.name);
        product.FailFunction(c.function, 0x32F2);
        CParams params;
        c.params(params, product.ProductDir());
        CRecordingReporter reporter;
        // The switches answer 1627 for any SDK failure; the snapshot passes the SDK's own code on.
        const DWORD expected = c.id == KVXDIAG2_TASKID_SNAPSHOT ? 0x32F2u : 1627u;
        EXPECT_EQ(expected, RunTask(c.id, params, reporter));
        ASSERT_EQ(1u, reporter.Calls().size());
        EXPECT_EQ(0u, reporter.Calls()[0].find(Expand(c.failurePrefix, product.ProductDir()))) << reporter.Calls()[0];
    }
}

TEST(CaptureTasks, EnableModuleLogWithOnlyTheIdSendsDefaults)
{
    CSimProduct product(Sdk(ESimSdk::V4_0));
    ASSERT_EQ("", product.Error());
    CParams params;
    params.Long(24);
    CRecordingReporter reporter;
    RunTask(KVXDIAG2_TASKID_ENABLE_MODULE_LOG, params, reporter);
    const auto configs = product.Calls("KVXLogSetConfig");
    ASSERT_EQ(1u, configs.size());
    EXPECT_EQ(0x0203FFFFu, configs[0].U32(4));
    EXPECT_EQ(0u, configs[0].U32(24)) << "maximum size";
    EXPECT_EQ(0u, configs[0].U32(28)) << "persistent";
    EXPECT_EQ("", configs[0].Text(32, 520));
}

class CPacketCaptureCollection : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ("", m_product.Error());
        m_destination = m_results.Path() + "\\";
    }

    // Starts a capture through the product (the double writes one capture file) and adds one more
    // capture file and one file of another kind, as a driver directory would hold them.
    void StartCapture()
    {
        CParams params;
        params.Text("KVXPcapTmp").Long(8192).Bool(false);
        CRecordingReporter reporter;
        ASSERT_EQ(0u, RunTask(KVXDIAG2_TASKID_ENABLE_KVXIM_PCAP, params, reporter));
        const std::string drivers = CSimProduct::NativeDriversDir();
        ASSERT_TRUE(CSimProduct::WriteNativeFile(drivers + "KVXIMD_0777.KVXPcapTmp", "older capture"));
        ASSERT_TRUE(CSimProduct::WriteNativeFile(drivers + "KVXIMD_0777.KVXPcapOld", "not a capture of this run"));
        ASSERT_EQ(2u, CSimProduct::NativeCaptureFiles("KVXPcapTmp").size());
    }

    DWORD Collect(bool onRestart, const std::string& baseName, const std::string& destination,
                  CRecordingReporter& reporter)
    {
        CParams params;
        params.Bool(onRestart).Text(baseName).Text(destination);
        return RunTask(KVXDIAG2_TASKID_DISABLE_KVXIM_PCAP, params, reporter);
    }

    CSimProduct m_product{Sdk(ESimSdk::V4_0)};
    CScopedTempDir m_results{"kvxcap-results"};
    std::string m_destination;
};

TEST_F(CPacketCaptureCollection, MovesEveryCaptureFileIntoTheDestination)
{
    StartCapture();
    m_product.ClearJournal();
    CRecordingReporter reporter;
    EXPECT_EQ(0u, Collect(false, "KVXPcapTmp", m_destination, reporter));

    const auto status = m_product.Calls("KVXPCapSetStatus");
    ASSERT_EQ(1u, status.size());
    EXPECT_EQ(2u, status[0].U32(4)) << "switched off now";
    std::vector<std::string> moved = Files(m_results.Path());
    std::sort(moved.begin(), moved.end());
    ASSERT_EQ(2u, moved.size());
    EXPECT_EQ("KVXIMD_0001.KVXPcapTmp", moved[0]);
    EXPECT_EQ("KVXIMD_0777.KVXPcapTmp", moved[1]);
    EXPECT_TRUE(CSimProduct::NativeCaptureFiles("KVXPcapTmp").empty()) << "originals deleted";
    EXPECT_EQ(1u, CSimProduct::NativeCaptureFiles("KVXPcapOld").size()) << "other files stay";
    // The capture the product wrote is a complete pcap file.
    EXPECT_EQ(0u, kvxtest::ReadFileText(m_destination + moved[0]).find("\xD4\xC3\xB2\xA1"));

    ASSERT_EQ(2u, reporter.Calls().size());
    EXPECT_EQ(0u, reporter.Calls()[0].find("REPORT File copied from ")) << "the copy task's own line first";
    EXPECT_EQ("REPORT NDIS Manager's PCap captures disabled. Result file copied to: " + m_destination,
              reporter.Calls()[1]);
}

TEST_F(CPacketCaptureCollection, WithoutCaptureFilesAnswersTheCopyTasksCode)
{
    CRecordingReporter reporter;
    EXPECT_EQ(2u, Collect(true, "KVXPcapTmp", m_destination, reporter));
    ASSERT_EQ(2u, reporter.Calls().size());
    EXPECT_EQ(0u, reporter.Calls()[0].find("REPORT Failed to copy file from "));
    EXPECT_EQ("REPORT Failed to disable NDIS Manager's PCap captures. Error: 0x2", reporter.Calls()[1]);
    const auto status = m_product.Calls("KVXPCapSetStatus");
    ASSERT_EQ(1u, status.size());
    EXPECT_EQ(4u, status[0].U32(4)) << "switched off from the next restart";
}

// A base name or destination that would widen the move is refused after the capture is off.
TEST_F(CPacketCaptureCollection, RefusesParametersThatWouldMoveOtherFiles)
{
    StartCapture();
    struct SCase {
        const char* name;
        std::string baseName;
        std::string destination;
    };
    const SCase cases[] = {
        {"both empty", "", ""},
        {"no base name", "", m_destination},
        {"no destination", "KVXPcapTmp", ""},
        {"wildcard", "*", m_destination},
        {"path", "..\\KVXPcapTmp", m_destination},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_product.ClearJournal();
        CRecordingReporter reporter;
        EXPECT_EQ(87u, Collect(false, c.baseName, c.destination, reporter));
        EXPECT_EQ(1u, m_product.Calls("KVXPCapSetStatus").size()) << "capture switched off all the same";
        ASSERT_EQ(1u, reporter.Calls().size());
        EXPECT_EQ("REPORT Failed to disable NDIS Manager's PCap captures. Error: 0x57", reporter.Calls()[0]);
        EXPECT_EQ(2u, CSimProduct::NativeCaptureFiles("KVXPcapTmp").size());
        EXPECT_TRUE(Files(m_results.Path()).empty());
    }
}

// The captures are collected even when the product refuses to stop; the failure is still reported.
TEST_F(CPacketCaptureCollection, AFailedSwitchOffStillCollectsTheFiles)
{
    StartCapture();
    m_product.FailFunction("KVXPCapSetStatus", 0x32F2);
    CRecordingReporter reporter;
    EXPECT_EQ(1627u, Collect(false, "KVXPcapTmp", m_destination, reporter));
    EXPECT_EQ(2u, Files(m_results.Path()).size());
    ASSERT_EQ(2u, reporter.Calls().size());
    EXPECT_EQ("REPORT Failed to disable NDIS Manager's PCap captures. Error: 0x65B", reporter.Calls()[1]);
}

// Redirection is off around the copy alone: the adapter is loaded and the capture stopped with the
// 32-bit system directory (a library loaded with it off comes from the 64-bit one), and the job thread
// goes on with it afterwards. The double notes every call its thread makes with redirection off.
TEST_F(CPacketCaptureCollection, FileSystemRedirectionIsOffOnlyAroundTheCopy)
{
    BOOL wow64 = FALSE;
    if (!::IsWow64Process(::GetCurrentProcess(), &wow64) || !wow64) {
        GTEST_SKIP() << "only a 32-bit process under WOW64 has redirection";
    }
    StartCapture();
    const std::string probe = CSimProduct::NativeDriversDir() + kvxsim::KVXSIM_NATIVE_PROBE;
    ASSERT_TRUE(CSimProduct::WriteNativeFile(probe, "native only"));
    ASSERT_FALSE(kvxtest::FileExists(probe)) << "redirected view before the task";
    m_product.ClearJournal();
    CRecordingReporter reporter;
    EXPECT_EQ(0u, Collect(false, "KVXPcapTmp", m_destination, reporter));
    EXPECT_EQ(2u, Files(m_results.Path()).size()) << "copied from the native directory";
    EXPECT_EQ(1u, m_product.Calls("KVXPCapSetStatus").size());
    const auto journal = m_product.Journal();
    EXPECT_FALSE(journal.empty());
    for (const auto& call : journal) {
        SCOPED_TRACE(call.function);
        EXPECT_EQ(std::count(call.notes.begin(), call.notes.end(), kvxsim::KVXSIM_NOTE_REDIRECTION_OFF), 0);
    }
    EXPECT_FALSE(kvxtest::FileExists(probe)) << "redirected view after the task";
    CSimProduct::DeleteNativeFile(probe);
}

TEST(ForemanCaptures, EnablingSwitchesRefuseAnEmptyNameBeforeConfiguring)
{
    CSimProduct product(Sdk(ESimSdk::V4_0));
    ASSERT_EQ("", product.Error());
    CForeman foreman;
    EXPECT_EQ(87u, foreman.EnableModuleLog(20, "", 8192, false));
    EXPECT_EQ(87u, foreman.EnableKVXIMDPCap("", 8192, false));
    EXPECT_EQ(87u, foreman.EnableKVXTMGRATDI("", 8192, false));
    EXPECT_TRUE(product.Journal().empty());
}

TEST(ForemanCaptures, SwitchesReachTheProductWithTheirParameters)
{
    CSimProduct product(Sdk(ESimSdk::V3_3));
    ASSERT_EQ("", product.Error());
    CScopedTempDir results("kvxcap-foreman");
    const std::string dir = results.Path() + "\\";
    CForeman foreman;

    EXPECT_EQ(0u, foreman.EnableModuleLog(22, dir + "KVXTDIUsrModules.etl", 8192, false));
    EXPECT_EQ(0u, foreman.EnableKVXIMDPCap("KVXPcapTmp", 8192, false));
    EXPECT_EQ(0u, foreman.EnableKVXTMGRATDI(dir + "KVXATDI.dat", 8192, false));
    EXPECT_TRUE(kvxtest::FileExists(dir + "KVXTDIUsrModules.etl"));
    EXPECT_TRUE(kvxtest::FileExists(dir + "KVXATDI.dat"));
    const auto pcap = product.Calls("KVXPCapSetConfig");
    ASSERT_EQ(1u, pcap.size());
    EXPECT_EQ(8192u, pcap[0].U32(992));

    EXPECT_EQ(0u, foreman.DisableModuleLog(22));
    EXPECT_EQ(0u, foreman.DisableKVXIMDPCap(false, "KVXPcapTmp", dir));
    EXPECT_EQ(0u, foreman.DisableKVXTMGRATDI(false));
    EXPECT_EQ(3u, Files(results.Path()).size()) << "the capture moved next to the log and TDI files";
    EXPECT_TRUE(CSimProduct::NativeCaptureFiles("KVXPcapTmp").empty());
}

} // namespace
