// Names are judged as both Windows and POSIX would read them: a backslash is a separator on Windows
// even though the writer never emits one, and "C:x" is drive-relative there.
#include "tools/packagereader/PackageExtractor.h"

#include "tools/packagereader/EntryReader.h"
#include "tools/packagereader/ZipReader.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <direct.h>
#else
#include <sys/stat.h>
#endif

namespace {
constexpr size_t EXTRACT_KEEP_LIMIT = 0xFFFFFFFFu;

bool MakeDirectory(const std::string& path)
{
#ifdef _WIN32
    return _mkdir(path.c_str()) == 0 || errno == EEXIST;
#else
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
#endif
}

bool MakeParents(const std::string& root, const std::string& name)
{
    for (size_t pos = name.find('/'); pos != std::string::npos; pos = name.find('/', pos + 1)) {
        if (!MakeDirectory(root + "/" + name.substr(0, pos))) {
            return false;
        }
    }
    return true;
}
} // namespace

std::string CPackageExtractor::UnsafeReason(const std::string& name)
{
    if (name.empty()) {
        return "empty name";
    }
    if (name.find('\\') != std::string::npos) {
        return "contains a backslash (a separator on Windows)";
    }
    if (name[0] == '/') {
        return "absolute path";
    }
    if (name.size() >= 2 && name[1] == ':') {
        return "drive letter";
    }
    if (name.find(':') != std::string::npos) {
        return "contains a colon (drive or alternate data stream on Windows)";
    }
    for (unsigned char c : name) {
        if (c < 0x20) {
            return "contains a control character";
        }
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) {
            end = name.size();
        }
        const std::string part = name.substr(start, end - start);
        if (part == "..") {
            return "contains \"..\"";
        }
        if (part.empty() && end != name.size()) {
            return "contains an empty path component";
        }
        start = end + 1;
    }
    return std::string();
}

bool CPackageExtractor::Extract(const uint8_t* pData, size_t cb, const std::string& password,
                                const std::string& directory, std::string& problem, size_t& files)
{
    files = 0;
    CZipReader reader;
    if (!reader.Open(pData, cb)) {
        problem = reader.FatalProblem();
        return false;
    }
    for (const SZipEntryRecord& entry : reader.Entries()) {
        const std::string why = UnsafeReason(entry.m_name);
        if (!why.empty()) {
            problem = "entry \"" + entry.m_name + "\": refused, the name would leave " + directory + " (" + why + ")";
            return false;
        }
    }
    if (!MakeDirectory(directory)) {
        problem = "cannot create the directory " + directory;
        return false;
    }
    for (const SZipEntryRecord& entry : reader.Entries()) {
        if (!MakeParents(directory, entry.m_name)) {
            problem = "cannot create the folders for " + entry.m_name + " below " + directory;
            return false;
        }
        if (entry.m_isFolder) {
            continue;
        }
        std::string content;
        const SEntryCheck check = CEntryReader::Read(pData, cb, entry, password, &content, EXTRACT_KEEP_LIMIT);
        if (!check.m_ok) {
            problem = check.m_problem + " (nothing written for it)";
            return false;
        }
        const std::string path = directory + "/" + entry.m_name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            problem = "cannot create " + path;
            return false;
        }
        const bool written = std::fwrite(content.data(), 1, content.size(), f) == content.size();
        const bool closed = std::fclose(f) == 0;
        if (!written || !closed) {
            problem = "cannot write " + path + " (disk full?)";
            return false;
        }
        ++files;
    }
    return true;
}
