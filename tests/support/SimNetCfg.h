// Test fixtures for the network configuration engine double: its registration for CLSID_CNetCfg in
// the test prefix, the model it serves, and a second process that holds the engine's write lock.
#pragma once

#include <windows.h>

#include "common/win/UniqueHandles.h"

#include <optional>
#include <string>
#include <vector>

namespace kvxtest {

// Device setup classes of the four kinds of network component.
constexpr const wchar_t* SIMNETCFG_CLASS_NET = L"{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr const wchar_t* SIMNETCFG_CLASS_NETTRANS = L"{4D36E975-E325-11CE-BFC1-08002BE10318}";
constexpr const wchar_t* SIMNETCFG_CLASS_NETCLIENT = L"{4D36E973-E325-11CE-BFC1-08002BE10318}";
constexpr const wchar_t* SIMNETCFG_CLASS_NETSERVICE = L"{4D36E974-E325-11CE-BFC1-08002BE10318}";

// The control program of the double (beside the running program): it holds the write lock, registers
// the double and seeds or clears the model; see simulator/netcfg/SimNetCfgCtl.cpp.
std::string SimNetCfgCtlPath();

// Points CLSID_CNetCfg at the double (the DLL beside the running program unless a path is given), in
// the registry view of the running program, which is the view its COM looks in.
DWORD RegisterSimNetCfg(const std::string& dllPath = std::string());
// Gives the class back to the prefix's own engine.
DWORD UnregisterSimNetCfg();
// The directory of the running program, with a trailing backslash.
std::string ProgramDirectory();

// Registers the double for one scope and puts the previous server back afterwards.
class CSimNetCfgRegistration {
public:
    CSimNetCfgRegistration();
    ~CSimNetCfgRegistration();
    CSimNetCfgRegistration(const CSimNetCfgRegistration&) = delete;
    CSimNetCfgRegistration& operator=(const CSimNetCfgRegistration&) = delete;
    DWORD Result() const { return m_result; }

private:
    DWORD m_result = ERROR_SUCCESS;
    std::string m_previous;
};

struct SSimInterfaceDef {
    std::wstring name;
    std::wstring upper;
    std::wstring lower;
};

struct SSimPathDef {
    std::wstring token;
    bool enabled = true;
    std::vector<SSimInterfaceDef> interfaces;
    std::optional<DWORD> depth;
    std::optional<HRESULT> enableResult; // Enable answers this and changes nothing
    DWORD direction = 1;                 // EBP_ABOVE
};

struct SSimComponentDef {
    std::wstring classGuid;
    std::wstring instanceGuid;
    std::optional<std::wstring> id;
    std::optional<std::wstring> bindName;
    std::optional<std::wstring> displayName;
    std::optional<std::wstring> pnpDevNodeId;
    std::optional<std::wstring> helpText;
    DWORD characteristics = 0;
    DWORD deviceStatus = 0;
    std::vector<SSimPathDef> paths;
    std::optional<HRESULT> enumBindingPathsResult;
    std::optional<DWORD> pathEnumErrorAfter; // the path enumerator fails after this many paths
    HRESULT pathEnumError = E_FAIL;
};

// The model the double serves. The constructor starts from an empty model and the destructor removes
// it, so each test sees only the components it added.
class CSimNetCfgModel {
public:
    CSimNetCfgModel();
    ~CSimNetCfgModel();
    CSimNetCfgModel(const CSimNetCfgModel&) = delete;
    CSimNetCfgModel& operator=(const CSimNetCfgModel&) = delete;

    DWORD Result() const { return m_result; }
    // Components are enumerated in the order they were added.
    DWORD AddComponent(const SSimComponentDef& component);
    // "ApplyResult", "FindComponentResult" or "InitializeResult": the engine call answers this.
    DWORD SetFault(const wchar_t* name, HRESULT hr);

    // The stored (applied) enable state of a component's path, by position in the order added.
    std::optional<bool> IsPathEnabled(const std::wstring& componentId, size_t path) const;
    DWORD ApplyCount() const;
    std::wstring LockHolder() const;

    // The components of a small but complete machine: an adapter with the product's intermediate
    // driver between it and the protocols, TCP/IP, the Microsoft client and file server.
    DWORD AddTypicalMachine(bool bSecondIMPathEnabled = true);

    // Leaves the model in place when this object goes (for the installer of a simulated machine).
    void Keep() { m_keep = true; }

private:
    std::wstring ComponentKey(const std::wstring& componentId) const;

    DWORD m_result = ERROR_SUCCESS;
    bool m_keep = false;
    std::vector<std::wstring> m_ids;
};

// A second process that holds the engine's write lock under a given holder description.
class CSimNetCfgLockHolder {
public:
    explicit CSimNetCfgLockHolder(std::wstring holder);
    ~CSimNetCfgLockHolder();
    CSimNetCfgLockHolder(const CSimNetCfgLockHolder&) = delete;
    CSimNetCfgLockHolder& operator=(const CSimNetCfgLockHolder&) = delete;

    // Starts the holder and waits until it holds the lock. Answers 0, or why not.
    DWORD Start(DWORD timeoutMs = 30000);
    // Lets the holder release the lock and waits for it to end; answers its exit code.
    DWORD Stop(DWORD timeoutMs = 30000);

private:
    std::wstring m_holder;
    kvx::UniqueHandle m_ready;
    kvx::UniqueHandle m_stop;
    kvx::UniqueHandle m_process;
};

} // namespace kvxtest
