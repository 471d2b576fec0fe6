// Evidence-gathering operations of the foreman (placeholder until the task framework lands: only the
// results directory is made, directly).
#include "core/jobs/Foreman.h"

DWORD CForeman::MakeTempDirectory(const std::string& name, std::string& createdPath)
{
    KVX_FUNCTION("CForeman::MakeTempDirectory");
    char temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) {
        return ERROR_PATH_NOT_FOUND;
    }
    std::string candidate = std::string(temp) + name;
    while (!::CreateDirectoryA(candidate.c_str(), nullptr)) {
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            return ::GetLastError();
        }
        candidate += '_';
    }
    createdPath = candidate;
    return 0;
}

DWORD CForeman::MakeDirectoryTree(const std::string&) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD CForeman::ExportRegistryKey(HKEY, const std::string&, const std::string&) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD CForeman::ExecuteProgram(const std::string&, const std::string&, const std::string&, int*)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}
