// The basic analysis's "Extended Data" section: the real Windows version, other filters and security
// products, network settings, event logs, crash dumps and today's setup logs, each item written into
// its own file with one report line of its outcome. No item can stop the analysis.
#pragma once

#include "common/log/KVXDiagObject.h"
#include "core/helpers/SysUtilsHelper.h"

#include <windows.h>

#include <functional>
#include <string>

class IReporter;

constexpr ULONGLONG KVXEXTENDED_MB = 1024ull * 1024ull;

// Limits and places; tests shorten the time limit and point the places at their own directories.
struct SExtendedEvidenceSettings {
    DWORD dwProgramTimeoutMs = KVXSYSUTILS_PROGRAM_TIMEOUT_MS;
    ULONGLONG cbTextLimit = 10 * KVXEXTENDED_MB;
    ULONGLONG cbSectionLimit = 100 * KVXEXTENDED_MB;
    ULONGLONG cbDumpLimit = 50 * KVXEXTENDED_MB;
    DWORD dwMinidumpCount = 5;
    std::string strProgramDirectory; // empty: the native system directory
    std::string strWindowsDirectory; // empty: the Windows directory
};

class CExtendedEvidence : public CKVXDiagObject {
public:
    CExtendedEvidence(IReporter* pReporter, std::string directory, std::function<bool()> isCancelled = {},
                      SExtendedEvidenceSettings settings = {});

    // The whole section, opened and closed here.
    void Gather();

    // The item groups, in the section's order.
    void GatherSystem();
    void GatherFiltersAndSecurity();
    void GatherNetwork();
    void GatherEventLogs();
    void GatherCrashDumps();
    void GatherSetupLogs();

    ULONGLONG BytesWritten() const { return m_cbWritten; }

    // "0x61000: on, up to date" from a Security Center product state.
    static std::string DescribeProductState(DWORD dwState, bool bWithSignatures);
    // The directory whose programs match the running system's bitness: Sysnative for a 32-bit
    // process under WoW64, otherwise the system directory.
    static std::string NativeSystemDirectory();

private:
    bool Proceed(const char* pszLabel);
    ULONGLONG Budget(ULONGLONG cbLimit) const;
    std::string ProgramPath(const char* pszProgram) const;
    std::string WindowsDirectory() const;
    std::string Target(const char* pszFile) const { return m_strDirectory + pszFile; }

    void RunToFile(const char* pszLabel, const char* pszProgram, const std::string& args, const char* pszFile);
    void RunWritingFile(const char* pszLabel, const char* pszProgram, const std::string& args, const char* pszFile,
                        bool bText);
    bool RunProgram(const char* pszLabel, const std::string& program, const std::string& args, size_t cbKeep,
                    std::string& output, DWORD& dwExitCode);
    void WriteText(const char* pszLabel, const char* pszFile, std::string text, ULONGLONG cbLimit, bool bKeepTail,
                   const std::string& suffix);
    void CopyTextFile(const char* pszLabel, const std::string& source, const char* pszFile);
    void ExportKeyText(const char* pszLabel, const wchar_t* pszSubKey, const char* pszFile);
    void ReportSecurityProducts(const char* pszLabel, const wchar_t* pszClass, const char* pszFile,
                                bool bWithSignatures);

    void ReportVersion();
    void ReportArchitecture();
    void ReportBootTime();

    IReporter* m_pReporter;
    std::string m_strDirectory; // with a trailing backslash
    std::function<bool()> m_isCancelled;
    SExtendedEvidenceSettings m_settings;
    ULONGLONG m_cbWritten = 0;
    unsigned m_uItems = 0;
};
