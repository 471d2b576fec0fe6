// Directory walk of CZipFolderPacker: FindFirstFileA/FindNextFileA order on Windows; on POSIX the
// names of each directory sorted bytewise, so that an archive made twice is the same.
#include "core/archive/ZipFolderPacker.h"

#include <algorithm>
#include <vector>

#ifdef _WIN32
#include "common/win/UniqueHandles.h"
#include <windows.h>
#else
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace {

#ifdef _WIN32
constexpr char NATIVE_SEPARATOR = '\\';
#else
constexpr char NATIVE_SEPARATOR = '/';
#endif
constexpr char ARCHIVE_SEPARATOR = '\\';

struct SDirectoryItem {
    std::string m_name;
    bool m_isDirectory = false;
};

std::string Join(const std::string& directory, const std::string& name, char separator)
{
    if (directory.empty()) {
        return name;
    }
    if (directory.back() == '/' || directory.back() == separator) {
        return directory + name;
    }
    return directory + separator + name;
}

bool IsDotOrDotDot(const std::string& name)
{
    return name == "." || name == "..";
}

} // namespace

ZRESULT CZipFolderPacker::AddDirectory(HZIPARCHIVE hZip, const std::string& baseFolder, const std::string& relativePath)
{
    return Walk(baseFolder, relativePath, [hZip](const SPackedItem& item) {
        return item.m_isDirectory ? AddFolderEntry(hZip, item.m_archiveName.c_str())
                                  : AddFileEntry(hZip, item.m_archiveName.c_str(), item.m_path.c_str());
    });
}

ZRESULT CZipFolderPacker::Walk(const std::string& baseFolder, const std::string& relativePath, const ItemVisitor& visit)
{
    std::string directory = baseFolder;
    if (!relativePath.empty()) {
        std::string nativeRelative = relativePath;
        std::replace(nativeRelative.begin(), nativeRelative.end(), ARCHIVE_SEPARATOR, NATIVE_SEPARATOR);
        directory = directory.empty() ? nativeRelative : Join(directory, nativeRelative, NATIVE_SEPARATOR);
    }
    if (directory.empty()) {
        directory = ".";
    }
    return WalkLevel(directory, relativePath, visit);
}

#ifdef _WIN32

ZRESULT CZipFolderPacker::WalkLevel(const std::string& directory, const std::string& archivePrefix,
                                    const ItemVisitor& visit)
{
    const std::string pattern = Join(directory, "*.*", NATIVE_SEPARATOR);
    WIN32_FIND_DATAA data = {};
    kvx::UniqueFindHandle find(::FindFirstFileA(pattern.c_str(), &data));
    if (!find.valid()) {
        const DWORD error = ::GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) ? KVXZIP_OK : KVXZIP_ERR_OPEN;
    }
    do {
        const std::string name = data.cFileName;
        if (IsDotOrDotDot(name)) {
            continue;
        }
        SPackedItem item;
        item.m_archiveName = Join(archivePrefix, name, ARCHIVE_SEPARATOR);
        item.m_path = Join(directory, name, NATIVE_SEPARATOR);
        item.m_isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        ZRESULT result = visit(item);
        if (result == KVXZIP_OK && item.m_isDirectory) {
            result = WalkLevel(item.m_path, item.m_archiveName, visit);
        }
        if (result != KVXZIP_OK) {
            return result;
        }
    } while (::FindNextFileA(find.get(), &data));
    return ::GetLastError() == ERROR_NO_MORE_FILES ? KVXZIP_OK : KVXZIP_ERR_READ;
}

#else // POSIX

namespace {

// Closes a directory stream on every path out of the listing.
class CDirectoryStream {
public:
    explicit CDirectoryStream(const std::string& path) : m_dir(::opendir(path.c_str())) {}
    ~CDirectoryStream()
    {
        if (m_dir != nullptr) {
            ::closedir(m_dir);
        }
    }
    CDirectoryStream(const CDirectoryStream&) = delete;
    CDirectoryStream& operator=(const CDirectoryStream&) = delete;
    DIR* Get() const { return m_dir; }

private:
    DIR* m_dir;
};

} // namespace

ZRESULT CZipFolderPacker::WalkLevel(const std::string& directory, const std::string& archivePrefix,
                                    const ItemVisitor& visit)
{
    std::vector<SDirectoryItem> items;
    {
        CDirectoryStream stream(directory);
        if (stream.Get() == nullptr) {
            return errno == ENOENT ? KVXZIP_OK : KVXZIP_ERR_OPEN;
        }
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(stream.Get());
            if (entry == nullptr) {
                if (errno != 0) {
                    return KVXZIP_ERR_READ;
                }
                break;
            }
            SDirectoryItem item;
            item.m_name = entry->d_name;
            if (IsDotOrDotDot(item.m_name)) {
                continue;
            }
            const std::string path = Join(directory, item.m_name, NATIVE_SEPARATOR);
            struct stat st = {};
            if (::lstat(path.c_str(), &st) != 0) {
                return KVXZIP_ERR_OPEN;
            }
            if (S_ISLNK(st.st_mode)) {
                // A link is packed as what it points at, except a directory: links can form cycles.
                if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
                    continue;
                }
            }
            if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
                continue; // sockets, pipes and devices have no file content to pack
            }
            item.m_isDirectory = S_ISDIR(st.st_mode);
            items.push_back(std::move(item));
        }
    }
    std::sort(items.begin(), items.end(),
              [](const SDirectoryItem& a, const SDirectoryItem& b) { return a.m_name < b.m_name; });
    for (const SDirectoryItem& entry : items) {
        SPackedItem item;
        item.m_archiveName = Join(archivePrefix, entry.m_name, ARCHIVE_SEPARATOR);
        item.m_path = Join(directory, entry.m_name, NATIVE_SEPARATOR);
        item.m_isDirectory = entry.m_isDirectory;
        ZRESULT result = visit(item);
        if (result == KVXZIP_OK && item.m_isDirectory) {
            result = WalkLevel(item.m_path, item.m_archiveName, visit);
        }
        if (result != KVXZIP_OK) {
            return result;
        }
    }
    return KVXZIP_OK;
}

#endif
