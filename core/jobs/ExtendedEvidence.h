// The basic analysis's "Extended Data" section: the real Windows version, other filters and security
// products, the product's drivers, network settings, WFP drop attribution, event logs, crash dumps and
// today's setup logs, each item written into its own file with one report line of its outcome and its
// time. The items run side by side under one deadline; no item can stop the analysis.
#pragma once

#include "common/log/KVXDiagObject.h"
#include "core/helpers/SysUtilsHelper.h"
#include "core/jobs/ExtendedEvidenceQueue.h"

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class IReporter;
struct SExtendedProgramResult;

constexpr ULONGLONG KVXEXTENDED_MB = 1024ull * 1024ull;

// Limits and places; tests shorten the times and point the places at their own directories and keys.
struct SExtendedEvidenceSettings {
    DWORD dwProgramTimeoutMs = KVXSYSUTILS_PROGRAM_TIMEOUT_MS;
    DWORD dwSectionDeadlineMs = 180000;
    unsigned uConcurrency = 3;
    ULONGLONG cbTextLimit = 10 * KVXEXTENDED_MB;
    // The WFP state holds every filter; it compresses about tenfold, so it is kept whole this far.
    ULONGLONG cbWfpLimit = 64 * KVXEXTENDED_MB;
    ULONGLONG cbSectionLimit = 100 * KVXEXTENDED_MB;
    ULONGLONG cbDumpLimit = 50 * KVXEXTENDED_MB;
    DWORD dwMinidumpCount = 5;
    std::string strProgramDirectory; // empty: the native system directory
    std::string strWindowsDirectory; // empty: the Windows directory
    // The control set whose CrashControl and Services keys are read.
    HKEY hControlSetRoot = HKEY_LOCAL_MACHINE;
    std::wstring strControlSet = L"SYSTEM\\CurrentControlSet";
    std::string strSdkPath; // empty: kvxapi.dll in the product's MainPath
    // Hears each item's label as it starts, on the thread that runs the section (the job's).
    std::function<void(const std::string&)> onItemStart;
};

class CExtendedEvidence : public CKVXDiagObject {
public:
    CExtendedEvidence(IReporter* pReporter, std::string directory, std::function<bool()> isCancelled = {},
                      SExtendedEvidenceSettings settings = {});

    // The whole section, opened and closed here.
    void Gather();

    // The item groups, in the section's order; each runs its own items under the deadline.
    void GatherSystem() { RunItems(SystemItems()); }
    void GatherFiltersAndSecurity() { RunItems(FilterItems()); }
    void GatherNetwork() { RunItems(NetworkItems()); }
    void GatherEventLogs() { RunItems(EventLogItems()); }
    void GatherCrashDumps() { RunItems(CrashItems()); }
    void GatherSetupLogs() { RunItems(SetupLogItems()); }

    ULONGLONG BytesWritten() const { return m_cbWritten; }

    // "0x61000: on, up to date" from a Security Center product state.
    static std::string DescribeProductState(DWORD dwState, bool bWithSignatures);
    // " (Windows 11)", " (Windows Server 2025)" or empty, from the real version.
    static std::string WindowsName(DWORD dwMajor, DWORD dwBuild, bool bWorkstation);
    // The CurrentVersion fields that are present, "Windows 10 Pro, edition Professional, ...".
    static std::string DescribeCurrentVersion(const std::string& product, const std::string& edition,
                                              const std::string& display, const std::string& build,
                                              const std::string& ubr);
    // "ARM64" and "; this program runs as x86 under WoW64" from IsWow64Process2's machines (process
    // machine 0: not under WoW64).
    static std::string DescribeArchitecture(USHORT processMachine, USHORT nativeMachine, DWORD dwProcessors);
    // Whether a process of this machine under that native machine reaches the native programs only
    // through Sysnative.
    static bool NeedsSysnative(USHORT processMachine, USHORT nativeMachine);
    // The directory whose programs match the running system's bitness: Sysnative for a 32-bit
    // process under WoW64, otherwise the system directory.
    static std::string NativeSystemDirectory();
    // The bugcheck code and parameters from a kernel dump's header, empty when it is not one.
    static std::string DescribeDumpHeader(const std::string& header);
    // One structured event query (the Select elements each within the event log's limit of
    // expressions); exposed so that its shape can be checked.
    static std::string NetworkEventQuery();
    static std::string FailureEventQuery();
    static std::string WfpAuditEventQuery();

private:
    // Adds text to an item's line from the program's output.
    using FDescribe = std::function<std::string(const std::string&)>;

    void RunItems(std::vector<SExtendedItem> items);
    std::vector<SExtendedItem> SystemItems();
    std::vector<SExtendedItem> FilterItems();
    std::vector<SExtendedItem> NetworkItems();
    std::vector<SExtendedItem> EventLogItems();
    std::vector<SExtendedItem> CrashItems();
    std::vector<SExtendedItem> SetupLogItems();

    bool Proceed(IReporter& out, const char* pszLabel);
    ULONGLONG Claim(ULONGLONG cbWanted);
    void Release(ULONGLONG cbClaimed);
    ULONGLONG Left(ULONGLONG cbLimit);
    DWORD ProgramTimeLimit() const;
    std::string ProgramPath(const char* pszProgram) const;
    std::string WindowsDirectory() const;
    std::string Target(const char* pszFile) const { return m_strDirectory + pszFile; }
    std::wstring ControlSetKey(const wchar_t* pszSubKey) const;

    void RunToFile(IReporter& out, const char* pszLabel, const char* pszProgram, const std::string& args,
                   const char* pszFile, const FDescribe& describe = {});
    // False only when a binary file did not fit and bReportTooLarge is false (the caller tries a
    // smaller one); every other outcome has written the item's line.
    bool RunWritingFile(IReporter& out, const char* pszLabel, const char* pszProgram, const std::string& args,
                        const char* pszFile, ULONGLONG cbLimit, bool bText, bool bReportTooLarge = true,
                        const std::function<std::string()>& finish = {});
    bool RunProgram(IReporter& out, const char* pszLabel, const std::string& program, const std::string& args,
                    size_t cbKeep, SExtendedProgramResult& result);
    void ExportEventLog(IReporter& out, const char* pszLabel, const char* pszChannel, const char* pszFile);
    void QueryEvents(IReporter& out, const char* pszLabel, const std::string& query, const char* pszQueryFile,
                     const char* pszFile);
    bool WriteText(IReporter& out, const char* pszLabel, const char* pszFile, std::string text, ULONGLONG cbLimit,
                   bool bKeepTail, const std::string& suffix, const std::string& tail);
    void CopyTextFile(IReporter& out, const char* pszLabel, const std::string& source, const char* pszFile);
    void ExportKeyText(IReporter& out, const char* pszLabel, const wchar_t* pszSubKey, const char* pszFile);
    void ReportSecurityProducts(IReporter& out, const char* pszLabel, const wchar_t* pszClass, const char* pszFile,
                                bool bWithSignatures);
    void ReportAuditPolicy(IReporter& out);
    void ReportProductDrivers(IReporter& out);
    std::string MinidumpFolder() const;
    void ReportMinidumps(IReporter& out);
    void ReportDumpBugchecks(IReporter& out);
    void ReportKernelDump(IReporter& out);
    void ReportLiveKernelReports(IReporter& out);

    void ReportVersion(IReporter& out);
    void ReportArchitecture(IReporter& out);
    void ReportBootTime(IReporter& out);

    IReporter* m_pReporter;
    std::string m_strDirectory; // with a trailing backslash
    std::function<bool()> m_isCancelled;
    SExtendedEvidenceSettings m_settings;
    std::mutex m_budgetLock;
    ULONGLONG m_cbWritten = 0;  // written, and reserved by running items
    ULONGLONG m_started = 0;    // the deadline counts from here
    unsigned m_uItems = 0;
};
