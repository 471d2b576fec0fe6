// The engine double: INetCfg, INetCfgLock, components with their bindings, binding paths and binding
// interfaces over the registry model. It keeps the rules of the real engine that a client can get
// wrong: the write lock must be taken before Initialize, changes need the lock and reach the stored
// model only through Apply, and Uninitialize drops whatever was not applied.
#include <initguid.h>

#include <netcfgx.h>

#include "simulator/netcfg/SimNetCfgObjects.h"

#include "common/win/UniqueHandles.h"
#include "simulator/netcfg/SimNetCfgLayout.h"
#include "simulator/netcfg/SimNetCfgModel.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace kvxsim {
namespace {

std::atomic<LONG> g_liveObjects{0};
std::atomic<LONG> g_serverLocks{0};

// The engine object of this process that holds the write lock, and its thread. The lock is a
// mutex, which a thread may take again; a second engine object on the same thread must still find
// the lock taken.
std::atomic<const void*> g_lockOwner{nullptr};
std::atomic<DWORD> g_lockOwnerThread{0};

// No exception may leave a COM method.
template <typename F>
HRESULT Guard(F&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT DupString(const std::wstring& text, LPWSTR* out)
{
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    if (copy == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(copy, text.c_str(), bytes);
    *out = copy;
    return S_OK;
}

// A string the model does not hold makes the getter fail, as the engine does for components that
// have no such property.
HRESULT DupOptional(const std::optional<std::wstring>& text, LPWSTR* out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (!text) {
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    return DupString(*text, out);
}

struct SSimSession {
    SSimModel model;
    bool initialized = false;
    bool writeLocked = false;
};
using SessionPtr = std::shared_ptr<SSimSession>;

// Reference counting shared by every object of the double.
class CSimRefCount {
public:
    CSimRefCount() { ++g_liveObjects; }
    virtual ~CSimRefCount() { --g_liveObjects; }
    CSimRefCount(const CSimRefCount&) = delete;
    CSimRefCount& operator=(const CSimRefCount&) = delete;

protected:
    ULONG DoAddRef() { return static_cast<ULONG>(++m_refs); }
    ULONG DoRelease()
    {
        const LONG refs = --m_refs;
        if (refs == 0) {
            delete this;
        }
        return static_cast<ULONG>(refs);
    }

private:
    std::atomic<LONG> m_refs{1};
};

#define KVXSIM_IUNKNOWN_REFS                                                                                       \
    ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }                                              \
    ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }

// A snapshot enumerator; it can be told to fail after handing out a number of items, which is how
// tests reach a client's handling of an enumerator error.
template <typename IEnum, typename IItem>
class CSimEnum final : public IEnum, public CSimRefCount {
public:
    CSimEnum(const IID& iid, std::vector<kvx::UniqueComPtr<IItem>> items, std::optional<DWORD> failAfter,
             HRESULT failure)
        : m_iid(iid), m_items(std::move(items)), m_failAfter(failAfter), m_failure(failure)
    {
    }
    KVXSIM_IUNKNOWN_REFS

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, m_iid)) {
            *ppv = static_cast<IEnum*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, IItem** rgelt, ULONG* pceltFetched) override
    {
        if (rgelt == nullptr || (celt > 1 && pceltFetched == nullptr)) {
            return E_POINTER;
        }
        ULONG fetched = 0;
        while (fetched < celt && m_position < m_items.size()) {
            if (m_failAfter && m_position >= *m_failAfter) {
                // A failing call hands out nothing.
                for (ULONG i = 0; i < fetched; ++i) {
                    rgelt[i]->Release();
                    rgelt[i] = nullptr;
                }
                if (pceltFetched != nullptr) {
                    *pceltFetched = 0;
                }
                return m_failure;
            }
            IItem* item = m_items[m_position++].get();
            item->AddRef();
            rgelt[fetched++] = item;
        }
        if (pceltFetched != nullptr) {
            *pceltFetched = fetched;
        }
        return fetched == celt ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override
    {
        const size_t left = m_items.size() - m_position;
        m_position += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Reset() override
    {
        m_position = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IEnum** ppenum) override
    {
        if (ppenum != nullptr) {
            *ppenum = nullptr;
        }
        return E_NOTIMPL;
    }

private:
    const IID m_iid;
    std::vector<kvx::UniqueComPtr<IItem>> m_items;
    size_t m_position = 0;
    std::optional<DWORD> m_failAfter;
    HRESULT m_failure;
};

using CSimComponentEnum = CSimEnum<IEnumNetCfgComponent, INetCfgComponent>;
using CSimPathEnum = CSimEnum<IEnumNetCfgBindingPath, INetCfgBindingPath>;
using CSimInterfaceEnum = CSimEnum<IEnumNetCfgBindingInterface, INetCfgBindingInterface>;

HRESULT NewComponent(const SessionPtr& session, size_t index, INetCfgComponent** out);

// Resolves a component id to a new component object; an id the model does not know fails.
HRESULT ComponentById(const SessionPtr& session, const std::wstring& id, INetCfgComponent** out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (!session->initialized) {
        return NETCFG_E_NOT_INITIALIZED;
    }
    const SSimComponent* component = FindSimComponent(session->model, id.c_str());
    if (component == nullptr) {
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    return NewComponent(session, static_cast<size_t>(component - session->model.components.data()), out);
}

class CSimBindingInterface final : public INetCfgBindingInterface, public CSimRefCount {
public:
    CSimBindingInterface(SessionPtr session, size_t component, size_t path, size_t index)
        : m_session(std::move(session)), m_component(component), m_path(path), m_index(index)
    {
    }
    KVXSIM_IUNKNOWN_REFS

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_INetCfgBindingInterface)) {
            *ppv = static_cast<INetCfgBindingInterface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE GetName(LPWSTR* ppszwInterfaceName) override
    {
        return Guard([&]() -> HRESULT {
            const SSimInterface* item = Item();
            if (item == nullptr) {
                return NETCFG_E_NOT_INITIALIZED;
            }
            return DupOptional(item->name, ppszwInterfaceName);
        });
    }
    HRESULT STDMETHODCALLTYPE GetUpperComponent(INetCfgComponent** ppnccItem) override
    {
        return Guard([&]() -> HRESULT {
            const SSimInterface* item = Item();
            return item != nullptr ? ComponentById(m_session, item->upperId, ppnccItem) : NETCFG_E_NOT_INITIALIZED;
        });
    }
    HRESULT STDMETHODCALLTYPE GetLowerComponent(INetCfgComponent** ppnccItem) override
    {
        return Guard([&]() -> HRESULT {
            const SSimInterface* item = Item();
            return item != nullptr ? ComponentById(m_session, item->lowerId, ppnccItem) : NETCFG_E_NOT_INITIALIZED;
        });
    }

private:
    const SSimInterface* Item() const
    {
        if (!m_session->initialized || m_component >= m_session->model.components.size()) {
            return nullptr;
        }
        const SSimComponent& component = m_session->model.components[m_component];
        if (m_path >= component.paths.size() || m_index >= component.paths[m_path].interfaces.size()) {
            return nullptr;
        }
        return &component.paths[m_path].interfaces[m_index];
    }

    SessionPtr m_session;
    size_t m_component;
    size_t m_path;
    size_t m_index;
};

class CSimBindingPath final : public INetCfgBindingPath, public CSimRefCount {
public:
    CSimBindingPath(SessionPtr session, size_t component, size_t index)
        : m_session(std::move(session)), m_component(component), m_index(index)
    {
    }
    KVXSIM_IUNKNOWN_REFS

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_INetCfgBindingPath)) {
            *ppv = static_cast<INetCfgBindingPath*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE IsSamePathAs(INetCfgBindingPath*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsSubPathOf(INetCfgBindingPath*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE IsEnabled() override
    {
        const SSimPath* path = Path();
        if (path == nullptr) {
            return NETCFG_E_NOT_INITIALIZED;
        }
        return path->enabled ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Enable(WINBOOL fEnable) override
    {
        SSimPath* path = Path();
        if (path == nullptr) {
            return NETCFG_E_NOT_INITIALIZED;
        }
        if (!m_session->writeLocked) {
            return NETCFG_E_NO_WRITE_LOCK;
        }
        if (path->enableResult) {
            return *path->enableResult;
        }
        const bool enabled = fEnable != FALSE;
        if (path->enabled != enabled) {
            path->enabled = enabled;
            path->dirty = true;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetPathToken(LPWSTR* ppszwPathToken) override
    {
        return Guard([&]() -> HRESULT {
            const SSimPath* path = Path();
            if (path == nullptr) {
                return NETCFG_E_NOT_INITIALIZED;
            }
            return DupOptional(path->token, ppszwPathToken);
        });
    }

    HRESULT STDMETHODCALLTYPE GetOwner(INetCfgComponent** ppComponent) override
    {
        return Guard([&]() -> HRESULT {
            if (ppComponent == nullptr) {
                return E_POINTER;
            }
            *ppComponent = nullptr;
            if (Path() == nullptr) {
                return NETCFG_E_NOT_INITIALIZED;
            }
            return NewComponent(m_session, m_component, ppComponent);
        });
    }

    HRESULT STDMETHODCALLTYPE GetDepth(ULONG* pcInterfaces) override
    {
        const SSimPath* path = Path();
        if (pcInterfaces == nullptr) {
            return E_POINTER;
        }
        if (path == nullptr) {
            return NETCFG_E_NOT_INITIALIZED;
        }
        *pcInterfaces = path->depth.value_or(static_cast<DWORD>(path->interfaces.size()));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EnumBindingInterfaces(IEnumNetCfgBindingInterface** ppenumInterface) override
    {
        return Guard([&]() -> HRESULT {
            if (ppenumInterface == nullptr) {
                return E_POINTER;
            }
            *ppenumInterface = nullptr;
            const SSimPath* path = Path();
            if (path == nullptr) {
                return NETCFG_E_NOT_INITIALIZED;
            }
            std::vector<kvx::UniqueComPtr<INetCfgBindingInterface>> items;
            for (size_t i = 0; i < path->interfaces.size(); ++i) {
                kvx::UniqueComPtr<INetCfgBindingInterface> item(new CSimBindingInterface(m_session, m_component, m_index, i));
                items.push_back(std::move(item));
            }
            *ppenumInterface =
                new CSimInterfaceEnum(IID_IEnumNetCfgBindingInterface, std::move(items), std::nullopt, S_OK);
            return S_OK;
        });
    }

private:
    SSimPath* Path() const
    {
        if (!m_session->initialized || m_component >= m_session->model.components.size()) {
            return nullptr;
        }
        SSimComponent& component = m_session->model.components[m_component];
        return m_index < component.paths.size() ? &component.paths[m_index] : nullptr;
    }

    SessionPtr m_session;
    size_t m_component;
    size_t m_index;
};

class CSimComponent final : public INetCfgComponent, public INetCfgComponentBindings, public CSimRefCount {
public:
    CSimComponent(SessionPtr session, size_t index) : m_session(std::move(session)), m_index(index) {}
    KVXSIM_IUNKNOWN_REFS

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_INetCfgComponent)) {
            *ppv = static_cast<INetCfgComponent*>(this);
        } else if (IsEqualIID(riid, IID_INetCfgComponentBindings)) {
            *ppv = static_cast<INetCfgComponentBindings*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    // INetCfgComponent
    HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR* out) override
    {
        return GetText(&SSimComponent::displayName, out);
    }
    HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHelpText(LPWSTR* out) override { return GetText(&SSimComponent::helpText, out); }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* out) override { return GetText(&SSimComponent::id, out); }
    HRESULT STDMETHODCALLTYPE GetCharacteristics(LPDWORD out) override
    {
        const SSimComponent* component = Component();
        if (out == nullptr) {
            return E_POINTER;
        }
        if (component == nullptr) {
            return NETCFG_E_NOT_INITIALIZED;
        }
        *out = component->characteristics;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInstanceGuid(GUID* out) override
    {
        const SSimComponent* component = Component();
        if (out == nullptr) {
            return E_POINTER;
        }
        if (component == nullptr) {
            return NETCFG_E_NOT_INITIALIZED;
        }
        *out = component->instanceGuid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPnpDevNodeId(LPWSTR* out) override
    {
        return GetText(&SSimComponent::pnpDevNodeId, out);
    }
    HRESULT STDMETHODCALLTYPE GetClassGuid(GUID* out) override
    {
        const SSimComponent* component = Component();
        if (out == nullptr) {
            return E_POINTER;
        }
        if (component == nullptr) {
            return NETCFG_E_NOT_INITIALIZED;
        }
        *out = component->classGuid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindName(LPWSTR* out) override { return GetText(&SSimComponent::bindName, out); }
    HRESULT STDMETHODCALLTYPE GetDeviceStatus(ULONG* out) override
    {
        const SSimComponent* component = Component();
        if (out == nullptr) {
            return E_POINTER;
        }
        if (component == nullptr) {
            return NETCFG_E_NOT_INITIALIZED;
        }
        *out = component->deviceStatus;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OpenParamKey(HKEY* phkey) override
    {
        if (phkey != nullptr) {
            *phkey = nullptr;
        }
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RaisePropertyUi(HWND, DWORD, IUnknown*) override { return E_NOTIMPL; }

    // INetCfgComponentBindings
    HRESULT STDMETHODCALLTYPE BindTo(INetCfgComponent*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnbindFrom(INetCfgComponent*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SupportsBindingInterface(DWORD, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsBoundTo(INetCfgComponent*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsBindableTo(INetCfgComponent*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MoveBefore(INetCfgBindingPath*, INetCfgBindingPath*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MoveAfter(INetCfgBindingPath*, INetCfgBindingPath*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE EnumBindingPaths(DWORD dwFlags, IEnumNetCfgBindingPath** ppIEnum) override
    {
        return Guard([&]() -> HRESULT {
            if (ppIEnum == nullptr) {
                return E_POINTER;
            }
            *ppIEnum = nullptr;
            const SSimComponent* component = Component();
            if (component == nullptr) {
                return NETCFG_E_NOT_INITIALIZED;
            }
            if (component->enumBindingPathsResult) {
                return *component->enumBindingPathsResult;
            }
            if (dwFlags != EBP_ABOVE && dwFlags != EBP_BELOW) {
                return E_INVALIDARG;
            }
            std::vector<kvx::UniqueComPtr<INetCfgBindingPath>> items;
            for (size_t i = 0; i < component->paths.size(); ++i) {
                if ((component->paths[i].direction & dwFlags) != 0) {
                    kvx::UniqueComPtr<INetCfgBindingPath> item(new CSimBindingPath(m_session, m_index, i));
                    items.push_back(std::move(item));
                }
            }
            *ppIEnum = new CSimPathEnum(IID_IEnumNetCfgBindingPath, std::move(items), component->pathEnumErrorAfter,
                                        component->pathEnumError);
            return S_OK;
        });
    }

private:
    const SSimComponent* Component() const
    {
        if (!m_session->initialized || m_index >= m_session->model.components.size()) {
            return nullptr;
        }
        return &m_session->model.components[m_index];
    }

    HRESULT GetText(std::optional<std::wstring> SSimComponent::*field, LPWSTR* out) const
    {
        return Guard([&]() -> HRESULT {
            const SSimComponent* component = Component();
            if (component == nullptr) {
                if (out != nullptr) {
                    *out = nullptr;
                }
                return NETCFG_E_NOT_INITIALIZED;
            }
            return DupOptional(component->*field, out);
        });
    }

    SessionPtr m_session;
    size_t m_index;
};

HRESULT NewComponent(const SessionPtr& session, size_t index, INetCfgComponent** out)
{
    *out = static_cast<INetCfgComponent*>(new CSimComponent(session, index));
    return S_OK;
}

class CSimNetCfg final : public INetCfg, public INetCfgLock, public CSimRefCount {
public:
    CSimNetCfg() : m_session(std::make_shared<SSimSession>()) {}
    ~CSimNetCfg() override
    {
        // A client that forgot to release the lock must not leave it held for the rest of the run.
        if (m_session->writeLocked) {
            ReleaseLock();
        }
    }
    KVXSIM_IUNKNOWN_REFS

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_INetCfg)) {
            *ppv = static_cast<INetCfg*>(this);
        } else if (IsEqualIID(riid, IID_INetCfgLock)) {
            *ppv = static_cast<INetCfgLock*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    // INetCfg
    HRESULT STDMETHODCALLTYPE Initialize(PVOID) override
    {
        return Guard([&]() -> HRESULT {
            if (m_session->initialized) {
                return NETCFG_E_ALREADY_INITIALIZED;
            }
            SSimModel model;
            const LONG rc = LoadSimModel(model);
            if (rc != ERROR_SUCCESS) {
                return HRESULT_FROM_WIN32(rc);
            }
            if (model.initializeResult && FAILED(*model.initializeResult)) {
                return *model.initializeResult;
            }
            m_session->model = std::move(model);
            m_session->initialized = true;
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE Uninitialize() override
    {
        if (!m_session->initialized) {
            return NETCFG_E_NOT_INITIALIZED;
        }
        // Objects handed out earlier keep the session and see it closed.
        m_session->initialized = false;
        m_session->model = SSimModel();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Apply() override
    {
        return Guard([&]() -> HRESULT {
            if (!m_session->initialized) {
                return NETCFG_E_NOT_INITIALIZED;
            }
            if (!m_session->writeLocked) {
                return NETCFG_E_NO_WRITE_LOCK;
            }
            if (m_session->model.applyResult) {
                return *m_session->model.applyResult;
            }
            const LONG rc = CommitSimModel(m_session->model);
            return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
        });
    }

    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        return Guard([&]() -> HRESULT {
            if (!m_session->initialized) {
                return NETCFG_E_NOT_INITIALIZED;
            }
            SSimModel model;
            const LONG rc = LoadSimModel(model);
            if (rc != ERROR_SUCCESS) {
                return HRESULT_FROM_WIN32(rc);
            }
            m_session->model = std::move(model);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE EnumComponents(const GUID* pguidClass, IEnumNetCfgComponent** ppenum) override
    {
        return Guard([&]() -> HRESULT {
            if (ppenum == nullptr) {
                return E_POINTER;
            }
            *ppenum = nullptr;
            if (!m_session->initialized) {
                return NETCFG_E_NOT_INITIALIZED;
            }
            std::vector<kvx::UniqueComPtr<INetCfgComponent>> items;
            const auto& components = m_session->model.components;
            for (size_t i = 0; i < components.size(); ++i) {
                if (pguidClass == nullptr || IsEqualGUID(*pguidClass, components[i].classGuid)) {
                    kvx::UniqueComPtr<INetCfgComponent> item(static_cast<INetCfgComponent*>(new CSimComponent(m_session, i)));
                    items.push_back(std::move(item));
                }
            }
            *ppenum = new CSimComponentEnum(IID_IEnumNetCfgComponent, std::move(items), std::nullopt, S_OK);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE FindComponent(LPCWSTR pszwInfId, INetCfgComponent** pComponent) override
    {
        return Guard([&]() -> HRESULT {
            if (pComponent != nullptr) {
                *pComponent = nullptr;
            }
            if (!m_session->initialized) {
                return NETCFG_E_NOT_INITIALIZED;
            }
            if (m_session->model.findComponentResult) {
                return *m_session->model.findComponentResult;
            }
            if (pszwInfId == nullptr) {
                return E_POINTER;
            }
            const SSimComponent* component = FindSimComponent(m_session->model, pszwInfId);
            if (component == nullptr) {
                return S_FALSE;
            }
            if (pComponent != nullptr) {
                const size_t index = static_cast<size_t>(component - m_session->model.components.data());
                return NewComponent(m_session, index, pComponent);
            }
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE QueryNetCfgClass(const GUID*, REFIID, void** ppvObject) override
    {
        if (ppvObject != nullptr) {
            *ppvObject = nullptr;
        }
        return E_NOTIMPL;
    }

    // INetCfgLock
    HRESULT STDMETHODCALLTYPE AcquireWriteLock(DWORD cmsTimeout, LPCWSTR pszwClientDescription,
                                               LPWSTR* ppszwClientDescription) override
    {
        return Guard([&]() -> HRESULT {
            if (ppszwClientDescription != nullptr) {
                *ppszwClientDescription = nullptr;
            }
            if (m_session->initialized) {
                return NETCFG_E_ALREADY_INITIALIZED;
            }
            if (m_session->writeLocked) {
                return S_OK;
            }
            if (!m_mutex) {
                m_mutex.reset(::CreateMutexW(nullptr, FALSE, SIMNETCFG_LOCK_MUTEX));
                if (!m_mutex) {
                    return HRESULT_FROM_WIN32(::GetLastError());
                }
            }
            if (g_lockOwner.load() != nullptr && g_lockOwnerThread.load() == ::GetCurrentThreadId()) {
                return Busy(ppszwClientDescription);
            }
            const DWORD wait = ::WaitForSingleObject(m_mutex.get(), cmsTimeout);
            if (wait == WAIT_TIMEOUT) {
                return Busy(ppszwClientDescription);
            }
            if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
                return HRESULT_FROM_WIN32(::GetLastError());
            }
            g_lockOwner = this;
            g_lockOwnerThread = ::GetCurrentThreadId();
            m_session->writeLocked = true;
            const LONG rc = WriteLockHolder(pszwClientDescription);
            if (rc != ERROR_SUCCESS) {
                ReleaseLock();
                return HRESULT_FROM_WIN32(rc);
            }
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE ReleaseWriteLock() override
    {
        if (m_session->writeLocked) {
            ReleaseLock();
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE IsWriteLocked(LPWSTR* ppszwClientDescription) override
    {
        return Guard([&]() -> HRESULT {
            if (ppszwClientDescription != nullptr) {
                *ppszwClientDescription = nullptr;
            }
            if (!m_session->writeLocked) {
                kvx::UniqueHandle probe(::CreateMutexW(nullptr, FALSE, SIMNETCFG_LOCK_MUTEX));
                if (!probe) {
                    return HRESULT_FROM_WIN32(::GetLastError());
                }
                const DWORD wait = ::WaitForSingleObject(probe.get(), 0);
                if ((wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) && g_lockOwner.load() == nullptr) {
                    ::ReleaseMutex(probe.get());
                    return S_FALSE;
                }
                if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
                    ::ReleaseMutex(probe.get());
                }
            }
            if (ppszwClientDescription != nullptr) {
                const HRESULT hr = DupString(ReadLockHolder(), ppszwClientDescription);
                if (FAILED(hr)) {
                    return hr;
                }
            }
            return S_OK;
        });
    }

private:
    HRESULT Busy(LPWSTR* holder)
    {
        if (holder != nullptr) {
            const std::wstring name = ReadLockHolder();
            if (!name.empty()) {
                return SUCCEEDED(DupString(name, holder)) ? S_FALSE : E_OUTOFMEMORY;
            }
        }
        return S_FALSE;
    }

    void ReleaseLock()
    {
        // The holder's name goes first, so that it can never erase the name of the next holder.
        ClearLockHolder();
        g_lockOwner = nullptr;
        g_lockOwnerThread = 0;
        m_session->writeLocked = false;
        ::ReleaseMutex(m_mutex.get());
    }

    SessionPtr m_session;
    kvx::UniqueHandle m_mutex;
};

} // namespace

HRESULT CreateSimNetCfg(REFIID riid, void** ppv)
{
    return Guard([&]() -> HRESULT {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        kvx::UniqueComPtr<INetCfg> engine(static_cast<INetCfg*>(new CSimNetCfg()));
        return engine->QueryInterface(riid, ppv);
    });
}

LONG SimLiveObjects() { return g_liveObjects.load() + g_serverLocks.load(); }

void SimLockServer(bool lock)
{
    if (lock) {
        ++g_serverLocks;
    } else {
        --g_serverLocks;
    }
}

} // namespace kvxsim
