// The registry places the reboot tasks share: the resume key (in the vendor's registry view, so that
// both builds resume the same analysis) and the Run key that starts the wizard again at logon.
#pragma once

#include "common/win/UniqueHandles.h"

#include <windows.h>

#include <string>

constexpr const char* KVXDIAG2_RUN_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* KVXDIAG2_AUTOSTART_VALUE = "KVXDIAG2_AUTOSTART";

namespace kvx {

// Opens the resume key with full access; bCreate makes it when it is missing. Answers the registry's code.
DWORD OpenResumeKey(bool bCreate, UniqueHkey& key);

// Opens the Run key with full access. The Run key is Windows' own, not the vendor's: each build uses its
// native view, the one the wizard of the same build writes its own autostart entry in.
DWORD OpenRunKey(UniqueHkey& key);

// Writes a REG_SZ value whose byte count is the text's length, without the terminating zero: the
// readers of these values (the resume check, the logon) add the terminator themselves.
DWORD SetStringValue(HKEY hKey, const char* pszName, const std::string& value);

// Logs a failed registry call at level 4 as "<what>. Error devuelto: <code>".
void LogRegistryFailure(const char* pszFunction, const std::string& what, DWORD dwError);

} // namespace kvx
