// Control program of the network configuration engine double. It runs in the bitness whose registry
// view it should register, so an installer runs the 32-bit and the 64-bit build of it.
//
//   kvxsimnetcfgctl hold HOLDER READY-EVENT STOP-EVENT [MAX-MS]
//       Takes the engine's write lock as HOLDER, as another program changing the network configuration
//       would, signals READY-EVENT and holds the lock until STOP-EVENT is signalled (or MAX-MS pass,
//       120000 by default, so that an abandoned holder cannot outlive its test run by much).
//       Exit codes: 0 held and released, 1 bad arguments, 2 COM failure, 3 lock held by someone else.
//   kvxsimnetcfgctl register [DLL-PATH]    points CLSID_CNetCfg at the double (default: beside this program)
//   kvxsimnetcfgctl unregister             gives CLSID_CNetCfg back to the prefix's own engine
//   kvxsimnetcfgctl seed                   replaces the model with a typical machine with the product
//   kvxsimnetcfgctl clear                  removes the model
//   kvxsimnetcfgctl list                   prints the components the registered engine serves, and
//                                          which module serves them (to check a registration)
#include <windows.h>
#include <objbase.h>

#include <netcfgx.h>

#include "common/win/UniqueHandles.h"
#include "tests/support/SimNetCfg.h"

#include <cstdio>
#include <cstdlib>
#include <shellapi.h>

namespace {

constexpr CLSID CLSID_HOLDLOCK_NETCFG = {0x5b035261, 0x40f9, 0x11d1, {0xaa, 0xec, 0x00, 0x80, 0x5f, 0xc1, 0x27, 0x0e}};
constexpr IID IID_HOLDLOCK_NETCFG = {0xc0e8ae93, 0x306e, 0x11d1, {0xaa, 0xcf, 0x00, 0x80, 0x5f, 0xc1, 0x27, 0x0e}};
constexpr IID IID_HOLDLOCK_LOCK = {0xc0e8ae9f, 0x306e, 0x11d1, {0xaa, 0xcf, 0x00, 0x80, 0x5f, 0xc1, 0x27, 0x0e}};

std::string Narrow(const wchar_t* text)
{
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) {
        return std::string();
    }
    std::string narrow(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], length, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(length - 1));
    return narrow;
}

int Report(const char* what, DWORD rc)
{
    if (rc != ERROR_SUCCESS) {
        fprintf(stderr, "%s failed: %lu\n", what, static_cast<unsigned long>(rc));
        return 2;
    }
    return 0;
}

int Hold(int argc, wchar_t** argv)
{
    if (argc < 5) {
        fprintf(stderr, "usage: kvxsimnetcfgctl hold HOLDER READY-EVENT STOP-EVENT [MAX-MS]\n");
        return 1;
    }
    const DWORD maxWait = argc > 5 ? static_cast<DWORD>(wcstoul(argv[5], nullptr, 10)) : 120000;
    kvx::UniqueHandle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]));
    kvx::UniqueHandle stop(::OpenEventW(SYNCHRONIZE, FALSE, argv[4]));
    if (!ready || !stop) {
        fprintf(stderr, "cannot open the events (%lu)\n", static_cast<unsigned long>(::GetLastError()));
        return 1;
    }
    kvx::UniqueComPtr<INetCfg> engine;
    HRESULT hr = ::CoCreateInstance(CLSID_HOLDLOCK_NETCFG, nullptr, CLSCTX_INPROC_SERVER, IID_HOLDLOCK_NETCFG,
                                    engine.put_void());
    if (FAILED(hr)) {
        fprintf(stderr, "CoCreateInstance failed 0x%08lx\n", static_cast<unsigned long>(hr));
        return 2;
    }
    kvx::UniqueComPtr<INetCfgLock> lock;
    hr = engine->QueryInterface(IID_HOLDLOCK_LOCK, lock.put_void());
    if (FAILED(hr)) {
        fprintf(stderr, "no INetCfgLock 0x%08lx\n", static_cast<unsigned long>(hr));
        return 2;
    }
    LPWSTR holder = nullptr;
    hr = lock->AcquireWriteLock(5000, argv[2], &holder);
    if (holder != nullptr) {
        ::CoTaskMemFree(holder);
    }
    if (hr != S_OK) {
        fprintf(stderr, "AcquireWriteLock answered 0x%08lx\n", static_cast<unsigned long>(hr));
        return FAILED(hr) ? 2 : 3;
    }
    hr = engine->Initialize(nullptr);
    if (FAILED(hr)) {
        lock->ReleaseWriteLock();
        fprintf(stderr, "Initialize failed 0x%08lx\n", static_cast<unsigned long>(hr));
        return 2;
    }
    ::SetEvent(ready.get());
    ::WaitForSingleObject(stop.get(), maxWait);
    engine->Uninitialize();
    lock->ReleaseWriteLock();
    return 0;
}

std::wstring TakeText(HRESULT hr, LPWSTR text)
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

int List()
{
    kvx::UniqueComPtr<INetCfg> engine;
    HRESULT hr = ::CoCreateInstance(CLSID_HOLDLOCK_NETCFG, nullptr, CLSCTX_INPROC_SERVER, IID_HOLDLOCK_NETCFG,
                                    engine.put_void());
    if (FAILED(hr)) {
        fprintf(stderr, "CoCreateInstance failed 0x%08lx\n", static_cast<unsigned long>(hr));
        return 2;
    }
    // The module that holds the object's code tells which engine the registration leads to.
    HMODULE server = nullptr;
    wchar_t serverPath[MAX_PATH] = {};
    if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             *reinterpret_cast<LPCWSTR*>(engine.get()), &server)) {
        ::GetModuleFileNameW(server, serverPath, MAX_PATH);
    }
    printf("server %ls\n", serverPath);
    hr = engine->Initialize(nullptr);
    if (FAILED(hr)) {
        fprintf(stderr, "Initialize failed 0x%08lx\n", static_cast<unsigned long>(hr));
        return 2;
    }
    const struct {
        const char* name;
        GUID guid;
    } classes[] = {
        {"net", {0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}}},
        {"nettrans", {0x4d36e975, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}}},
        {"netclient", {0x4d36e973, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}}},
        {"netservice", {0x4d36e974, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}}},
    };
    for (const auto& componentClass : classes) {
        kvx::UniqueComPtr<IEnumNetCfgComponent> components;
        hr = engine->EnumComponents(&componentClass.guid, components.put());
        if (hr != S_OK || !components) {
            printf("%s: EnumComponents answered 0x%08lx\n", componentClass.name, static_cast<unsigned long>(hr));
            continue;
        }
        for (;;) {
            kvx::UniqueComPtr<INetCfgComponent> component;
            ULONG fetched = 0;
            if (components->Next(1, component.put(), &fetched) != S_OK || !component) {
                break;
            }
            LPWSTR text = nullptr;
            hr = component->GetId(&text);
            const std::wstring id = TakeText(hr, text);
            text = nullptr;
            hr = component->GetDisplayName(&text);
            const std::wstring display = TakeText(hr, text);
            printf("%s %ls \"%ls\"\n", componentClass.name, id.c_str(), display.c_str());
        }
    }
    engine->Uninitialize();
    return 0;
}

int Run(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"hold") {
        return Hold(argc, argv);
    }
    if (command == L"register") {
        return Report("register", kvxtest::RegisterSimNetCfg(argc > 2 ? Narrow(argv[2]) : std::string()));
    }
    if (command == L"unregister") {
        return Report("unregister", kvxtest::UnregisterSimNetCfg());
    }
    if (command == L"list") {
        return List();
    }
    if (command == L"seed" || command == L"clear") {
        kvxtest::CSimNetCfgModel model;
        model.Keep();
        if (model.Result() != ERROR_SUCCESS) {
            return Report("resetting the model", model.Result());
        }
        return command == L"seed" ? Report("seeding the model", model.AddTypicalMachine()) : 0;
    }
    fprintf(stderr, "usage: kvxsimnetcfgctl hold|register|unregister|seed|clear|list ...\n");
    return 1;
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr) {
        return 1;
    }
    if (FAILED(::CoInitialize(nullptr))) {
        ::LocalFree(argv);
        return 2;
    }
    int rc = 2;
    try {
        rc = Run(argc, argv);
    } catch (...) {
        rc = 2;
    }
    ::CoUninitialize();
    ::LocalFree(argv);
    return rc;
}
