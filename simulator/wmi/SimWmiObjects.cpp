// The Security Center double's objects: a locator that connects to root\SecurityCenter2 only, its
// services, which answer "SELECT * FROM" the two product classes, a forward-only enumerator and the
// product instances. The products are those of a machine with a third-party suite installed: Windows
// Defender stands aside (registered but off), the suite's antivirus and firewall are on.
#include "simulator/wmi/SimWmiObjects.h"

#include <oleauto.h>
#include <wbemcli.h>

#include <cwchar>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace kvxsim {
namespace {

LONG g_live = 0;

struct SSimProduct {
    const wchar_t* className;
    const wchar_t* displayName;
    const wchar_t* instanceGuid;
    const wchar_t* pathToSignedProductExe;
    const wchar_t* pathToSignedReportingExe;
    DWORD productState;
    const wchar_t* timestamp;
};

// productState as the Security Center keeps it: 0x60100 registered but off, signatures up to date;
// 0x41000 on and up to date; 0x41010 a firewall that is on (it has no signatures, the bits are
// the vendor's).
const SSimProduct PRODUCTS[] = {
    {L"AntiVirusProduct", L"Windows Defender", L"{D68DDC3A-831F-4fae-9E44-DA132C1ACF46}", L"windowsdefender://",
     L"%ProgramFiles%\\Windows Defender\\MsMpeng.exe", 0x60100, L"Mon, 07 Dec 2026 08:14:31 GMT"},
    {L"AntiVirusProduct", L"Orvex HostGuard", L"{67429BEC-1530-45F1-B359-D8E902123712}",
     L"C:\\Program Files (x86)\\Orvex Software\\Orvex HostGuard\\HOSTGUARD.exe",
     L"C:\\Program Files (x86)\\Orvex Software\\Orvex HostGuard\\HGREPORT.exe", 0x41000,
     L"Tue, 08 Dec 2026 19:42:07 GMT"},
    {L"FirewallProduct", L"Orvex HostGuard Firewall", L"{81DF736F-C973-46A9-A711-FFDF7777DBEE}",
     L"C:\\Program Files (x86)\\Orvex Software\\Orvex HostGuard\\HOSTGUARD.exe",
     L"C:\\Program Files (x86)\\Orvex Software\\Orvex HostGuard\\HGREPORT.exe", 0x41010,
     L"Tue, 08 Dec 2026 19:42:07 GMT"},
};

bool SameText(const wchar_t* a, const wchar_t* b) { return a != nullptr && b != nullptr && _wcsicmp(a, b) == 0; }

// Reference counting and the live-object count that DllCanUnloadNow answers from.
template <class I>
class CSimUnknown : public I {
public:
    CSimUnknown() { ::InterlockedIncrement(&g_live); }
    virtual ~CSimUnknown() { ::InterlockedDecrement(&g_live); }
    CSimUnknown(const CSimUnknown&) = delete;
    CSimUnknown& operator=(const CSimUnknown&) = delete;

    // Only the one interface: the callers' CoSetProxyBlanket finds no IClientSecurity here, as on any
    // object that is not a proxy.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(I))) {
            *ppv = static_cast<I*>(this);
            this->AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = ::InterlockedDecrement(&m_refs);
        if (refs == 0) {
            delete this;
        }
        return static_cast<ULONG>(refs);
    }

private:
    LONG m_refs = 1;
};

// Hands a new object (reference count 1) to the caller as the requested interface.
template <class T>
HRESULT Answer(T* object, REFIID riid, void** ppv)
{
    if (object == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

HRESULT SetText(VARIANT* value, const wchar_t* text)
{
    ::VariantInit(value);
    value->bstrVal = ::SysAllocString(text);
    if (value->bstrVal == nullptr) {
        return WBEM_E_OUT_OF_MEMORY;
    }
    value->vt = VT_BSTR;
    return WBEM_S_NO_ERROR;
}

class CSimProduct final : public CSimUnknown<IWbemClassObject> {
public:
    explicit CSimProduct(const SSimProduct& product) : m_product(product) {}

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE* type, LONG* flavor) override
    {
        if (name == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        const struct {
            const wchar_t* name;
            const wchar_t* text;
        } texts[] = {
            {L"__CLASS", m_product.className},
            {L"displayName", m_product.displayName},
            {L"instanceGuid", m_product.instanceGuid},
            {L"pathToSignedProductExe", m_product.pathToSignedProductExe},
            {L"pathToSignedReportingExe", m_product.pathToSignedReportingExe},
            {L"timestamp", m_product.timestamp},
        };
        for (const auto& property : texts) {
            if (SameText(name, property.name)) {
                if (type != nullptr) {
                    *type = CIM_STRING;
                }
                if (flavor != nullptr) {
                    *flavor = name[0] == L'_' ? WBEM_FLAVOR_ORIGIN_SYSTEM : WBEM_FLAVOR_ORIGIN_LOCAL;
                }
                return value != nullptr ? SetText(value, property.text) : static_cast<HRESULT>(WBEM_S_NO_ERROR);
            }
        }
        if (!SameText(name, L"productState")) {
            return WBEM_E_NOT_FOUND;
        }
        if (type != nullptr) {
            *type = CIM_UINT32;
        }
        if (flavor != nullptr) {
            *flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
        }
        if (value != nullptr) {
            // WMI hands a uint32 over as VT_I4.
            ::VariantInit(value);
            value->vt = VT_I4;
            value->lVal = static_cast<LONG>(m_product.productState);
        }
        return WBEM_S_NO_ERROR;
    }

    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }

private:
    const SSimProduct& m_product;
};

// Forward only, as the callers ask for: what it has handed out is gone.
class CSimProductEnum final : public CSimUnknown<IEnumWbemClassObject> {
public:
    explicit CSimProductEnum(std::vector<const SSimProduct*> products) : m_products(std::move(products)) {}

    HRESULT STDMETHODCALLTYPE Next(LONG, ULONG count, IWbemClassObject** objects, ULONG* returned) override
    {
        if (objects == nullptr || returned == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        *returned = 0;
        // Tests make the enumeration fail or time out through the environment (KVX_SIMWMI_NEXT).
        wchar_t mode[16] = {};
        ::GetEnvironmentVariableW(L"KVX_SIMWMI_NEXT", mode, 16);
        if (SameText(mode, L"timeout")) {
            return WBEM_S_TIMEDOUT;
        }
        if (SameText(mode, L"fail")) {
            return WBEM_E_FAILED;
        }
        while (*returned < count && m_next < m_products.size()) {
            objects[*returned] = new (std::nothrow) CSimProduct(*m_products[m_next]);
            if (objects[*returned] == nullptr) {
                return WBEM_E_OUT_OF_MEMORY;
            }
            ++*returned;
            ++m_next;
        }
        return *returned == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Reset() override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override { return WBEM_E_NOT_SUPPORTED; }

private:
    std::vector<const SSimProduct*> m_products;
    size_t m_next = 0;
};

class CSimServices final : public CSimUnknown<IWbemServices> {
public:
    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG, IWbemContext*,
                                        IEnumWbemClassObject** results) override
    {
        if (results == nullptr || query == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        *results = nullptr;
        if (!SameText(language, L"WQL")) {
            return WBEM_E_INVALID_QUERY_TYPE;
        }
        // "SELECT * FROM <class>" and nothing more.
        std::wistringstream words(query);
        std::wstring select, columns, from, className, rest;
        words >> select >> columns >> from >> className;
        if (!SameText(select.c_str(), L"SELECT") || columns != L"*" || !SameText(from.c_str(), L"FROM") ||
            className.empty()) {
            return WBEM_E_INVALID_QUERY;
        }
        if (words >> rest) {
            return WBEM_E_NOT_SUPPORTED;
        }
        std::vector<const SSimProduct*> matches;
        bool known = false;
        for (const SSimProduct& product : PRODUCTS) {
            if (SameText(product.className, className.c_str())) {
                known = true;
                matches.push_back(&product);
            }
        }
        if (!known) {
            return WBEM_E_INVALID_CLASS;
        }
        return Answer(new (std::nothrow) CSimProductEnum(std::move(matches)), IID_IEnumWbemClassObject,
                      reinterpret_cast<void**>(results));
    }

    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                            IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**,
                                        IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                    IEnumWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                         IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                         IWbemClassObject**, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                              IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
};

class CSimLocator final : public CSimUnknown<IWbemLocator> {
public:
    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR, const BSTR, const BSTR, LONG,
                                            const BSTR, IWbemContext*, IWbemServices** services) override
    {
        if (services == nullptr || resource == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        *services = nullptr;
        // The local machine may be named in front of the namespace.
        const wchar_t* space = resource;
        if (wcsncmp(space, L"\\\\.\\", 4) == 0 || wcsncmp(space, L"//./", 4) == 0) {
            space += 4;
        }
        if (!SameText(space, L"root\\SecurityCenter2")) {
            return WBEM_E_INVALID_NAMESPACE;
        }
        return Answer(new (std::nothrow) CSimServices(), IID_IWbemServices, reinterpret_cast<void**>(services));
    }
};

} // namespace

HRESULT CreateSimWmiLocator(REFIID riid, void** ppv)
{
    return Answer(new (std::nothrow) CSimLocator(), riid, ppv);
}

LONG SimWmiLiveObjects() { return g_live; }

void SimWmiLockServer(bool lock)
{
    if (lock) {
        ::InterlockedIncrement(&g_live);
    } else {
        ::InterlockedDecrement(&g_live);
    }
}

} // namespace kvxsim
