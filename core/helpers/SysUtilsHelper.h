// The system-utilities helper ("SYSUTILS"): the operating-system work of the tasks (privileges,
// restart, directories, console programs with captured output, registry hives, directory copies and,
// through the archive writer, ZIP packages). One shared instance per process.
#pragma once

#include "common/log/KVXDiagObject.h"
#include "core/helpers/RefCountedSingleton.h"

#include <windows.h>

#include <string>
#include <vector>

// A console program gets this long to finish before it is killed.
constexpr DWORD KVXSYSUTILS_PROGRAM_TIMEOUT_MS = 60000;

class CSysUtilsHelper : public kvx::CSharedHelper<CSysUtilsHelper>, public CKVXDiagObject {
public:
    static constexpr const char* KVXHELPER_NAME = KVXDIAG2_HELPER_SYSUTILS;
    static constexpr const char* KVXHELPER_CLASS = "CSysUtilsHelper";

    DWORD Reboot();
    DWORD IsPrivilegeEnabled(const std::string& strPrivilege, bool& bEnabled);
    DWORD SetPrivilegeState(const std::string& strPrivilege, bool bEnable);

    DWORD MakeDirectoryTree(const std::string& strPath);
    DWORD GetCurrentProcessFullPath(std::string& strPath);
    DWORD MakeTempDirectory(const std::string& strName, std::string& strPath);

    // Runs "program arguments" with its standard output captured. dwTimeoutMs exists for tests; callers
    // use the default. With cbMaxOutput, at most that many bytes plus one are kept (the rest is read
    // and dropped, so the program never blocks on a full pipe); one byte more than the limit tells the
    // caller that the output was longer.
    DWORD ExecuteProgramAndGetOutput(const std::string& strProgram, const std::string& strArguments,
                                     std::string& strOutput, DWORD& dwExitCode,
                                     DWORD dwTimeoutMs = KVXSYSUTILS_PROGRAM_TIMEOUT_MS,
                                     size_t cbMaxOutput = std::string::npos);

    DWORD SaveRegistryKey(HKEY hRoot, const std::string& strSubKey, const std::string& strFile);

    // Packs a folder into a ZIP archive through the archive writer. hArchive is the writer's handle.
    DWORD CompressFolder(const std::string& strFolder, const std::string& strPassword,
                         const std::string& strArchivePath);
    DWORD AddDirectoryToArchive(HANDLE hArchive, const std::string& strBaseFolder,
                                const std::string& strRelativePath);

    DWORD CloneDirectory(const std::string& strSource, const std::string& strDestination);
    bool AddFilesToVector(const std::string& strDirectory, std::vector<std::string>& files);

private:
    friend class kvx::CSharedHelper<CSysUtilsHelper>;
    friend class kvx::CRefCountedSingleton<CSysUtilsHelper>;
    struct SProgramRun;

    CSysUtilsHelper() = default;
    ~CSysUtilsHelper() override = default;

    // The reader thread of one program run; it owns a reference to the run's record.
    static DWORD WINAPI ThreadExecuteProgram(LPVOID pRecord);
    static DWORD CaptureProgramOutput(SProgramRun& run);

    static const DWORD s_dwFactoryRegistration;
};
