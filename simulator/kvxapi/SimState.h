// The double's persistent state and injected failures, kept in the registry so that they survive from
// one process to the next (the product's configuration lives in its service, not in its clients).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kvxsim {

DWORD GetDwordValue(const char* subKey, const std::string& name, DWORD defaultValue);
bool SetDwordValue(const char* subKey, const std::string& name, DWORD value);
std::string GetStringValue(const char* subKey, const std::string& name);
bool SetStringValue(const char* subKey, const std::string& name, const std::string& value);

// True when HKLM\SYSTEM\CurrentControlSet\Services\<name> exists.
bool IsServiceInstalled(const std::string& serviceName);

// The error code a test asked the named function to fail with, or 0.
DWORD InjectedFailure(const char* function);
// Counts one KVX_Init call down from "InitBusy"; true while the call must answer 13050.
bool ConsumeInitBusy();
// The export names a test asked to hide.
std::vector<std::string> HiddenExports();
// The version a test asked KVX_GetVersion to report instead of the built one, or 0.
DWORD InjectedVersion();

// Directories the product itself writes to.
std::string ProductDirectory();
std::string JournalPath();

// The system's Drivers directory as the product's kernel drivers see it: the native one, also when
// the 32-bit double runs under WOW64.
std::string NativeDriversDirectory();

// Switches WOW64 file-system redirection off for its lifetime (no-op on native processes).
class CNativeFileSystemScope {
public:
    CNativeFileSystemScope();
    ~CNativeFileSystemScope();
    CNativeFileSystemScope(const CNativeFileSystemScope&) = delete;
    CNativeFileSystemScope& operator=(const CNativeFileSystemScope&) = delete;

private:
    PVOID m_oldValue = nullptr;
    bool m_disabled = false;
};

void SetModuleHandle(HMODULE module);
HMODULE GetOwnModule();

} // namespace kvxsim
