// The package's list of contents: "KVXManifest.sha256" at the root of the copy that is packed, one line
// per file in the order the packer adds them, "<SHA-256>  <path with forward slashes>", so that
// `sha256sum -c` checks an extracted package. It does not list itself (its digest would have to cover
// its own text) and is packed wherever the walk of the root meets it.
//
// A file that could not be read is listed as "UNREADABLE (error <code>: <reason>)  <path>": never a
// digest that could pass for the file's, and a line that checkers report as improperly formatted.
#pragma once

#include <windows.h>

#include <string>

class CCngSha256;

class CPackageManifest {
public:
    static constexpr const char* KVX_MANIFEST_FILE_NAME = "KVXManifest.sha256";

    explicit CPackageManifest(CCngSha256& hasher) : m_hasher(hasher) {}

    // Hashes every file below the directory, in packing order. A file that cannot be read gets its
    // UNREADABLE line; only a walk that breaks off fails.
    DWORD AddDirectory(const std::string& directory);
    // A file that the copy lacks because it could not be copied; relativePath uses backslashes.
    void AddUnreadable(const std::string& relativePath, DWORD dwError);
    // Writes the lines into the directory's manifest file.
    DWORD Write(const std::string& directory) const;

    const std::string& Text() const { return m_text; }
    size_t Listed() const { return m_listed; }
    size_t Unreadable() const { return m_unreadable; }

    static std::string UnreadableLine(const std::string& relativePath, DWORD dwError);

private:
    CCngSha256& m_hasher;
    std::string m_text;
    size_t m_listed = 0;
    size_t m_unreadable = 0;
};
