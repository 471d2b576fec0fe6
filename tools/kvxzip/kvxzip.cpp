// kvxzip [-p PASSWORD] [-j THREADS] ARCHIVE FOLDER
// Packs FOLDER into ARCHIVE with the core library's archive writer: a folder entry for each
// subdirectory ahead of its contents, names relative to FOLDER, optional traditional encryption.
// -j sets the number of compressing threads (default min(processors, 4)); the archive's bytes do not
// depend on it.
#include "core/archive/BlockCompressor.h"
#include "core/archive/ZipArchive.h"
#include "core/archive/ZipFolderPacker.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: kvxzip [-p PASSWORD] [-j THREADS] ARCHIVE FOLDER\n"
                         "  -j THREADS  compressing threads, 1 to 4 (default: processors, at most 4)\n");
    return 2;
}

// The walk treats a folder it cannot list as empty; a tool should rather say that it is missing.
bool IsDirectory(const std::string& path)
{
#ifdef _WIN32
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
#else
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
#endif
}

void Report(const char* pszWhat, ZRESULT result)
{
    char text[128];
    DescribeZipResult(result, text, sizeof(text));
    std::fprintf(stderr, "kvxzip: %s: 0x%08X (%s)\n", pszWhat, static_cast<unsigned>(result), text);
}

} // namespace

int main(int argc, char** argv)
{
    std::string password;
    unsigned threads = 0;
    int arg = 1;
    while (arg < argc && argv[arg][0] == '-' && argv[arg][1] != '\0') {
        if (std::strcmp(argv[arg], "-p") == 0 && arg + 1 < argc) {
            password = argv[arg + 1];
            arg += 2;
        } else if (std::strcmp(argv[arg], "-j") == 0 && arg + 1 < argc) {
            char* end = nullptr;
            const unsigned long n = std::strtoul(argv[arg + 1], &end, 10);
            if (end == argv[arg + 1] || *end != '\0' || n < 1 || n > KVXZIP_MAX_THREADS) {
                return Usage();
            }
            threads = static_cast<unsigned>(n);
            arg += 2;
        } else if (std::strcmp(argv[arg], "--") == 0) {
            ++arg;
            break;
        } else {
            return Usage();
        }
    }
    if (argc - arg != 2) {
        return Usage();
    }
    const char* archive = argv[arg];
    const std::string folder = argv[arg + 1];
    if (!IsDirectory(folder)) {
        std::fprintf(stderr, "kvxzip: %s is not a folder\n", folder.c_str());
        return 1;
    }

    HZIPARCHIVE hZip = CreateArchive(archive, password.c_str(), nullptr, threads);
    if (hZip == nullptr) {
        Report("cannot create the archive", GetMostRecentZipResult());
        return 1;
    }
    const ZRESULT added = CZipFolderPacker::AddDirectory(hZip, folder, std::string());
    const ZRESULT closed = CloseArchive(hZip);
    if (added != KVXZIP_OK) {
        Report("cannot add the folder", added);
        return 1;
    }
    if (closed != KVXZIP_OK) {
        Report("cannot finish the archive", closed);
        return 1;
    }
    return 0;
}
