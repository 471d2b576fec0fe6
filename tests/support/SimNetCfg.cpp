// Fixtures for the network configuration engine double. They write the same registry layout that the
// double reads (simulator/netcfg/SimNetCfgLayout.h); the double's control program reuses them.
#include "tests/support/SimNetCfg.h"

#include "simulator/netcfg/SimNetCfgLayout.h"

#include <cstdio>
#include <cwchar>

namespace kvxtest {
namespace {

const std::string CLSID_KEY = std::string("Software\\Classes\\CLSID\\") + kvxsim::SIMNETCFG_CLSID_TEXT;
const std::string SERVER_KEY = CLSID_KEY + "\\InprocServer32";

std::wstring Widen(const std::string& text)
{
    if (text.empty()) {
        return std::wstring();
    }
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LONG SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG SetOptional(HKEY key, const wchar_t* name, const std::optional<std::wstring>& value)
{
    return value ? SetString(key, name, *value) : ERROR_SUCCESS;
}

LONG CreateModelKey(const std::wstring& path, kvx::UniqueHkey& key)
{
    const std::wstring full = std::wstring(kvxsim::SIMNETCFG_ROOT_W) + (path.empty() ? L"" : L"\\" + path);
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, full.c_str(), 0, nullptr, 0,
                             KEY_READ | KEY_WRITE | kvxsim::SIMNETCFG_VIEW, nullptr, key.put(), nullptr);
}

LONG OpenModelKey(const std::wstring& path, kvx::UniqueHkey& key)
{
    const std::wstring full = std::wstring(kvxsim::SIMNETCFG_ROOT_W) + (path.empty() ? L"" : L"\\" + path);
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, full.c_str(), 0, KEY_READ | kvxsim::SIMNETCFG_VIEW, key.put());
}

std::optional<DWORD> QueryDword(HKEY key, const wchar_t* name)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD) {
        return std::nullopt;
    }
    return value;
}

// Order keys keep the insertion order, which is the order the double enumerates.
std::wstring OrderKey(size_t index)
{
    wchar_t text[16];
    swprintf(text, 16, L"%04u", static_cast<unsigned>(index));
    return text;
}

LONG DeleteModel()
{
    kvx::UniqueHkey root;
    LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kvxsim::SIMNETCFG_ROOT_W, 0,
                              KEY_ALL_ACCESS | kvxsim::SIMNETCFG_VIEW, root.put());
    if (rc == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    rc = ::RegDeleteTreeW(root.get(), nullptr);
    root.reset();
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    return ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kvxsim::SIMNETCFG_ROOT_W, kvxsim::SIMNETCFG_VIEW, 0);
}

std::string ReadServer()
{
    kvx::UniqueHkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, SERVER_KEY.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return std::string();
    }
    char path[MAX_PATH * 2] = {};
    DWORD type = 0;
    DWORD size = sizeof(path) - 1;
    if (::RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::string();
    }
    return path;
}

DWORD WriteServer(const std::string& path)
{
    kvx::UniqueHkey key;
    LONG rc = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, SERVER_KEY.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                                nullptr);
    if (rc != ERROR_SUCCESS) {
        return static_cast<DWORD>(rc);
    }
    rc = ::RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                          static_cast<DWORD>(path.size() + 1));
    if (rc != ERROR_SUCCESS) {
        return static_cast<DWORD>(rc);
    }
    static const char model[] = "Both";
    return static_cast<DWORD>(
        ::RegSetValueExA(key.get(), "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model), sizeof(model)));
}

SSimPathDef MakePath(std::wstring token, std::vector<SSimInterfaceDef> interfaces)
{
    SSimPathDef path;
    path.token = std::move(token);
    path.interfaces = std::move(interfaces);
    return path;
}

bool IsSimServer(const std::string& path)
{
    const std::string name = kvxsim::SIMNETCFG_DLL_NAME;
    return path.size() >= name.size() && _stricmp(path.c_str() + path.size() - name.size(), name.c_str()) == 0;
}

} // namespace

std::string ProgramDirectory()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::string();
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string SimNetCfgCtlPath() { return ProgramDirectory() + kvxsim::SIMNETCFG_CTL_NAME; }

DWORD RegisterSimNetCfg(const std::string& dllPath)
{
    const std::string path = dllPath.empty() ? ProgramDirectory() + kvxsim::SIMNETCFG_DLL_NAME : dllPath;
    if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return ::GetLastError();
    }
    return WriteServer(path);
}

DWORD UnregisterSimNetCfg() { return WriteServer(kvxsim::SIMNETCFG_WINE_DEFAULT_SERVER); }

CSimNetCfgRegistration::CSimNetCfgRegistration()
{
    m_previous = ReadServer();
    // A run that died with the double registered must not make the double the server to restore.
    if (m_previous.empty() || IsSimServer(m_previous)) {
        m_previous = kvxsim::SIMNETCFG_WINE_DEFAULT_SERVER;
    }
    m_result = RegisterSimNetCfg();
}

CSimNetCfgRegistration::~CSimNetCfgRegistration() { WriteServer(m_previous); }

CSimNetCfgModel::CSimNetCfgModel()
{
    m_result = static_cast<DWORD>(DeleteModel());
    if (m_result == ERROR_SUCCESS) {
        kvx::UniqueHkey root;
        m_result = static_cast<DWORD>(CreateModelKey(L"Components", root));
    }
}

CSimNetCfgModel::~CSimNetCfgModel()
{
    if (!m_keep) {
        DeleteModel();
    }
}

DWORD CSimNetCfgModel::AddComponent(const SSimComponentDef& component)
{
    const std::wstring componentPath = L"Components\\" + OrderKey(m_ids.size());
    kvx::UniqueHkey key;
    LONG rc = CreateModelKey(componentPath, key);
    if (rc != ERROR_SUCCESS) {
        return static_cast<DWORD>(rc);
    }
    m_ids.push_back(component.id.value_or(L""));
    const HKEY k = key.get();
    LONG rcs[] = {
        SetString(k, L"ClassGuid", component.classGuid),
        SetString(k, L"InstanceGuid", component.instanceGuid),
        SetOptional(k, L"Id", component.id),
        SetOptional(k, L"BindName", component.bindName),
        SetOptional(k, L"DisplayName", component.displayName),
        SetOptional(k, L"PnpDevNodeId", component.pnpDevNodeId),
        SetOptional(k, L"HelpText", component.helpText),
        SetDword(k, L"Characteristics", component.characteristics),
        SetDword(k, L"DeviceStatus", component.deviceStatus),
        component.enumBindingPathsResult
            ? SetDword(k, L"EnumBindingPathsResult", static_cast<DWORD>(*component.enumBindingPathsResult))
            : ERROR_SUCCESS,
        component.pathEnumErrorAfter ? SetDword(k, L"PathEnumErrorAfter", *component.pathEnumErrorAfter)
                                     : ERROR_SUCCESS,
        SetDword(k, L"PathEnumError", static_cast<DWORD>(component.pathEnumError)),
    };
    for (LONG value : rcs) {
        if (value != ERROR_SUCCESS) {
            return static_cast<DWORD>(value);
        }
    }
    for (size_t p = 0; p < component.paths.size(); ++p) {
        const SSimPathDef& path = component.paths[p];
        const std::wstring pathKey = componentPath + L"\\BindingPaths\\" + OrderKey(p);
        kvx::UniqueHkey pk;
        rc = CreateModelKey(pathKey, pk);
        if (rc == ERROR_SUCCESS) {
            rc = SetString(pk.get(), L"Token", path.token);
        }
        if (rc == ERROR_SUCCESS) {
            rc = SetDword(pk.get(), L"Enabled", path.enabled ? 1 : 0);
        }
        if (rc == ERROR_SUCCESS) {
            rc = SetDword(pk.get(), L"Direction", path.direction);
        }
        if (rc == ERROR_SUCCESS && path.depth) {
            rc = SetDword(pk.get(), L"Depth", *path.depth);
        }
        if (rc == ERROR_SUCCESS && path.enableResult) {
            rc = SetDword(pk.get(), L"EnableResult", static_cast<DWORD>(*path.enableResult));
        }
        for (size_t i = 0; rc == ERROR_SUCCESS && i < path.interfaces.size(); ++i) {
            kvx::UniqueHkey ik;
            rc = CreateModelKey(pathKey + L"\\Interfaces\\" + OrderKey(i), ik);
            if (rc == ERROR_SUCCESS) {
                rc = SetString(ik.get(), L"Name", path.interfaces[i].name);
            }
            if (rc == ERROR_SUCCESS) {
                rc = SetString(ik.get(), L"Upper", path.interfaces[i].upper);
            }
            if (rc == ERROR_SUCCESS) {
                rc = SetString(ik.get(), L"Lower", path.interfaces[i].lower);
            }
        }
        if (rc != ERROR_SUCCESS) {
            return static_cast<DWORD>(rc);
        }
    }
    return ERROR_SUCCESS;
}

DWORD CSimNetCfgModel::SetFault(const wchar_t* name, HRESULT hr)
{
    kvx::UniqueHkey root;
    LONG rc = CreateModelKey(L"", root);
    if (rc == ERROR_SUCCESS) {
        rc = SetDword(root.get(), name, static_cast<DWORD>(hr));
    }
    return static_cast<DWORD>(rc);
}

std::wstring CSimNetCfgModel::ComponentKey(const std::wstring& componentId) const
{
    for (size_t i = 0; i < m_ids.size(); ++i) {
        if (_wcsicmp(m_ids[i].c_str(), componentId.c_str()) == 0) {
            return L"Components\\" + OrderKey(i);
        }
    }
    return std::wstring();
}

std::optional<bool> CSimNetCfgModel::IsPathEnabled(const std::wstring& componentId, size_t path) const
{
    const std::wstring component = ComponentKey(componentId);
    if (component.empty()) {
        return std::nullopt;
    }
    kvx::UniqueHkey key;
    if (OpenModelKey(component + L"\\BindingPaths\\" + OrderKey(path), key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::optional<DWORD> enabled = QueryDword(key.get(), L"Enabled");
    if (!enabled) {
        return std::nullopt;
    }
    return *enabled != 0;
}

DWORD CSimNetCfgModel::ApplyCount() const
{
    kvx::UniqueHkey root;
    if (OpenModelKey(L"", root) != ERROR_SUCCESS) {
        return 0;
    }
    return QueryDword(root.get(), L"ApplyCount").value_or(0);
}

std::wstring CSimNetCfgModel::LockHolder() const
{
    kvx::UniqueHkey root;
    if (OpenModelKey(L"", root) != ERROR_SUCCESS) {
        return std::wstring();
    }
    wchar_t text[512] = {};
    DWORD type = 0;
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (::RegQueryValueExW(root.get(), L"LockHolder", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::wstring();
    }
    return text;
}

DWORD CSimNetCfgModel::AddTypicalMachine(bool bSecondIMPathEnabled)
{
    constexpr DWORD NCF_VIRTUAL_ = 0x1, NCF_PHYSICAL_ = 0x4, NCF_HIDDEN_ = 0x8, NCF_NOT_USER_REMOVABLE_ = 0x20,
                    NCF_HAS_UI_ = 0x80, NCF_FILTER_ = 0x400;
    const std::wstring adapterGuid = L"{6B2F1C3A-8D4E-4F71-9A0B-2C5D7E9F1A34}";
    const std::wstring miniportGuid = L"{0E8A4F52-3B6C-4D19-8E7F-A1B2C3D4E5F6}";

    std::vector<SSimComponentDef> components;
    SSimComponentDef adapter;
    adapter.classGuid = SIMNETCFG_CLASS_NET;
    adapter.instanceGuid = adapterGuid;
    adapter.id = L"pci\\ven_8086&dev_100e";
    adapter.bindName = adapterGuid;
    adapter.displayName = L"Intel(R) PRO/1000 MT Network Connection";
    adapter.pnpDevNodeId = L"PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02\\3&267A616A&0&18";
    adapter.characteristics = NCF_PHYSICAL_ | NCF_HAS_UI_;
    adapter.paths.push_back(MakePath(L"kvximd->" + adapterGuid, {{L"ndis5", L"kvximd", L"pci\\ven_8086&dev_100e"}}));
    components.push_back(adapter);

    SSimComponentDef miniport;
    miniport.classGuid = SIMNETCFG_CLASS_NET;
    miniport.instanceGuid = miniportGuid;
    miniport.id = L"kvx_kvximdmp";
    miniport.bindName = miniportGuid;
    miniport.displayName = L"Orvex Network Manager Miniport";
    miniport.pnpDevNodeId = L"ROOT\\KVX_KVXIMDMP\\0000";
    miniport.characteristics = NCF_VIRTUAL_ | NCF_HIDDEN_ | NCF_NOT_USER_REMOVABLE_;
    miniport.paths.push_back(MakePath(L"ms_tcpip->" + miniportGuid, {{L"ndis5", L"ms_tcpip", L"kvx_kvximdmp"}}));
    components.push_back(miniport);

    SSimComponentDef tcpip;
    tcpip.classGuid = SIMNETCFG_CLASS_NETTRANS;
    tcpip.instanceGuid = L"{A3C81F5E-6B27-4D0A-B9E4-70F2D15C8E21}";
    tcpip.id = L"ms_tcpip";
    tcpip.bindName = L"Tcpip";
    tcpip.displayName = L"Internet Protocol (TCP/IP)";
    tcpip.helpText = L"Transmission Control Protocol/Internet Protocol. The default wide area network protocol "
                     L"that provides communication across diverse interconnected networks.";
    tcpip.characteristics = NCF_NOT_USER_REMOVABLE_ | NCF_HAS_UI_;
    tcpip.paths.push_back(MakePath(L"ms_netbt->ms_tcpip", {{L"tdi", L"ms_netbt", L"ms_tcpip"}}));
    components.push_back(tcpip);

    SSimComponentDef netbt;
    netbt.classGuid = SIMNETCFG_CLASS_NETTRANS;
    netbt.instanceGuid = L"{C2D3E4F5-A6B7-4C8D-9E0F-1A2B3C4D5E6F}";
    netbt.id = L"ms_netbt";
    netbt.bindName = L"NetBT";
    netbt.displayName = L"WINS Client(TCP/IP)";
    netbt.characteristics = NCF_HIDDEN_ | NCF_NOT_USER_REMOVABLE_;
    netbt.paths.push_back(MakePath(L"ms_server->ms_netbt", {{L"netbios_smb", L"ms_server", L"ms_netbt"}}));
    components.push_back(netbt);

    SSimComponentDef im;
    im.classGuid = SIMNETCFG_CLASS_NETSERVICE;
    im.instanceGuid = L"{5D7C2E91-4A3B-4F68-8C1D-9E0F2A3B4C5D}";
    im.id = L"kvximd";
    im.bindName = L"KVXIMD";
    im.displayName = L"Orvex Network Manager Intermediate Driver";
    im.helpText = L"Filters the network traffic of this computer for the Orvex Network Manager.";
    im.characteristics = NCF_FILTER_ | NCF_HAS_UI_ | NCF_NOT_USER_REMOVABLE_;
    im.paths.push_back(MakePath(L"ms_tcpip->kvximd->" + adapterGuid, {{L"ndis5", L"ms_tcpip", L"kvximd"}, {L"ndis5", L"kvximd", L"pci\\ven_8086&dev_100e"}}));
    im.paths.push_back(MakePath(L"ms_server->ms_netbt->ms_tcpip->kvximd", {{L"netbios_smb", L"ms_server", L"ms_netbt"},
                         {L"tdi", L"ms_netbt", L"ms_tcpip"},
                         {L"ndis5", L"ms_tcpip", L"kvximd"}}));
    im.paths.back().enabled = bSecondIMPathEnabled;
    components.push_back(im);

    SSimComponentDef client;
    client.classGuid = SIMNETCFG_CLASS_NETCLIENT;
    client.instanceGuid = L"{1F4E6A2B-7C3D-4E5F-9A8B-0C1D2E3F4A5B}";
    client.id = L"ms_msclient";
    client.bindName = L"LanmanWorkstation";
    client.displayName = L"Client for Microsoft Networks";
    client.helpText = L"Allows your computer to access resources on a Microsoft network.";
    client.characteristics = NCF_HAS_UI_;
    components.push_back(client);

    SSimComponentDef server;
    server.classGuid = SIMNETCFG_CLASS_NETSERVICE;
    server.instanceGuid = L"{8B9C0D1E-2F3A-4B5C-6D7E-8F9A0B1C2D3E}";
    server.id = L"ms_server";
    server.bindName = L"LanmanServer";
    server.displayName = L"File and Printer Sharing for Microsoft Networks";
    server.helpText = L"Allows other computers to access resources on your computer using a Microsoft network.";
    server.characteristics = NCF_HAS_UI_;
    components.push_back(server);

    for (const SSimComponentDef& component : components) {
        const DWORD rc = AddComponent(component);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
    }
    return ERROR_SUCCESS;
}

CSimNetCfgLockHolder::CSimNetCfgLockHolder(std::wstring holder) : m_holder(std::move(holder)) {}

CSimNetCfgLockHolder::~CSimNetCfgLockHolder()
{
    if (m_process && Stop(10000) == WAIT_TIMEOUT) {
        ::TerminateProcess(m_process.get(), 1);
    }
}

DWORD CSimNetCfgLockHolder::Start(DWORD timeoutMs)
{
    static LONG s_counter = 0;
    wchar_t suffix[64];
    swprintf(suffix, 64, L"%lu.%ld", static_cast<unsigned long>(::GetCurrentProcessId()),
             static_cast<long>(::InterlockedIncrement(&s_counter)));
    const std::wstring readyName = std::wstring(L"KVXSimNetCfgHolderReady.") + suffix;
    const std::wstring stopName = std::wstring(L"KVXSimNetCfgHolderStop.") + suffix;
    m_ready.reset(::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    m_stop.reset(::CreateEventW(nullptr, TRUE, FALSE, stopName.c_str()));
    if (!m_ready || !m_stop) {
        return ::GetLastError();
    }
    std::wstring command = L"\"" + Widen(SimNetCfgCtlPath()) + L"\" hold \"" + m_holder + L"\" " + readyName +
                           L" " + stopName;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return ::GetLastError();
    }
    m_process.reset(info.hProcess);
    kvx::UniqueHandle thread(info.hThread);
    // Either the holder has the lock or it gave up; never wait on the event alone.
    HANDLE waits[] = {m_ready.get(), m_process.get()};
    const DWORD wait = ::WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
    if (wait == WAIT_OBJECT_0) {
        return ERROR_SUCCESS;
    }
    if (wait == WAIT_OBJECT_0 + 1) {
        DWORD code = 0;
        ::GetExitCodeProcess(m_process.get(), &code);
        m_process.reset();
        return code == 0 ? ERROR_PROCESS_ABORTED : code;
    }
    return wait == WAIT_TIMEOUT ? WAIT_TIMEOUT : ::GetLastError();
}

DWORD CSimNetCfgLockHolder::Stop(DWORD timeoutMs)
{
    if (!m_process) {
        return ERROR_SUCCESS;
    }
    ::SetEvent(m_stop.get());
    if (::WaitForSingleObject(m_process.get(), timeoutMs) != WAIT_OBJECT_0) {
        return WAIT_TIMEOUT;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(m_process.get(), &code);
    m_process.reset();
    return code;
}

} // namespace kvxtest
