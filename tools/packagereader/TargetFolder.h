// The folder an extraction writes into, built so that it can neither escape nor be left half-made:
// everything goes into a new temporary folder beside the target, every folder and file is created
// exclusively and without following a link (openat with O_EXCL and O_NOFOLLOW; on Windows CREATE_NEW,
// a reparse-point check and "\\?\" paths), and only a complete extraction is renamed to the target.
// Until Commit succeeds, the destructor removes whatever was created.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#ifdef _WIN32
#include "common/win/UniqueHandles.h"
#endif

class CTargetFolder {
public:
    CTargetFolder() = default;
    ~CTargetFolder();
    CTargetFolder(const CTargetFolder&) = delete;
    CTargetFolder& operator=(const CTargetFolder&) = delete;

    // The target must not exist, or be an empty folder that is not a link. Creates the temporary folder.
    bool Begin(const std::string& target, std::string& problem);
    // Bytes a name below the target may take before the whole path passes the system's limit.
    size_t NameRoom() const;
    // relative: a name already judged safe ("a/b", no "." or ".."), folders made as needed.
    bool MakeFolders(const std::string& relative, std::string& problem);
    bool CreateFile(const std::string& relative, std::string& problem);
    bool Write(const uint8_t* p, size_t cb, std::string& problem);
    bool CloseFile(std::string& problem);
    // Renames the temporary folder to the target.
    bool Commit(std::string& problem);

private:
    struct SCreated {
        std::string m_relative;
        bool m_isFolder = false;
    };
    void RemoveTemporary();
    bool IsOurFolder(const std::string& relative) const;

    std::string m_target;
    std::vector<SCreated> m_created; // in creation order; removed in reverse
    std::unordered_set<std::string> m_folders;
    bool m_begun = false;
    bool m_committed = false;
    bool m_targetExists = false;     // an empty folder the rename replaces
    std::string m_currentFile;
#ifdef _WIN32
    std::wstring m_wideTarget;
    std::wstring m_wideTemporary;
    kvx::UniqueFileHandle m_file;
#else
    std::string m_leaf;              // the target's own name in m_parentFd
    std::string m_temporaryName;     // beside the target, in m_parentFd
    int m_parentFd = -1;
    int m_rootFd = -1;
    int m_fileFd = -1;
#endif
};
