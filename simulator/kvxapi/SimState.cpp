#include "simulator/kvxapi/SimState.h"

#include "common/win/UniqueHandles.h"
#include "simulator/kvxapi/SimKeys.h"

#include <cstring>

namespace kvxsim {

namespace {

HMODULE g_module = nullptr;

kvx::UniqueHkey OpenKey(const char* subKey, bool create)
{
    kvx::UniqueHkey key;
    if (create) {
        if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0, KEY_READ | KEY_WRITE | KVXSIM_VIEW, nullptr,
                              key.put(), nullptr) != ERROR_SUCCESS) {
            key.release();
        }
    } else if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ | KVXSIM_VIEW, key.put()) != ERROR_SUCCESS) {
        key.release();
    }
    return key;
}

std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

DWORD GetDwordValue(const char* subKey, const std::string& name, DWORD defaultValue)
{
    kvx::UniqueHkey key = OpenKey(subKey, false);
    if (!key) {
        return defaultValue;
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
        return defaultValue;
    }
    return value;
}

bool SetDwordValue(const char* subKey, const std::string& name, DWORD value)
{
    kvx::UniqueHkey key = OpenKey(subKey, true);
    return key && ::RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                   sizeof(value)) == ERROR_SUCCESS;
}

std::string GetStringValue(const char* subKey, const std::string& name)
{
    kvx::UniqueHkey key = OpenKey(subKey, false);
    if (!key) {
        return std::string();
    }
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) {
        return std::string();
    }
    std::string value(size, '\0');
    if (::RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &size) !=
        ERROR_SUCCESS) {
        return std::string();
    }
    value.resize(strnlen(value.c_str(), value.size()));
    return value;
}

bool SetStringValue(const char* subKey, const std::string& name, const std::string& value)
{
    kvx::UniqueHkey key = OpenKey(subKey, true);
    return key && ::RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool IsServiceInstalled(const std::string& serviceName)
{
    std::string path = "SYSTEM\\CurrentControlSet\\Services\\" + serviceName;
    kvx::UniqueHkey key;
    return ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

DWORD InjectedFailure(const char* function)
{
    return GetDwordValue(KVXSIM_INJECT_KEY, std::string(KVXSIM_INJECT_FAIL_PREFIX) + function, 0);
}

bool ConsumeInitBusy()
{
    DWORD remaining = GetDwordValue(KVXSIM_INJECT_KEY, KVXSIM_INJECT_INIT_BUSY, 0);
    if (remaining == 0) {
        return false;
    }
    SetDwordValue(KVXSIM_INJECT_KEY, KVXSIM_INJECT_INIT_BUSY, remaining - 1);
    return true;
}

std::vector<std::string> HiddenExports()
{
    std::vector<std::string> names;
    std::string list = GetStringValue(KVXSIM_INJECT_KEY, KVXSIM_INJECT_HIDE);
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        if (end > start) {
            names.push_back(list.substr(start, end - start));
        }
        start = end + 1;
    }
    return names;
}

DWORD InjectedVersion() { return GetDwordValue(KVXSIM_INJECT_KEY, KVXSIM_INJECT_VERSION, 0); }

std::string ProductDirectory()
{
    char path[MAX_PATH * 2] = {};
    DWORD length = ::GetModuleFileNameA(g_module, path, sizeof(path));
    if (length == 0 || length >= sizeof(path)) {
        return std::string();
    }
    return DirectoryOf(path);
}

std::string JournalPath()
{
    std::string configured = GetStringValue(KVXSIM_ROOT_KEY, KVXSIM_VALUE_JOURNAL);
    if (!configured.empty()) {
        return configured;
    }
    return ProductDirectory() + KVXSIM_JOURNAL_FILE;
}

std::string NativeDriversDirectory()
{
    char path[MAX_PATH * 2] = {};
    UINT length = ::GetSystemDirectoryA(path, sizeof(path));
    if (length == 0 || length >= sizeof(path)) {
        return std::string();
    }
    return std::string(path) + "\\Drivers\\";
}

CNativeFileSystemScope::CNativeFileSystemScope()
{
    using PFN_DISABLE = BOOL(WINAPI*)(PVOID*);
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    auto disable = kernel ? reinterpret_cast<PFN_DISABLE>(
                                reinterpret_cast<void*>(::GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")))
                          : nullptr;
    BOOL wow64 = FALSE;
    if (disable && ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64) {
        m_disabled = disable(&m_oldValue) != FALSE;
    }
}

CNativeFileSystemScope::~CNativeFileSystemScope()
{
    if (!m_disabled) {
        return;
    }
    using PFN_REVERT = BOOL(WINAPI*)(PVOID);
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    auto revert = reinterpret_cast<PFN_REVERT>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
    if (revert) {
        revert(m_oldValue);
    }
}

void SetModuleHandle(HMODULE module) { g_module = module; }
HMODULE GetOwnModule() { return g_module; }

} // namespace kvxsim
