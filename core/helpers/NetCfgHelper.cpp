// The network configuration helper over the engine's COM interfaces (INetCfg and its companions).
// Binding changes become real only through Apply; every path that leaves early without Apply drops
// what was changed so far, which is what the engine does when it is closed without one.
#include "core/helpers/NetCfgHelper.h"

#include "common/win/ComApartment.h"
#include "common/win/UniqueHandles.h"
#include "core/interface/KVXDiagTypes.h"
#include "common/log/GuardedOperation.h"

#include <objbase.h>

#include <netcfgx.h>

#include <algorithm>
#include <cstring>

namespace {

// The engine's class; the interface ids come from the declarations in netcfgx.h (__uuidof).
constexpr CLSID KVXNETCFG_CLSID_CNETCFG = {0x5b035261, 0x40f9, 0x11d1, {0xaa, 0xec, 0x00, 0x80, 0x5f, 0xc1, 0x27, 0x0e}};
constexpr const wchar_t* KVXNETCFG_CLIENT = L"KVXDiag";
constexpr DWORD KVXNETCFG_EBP_ABOVE = 1;

constexpr const char* KVXNETCFG_SERVICES_KEY = "system\\currentcontrolset\\Services";
constexpr const char* KVXNETCFG_IM_PREFIX = "KVXIMD";
constexpr DWORD KVXNETCFG_MAX_KEY_NAME = 255;

std::wstring WidenText(const std::string& text)
{
    if (text.empty()) {
        return std::wstring();
    }
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

// Copies a string the engine allocated and frees it, whatever the call answered.
std::wstring TakeEngineString(HRESULT hr, LPWSTR text)
{
    std::wstring copy;
    if (text != nullptr) {
        if (SUCCEEDED(hr)) {
            copy = text;
        }
        ::CoTaskMemFree(text);
    }
    return copy;
}

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    return ::StringFromGUID2(guid, text, ARRAYSIZE(text)) > 0 ? std::wstring(text) : std::wstring();
}

// The engine opened for one operation, with the write lock when asked; the destructor closes it in
// the engine's order: Uninitialize, then release the lock, then the object.
class CNetCfgSession {
public:
    CNetCfgSession() = default;
    ~CNetCfgSession()
    {
        if (m_bInitialized) {
            m_engine->Uninitialize();
        }
        if (m_lock) {
            m_lock->ReleaseWriteLock();
        }
    }
    CNetCfgSession(const CNetCfgSession&) = delete;
    CNetCfgSession& operator=(const CNetCfgSession&) = delete;

    // Answers S_OK, NETCFG_E_NO_WRITE_LOCK (the holder's description in strHolder, bHolderGiven when
    // the engine named one) or the failing HRESULT. Whatever was obtained before a failure is
    // released by the destructor.
    HRESULT Open(bool bWrite, std::wstring& strHolder, bool& bHolderGiven)
    {
        bHolderGiven = false;
        HRESULT hr = ::CoCreateInstance(KVXNETCFG_CLSID_CNETCFG, nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetCfg),
                                        m_engine.put_void());
        if (FAILED(hr)) {
            return hr;
        }
        if (!m_engine) {
            return E_POINTER;
        }
        if (bWrite) {
            kvx::UniqueComPtr<INetCfgLock> lock;
            hr = m_engine->QueryInterface(__uuidof(INetCfgLock), lock.put_void());
            if (FAILED(hr)) {
                return hr;
            }
            LPWSTR holder = nullptr;
            hr = lock->AcquireWriteLock(KVXNETCFG_WRITE_LOCK_TIMEOUT_MS, KVXNETCFG_CLIENT, &holder);
            bHolderGiven = holder != nullptr;
            strHolder = TakeEngineString(S_OK, holder);
            if (hr == S_FALSE) {
                return static_cast<HRESULT>(KVXNETCFG_E_NO_WRITE_LOCK);
            }
            if (FAILED(hr)) {
                return hr;
            }
            m_lock = std::move(lock);
        }
        hr = m_engine->Initialize(nullptr);
        if (FAILED(hr)) {
            return hr;
        }
        m_bInitialized = true;
        return S_OK;
    }

    INetCfg* Engine() const { return m_engine.get(); }

private:
    kvx::UniqueComPtr<INetCfg> m_engine;
    kvx::UniqueComPtr<INetCfgLock> m_lock;
    bool m_bInitialized = false;
};

// Takes up to KVXNETCFG_MAX_ITEMS items with one Next call. An enumerator answers S_FALSE when it had
// fewer than asked for, so the items handed out count, not the answer.
template <typename TEnum, typename TItem>
std::vector<kvx::UniqueComPtr<TItem>> TakeItems(TEnum* pEnum)
{
    std::vector<TItem*> raw(KVXNETCFG_MAX_ITEMS, nullptr);
    ULONG fetched = 0;
    const HRESULT hr = pEnum->Next(KVXNETCFG_MAX_ITEMS, raw.data(), &fetched);
    std::vector<kvx::UniqueComPtr<TItem>> items;
    if (FAILED(hr)) {
        return items;
    }
    if (fetched > KVXNETCFG_MAX_ITEMS) {
        fetched = KVXNETCFG_MAX_ITEMS;
    }
    // Owned at once, so that nothing below can leak a reference.
    std::vector<kvx::UniqueComPtr<TItem>> owned;
    owned.reserve(fetched);
    for (ULONG i = 0; i < fetched; ++i) {
        owned.emplace_back(raw[i]);
    }
    for (auto& item : owned) {
        if (item) {
            items.push_back(std::move(item));
        }
    }
    return items;
}

std::wstring ComponentId(INetCfgComponent* pComponent)
{
    if (pComponent == nullptr) {
        return std::wstring();
    }
    LPWSTR id = nullptr;
    const HRESULT hr = pComponent->GetId(&id);
    return TakeEngineString(hr, id);
}

SBindingInterface DescribeInterface(INetCfgBindingInterface* pInterface)
{
    SBindingInterface record;
    LPWSTR name = nullptr;
    HRESULT hr = pInterface->GetName(&name);
    record.strName = TakeEngineString(hr, name);
    kvx::UniqueComPtr<INetCfgComponent> upper;
    if (SUCCEEDED(pInterface->GetUpperComponent(upper.put()))) {
        record.strUpperComponentId = ComponentId(upper.get());
    }
    kvx::UniqueComPtr<INetCfgComponent> lower;
    if (SUCCEEDED(pInterface->GetLowerComponent(lower.put()))) {
        record.strLowerComponentId = ComponentId(lower.get());
    }
    return record;
}

SBindingPath DescribePath(INetCfgBindingPath* pPath)
{
    SBindingPath record;
    record.bEnabled = pPath->IsEnabled() == S_OK;
    ULONG depth = 0;
    if (SUCCEEDED(pPath->GetDepth(&depth))) {
        record.dwDepth = depth;
    }
    LPWSTR token = nullptr;
    HRESULT hr = pPath->GetPathToken(&token);
    record.strPathToken = TakeEngineString(hr, token);
    kvx::UniqueComPtr<IEnumNetCfgBindingInterface> interfaces;
    hr = pPath->EnumBindingInterfaces(interfaces.put());
    if (SUCCEEDED(hr) && interfaces) {
        for (const auto& item : TakeItems<IEnumNetCfgBindingInterface, INetCfgBindingInterface>(interfaces.get())) {
            record.interfaces.push_back(DescribeInterface(item.get()));
        }
    }
    return record;
}

void FillBindingPaths(INetCfgComponent* pComponent, std::vector<SBindingPath>& paths)
{
    kvx::UniqueComPtr<INetCfgComponentBindings> bindings;
    if (FAILED(pComponent->QueryInterface(__uuidof(INetCfgComponentBindings), bindings.put_void())) || !bindings) {
        return;
    }
    kvx::UniqueComPtr<IEnumNetCfgBindingPath> enumerator;
    if (FAILED(bindings->EnumBindingPaths(KVXNETCFG_EBP_ABOVE, enumerator.put())) || !enumerator) {
        return;
    }
    for (const auto& path : TakeItems<IEnumNetCfgBindingPath, INetCfgBindingPath>(enumerator.get())) {
        paths.push_back(DescribePath(path.get()));
    }
}

void FillComponent(INetCfgComponent* pComponent, SNetworkComponent& record)
{
    FillBindingPaths(pComponent, record.bindingPaths);
    pComponent->GetClassGuid(&record.classGuid);
    pComponent->GetInstanceGuid(&record.instanceGuid);
    LPWSTR text = nullptr;
    HRESULT hr = pComponent->GetId(&text);
    record.strId = TakeEngineString(hr, text);
    text = nullptr;
    hr = pComponent->GetBindName(&text);
    record.strBindName = TakeEngineString(hr, text);
    text = nullptr;
    hr = pComponent->GetDisplayName(&text);
    record.strDisplayName = TakeEngineString(hr, text);
    text = nullptr;
    hr = pComponent->GetPnpDevNodeId(&text);
    record.strPnpDevNodeId = TakeEngineString(hr, text);
    text = nullptr;
    hr = pComponent->GetHelpText(&text);
    record.strHelpText = TakeEngineString(hr, text);
    DWORD characteristics = 0;
    if (SUCCEEDED(pComponent->GetCharacteristics(&characteristics))) {
        record.dwCharacteristics = characteristics;
    }
    ULONG status = 0;
    if (SUCCEEDED(pComponent->GetDeviceStatus(&status))) {
        record.dwDeviceStatus = status;
    }
}

// Steps through every binding path above the component. bApply tells whether the walk ended normally,
// the only case in which the changes are worth applying.
DWORD SwitchBindings(INetCfgComponent* pComponent, bool bEnable, const std::vector<std::wstring>* pOnly,
                     std::vector<std::pair<std::wstring, bool>>* pStates, bool& bApply)
{
    KVX_FUNCTION_QUIET("CNetCfgHelper::EnableComponent");
    bApply = false;
    kvx::UniqueComPtr<INetCfgComponentBindings> bindings;
    HRESULT hr = pComponent->QueryInterface(__uuidof(INetCfgComponentBindings), bindings.put_void());
    kvx::UniqueComPtr<IEnumNetCfgBindingPath> paths;
    if (SUCCEEDED(hr)) {
        hr = bindings ? bindings->EnumBindingPaths(KVXNETCFG_EBP_ABOVE, paths.put()) : E_POINTER;
    }
    if (SUCCEEDED(hr) && !paths) {
        hr = E_POINTER;
    }
    if (FAILED(hr)) {
        KVX_LOG(eKVXDiagLog_ERROR, "Cannot get binding path enumerator 0x%08lx", static_cast<unsigned long>(hr));
        return static_cast<DWORD>(hr);
    }

    DWORD dwResult = KVXDIAG2_OK;
    paths->Reset();
    for (;;) {
        kvx::UniqueComPtr<INetCfgBindingPath> path;
        ULONG fetched = 0;
        hr = paths->Next(1, path.put(), &fetched);
        if (hr != S_OK) {
            break;
        }
        if (!path) {
            hr = E_POINTER;
            break;
        }
        LPWSTR token = nullptr;
        const HRESULT hrToken = path->GetPathToken(&token);
        const std::wstring tokenWide = TakeEngineString(hrToken, token);
        const std::string tokenText = kvx::NarrowText(tokenWide);
        if (pStates != nullptr) {
            pStates->emplace_back(tokenWide, path->IsEnabled() == S_OK);
            continue;
        }
        // Put back only what was on: a binding the customer had off stays off.
        if (pOnly != nullptr && std::find(pOnly->begin(), pOnly->end(), tokenWide) == pOnly->end()) {
            continue;
        }
        const HRESULT hrEnable = path->Enable(bEnable ? TRUE : FALSE);
        if (FAILED(hrEnable)) {
            KVX_LOG(eKVXDiagLog_ERROR, "Failed to disable binding '%s' hr=0x%08lx", tokenText.c_str(),
                    static_cast<unsigned long>(hrEnable));
            dwResult = static_cast<DWORD>(hrEnable);
        } else {
            KVX_LOG(eKVXDiagLog_INFO, "Succesfully %s binding '%s' hr=0x%08lx", bEnable ? "enabled" : "disabled",
                    tokenText.c_str(), static_cast<unsigned long>(hrEnable));
        }
    }
    if (hr == S_FALSE) {
        bApply = true;
        return dwResult;
    }
    // The walk broke off: the changes made so far are dropped, and the caller must not read that as
    // success, so the enumerator's error becomes the result.
    KVX_LOG(eKVXDiagLog_ERROR, "Error al enumerar los binding paths hr=0x%08lx, se descartan los cambios",
            static_cast<unsigned long>(hr));
    return FAILED(hr) ? static_cast<DWORD>(hr) : static_cast<DWORD>(E_UNEXPECTED);
}

} // namespace

namespace kvx {

std::string NarrowText(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int length =
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return std::string();
    }
    std::string narrow(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length, nullptr,
                          nullptr);
    return narrow;
}

} // namespace kvx

const DWORD CNetCfgHelper::s_dwFactoryRegistration = CNetCfgHelper::PerformFactoryRegistration();

DWORD CNetCfgHelper::EnableComponent(const std::string& strComponentId, bool bEnable)
{
    return EnableComponent(strComponentId, bEnable, nullptr, nullptr);
}

DWORD CNetCfgHelper::GetBindingStates(const std::string& strComponentId,
                                      std::vector<std::pair<std::wstring, bool>>& states)
{
    states.clear();
    return EnableComponent(strComponentId, false, nullptr, &states);
}

// One walk over the component's paths serves switching and reading: with pStates the paths are only
// read, and nothing is applied.
DWORD CNetCfgHelper::EnableComponent(const std::string& strComponentId, bool bEnable,
                                     const std::vector<std::wstring>* pOnly,
                                     std::vector<std::pair<std::wstring, bool>>* pStates)
{
    KVX_FUNCTION("CNetCfgHelper::EnableComponent");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        // The whole id is used: cutting it could name another component.
        const std::wstring id = WidenText(strComponentId);
        const char* idText = strComponentId.c_str();
        KVX_LOG(eKVXDiagLog_INFO, "%s bindings for component %s",
                pStates != nullptr ? "Reading" : (bEnable ? "Enabling" : "Disabling"), idText);

        DWORD dwResult = KVXDIAG2_OK;
        {
            kvx::CComApartment apartment;
            if (FAILED(apartment.Result())) {
                dwResult = static_cast<DWORD>(apartment.Result());
                KVX_LOG(eKVXDiagLog_ERROR, "Cannot open netcfg, error code hr=0x%08lx",
                        static_cast<unsigned long>(dwResult));
                KVX_LOG(eKVXDiagLog_INFO, "Exiting with result 0x%08lx", static_cast<unsigned long>(dwResult));
                return dwResult;
            }
            CNetCfgSession session;
            std::wstring holder;
            bool bHolderGiven = false;
            const HRESULT hrOpen = session.Open(pStates == nullptr, holder, bHolderGiven);
            if (FAILED(hrOpen)) {
                dwResult = static_cast<DWORD>(hrOpen);
                if (dwResult == KVXNETCFG_E_NO_WRITE_LOCK) {
                    const std::string holderText = bHolderGiven ? kvx::NarrowText(holder) : std::string("<NULL>");
                    KVX_LOG(eKVXDiagLog_ERROR, "Cannot open netcfg, locked by %s hr=0x%08lx", holderText.c_str(),
                            static_cast<unsigned long>(dwResult));
                } else {
                    KVX_LOG(eKVXDiagLog_ERROR, "Cannot open netcfg, error code hr=0x%08lx",
                            static_cast<unsigned long>(dwResult));
                }
            } else {
                INetCfg* pEngine = session.Engine();
                bool bApply = false;
                kvx::UniqueComPtr<INetCfgComponent> component;
                const HRESULT hrFind = pEngine->FindComponent(id.c_str(), component.put());
                if (hrFind == S_FALSE || (SUCCEEDED(hrFind) && !component)) {
                    KVX_LOG(eKVXDiagLog_ERROR, "Component %s not found hr=0x%08lx", idText,
                            static_cast<unsigned long>(hrFind));
                    dwResult = KVXDIAG2_ERR_NOT_FOUND;
                    bApply = true;
                } else if (FAILED(hrFind)) {
                    KVX_LOG(eKVXDiagLog_ERROR, "FindComponent failed to find component %s hr=0x%08lx", idText,
                            static_cast<unsigned long>(hrFind));
                    dwResult = static_cast<DWORD>(hrFind);
                } else {
                    dwResult = SwitchBindings(component.get(), bEnable, pOnly, pStates, bApply);
                }
                if (bApply && pStates == nullptr) {
                    KVX_LOG(eKVXDiagLog_INFO, "%s", "Applying changes...");
                    const HRESULT hrApply = pEngine->Apply();
                    KVX_LOG(eKVXDiagLog_INFO, "Apply result hr=0x%08lx", static_cast<unsigned long>(hrApply));
                    if (FAILED(hrApply)) {
                        dwResult = static_cast<DWORD>(hrApply);
                    }
                }
            }
        }
        KVX_LOG(eKVXDiagLog_INFO, "Exiting with result 0x%08lx", static_cast<unsigned long>(dwResult));
        return dwResult;
    });
}

DWORD CNetCfgHelper::GetIMName(std::string& strName)
{
    KVX_FUNCTION("CNetCfgHelper::GetIMName");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        strName.clear();
        kvx::UniqueHkey services;
        LONG rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXNETCFG_SERVICES_KEY, 0, KEY_READ, services.put());
        if (rc != ERROR_SUCCESS) {
            KVX_LOG(eKVXDiagLog_ERROR, "Failed to open '%s' registry key, Error %ld", KVXNETCFG_SERVICES_KEY,
                    static_cast<long>(rc));
            return static_cast<DWORD>(rc);
        }
        DWORD subkeys = 0;
        rc = ::RegQueryInfoKeyA(services.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) {
            KVX_LOG(eKVXDiagLog_ERROR, "Failed to get subkey count under key '%s', Error %ld", KVXNETCFG_SERVICES_KEY,
                    static_cast<long>(rc));
            return static_cast<DWORD>(rc);
        }

        DWORD dwResult = KVXDIAG2_ERR_NOT_FOUND;
        const size_t prefixLength = strlen(KVXNETCFG_IM_PREFIX);
        for (DWORD index = 0; index < subkeys && dwResult == KVXDIAG2_ERR_NOT_FOUND; ++index) {
            char name[KVXNETCFG_MAX_KEY_NAME + 1] = {};
            DWORD length = sizeof(name);
            rc = ::RegEnumKeyExA(services.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (rc != ERROR_SUCCESS) {
                KVX_LOG(eKVXDiagLog_ERROR, "Failed to enumerate service key with index %lu!",
                        static_cast<unsigned long>(index));
                continue;
            }
            if (strncmp(name, KVXNETCFG_IM_PREFIX, prefixLength) != 0) {
                continue;
            }
            const std::string keyPath = std::string(KVXNETCFG_SERVICES_KEY) + "\\" + name;
            kvx::UniqueHkey candidate;
            rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, candidate.put());
            if (rc != ERROR_SUCCESS) {
                KVX_LOG(eKVXDiagLog_ERROR, "Failed to access key %s, Error %ld", keyPath.c_str(),
                        static_cast<long>(rc));
                dwResult = static_cast<DWORD>(rc);
                break;
            }
            // A service marked for deletion is what an uninstalled copy of the driver leaves behind.
            rc = ::RegQueryValueExA(candidate.get(), "DeleteFlag", nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_FILE_NOT_FOUND) {
                KVX_LOG(eKVXDiagLog_INFO, "Key found, service name '%s'", name);
                strName = name;
                dwResult = KVXDIAG2_OK;
            } else {
                KVX_LOG(eKVXDiagLog_EVENT, "Service '%s' matches IM pattern but has DeleteFlag flag, ignoring this key",
                        name);
            }
        }
        KVX_LOG(eKVXDiagLog_INFO, "Exit with result 0x%lX", static_cast<unsigned long>(dwResult));
        return dwResult;
    });
}

DWORD CNetCfgHelper::GetComponents(const GUID& classGuid, std::vector<SNetworkComponent>& components)
{
    KVX_FUNCTION("CNetCfgHelper::GetComponents");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        components.clear();
        KVX_LOG(eKVXDiagLog_INFO, "Getting class %s components", kvx::NarrowText(GuidText(classGuid)).c_str());
        {
            kvx::CComApartment apartment;
            if (SUCCEEDED(apartment.Result())) {
                CNetCfgSession session;
                std::wstring holder;
                bool bHolderGiven = false;
                if (SUCCEEDED(session.Open(false, holder, bHolderGiven))) {
                    kvx::UniqueComPtr<IEnumNetCfgComponent> enumerator;
                    if (session.Engine()->EnumComponents(&classGuid, enumerator.put()) == S_OK && enumerator) {
                        for (auto& component :
                             TakeItems<IEnumNetCfgComponent, INetCfgComponent>(enumerator.get())) {
                            SNetworkComponent record;
                            FillComponent(component.get(), record);
                            component.reset();
                            components.push_back(std::move(record));
                        }
                    }
                }
            }
        }
        KVX_LOG(eKVXDiagLog_INFO, "Exiting with result %d", 0);
        return KVXDIAG2_OK;
    });
}
