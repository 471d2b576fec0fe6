#include "tests/support/TestSupport.h"

#include "common/win/UniqueHandles.h"

#include <shlwapi.h>

#include <fstream>
#include <sstream>
#include <vector>

namespace kvxtest {

CScopedRegistryTree::CScopedRegistryTree(HKEY root, std::string subKey, REGSAM view)
    : m_root(root), m_subKey(std::move(subKey)), m_view(view)
{
    Delete(m_root, m_subKey, m_view);
}

CScopedRegistryTree::~CScopedRegistryTree() { Delete(m_root, m_subKey, m_view); }

void CScopedRegistryTree::Delete(HKEY root, const std::string& subKey, REGSAM view)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, subKey.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) {
        return;
    }
    for (;;) {
        char name[256];
        DWORD length = sizeof name;
        if (::RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        Delete(root, subKey + "\\" + name, view);
    }
    ::RegCloseKey(key);
    ::RegDeleteKeyExA(root, subKey.c_str(), view, 0);
}

CScopedTempDir::CScopedTempDir(const std::string& prefix)
{
    char temp[MAX_PATH + 1] = {};
    ::GetTempPathA(sizeof temp, temp);
    for (unsigned i = 0;; ++i) {
        std::ostringstream name;
        name << temp << prefix << "-" << ::GetCurrentProcessId() << "-" << ::GetTickCount() << "-" << i;
        if (::CreateDirectoryA(name.str().c_str(), nullptr)) {
            m_path = name.str();
            return;
        }
    }
}

CScopedTempDir::~CScopedTempDir() { RemoveTree(m_path); }

void CScopedTempDir::RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            const std::string full = path + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                ::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileA(full.c_str());
            }
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryA(path.c_str());
}

bool SetDword(HKEY root, const std::string& subKey, const std::string& name, DWORD value, REGSAM view)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const LONG rc = ::RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                     sizeof value);
    ::RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool SetString(HKEY root, const std::string& subKey, const std::string& name, const std::string& value, REGSAM view)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const LONG rc = ::RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                     static_cast<DWORD>(value.size() + 1));
    ::RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool GetDword(HKEY root, const std::string& subKey, const std::string& name, DWORD& value, REGSAM view)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    const LONG rc = ::RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    ::RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_DWORD) {
        return false;
    }
    value = data;
    return true;
}

bool GetString(HKEY root, const std::string& subKey, const std::string& name, std::string& value, REGSAM view)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD size = 0;
    LONG rc = ::RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
    std::string buffer(size + 1, '\0');
    if (rc == ERROR_SUCCESS) {
        rc = ::RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]), &size);
    }
    ::RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return false;
    }
    value = buffer.c_str();
    return true;
}

bool KeyExists(HKEY root, const std::string& subKey, REGSAM view)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return false;
    }
    ::RegCloseKey(key);
    return true;
}

std::string ReadFileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool WriteFileText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

bool FileExists(const std::string& path) { return ::PathFileExistsA(path.c_str()) != FALSE; }

void RemoveResultsDirectories()
{
    char temp[MAX_PATH + 1] = {};
    ::GetTempPathA(sizeof temp, temp);
    const std::string folder = temp;
    // Besides the results directories, a package that could not be written leaves its copy (named
    // after the tick count, "_" appended on a clash) for support; tests that make one fail remove it.
    const auto isCopy = [&](const WIN32_FIND_DATAA& data) {
        const std::string name = data.cFileName;
        const size_t digits = name.find_first_not_of("0123456789");
        return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && digits != 0 &&
               (digits == std::string::npos || name.find_first_not_of('_', digits) == std::string::npos) &&
               FileExists(folder + name + "\\KVXDiagReport.txt");
    };
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    kvx::UniqueFindHandle find(::FindFirstFileA((folder + "*").c_str(), &data));
    if (!find) {
        return;
    }
    do {
        if (std::string(data.cFileName).rfind("KVXDIAG2-Results", 0) == 0 || isCopy(data)) {
            found.push_back(folder + data.cFileName);
        }
    } while (::FindNextFileA(find.get(), &data));
    find.reset();
    for (const std::string& dir : found) {
        CScopedTempDir::RemoveTree(dir);
    }
}

DWORD ProcessHandleCount()
{
    DWORD count = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &count);
    return count;
}

void DeleteKeyIfEmpty(HKEY root, const std::string& subKey, REGSAM view)
{
    kvx::UniqueHkey key;
    if (::RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) {
        return;
    }
    DWORD subKeys = 0;
    DWORD values = 0;
    if (::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                           nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        subKeys != 0 || values != 0) {
        return;
    }
    key.reset();
    ::RegDeleteKeyExA(root, subKey.c_str(), view, 0);
}

} // namespace kvxtest
