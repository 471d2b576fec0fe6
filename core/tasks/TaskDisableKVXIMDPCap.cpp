#include "core/tasks/TaskDisableKVXIMDPCap.h"

#include "common/win/ProcAddress.h"
#include "core/report/IReporter.h"
#include "core/tasks/TaskConfigReader.h"
#include "core/tasks/TaskDataBool.h"
#include "core/tasks/TaskDataString.h"

#include <memory>

const DWORD CTaskDisableKVXIMDPCap::s_dwFactoryRegistration = CTaskDisableKVXIMDPCap::PerformFactoryRegistration();

namespace {

constexpr UINT KVXTASK_SYSTEM_DIR_SIZE = 520;

// The IM driver writes its captures into the native Drivers directory. A 32-bit process under WOW64
// would see the 32-bit system directory instead, so redirection is switched off around the copy of
// the captures, and only there: with it off, a library loaded by this thread (the SDK adapter's
// kvxapi.dll and what it depends on) would come from the 64-bit system directory and fail to load.
class CWow64RedirectionScope {
public:
    CWow64RedirectionScope()
    {
        HMODULE hKernel = ::GetModuleHandleA("kernel32.dll");
        if (hKernel == nullptr) {
            return;
        }
        using PFN_ISWOW64PROCESS = BOOL(WINAPI*)(HANDLE, PBOOL);
        using PFN_WOW64DISABLE = BOOL(WINAPI*)(PVOID*);
        auto pfnIsWow64Process = kvx::GetProc<PFN_ISWOW64PROCESS>(hKernel, "IsWow64Process");
        BOOL bWow64 = FALSE;
        if (pfnIsWow64Process == nullptr || !pfnIsWow64Process(::GetCurrentProcess(), &bWow64) || !bWow64) {
            ::OutputDebugStringA("S.O 32Bit...");
            return;
        }
        auto pfnDisable = kvx::GetProc<PFN_WOW64DISABLE>(hKernel, "Wow64DisableWow64FsRedirection");
        if (pfnDisable != nullptr && pfnDisable(&m_pOldValue)) {
            m_bDisabled = true;
            ::OutputDebugStringA("S.O 64Bit: Wow64FSRedirection disabled...");
        }
    }

    ~CWow64RedirectionScope()
    {
        if (!m_bDisabled) {
            return;
        }
        using PFN_WOW64REVERT = BOOL(WINAPI*)(PVOID);
        auto pfnRevert = kvx::GetProc<PFN_WOW64REVERT>(::GetModuleHandleA("kernel32.dll"), "Wow64RevertWow64FsRedirection");
        if (pfnRevert != nullptr) {
            pfnRevert(m_pOldValue);
        }
    }

    CWow64RedirectionScope(const CWow64RedirectionScope&) = delete;
    CWow64RedirectionScope& operator=(const CWow64RedirectionScope&) = delete;

private:
    PVOID m_pOldValue = nullptr;
    bool m_bDisabled = false;
};

// The base name becomes the extension of a pattern whose matches are deleted after the copy: it must
// name exactly that extension, never a wider set of the system's driver files.
bool IsPlainExtension(const std::string& name)
{
    return !name.empty() && name.find_first_of("*?\\/:") == std::string::npos;
}

} // namespace

DWORD CTaskDisableKVXIMDPCap::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskDisableKVXIMDPCap::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        return kvx::CTaskConfigReader(kvxFunctionName_)
            .ReadFields(params, {kvx::CTaskField::Bool(m_bOnRestart), kvx::CTaskField::Text(m_strBaseName),
                                 kvx::CTaskField::Text(m_strDestination)});
    });
}

DWORD CTaskDisableKVXIMDPCap::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskDisableKVXIMDPCap::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        bool bAdapter = false;
        const DWORD dwDisable = WithAdapter(kvxFunctionName_, [&](CKVXApiHelper& api) {
            bAdapter = true;
            return api.DisableIMPcap(m_bOnRestart);
        });
        DWORD dwResult = dwDisable;
        if (bAdapter) {
            LogOutcome(kvxFunctionName_, dwDisable, "Desactivación de las capturas PCap");
            // The files are collected even when the switch-off failed: they are the evidence.
            dwResult = CollectCaptureFiles(pReporter, dwDisable);
        }
        if (pReporter != nullptr) {
            if (dwResult == KVXDIAG2_OK) {
                pReporter->Report("NDIS Manager's PCap captures disabled. Result file copied to: %s",
                                  m_strDestination.c_str());
            } else {
                pReporter->Report("Failed to disable NDIS Manager's PCap captures. Error: 0x%lX",
                                  static_cast<unsigned long>(dwResult));
            }
        }
        return dwResult;
    });
}

DWORD CTaskDisableKVXIMDPCap::CollectCaptureFiles(IReporter* pReporter, DWORD dwDisableResult)
{
    KVX_FUNCTION("CTaskDisableKVXIMDPCap::CollectCaptureFiles");
    std::unique_ptr<ITask> pCopy(CTasksFactory::GetTask(KVXDIAG2_TASKID_COPY_MOVE_FILE_WILDCARDS));
    if (!pCopy) {
        KVX_LOG(eKVXDiagLog_SYSTEM, "ERROR: No se ha podido crear tarea con id: 0x%lX(%s) !!",
                static_cast<unsigned long>(KVXDIAG2_TASKID_COPY_MOVE_FILE_WILDCARDS),
                GetTaskIdName(KVXDIAG2_TASKID_COPY_MOVE_FILE_WILDCARDS));
        return KVXDIAG2_ERR_CREATE_FAILED;
    }
    // Either part missing would widen the move: an empty base name matches every driver file without
    // an extension, an empty destination moves the captures into the current directory.
    if (!IsPlainExtension(m_strBaseName) || m_strDestination.empty()) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s",
                "Error!  Parámetros inválidos. El nombre base del fichero de capturas o la ruta final de este, no "
                "es correcta.");
        return KVXDIAG2_ERR_BAD_PARAMETER;
    }
    char szSystemDir[KVXTASK_SYSTEM_DIR_SIZE] = {};
    const UINT uLength = ::GetSystemDirectoryA(szSystemDir, sizeof(szSystemDir));
    if (uLength == 0 || uLength >= sizeof(szSystemDir)) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo obtener el directorio de sistema. Error: 0x%lX",
                static_cast<unsigned long>(::GetLastError()));
        return dwDisableResult;
    }
    const std::string strPattern = std::string(szSystemDir) + "\\Drivers\\*." + m_strBaseName;
    CTaskDataString source(strPattern);
    CTaskDataString destination(m_strDestination);
    CTaskDataBool deleteSource(true);
    const DWORD dwConfig = pCopy->SetConfig({&source, &destination, &deleteSource});
    if (dwConfig != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo configurar la tarea de copia de capturas. Error: 0x%lX",
                static_cast<unsigned long>(dwConfig));
        return ERROR_INVALID_DATA;
    }
    DWORD dwCopy = KVXDIAG2_OK;
    {
        CWow64RedirectionScope nativeSystemDirectory;
        dwCopy = pCopy->Execute(pReporter);
    }
    if (dwCopy != KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! El fichero de capturas PCap %s no se pudo mover a  %s.", strPattern.c_str(),
                m_strDestination.c_str());
        return dwCopy;
    }
    KVX_LOG(eKVXDiagLog_EVENT, "El fichero de capturas PCap, se copio con éxito en %s. Borrado el fichero de origen %s.",
            m_strDestination.c_str(), strPattern.c_str());
    // The files are safe; what is left to report is whether the capture really stopped.
    return dwDisableResult;
}
