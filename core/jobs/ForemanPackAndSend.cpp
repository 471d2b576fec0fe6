// Pack and send: the results directory is copied first, so that files the product still holds open are
// packed from a stable copy, and the copy is compressed with the package password into the file the
// user chose. The package lists its files' SHA-256 digests in a manifest, hashed while they are packed;
// its own digest goes to the diagnostic log as it is written, and then the copy is removed (a failed
// run keeps it, with its manifest, and the failure names it). The results directory itself is never
// changed, so it can be packed again.
#include "core/jobs/Foreman.h"

#include "common/win/UniqueHandles.h"
#include "core/archive/ZipFolderPacker.h"
#include "core/helpers/PackageManifest.h"
#include "core/jobs/PackageCleaning.h"
#include "core/jobs/ScopedTask.h"
#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskIds.h"

#include <string>
#include <utility>
#include <vector>

namespace {

// Support opens every package with this one password; it only keeps the evidence away from casual eyes
// on the way, which is all the traditional ZIP encryption can do anyway.
constexpr const char* KVXDIAG2_PACKAGE_PASSWORD = "tarsk-708";

// The parent directories of a file below root, for a file the clone did not get to.
void MakeParents(const std::string& root, const std::string& relativePath)
{
    for (size_t slash = relativePath.find('\\'); slash != std::string::npos;
         slash = relativePath.find('\\', slash + 1)) {
        ::CreateDirectoryA((root + "\\" + relativePath.substr(0, slash)).c_str(), nullptr);
    }
}

// The clone stops at the first file it cannot copy (one the product holds without sharing, say), and
// every file after it would be missing from the package. Each file it left out is copied here; those
// that still cannot be copied are returned with the reason.
std::vector<std::pair<std::string, DWORD>> CompleteCopy(const std::string& resultsDirectory,
                                                        const std::string& copyDirectory)
{
    KVX_FUNCTION_QUIET("CForeman::PackAndSendResults");
    std::vector<std::pair<std::string, DWORD>> failed;
    CZipFolderPacker::Walk(resultsDirectory, std::string(), [&](const SPackedItem& item) {
        if (item.m_isDirectory) {
            return KVXZIP_OK;
        }
        const std::string target = copyDirectory + "\\" + item.m_archiveName;
        if (::GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return KVXZIP_OK;
        }
        MakeParents(copyDirectory, item.m_archiveName);
        if (!::CopyFileA(item.m_path.c_str(), target.c_str(), TRUE)) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "No se pudo copiar %s para el paquete 0x%08lx", item.m_path.c_str(), dwError);
            failed.emplace_back(item.m_archiveName, dwError);
        }
        return KVXZIP_OK;
    });
    return failed;
}

// The manifest of a package: its files are hashed while they are packed (see CPackageManifest); the
// files the copy lacks are named after them. Without the system's SHA-256 the package goes without.
bool StartManifest(CPackageManifest& manifest, const std::vector<std::pair<std::string, DWORD>>& notCopied)
{
    KVX_FUNCTION_QUIET("CForeman::PackAndSendResults");
    const DWORD dwResult = manifest.Start();
    if (dwResult != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "ERROR! No está disponible SHA-256 del sistema, el paquete irá sin manifiesto 0x%08lx",
                dwResult);
        return false;
    }
    for (const auto& file : notCopied) {
        manifest.AddUnreadable(file.first, file.second);
    }
    return true;
}

// A package that could not be written leaves its copy for support to pack by other means; the copy
// gets its manifest all the same, as it would have been packed.
void WriteManifestOfCopy(const std::string& copyDirectory,
                         const std::vector<std::pair<std::string, DWORD>>& notCopied)
{
    KVX_FUNCTION("CForeman::WriteManifest");
    CPackageManifest manifest;
    if (!StartManifest(manifest, notCopied)) {
        return;
    }
    const DWORD dwResult = manifest.AddDirectory(copyDirectory);
    if (dwResult != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "ERROR! No fue posible escribir el manifiesto en %s 0x%08lx", copyDirectory.c_str(),
                dwResult);
        return;
    }
    manifest.Write(copyDirectory);
}

// Depth first; read-only copies are made writable first. A reparse point is removed as the link it is,
// never followed.
bool RemoveTree(const std::string& directory)
{
    WIN32_FIND_DATAA data = {};
    kvx::UniqueFindHandle find(::FindFirstFileA((directory + "\\*").c_str(), &data));
    if (find) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            const std::string path = directory + "\\" + name;
            const bool isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
                ::SetFileAttributesA(path.c_str(), data.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
            }
            if (isDirectory && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                RemoveTree(path);
            } else if (isDirectory) {
                ::RemoveDirectoryA(path.c_str());
            } else {
                ::DeleteFileA(path.c_str());
            }
        } while (::FindNextFileA(find.get(), &data));
    }
    find.reset();
    return ::RemoveDirectoryA(directory.c_str()) != 0;
}

// The package is written (the helper that wrote it logged its digest): the copy, a second copy of the
// SYSTEM hive and every log, has served its purpose.
void RemoveCopyDirectory(const std::string& copyDirectory)
{
    KVX_FUNCTION("CForeman::RemoveCopyDirectory");
    if (!RemoveTree(copyDirectory)) {
        KVX_LOG(eKVXDiagLog_ERROR, "ERROR! No fue posible borrar el directorio de copia %s 0x%08lx",
                copyDirectory.c_str(), ::GetLastError());
    }
}

} // namespace

DWORD CForeman::CloneResultsDirectory(const std::string& copyDirectory)
{
    KVX_FUNCTION_QUIET("CForeman::PackAndSendResults");
    kvx::UniqueTask task = kvx::MakeTask(KVXDIAG2_TASKID_CLONE_DIRECTORY);
    if (!task) {
        KVX_LOG(eKVXDiagLog_SYSTEM, "ERROR! No se ha podido crear tarea id 0x%lX (KVXDIAG2_TASKID_CLONE_DIRECTORY).",
                static_cast<unsigned long>(KVXDIAG2_TASKID_CLONE_DIRECTORY));
        return KVXDIAG2_ERR_CREATE_FAILED;
    }
    KVX_LOG(eKVXDiagLog_INFO, "Se establece el primer parámetro: El path del directorio que se quiere clonar %s.",
            m_strResultsDirectory.c_str());
    CTaskDataString source(m_strResultsDirectory);
    KVX_LOG(eKVXDiagLog_INFO, "Se establece el segundo parámetro: El path completo al directorio de destino %s.",
            copyDirectory.c_str());
    CTaskDataString destination(copyDirectory);
    const DWORD dwConfig = task->SetConfig({&source, &destination});
    if (dwConfig != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR,
                "Error! No se pudieron establecer los parámetros necesarios para el Task. Error devuelto: 0x%lX.",
                static_cast<unsigned long>(dwConfig));
        return KVXDIAG2_OK;
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Configuración establecida con éxito en el task. Se procede a su ejecución.");
    // A partial copy is still worth packing: whatever was copied goes to support.
    if (task->Execute(m_pReporter) != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "La operación no tuvo éxito. No pudo clonarse el directorio %s en %s.",
                m_strResultsDirectory.c_str(), copyDirectory.c_str());
    } else {
        KVX_LOG(eKVXDiagLog_INFO, "La operación tuvo éxito. El directorio fue clonado en la ruta indicada: %s.",
                copyDirectory.c_str());
    }
    return KVXDIAG2_OK;
}

DWORD CForeman::CompressResults(const std::string& copyDirectory, const std::string& destination)
{
    KVX_FUNCTION_QUIET("CForeman::PackAndSendResults");
    kvx::UniqueTask task = kvx::MakeTask(KVXDIAG2_TASKID_COMPRESS_FOLDER);
    if (!task) {
        KVX_LOG(eKVXDiagLog_SYSTEM, "ERROR! No se ha podido crear tarea id 0x%lX (KVXDIAG2_TASKID_COMPRESS_FOLDER).",
                static_cast<unsigned long>(KVXDIAG2_TASKID_COMPRESS_FOLDER));
        NotifyValue(eKVXDIAG2Notify_PACKANDSEND_CANCEL, "ERROR: Notify object not available!", KVXDIAG2_ERR_NO_OBJECT);
        return KVXDIAG2_ERR_CREATE_FAILED;
    }
    KVX_LOG(eKVXDiagLog_INFO,
            "Se establece el primer parámetro: El path del directorio a comprimir %s: ", copyDirectory.c_str());
    CTaskDataString folder(copyDirectory);
    KVX_LOG(eKVXDiagLog_INFO,
            "Se establece el segundo parámetro: El path completo al fichero de destino %s: ", destination.c_str());
    CTaskDataString archive(destination);
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Se establece el tercer parámetro...");
    CTaskDataString password(KVXDIAG2_PACKAGE_PASSWORD);
    DWORD dwResult = task->SetConfig({&folder, &archive, &password});
    if (dwResult != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR,
                "Error! No se pudieron establecer los parámetros necesarios para el Task. Error devuelto: ox%lX.",
                static_cast<unsigned long>(dwResult));
        NotifyValue(eKVXDIAG2Notify_PACKANDSEND_UNSUCCESS_FINISHED, copyDirectory, dwResult);
        return dwResult;
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Configuración establecida con éxito en el task. Se procede a su ejecución.");
    NotifyValue(eKVXDIAG2Notify_PACKANDSEND_IN_PROGRESS, "Building results file package...", 0);
    dwResult = task->Execute(m_pReporter);
    if (dwResult != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s",
                "La operación no tuvo éxito. No se ha generado el paquete con los resultados.");
        NotifyValue(eKVXDIAG2Notify_PACKANDSEND_UNSUCCESS_FINISHED, copyDirectory, dwResult);
        return dwResult;
    }
    KVX_LOG(eKVXDiagLog_EVENT,
            "La operación tuvo éxito. El paquete con los resultados se ha generado con éxito en la ruta indicada: %s.",
            destination.c_str());
    RemoveCopyDirectory(copyDirectory);
    NotifyValue(eKVXDIAG2Notify_PACKANDSEND_SUCCESS_FINISHED, destination, 0);
    return KVXDIAG2_OK;
}

DWORD CForeman::PackAndSendResults(DWORD dwJobId, const std::string& destination)
{
    KVX_FUNCTION("CForeman::PackAndSendResults");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        KVX_LOG(eKVXDiagLog_INFO, "Recibido id de trabajo: %lu", static_cast<unsigned long>(dwJobId));
        if (m_pINotifier == nullptr) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "ERROR: El objeto Notify no está disponible!!");
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        NotifyValue(eKVXDIAG2Notify_PACKANDSEND_BEGUN, "Job started", 0);
        if (IsThisJobCancelled(dwJobId)) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "El trabajo %lu ha sido cancelado!!", static_cast<unsigned long>(dwJobId));
            return KVXDIAG2_ERR_CANCELLED;
        }
        // Two runs in the same millisecond ask for the same name; the temporary-directory rule then makes
        // the second one a fresh directory with "_" appended, so no run packs another run's copy.
        const std::string name = std::to_string(::GetTickCount());
        KVX_LOG(eKVXDiagLog_INFO, "Generado nombre del directorio de copia resultados finales para comprimir: %s",
                name.c_str());
        std::string copyDirectory;
        if (MakeTempDirectory(name, copyDirectory) != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR! No fue posible crear el directorio temporal con nombre %s",
                    name.c_str());
            return static_cast<DWORD>(ERROR_DIRECTORY);
        }
        KVX_LOG(eKVXDiagLog_INFO, "Generado path completo al directorio de resultados finales para comprimir %s",
                copyDirectory.c_str());
        const bool bRemovePersonalData = CPackageCleaning::Requested(m_pReporter);
        const DWORD dwResult = CloneResultsDirectory(copyDirectory);
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
        const std::vector<std::pair<std::string, DWORD>> notCopied = CompleteCopy(m_strResultsDirectory, copyDirectory);
        // What the user asked to keep off the package must be off before anything is packed.
        const DWORD dwCleaned = !CPackageCleaning::LeaveOutTable(copyDirectory) ? static_cast<DWORD>(ERROR_ACCESS_DENIED)
            : bRemovePersonalData ? CPackageCleaning(m_strResultsDirectory, copyDirectory).Run(m_pReporter)
                                  : KVXDIAG2_OK;
        if (dwCleaned != KVXDIAG2_OK) {
            NotifyValue(eKVXDIAG2Notify_PACKANDSEND_UNSUCCESS_FINISHED, copyDirectory, dwCleaned);
            return dwCleaned;
        }
        CPackageManifest manifest;
        if (!StartManifest(manifest, notCopied)) {
            return CompressResults(copyDirectory, destination);
        }
        DWORD dwCompressed = KVXDIAG2_OK;
        {
            CPackageManifest::CScope scope(manifest);
            dwCompressed = CompressResults(copyDirectory, destination);
        }
        if (dwCompressed != KVXDIAG2_OK && !manifest.Written()) {
            WriteManifestOfCopy(copyDirectory, notCopied);
        }
        return dwCompressed;
    });
}
