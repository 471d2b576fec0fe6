#include "core/tasks/TaskCopyMoveFileWildcards.h"

#include "common/win/UniqueHandles.h"
#include "core/report/IReporter.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskCopyMoveFileWildcards::s_dwFactoryRegistration =
    CTaskCopyMoveFileWildcards::PerformFactoryRegistration();

namespace {

constexpr DWORD KVX_ERROR_DELETE_SOURCE_FAILED = 0x20CE;

// Drive and directory of the source path, with its trailing separator: the matched names are
// appended to it.
std::string SourceDirectory(const std::string& source)
{
    const size_t separator = source.find_last_of("\\/:");
    return separator == std::string::npos ? std::string() : source.substr(0, separator + 1);
}

} // namespace

DWORD CTaskCopyMoveFileWildcards::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskCopyMoveFileWildcards::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        return kvx::CTaskConfigReader(kvxFunctionName_)
            .ReadFields(params, {kvx::CTaskField::Text(m_strSource), kvx::CTaskField::Text(m_strDestination),
                                 kvx::CTaskField::Bool(m_bDeleteSource)});
    });
}

DWORD CTaskCopyMoveFileWildcards::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskCopyMoveFileWildcards::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (m_strSource.empty()) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: El archivo origen especificado es nulo!.");
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        if (m_strDestination.empty()) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "ERROR: El archivo destino especificado es nulo!.");
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        const std::string directory = SourceDirectory(m_strSource);
        DWORD dwResult = KVXDIAG2_OK;
        bool bMatchedFile = false;

        WIN32_FIND_DATAA data = {};
        kvx::UniqueFindHandle find(::FindFirstFileA(m_strSource.c_str(), &data));
        if (find) {
            do {
                // Matching directories (".", "..", subdirectories under "*") are not files to copy; a
                // copy of one would only fail.
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    continue;
                }
                bMatchedFile = true;
                const std::string sourceFile = directory + data.cFileName;
                const std::string target = m_strDestination + data.cFileName;
                if (!::CopyFileA(sourceFile.c_str(), target.c_str(), FALSE)) {
                    KVX_LOG(eKVXDiagLog_ERROR, "ERROR: No se pudo copiar %s en %s 0x%08lx", sourceFile.c_str(),
                            target.c_str(), ::GetLastError());
                    dwResult = ERROR_CANNOT_COPY;
                    continue;
                }
                if (m_bDeleteSource && !::DeleteFileA(sourceFile.c_str())) {
                    KVX_LOG(eKVXDiagLog_ERROR, "ERROR: No se pudo borrar %s 0x%08lx", sourceFile.c_str(),
                            ::GetLastError());
                    dwResult = KVX_ERROR_DELETE_SOURCE_FAILED;
                }
            } while (::FindNextFileA(find.get(), &data));
        }
        if (!bMatchedFile) {
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR: No existe archivo origen: %s.", m_strSource.c_str());
            dwResult = ERROR_FILE_NOT_FOUND;
        }
        if (pReporter != nullptr) {
            const char* pszFlag = m_bDeleteSource ? "True" : "False";
            if (dwResult != KVXDIAG2_OK) {
                pReporter->Report("Failed to copy file from %s to %s. Delete source flag: %s", m_strSource.c_str(),
                                  m_strDestination.c_str(), pszFlag);
            } else {
                pReporter->Report("File copied from %s to %s. Source file deleted: %s.", m_strSource.c_str(),
                                  m_strDestination.c_str(), pszFlag);
            }
        }
        return dwResult;
    });
}
