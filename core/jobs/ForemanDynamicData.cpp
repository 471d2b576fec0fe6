// Composite evidence operations: every product log and capture on or off at once, and the dynamic
// data (console programs and the configuration snapshot) of one moment of an analysis.
#include "core/jobs/Foreman.h"
#include "core/jobs/UndoRecords.h"

#include "common/log/GuardedOperation.h"
#include "core/jobs/ScopedTask.h"
#include "core/report/IReporter.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskIds.h"

#include <string>

namespace {

struct SModuleLog {
    DWORD dwModuleId;
    const char* fileName;
};

// The product's module logs, by helper module id, and the files they are written to.
constexpr SModuleLog KVXDIAG2_MODULE_LOGS[] = {
    {20, "KVXApiSrvLog.txt"},       {21, "KVXNDISUsrModules.etl"}, {22, "KVXTDIUsrModules.etl"},
    {23, "KVXNDISKrnModules.etl"}, {24, "KVXTDIKrnModules.etl"},
};

constexpr const char* KVXDIAG2_PCAP_BASE_NAME = "KVXPcapTmp";
constexpr const char* KVXDIAG2_ATDI_FILE = "KVXATDI.dat";

// The vendor's public web host. The product is fictional, so the name lies under a reserved domain
// that can never resolve to somebody else's machine.
constexpr const char* KVXDIAG2_VENDOR_HOST = "www.orvex.example";

struct SConsoleProgram {
    const char* program;
    const char* arguments;
    const char* title;
};

constexpr SConsoleProgram KVXDIAG2_DYNAMIC_PROGRAMS[] = {
    {"\\ipconfig.exe", "/all", "Getting current network configuration"},
    {"\\route.exe", "print", "Getting current route table"},
    {"\\netstat.exe", "-ano", "Getting current active connections and open ports"},
    {"\\nbtstat.exe", "-r -n", "Getting current NetBIOS cache"},
    {"\\arp.exe", "-a", "Getting current ARP Table"},
    {"\\nslookup.exe", KVXDIAG2_VENDOR_HOST, "Trying to resolve name using DNS"},
    {"\\ping.exe", KVXDIAG2_VENDOR_HOST, "Pinging Orvex Security"},
};

} // namespace

bool CForeman::IsPacketCaptureUnsupported() const
{
    // Packet captures are kept off on the system that reports itself as 6.2.
    return m_osVersion.dwMajorVersion == 6 && m_osVersion.dwMinorVersion == 2;
}

DWORD CForeman::EnableLogsAndCaptures(const std::string& directory, DWORD dwMaxSize, bool bFlag)
{
    KVX_FUNCTION("CForeman::EnableLogsAndCaptures");
    kvx::GuardedProcedure(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT, [&]() {
        // Journaled first: logs and captures left running would fill the customer's disk.
        const DWORD dwRecorded =
            kvx::CChangeJournal::Apply(kvx::LogsEntry(m_dwChangeOwner, directory), [&]() -> DWORD {
                for (const SModuleLog& log : KVXDIAG2_MODULE_LOGS) {
                    EnableModuleLog(log.dwModuleId, directory + log.fileName, dwMaxSize, bFlag);
                }
                if (IsPacketCaptureUnsupported()) {
                    KVX_LOG(eKVXDiagLog_INFO, "%s", "Sistema operativo Windows 8. Evitamos las capturas pcap...");
                } else {
                    EnableKVXIMDPCap(KVXDIAG2_PCAP_BASE_NAME, dwMaxSize, bFlag);
                }
                EnableKVXTMGRATDI(directory + KVXDIAG2_ATDI_FILE, dwMaxSize, bFlag);
                return KVXDIAG2_OK;
            });
        if (dwRecorded != KVXDIAG2_OK && m_pReporter != nullptr) {
            m_pReporter->Report("%s", "Could not record the log and capture switch; they are left off.");
        }
    });
    return KVXDIAG2_OK;
}

DWORD CForeman::DisableLogsAndCaptures(const std::string& directory, DWORD, bool bFlag)
{
    KVX_FUNCTION("CForeman::DisableLogsAndCaptures");
    kvx::GuardedProcedure(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT, [&]() {
        const auto disable = [&](const kvx::SJournalEntry&) -> DWORD {
            for (const SModuleLog& log : KVXDIAG2_MODULE_LOGS) {
                DisableModuleLog(log.dwModuleId);
            }
            if (!IsPacketCaptureUnsupported()) {
                std::string destination = directory;
                if (destination.empty() || destination.back() != '\\') {
                    destination += '\\';
                }
                DisableKVXIMDPCap(bFlag, KVXDIAG2_PCAP_BASE_NAME, destination);
            }
            DisableKVXTMGRATDI(bFlag);
            return KVXDIAG2_OK;
        };
        kvx::SJournalEntry entry;
        if (kvx::CChangeJournal::Find(kvx::eJournalKind_LOGS_AND_CAPTURES, kvx::KVXDIAG2_JOURNAL_LOGS_TARGET, entry)) {
            kvx::CChangeJournal::Undo(entry, disable);
        } else {
            disable(entry);
        }
    });
    return KVXDIAG2_OK;
}

DWORD CForeman::GatherDinamycData(const std::string& directory)
{
    KVX_FUNCTION("CForeman::GatherDinamycData");
    kvx::GuardedProcedure(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT, [&]() {
        char systemDirectory[MAX_PATH] = {};
        const UINT length = ::GetSystemDirectoryA(systemDirectory, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            // Without the system directory the programs cannot be found; the snapshot is still taken.
            systemDirectory[0] = '\0';
        }
        if (m_pReporter != nullptr) {
            m_pReporter->BeginSection("%s", "Gathering Dinamyc Data");
        }
        for (const SConsoleProgram& program : KVXDIAG2_DYNAMIC_PROGRAMS) {
            ExecuteProgram(std::string(systemDirectory) + program.program, program.arguments, program.title);
        }

        kvx::UniqueTask snapshot = kvx::MakeTask(KVXDIAG2_TASKID_SNAPSHOT);
        if (!snapshot) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "ERROR: No se ha podido crear tarea id: 0x%lX",
                    static_cast<unsigned long>(KVXDIAG2_TASKID_SNAPSHOT));
        } else {
            CTaskDataString file(directory + "KVXSnapshot.txt");
            if (snapshot->SetConfig(TaskDataList{&file}) == KVXDIAG2_OK) {
                if (m_pReporter != nullptr) {
                    m_pReporter->BeginSection("%s", "Getting current KVX configuration snapshot.");
                }
                if (snapshot->Execute(m_pReporter) == KVXDIAG2_OK) {
                    KVX_LOG(eKVXDiagLog_INFO, "%s", "El snapshot se obtuvo con éxito.");
                }
                if (m_pReporter != nullptr) {
                    m_pReporter->EndSection();
                }
            }
        }
        if (m_pReporter != nullptr) {
            m_pReporter->EndSection("%s", "Gathering Dinamyc Data process finisihed");
        }
    });
    return KVXDIAG2_OK;
}
