// Fixture helpers shared by the Windows test programs.
#pragma once

#include <windows.h>

#include <string>

namespace kvxtest {

// Deletes a registry tree (in the given view) on construction and again on destruction, so that each
// test starts from and leaves behind a clean key.
class CScopedRegistryTree {
public:
    CScopedRegistryTree(HKEY root, std::string subKey, REGSAM view = 0);
    ~CScopedRegistryTree();
    CScopedRegistryTree(const CScopedRegistryTree&) = delete;
    CScopedRegistryTree& operator=(const CScopedRegistryTree&) = delete;

    static void Delete(HKEY root, const std::string& subKey, REGSAM view = 0);

private:
    HKEY m_root;
    std::string m_subKey;
    REGSAM m_view;
};

// A fresh directory under the temporary directory, removed with its contents on destruction.
class CScopedTempDir {
public:
    explicit CScopedTempDir(const std::string& prefix = "kvxtest");
    ~CScopedTempDir();
    CScopedTempDir(const CScopedTempDir&) = delete;
    CScopedTempDir& operator=(const CScopedTempDir&) = delete;

    const std::string& Path() const { return m_path; }

    static void RemoveTree(const std::string& path);

private:
    std::string m_path;
};

// Writes a REG_DWORD / REG_SZ value, creating the key; the 64-bit build asks for the 32-bit view where
// the vendor's keys live.
bool SetDword(HKEY root, const std::string& subKey, const std::string& name, DWORD value, REGSAM view = 0);
bool SetString(HKEY root, const std::string& subKey, const std::string& name, const std::string& value,
               REGSAM view = 0);
bool GetDword(HKEY root, const std::string& subKey, const std::string& name, DWORD& value, REGSAM view = 0);
bool GetString(HKEY root, const std::string& subKey, const std::string& name, std::string& value, REGSAM view = 0);
bool KeyExists(HKEY root, const std::string& subKey, REGSAM view = 0);
// Deletes a key that holds nothing (no values, no subkeys); a key others still use stays.
void DeleteKeyIfEmpty(HKEY root, const std::string& subKey, REGSAM view = 0);

std::string ReadFileText(const std::string& path);
bool WriteFileText(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);

// Removes every "KVXDIAG2-Results*" directory of the temporary directory (each fresh core start makes one)
// and the copies that failed packages leave there.
void RemoveResultsDirectories();

// Number of handles this process holds now.
DWORD ProcessHandleCount();

} // namespace kvxtest
