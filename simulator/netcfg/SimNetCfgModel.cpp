// Registry persistence of the engine double's model.
#include "simulator/netcfg/SimNetCfgModel.h"

#include "common/win/UniqueHandles.h"
#include "simulator/netcfg/SimNetCfgLayout.h"

#include <objbase.h>

#include <algorithm>

namespace kvxsim {
namespace {

LONG OpenKey(HKEY parent, const std::wstring& path, REGSAM access, kvx::UniqueHkey& key)
{
    return ::RegOpenKeyExW(parent, path.c_str(), 0, access | SIMNETCFG_VIEW, key.put());
}

std::optional<std::wstring> ReadString(HKEY key, const wchar_t* name)
{
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&text[0]), &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    // The stored size may or may not include the terminator; the text ends at the first zero.
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

std::optional<DWORD> ReadDword(HKEY key, const wchar_t* name)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<HRESULT> ReadHresult(HKEY key, const wchar_t* name)
{
    const std::optional<DWORD> value = ReadDword(key, name);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<HRESULT>(*value);
}

GUID ReadGuid(HKEY key, const wchar_t* name)
{
    GUID guid = {};
    const std::optional<std::wstring> text = ReadString(key, name);
    if (text) {
        ::CLSIDFromString(text->c_str(), &guid);
    }
    return guid;
}

// Subkeys in name order: the order keys give the model its enumeration order on every host.
std::vector<std::wstring> SubkeyNames(HKEY key)
{
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = ARRAYSIZE(name);
        const LONG rc = ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc == ERROR_SUCCESS) {
            names.emplace_back(name, length);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void LoadInterfaces(HKEY pathKey, SSimPath& path)
{
    kvx::UniqueHkey list;
    if (OpenKey(pathKey, L"Interfaces", KEY_READ, list) != ERROR_SUCCESS) {
        return;
    }
    for (const std::wstring& name : SubkeyNames(list.get())) {
        kvx::UniqueHkey item;
        if (OpenKey(list.get(), name, KEY_READ, item) != ERROR_SUCCESS) {
            continue;
        }
        SSimInterface bindingInterface;
        bindingInterface.name = ReadString(item.get(), L"Name").value_or(L"");
        bindingInterface.upperId = ReadString(item.get(), L"Upper").value_or(L"");
        bindingInterface.lowerId = ReadString(item.get(), L"Lower").value_or(L"");
        path.interfaces.push_back(std::move(bindingInterface));
    }
}

void LoadPaths(HKEY componentKey, SSimComponent& component)
{
    kvx::UniqueHkey list;
    if (OpenKey(componentKey, L"BindingPaths", KEY_READ, list) != ERROR_SUCCESS) {
        return;
    }
    for (const std::wstring& name : SubkeyNames(list.get())) {
        kvx::UniqueHkey item;
        if (OpenKey(list.get(), name, KEY_READ, item) != ERROR_SUCCESS) {
            continue;
        }
        SSimPath path;
        path.key = name;
        path.token = ReadString(item.get(), L"Token").value_or(L"");
        path.enabled = ReadDword(item.get(), L"Enabled").value_or(1) != 0;
        path.direction = ReadDword(item.get(), L"Direction").value_or(1);
        path.depth = ReadDword(item.get(), L"Depth");
        path.enableResult = ReadHresult(item.get(), L"EnableResult");
        LoadInterfaces(item.get(), path);
        component.paths.push_back(std::move(path));
    }
}

} // namespace

LONG LoadSimModel(SSimModel& model)
{
    model = SSimModel();
    kvx::UniqueHkey root;
    LONG rc = OpenKey(HKEY_LOCAL_MACHINE, SIMNETCFG_ROOT_W, KEY_READ, root);
    if (rc == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    model.applyResult = ReadHresult(root.get(), L"ApplyResult");
    model.findComponentResult = ReadHresult(root.get(), L"FindComponentResult");
    model.initializeResult = ReadHresult(root.get(), L"InitializeResult");

    kvx::UniqueHkey list;
    rc = OpenKey(root.get(), L"Components", KEY_READ, list);
    if (rc == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    for (const std::wstring& name : SubkeyNames(list.get())) {
        kvx::UniqueHkey item;
        if (OpenKey(list.get(), name, KEY_READ, item) != ERROR_SUCCESS) {
            continue;
        }
        SSimComponent component;
        component.key = name;
        component.classGuid = ReadGuid(item.get(), L"ClassGuid");
        component.instanceGuid = ReadGuid(item.get(), L"InstanceGuid");
        component.id = ReadString(item.get(), L"Id");
        component.bindName = ReadString(item.get(), L"BindName");
        component.displayName = ReadString(item.get(), L"DisplayName");
        component.pnpDevNodeId = ReadString(item.get(), L"PnpDevNodeId");
        component.helpText = ReadString(item.get(), L"HelpText");
        component.characteristics = ReadDword(item.get(), L"Characteristics").value_or(0);
        component.deviceStatus = ReadDword(item.get(), L"DeviceStatus").value_or(0);
        component.enumBindingPathsResult = ReadHresult(item.get(), L"EnumBindingPathsResult");
        component.pathEnumErrorAfter = ReadDword(item.get(), L"PathEnumErrorAfter");
        component.pathEnumError = ReadHresult(item.get(), L"PathEnumError").value_or(E_FAIL);
        LoadPaths(item.get(), component);
        model.components.push_back(std::move(component));
    }
    return ERROR_SUCCESS;
}

LONG CommitSimModel(SSimModel& model)
{
    kvx::UniqueHkey root;
    LONG rc = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, SIMNETCFG_ROOT_W, 0, nullptr, 0,
                                KEY_READ | KEY_WRITE | SIMNETCFG_VIEW, nullptr, root.put(), nullptr);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    for (SSimComponent& component : model.components) {
        for (SSimPath& path : component.paths) {
            if (!path.dirty) {
                continue;
            }
            const std::wstring pathKey = L"Components\\" + component.key + L"\\BindingPaths\\" + path.key;
            kvx::UniqueHkey key;
            rc = OpenKey(root.get(), pathKey, KEY_SET_VALUE, key);
            if (rc != ERROR_SUCCESS) {
                return rc;
            }
            const DWORD enabled = path.enabled ? 1 : 0;
            rc = ::RegSetValueExW(key.get(), L"Enabled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enabled),
                                  sizeof(enabled));
            if (rc != ERROR_SUCCESS) {
                return rc;
            }
            path.dirty = false;
        }
    }
    const DWORD count = ReadDword(root.get(), L"ApplyCount").value_or(0) + 1;
    return ::RegSetValueExW(root.get(), L"ApplyCount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                            sizeof(count));
}

std::wstring ReadLockHolder()
{
    kvx::UniqueHkey root;
    if (OpenKey(HKEY_LOCAL_MACHINE, SIMNETCFG_ROOT_W, KEY_READ, root) != ERROR_SUCCESS) {
        return std::wstring();
    }
    return ReadString(root.get(), L"LockHolder").value_or(L"");
}

LONG WriteLockHolder(const wchar_t* holder)
{
    kvx::UniqueHkey root;
    const LONG rc = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, SIMNETCFG_ROOT_W, 0, nullptr, 0,
                                      KEY_SET_VALUE | SIMNETCFG_VIEW, nullptr, root.put(), nullptr);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    const std::wstring text = holder != nullptr ? holder : L"";
    return ::RegSetValueExW(root.get(), L"LockHolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void ClearLockHolder()
{
    kvx::UniqueHkey root;
    if (OpenKey(HKEY_LOCAL_MACHINE, SIMNETCFG_ROOT_W, KEY_SET_VALUE, root) == ERROR_SUCCESS) {
        ::RegDeleteValueW(root.get(), L"LockHolder");
    }
}

SSimComponent* FindSimComponent(SSimModel& model, const wchar_t* id)
{
    if (id == nullptr) {
        return nullptr;
    }
    for (SSimComponent& component : model.components) {
        if (component.id && _wcsicmp(component.id->c_str(), id) == 0) {
            return &component;
        }
    }
    return nullptr;
}

} // namespace kvxsim
