// Loads KVXDiagCore.dll the way the wizard does, initialises it and prints what it found: whether a
// deep analysis is pending, at which step, and the results directory the core is using.
#include "common/win/ProcAddress.h"
#include "core/interface/KVXDiagTypes.h"

#include <cstdio>
#include <string>

namespace {

std::string LatestResultsDirectory()
{
    char temp[MAX_PATH + 1] = {};
    ::GetTempPathA(sizeof temp, temp);
    std::string best;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((std::string(temp) + "KVXDIAG2-Results*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return best;
    }
    FILETIME newest = {};
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && ::CompareFileTime(&data.ftCreationTime, &newest) >= 0) {
            newest = data.ftCreationTime;
            best = std::string(temp) + data.cFileName;
        }
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    return best;
}

} // namespace

int main()
{
    HMODULE core = ::LoadLibraryA("KVXDiagCore.dll");
    if (core == nullptr) {
        std::printf("KVXDiagCore.dll could not be loaded: error %lu\n", static_cast<unsigned long>(::GetLastError()));
        return 1;
    }
    auto init = kvx::GetProc<PFN_KVXDIAG2_INIT>(core, "_0003_");
    auto finish = kvx::GetProc<PFN_KVXDIAG2_FINISH>(core, "_0001_");
    if (init == nullptr || finish == nullptr) {
        std::printf("KVXDiagCore.dll lacks its exports\n");
        ::FreeLibrary(core);
        return 1;
    }
    int pending = -1;
    int step = -1;
    const DWORD rc = init(&pending, &step);
    std::printf("_0003_ returned %lu\n", static_cast<unsigned long>(rc));
    std::printf("pending deep analysis: %s\n", pending == 1 ? "yes" : "no");
    std::printf("step: %d\n", step);
    std::printf("results directory: %s\n", LatestResultsDirectory().c_str());
    std::printf("_0001_ returned %lu\n", static_cast<unsigned long>(finish()));
    ::FreeLibrary(core);
    return rc == 0 ? 0 : 2;
}
