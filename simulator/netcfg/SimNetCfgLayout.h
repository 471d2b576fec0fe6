// Where the network-configuration engine double keeps its model, shared by the COM server, its
// control program and the test fixtures that seed the model.
//
// The model lives in the 64-bit registry view, which 32-bit and 64-bit processes can both reach
// explicitly, so one model serves clients of either bitness and a later process sees what an earlier
// one applied.
//
//   HKLM\SOFTWARE\KVXSim\NetCfg                       (KEY_WOW64_64KEY)
//     ApplyCount               DWORD  successful Apply calls that changed the stored model
//     ApplyResult              DWORD  optional HRESULT that Apply answers instead of committing
//     FindComponentResult      DWORD  optional HRESULT that FindComponent answers
//     InitializeResult         DWORD  optional HRESULT that Initialize answers
//     LockHolder               SZ     description of the current write-lock holder
//     Components\<order key>   one per component, enumerated in key-name order
//       ClassGuid, InstanceGuid             SZ  "{...}"
//       Id, BindName, DisplayName, PnpDevNodeId, HelpText   SZ  (absent: the getter fails)
//       Characteristics, DeviceStatus       DWORD
//       EnumBindingPathsResult              DWORD  optional HRESULT for EnumBindingPaths
//       PathEnumErrorAfter, PathEnumError   DWORD  optional: the path enumerator fails with
//                                                  PathEnumError after handing out that many paths
//       BindingPaths\<order key>
//         Token                 SZ
//         Enabled               DWORD 0/1
//         Direction             DWORD EBP_ABOVE (1, default) or EBP_BELOW (2)
//         Depth                 DWORD optional; default: number of interfaces
//         EnableResult          DWORD optional HRESULT that Enable answers without changing the path
//         Interfaces\<order key>
//           Name, Upper, Lower  SZ  (Upper and Lower are component ids)
#pragma once

#include <windows.h>

namespace kvxsim {

constexpr const char* SIMNETCFG_ROOT = "SOFTWARE\\KVXSim\\NetCfg";
constexpr const wchar_t* SIMNETCFG_ROOT_W = L"SOFTWARE\\KVXSim\\NetCfg";
constexpr REGSAM SIMNETCFG_VIEW = KEY_WOW64_64KEY;

// The write lock is a named mutex: a holder that dies abandons it, so a crashed test cannot leave
// the engine locked for every later test in the prefix.
constexpr const wchar_t* SIMNETCFG_LOCK_MUTEX = L"KVXSimNetCfgWriteLock";

// The class the double registers itself for, and the file name the build gives the server.
constexpr const char* SIMNETCFG_CLSID_TEXT = "{5B035261-40F9-11D1-AAEC-00805FC1270E}";
constexpr const char* SIMNETCFG_DLL_NAME = "kvxsimnetcfg.dll";
constexpr const char* SIMNETCFG_CTL_NAME = "kvxsimnetcfgctl.exe";
// What a Wine prefix registers for the class before the double replaces it.
constexpr const char* SIMNETCFG_WINE_DEFAULT_SERVER = "C:\\windows\\system32\\netcfgx.dll";

} // namespace kvxsim
