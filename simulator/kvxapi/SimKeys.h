// Names shared by the SDK double and the fixtures that drive it: where the double keeps its state
// between processes, where tests inject failures, and the errors it answers with.
#pragma once

#include <windows.h>

namespace kvxsim {

// Under HKEY_LOCAL_MACHINE, always in the 32-bit view, so that the 32- and 64-bit doubles and the
// scripts (32-bit reg.exe) see one simulator whatever their bitness.
constexpr REGSAM KVXSIM_VIEW = KEY_WOW64_32KEY;
constexpr const char* KVXSIM_ROOT_KEY = "Software\\KVXSimulator";
constexpr const char* KVXSIM_INJECT_KEY = "Software\\KVXSimulator\\Inject";
constexpr const char* KVXSIM_FILTERS_KEY = "Software\\KVXSimulator\\Filters";
constexpr const char* KVXSIM_LOGS_KEY = "Software\\KVXSimulator\\Logs";
constexpr const char* KVXSIM_PCAP_KEY = "Software\\KVXSimulator\\PCap";
constexpr const char* KVXSIM_ATDI_KEY = "Software\\KVXSimulator\\ATDI";

// Root values.
constexpr const char* KVXSIM_VALUE_PRODUCT_DIR = "ProductDir"; // informational, written by the installers
constexpr const char* KVXSIM_VALUE_JOURNAL = "Journal";        // overrides the journal path

// A file that a test writes only into the native (64-bit) drivers directory. Each call notes
// KVXSIM_NOTE_REDIRECTION_OFF when its thread can see it, that is with file-system redirection off.
constexpr const char* KVXSIM_NATIVE_PROBE = "KVXSIM_native_probe.txt";
constexpr const char* KVXSIM_NOTE_REDIRECTION_OFF = "file-system redirection off";

// Injection values (read at every call, so a test can change them between calls):
//   "Fail:<function>"  DWORD  the function answers failure with this code through KVXGetLastError
//   "InitBusy"         DWORD  KVX_Init answers 13050 this many more times (counted down per call)
//   "Hide"             SZ     export names, separated by ';', removed from the export table at load
//   "Version"          DWORD  (major << 8) | minor that KVX_GetVersion reports instead of its own
constexpr const char* KVXSIM_INJECT_FAIL_PREFIX = "Fail:";
constexpr const char* KVXSIM_INJECT_INIT_BUSY = "InitBusy";
constexpr const char* KVXSIM_INJECT_HIDE = "Hide";
constexpr const char* KVXSIM_INJECT_VERSION = "Version";

// Filter state values under Filters\<service name>; both default to 1.
constexpr const char* KVXSIM_VALUE_ENABLED = "Enabled";
constexpr const char* KVXSIM_VALUE_LOADED = "Loaded";

// The journal's default name, next to the double in the product directory.
constexpr const char* KVXSIM_JOURNAL_FILE = "kvxsim-journal.log";

// Errors the double answers through KVXGetLastError. 13050 is the product's own "service not ready
// yet", which its clients retry; the others are the double's choice in the same range.
constexpr DWORD KVXSIM_ERR_SERVICE_BUSY = 13050; // 0x32FA
constexpr DWORD KVXSIM_ERR_NOT_INITIALIZED = 0x32F0;
constexpr DWORD KVXSIM_ERR_UNKNOWN_FILTER = 0x32F1;
constexpr DWORD KVXSIM_ERR_BAD_RECORD = 0x32F2;
constexpr DWORD KVXSIM_ERR_BAD_PARAMETER = 0x32F3;
constexpr DWORD KVXSIM_ERR_NOT_CONFIGURED = 0x32F4;
constexpr DWORD KVXSIM_ERR_UNKNOWN_MODULE = 0x32F5;
constexpr DWORD KVXSIM_ERR_NOT_INSTALLED = 0x32F6;
constexpr DWORD KVXSIM_ERR_NOT_SUPPORTED = 0x32F7;

} // namespace kvxsim
