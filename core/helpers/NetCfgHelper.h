// The network configuration helper ("NETCFG"): the core's access to the Windows network configuration
// engine, to switch all bindings of a component, find the product's intermediate driver and list the
// components of a class with their bindings. One shared instance per process; it keeps no state
// between calls, each operation opens and closes the engine itself.
#pragma once

#include "common/log/KVXDiagObject.h"
#include "core/helpers/NetworkComponent.h"
#include "core/helpers/RefCountedSingleton.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// Device setup classes of the network components.
constexpr GUID KVXDIAG2_GUID_DEVCLASS_NET = {0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID KVXDIAG2_GUID_DEVCLASS_NETTRANS = {0x4d36e975, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID KVXDIAG2_GUID_DEVCLASS_NETCLIENT = {0x4d36e973, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID KVXDIAG2_GUID_DEVCLASS_NETSERVICE = {0x4d36e974, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// The engine's answer when another program holds its write lock (NETCFG_E_NO_WRITE_LOCK).
constexpr DWORD KVXNETCFG_E_NO_WRITE_LOCK = 0x8004A024;
// How long EnableComponent waits for the engine's write lock.
constexpr DWORD KVXNETCFG_WRITE_LOCK_TIMEOUT_MS = 5000;
// The most components, binding paths per component and interfaces per path that are listed.
constexpr ULONG KVXNETCFG_MAX_ITEMS = 1024;

class CNetCfgHelper : public kvx::CSharedHelper<CNetCfgHelper>, public CKVXDiagObject {
public:
    static constexpr const char* KVXHELPER_NAME = KVXDIAG2_HELPER_NETCFG;
    static constexpr const char* KVXHELPER_CLASS = "CNetCfgHelper";

    // Enables or disables every binding path above the component. Answers 0, 1168 when the component
    // is not installed (nothing changes), 0x8004A024 when another program holds the write lock, or the
    // failing HRESULT of the engine.
    DWORD EnableComponent(const std::string& strComponentId, bool bEnable);
    // The same, enabling only the paths whose tokens are listed (pOnly), or, with pStates, switching
    // nothing and reading each path's token and state instead.
    DWORD EnableComponent(const std::string& strComponentId, bool bEnable, const std::vector<std::wstring>* pOnly,
                          std::vector<std::pair<std::wstring, bool>>* pStates);
    DWORD GetBindingStates(const std::string& strComponentId, std::vector<std::pair<std::wstring, bool>>& states);

    // The service name of the product's intermediate driver: the first service whose name begins
    // with "KVXIMD" and that is not marked for deletion. Answers 0, 1168 when there is none, or the
    // registry's error.
    DWORD GetIMName(std::string& strName);

    // The components of one device setup class with their binding paths and interfaces. Always
    // answers 0: an engine that cannot be opened gives an empty list.
    DWORD GetComponents(const GUID& classGuid, std::vector<SNetworkComponent>& components);

private:
    friend class kvx::CSharedHelper<CNetCfgHelper>;
    friend class kvx::CRefCountedSingleton<CNetCfgHelper>;

    CNetCfgHelper() = default;
    ~CNetCfgHelper() override = default;

    static const DWORD s_dwFactoryRegistration;
};

namespace kvx {

// Wide text from the engine in the 8-bit form the log and the report carry.
std::string NarrowText(const std::wstring& text);

} // namespace kvx
