// A copy of some registry trees and single values, taken at one moment and written back exactly (keys
// and values the copy does not hold are removed), so that every run of a scenario can start from the
// machine as one boot of the uninterrupted run left it, without running the boots before it again.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kvxtest {

class CRegistryImage {
public:
    void AddTree(HKEY root, const std::string& subKey, REGSAM view);
    void AddValue(HKEY root, const std::string& subKey, const std::string& name, REGSAM view);

    // Reads everything added; what does not exist is remembered as absent.
    void Capture();
    // Writes the captured state back. Answers false when a key or value could not be written.
    bool Restore() const;

private:
    struct SValue {
        std::string name;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    struct SKey {
        std::string path; // below the tree's key, "" for the key itself
        std::vector<SValue> values;
    };
    struct STree {
        HKEY root;
        std::string subKey;
        REGSAM view;
        bool exists = false;
        std::vector<SKey> keys; // parents before children
    };
    struct SSingle {
        HKEY root;
        std::string subKey;
        std::string name;
        REGSAM view;
        bool exists = false;
        SValue value;
    };

    static void CaptureKey(HKEY key, const std::string& path, std::vector<SKey>& keys);

    std::vector<STree> m_trees;
    std::vector<SSingle> m_values;
};

} // namespace kvxtest
