#include "tests/journal/RegistryImage.h"

#include "tests/support/TestSupport.h"

#include "common/win/UniqueHandles.h"

namespace kvxtest {

namespace {

bool ReadValue(HKEY key, DWORD index, std::string& name, DWORD& type, std::vector<BYTE>& data)
{
    DWORD maxName = 0;
    DWORD maxData = 0;
    if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                           nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    name.assign(maxName + 1, '\0');
    data.assign(maxData + 1, 0);
    DWORD nameLength = maxName + 1;
    DWORD dataLength = maxData + 1;
    if (::RegEnumValueA(key, index, &name[0], &nameLength, nullptr, &type, data.data(), &dataLength) != ERROR_SUCCESS) {
        return false;
    }
    name.resize(nameLength);
    data.resize(dataLength);
    return true;
}

} // namespace

void CRegistryImage::AddTree(HKEY root, const std::string& subKey, REGSAM view)
{
    m_trees.push_back(STree{root, subKey, view, false, {}});
}

void CRegistryImage::AddValue(HKEY root, const std::string& subKey, const std::string& name, REGSAM view)
{
    m_values.push_back(SSingle{root, subKey, name, view, false, {}});
}

void CRegistryImage::CaptureKey(HKEY key, const std::string& path, std::vector<SKey>& keys)
{
    SKey captured;
    captured.path = path;
    SValue value;
    for (DWORD index = 0; ReadValue(key, index, value.name, value.type, value.data); ++index) {
        captured.values.push_back(value);
    }
    keys.push_back(captured);
    for (DWORD index = 0;; ++index) {
        char name[256] = {};
        DWORD length = sizeof name;
        if (::RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        kvx::UniqueHkey child;
        if (::RegOpenKeyExA(key, name, 0, KEY_READ, child.put()) == ERROR_SUCCESS) {
            CaptureKey(child.get(), path.empty() ? name : path + "\\" + name, keys);
        }
    }
}

void CRegistryImage::Capture()
{
    for (STree& tree : m_trees) {
        tree.keys.clear();
        kvx::UniqueHkey key;
        tree.exists =
            ::RegOpenKeyExA(tree.root, tree.subKey.c_str(), 0, KEY_READ | tree.view, key.put()) == ERROR_SUCCESS;
        if (tree.exists) {
            CaptureKey(key.get(), std::string(), tree.keys);
        }
    }
    for (SSingle& single : m_values) {
        kvx::UniqueHkey key;
        single.exists = false;
        if (::RegOpenKeyExA(single.root, single.subKey.c_str(), 0, KEY_READ | single.view, key.put()) !=
            ERROR_SUCCESS) {
            continue;
        }
        DWORD size = 0;
        if (::RegQueryValueExA(key.get(), single.name.c_str(), nullptr, &single.value.type, nullptr, &size) !=
            ERROR_SUCCESS) {
            continue;
        }
        single.value.data.assign(size, 0);
        single.exists = ::RegQueryValueExA(key.get(), single.name.c_str(), nullptr, &single.value.type,
                                           single.value.data.data(), &size) == ERROR_SUCCESS;
        single.value.data.resize(size);
    }
}

bool CRegistryImage::Restore() const
{
    bool ok = true;
    for (const STree& tree : m_trees) {
        CScopedRegistryTree::Delete(tree.root, tree.subKey, tree.view);
        for (const SKey& captured : tree.keys) {
            const std::string path = captured.path.empty() ? tree.subKey : tree.subKey + "\\" + captured.path;
            kvx::UniqueHkey key;
            if (::RegCreateKeyExA(tree.root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | tree.view, nullptr,
                                  key.put(), nullptr) != ERROR_SUCCESS) {
                ok = false;
                continue;
            }
            for (const SValue& value : captured.values) {
                ok = ::RegSetValueExA(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                                      static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS &&
                     ok;
            }
        }
    }
    for (const SSingle& single : m_values) {
        kvx::UniqueHkey key;
        if (::RegCreateKeyExA(single.root, single.subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | single.view, nullptr,
                              key.put(), nullptr) != ERROR_SUCCESS) {
            ok = false;
            continue;
        }
        if (single.exists) {
            ok = ::RegSetValueExA(key.get(), single.name.c_str(), 0, single.value.type, single.value.data.data(),
                                  static_cast<DWORD>(single.value.data.size())) == ERROR_SUCCESS &&
                 ok;
        } else {
            const LONG rc = ::RegDeleteValueA(key.get(), single.name.c_str());
            ok = (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) && ok;
        }
    }
    return ok;
}

} // namespace kvxtest
