// The behaviour all SDK generations share. Every operation is a boundary: nothing thrown inside leaves
// it, and an SDK call that fails is answered with the SDK's own code (or 1627 for the capture and log
// switches, which log that code).
#include "core/helpers/KVXApiHelper.h"

#include "common/log/GuardedOperation.h"
#include "common/win/LibraryLoading.h"
#include "common/win/ProcAddress.h"
#include "core/interface/KVXDiagTypes.h"

#include <shlwapi.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD KVXAPI_INIT_RETRIES = 10;
constexpr DWORD KVXAPI_INIT_RETRY_PAUSE_MS = 1000;
// Disabling a module log sends no file name and this size.
constexpr DWORD KVXAPI_LOG_DISABLED_MAX_SIZE = 4096;


struct SKVXModuleMapping {
    DWORD dwHelperId;
    DWORD dwSdkId;
    DWORD dwLevel;
    const char* pszName;
};

constexpr SKVXModuleMapping s_moduleMap[] = {
    {1, eTKVXLogModuleId_API, KVXAPI_LOG_LEVEL_ALL, "eTKVXLogModuleId_API"},
    {2, eTKVXLogModuleId_SERVICE, KVXAPI_LOG_LEVEL_ALL, "eTKVXLogModuleId_SERVICE"},
    {3, eTKVXLogModuleId_KVXNMGR_DLL, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_KVXNMGR_DLL"},
    {4, eTKVXLogModuleId_KVXFLTE_DLL, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_KVXFLTE_DLL"},
    {5, eTKVXLogModuleId_KVXFLTD_DLL, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_KVXFLTD_DLL"},
    {6, eTKVXLogModuleId_KVXFLTC_DLL, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_KVXFLTC_DLL"},
    {7, eTKVXLogModuleId_KVXFLTFCTL_DLL, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_KVXFLTFCTL_DLL"},
    {8, eTKVXLogModuleId_KVXMONCTL_DLL, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_KVXMONCTL_DLL"},
    {9, eTKVXLogModuleId_KVXNMGR_DRI, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_KVXNMGR_DRI"},
    {10, eTKVXLogModuleId_KVXFLTD_DRI, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_KVXFLTD_DRI"},
    {11, eTKVXLogModuleId_KVXFLTE_DRI, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_KVXFLTE_DRI"},
    {12, eKVXDiagLogModuleId_KVXFLTC_DRI, KVXAPI_LOG_LEVEL_DEFAULT, "eKVXDiagLogModuleId_KVXFLTC_DRI"},
    {13, eTKVXLogModuleId_KVXTMGR_DRI, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_KVXTMGR_DRI"},
    {14, eTKVXLogModuleId_KVXFLTF_DRI, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_KVXFLTF_DRI"},
    {15, eTKVXLogModuleId_KVXMON_DRI, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_KVXMON_DRI"},
    {20, eTKVXLogModuleId_USR_APISRV, KVXAPI_LOG_LEVEL_ALL, "eTKVXLogModuleId_USR_APISRV"},
    {21, eTKVXLogModuleId_USR_NDIS, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_USR_NDIS"},
    {22, eTKVXLogModuleId_USR_TDI, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_USR_TDI"},
    {23, eTKVXLogModuleId_KRN_NDIS, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_KRN_NDIS"},
    {24, eTKVXLogModuleId_KRN_TDI, KVXAPI_LOG_LEVEL_DEFAULT, "eTKVXLogModuleId_KRN_TDI"},
};

// The state code of one filter block: not present, not bound, started, stopped.
DWORD StateFromBlock(const SKVXFilterBlockHead& head)
{
    if (head.dwPresent == 0) {
        return KVXAPI_FILTER_STATE_NOT_INSTALLED;
    }
    if (head.dwBound == 0) {
        return KVXAPI_FILTER_STATE_NOT_LOADED;
    }
    return head.dwRunning != 0 ? KVXAPI_FILTER_STATE_STARTED : KVXAPI_FILTER_STATE_STOPPED;
}

template <typename TFunction>
void Resolve(HMODULE hLibrary, const char* pszName, TFunction& pfn)
{
    pfn = pszName != nullptr ? kvx::GetProc<TFunction>(hLibrary, pszName) : nullptr;
}

// Copies a name into a fixed record field, keeping the field's last byte for the terminator. Returns
// false (and copies nothing) when the name does not fit.
template <size_t N>
bool CopyField(char (&field)[N], const std::string& text)
{
    if (text.size() >= N) {
        return false;
    }
    memcpy(field, text.data(), text.size());
    return true;
}

} // namespace

CKVXApiHelper::CKVXApiHelper(SKVXApiFunctions& functions, const SKVXApiLayout& layout)
    : m_functions(functions), m_layout(layout)
{
    // A library that cannot be loaded leaves every SDK pointer null; each operation then answers 1.
    Load();
}

CKVXApiHelper::~CKVXApiHelper()
{
    if (m_hLibrary) {
        Unload();
    }
}

DWORD CKVXApiHelper::GetName(std::string& strName)
{
    try {
        strName = KVXDIAG2_HELPER_KVXAPI;
        return KVXDIAG2_OK;
    } catch (...) {
        return KVXDIAG2_ERR_EXCEPTION;
    }
}

DWORD CKVXApiHelper::Load()
{
    KVX_FUNCTION("CKVXApiHelper::Load");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        if (m_hLibrary) {
            return KVXDIAG2_OK;
        }
        std::string strPath;
        if (CKVXApiFactory::GetLibraryPath(strPath) != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s",
                    "Error! No fue posible obetener el path de instalación de la tecnología KVX.");
            return 0xFFFFFFFF;
        }
        if (!::PathFileExistsA(strPath.c_str())) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! La librería KVX API SDK no existe en la ruta %s", strPath.c_str());
            return KVXDIAG2_ERR_NOT_FOUND;
        }
        m_hLibrary.reset(kvx::LoadLibraryByFullPath(strPath));
        if (!m_hLibrary) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo cargar la librería %s. Error: 0x%lX", strPath.c_str(),
                    static_cast<unsigned long>(dwError));
            return dwError;
        }
        return KVXDIAG2_OK;
    });
}

DWORD CKVXApiHelper::Unload()
{
    KVX_FUNCTION("CKVXApiHelper::Unload");
    // The table points into the library: once it is freed, no stale entry may be called.
    m_functions = SKVXApiFunctions{};
    if (!m_hLibrary) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! La libreria KVX API SDK ya había sido liberada previamente.");
        return ERROR_INVALID_HANDLE;
    }
    m_hLibrary.reset();
    return KVXDIAG2_OK;
}

DWORD CKVXApiHelper::LoadFunctionTable(const SKVXApiExportNames& names)
{
    KVX_FUNCTION("CKVXApiHelper::LoadFuncPointers");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        m_functions = SKVXApiFunctions{};
        if (!m_hLibrary) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! El puntero a la instancia de la librería KVX SDLK API es NULL.");
            return KVXDIAG2_ERR_NO_LIBRARY;
        }
        HMODULE hLibrary = m_hLibrary.get();
        Resolve(hLibrary, names.pszGetVersion, m_functions.KVX_GetVersion);
        Resolve(hLibrary, names.pszInit, m_functions.KVX_Init);
        Resolve(hLibrary, names.pszEnd, m_functions.KVX_End);
        Resolve(hLibrary, names.pszGetLastError, m_functions.g_lpfnKVXGetLastError);
        Resolve(hLibrary, names.pszEnableFilter, m_functions.g_lpfnKVXEnableFilter);
        Resolve(hLibrary, names.pszDisableFilter, m_functions.g_lpfnKVXDisableFilter);
        Resolve(hLibrary, names.pszSetFilterState, m_functions.g_lpfnKVXSetFilterState);
        Resolve(hLibrary, names.pszGetFiltersInfo, m_functions.g_lpfnKVXGetFiltersInfo);
        Resolve(hLibrary, names.pszTakeSConfigSnapShot, m_functions.KVX_TakeSConfigSnapShot);
        Resolve(hLibrary, names.pszLogSetStatus, m_functions.g_lpfnKVXLogSetStatus);
        Resolve(hLibrary, names.pszLogSetConfig, m_functions.g_lpfnKVXLogSetConfig);
        Resolve(hLibrary, names.pszPCapSetStatus, m_functions.g_lpfnKVXPCapSetStatus);
        Resolve(hLibrary, names.pszPCapSetConfig, m_functions.KVXPCapSetConfig);
        Resolve(hLibrary, names.pszATDICapSetStatus, m_functions.g_lpfnKVXATDICapSetStatus);
        Resolve(hLibrary, names.pszATDICapSetConfig, m_functions.g_lpfnKVXATDICapSetConfig);
        Resolve(hLibrary, names.pszReserved1, m_functions.g_lpfnKVXReserved1);
        Resolve(hLibrary, names.pszReserved2, m_functions.g_lpfnKVXReserved2);
        Resolve(hLibrary, names.pszReserved3, m_functions.g_lpfnKVXReserved3);
        return KVXDIAG2_OK;
    });
}

DWORD CKVXApiHelper::InitSession(const char* pszFunction, const BYTE (&abApplicationId)[KVXAPI_APP_ID_SIZE])
{
    if (FunctionMissing(pszFunction, reinterpret_cast<const void*>(m_functions.KVX_Init), "KVX_Init")) {
        return ERROR_INVALID_FUNCTION;
    }
    DWORD dwError = 0;
    for (DWORD dwAttempt = 0;; ++dwAttempt) {
        dwError = 0;
        if (m_functions.KVX_Init(KVXAPI_INIT_MODE, abApplicationId, &dwError, 0)) {
            WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, pszFunction, "%s", "Llamada a KVX_Init, realizada con éxito..");
            return KVXDIAG2_OK;
        }
        // A failure without a code must not read as success.
        if (dwError == 0) {
            dwError = SdkFailureCode();
        }
        WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction,
                 "Error! La llamada a KVX_Init devolvió el error 0x%lX", static_cast<unsigned long>(dwError));
        // The product's service answers "busy" while it starts; it is worth waiting for.
        if (dwError != KVXAPI_ERROR_SERVICE_BUSY || dwAttempt >= KVXAPI_INIT_RETRIES) {
            return dwError;
        }
        ::Sleep(KVXAPI_INIT_RETRY_PAUSE_MS);
    }
}

DWORD CKVXApiHelper::EndSession(const char* pszFunction)
{
    if (FunctionMissing(pszFunction, reinterpret_cast<const void*>(m_functions.KVX_End), "KVX_End")) {
        return ERROR_INVALID_FUNCTION;
    }
    if (m_functions.KVX_End()) {
        WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, pszFunction, "%s", "Llamada a KVX_End, realizada con éxito..");
        return KVXDIAG2_OK;
    }
    if (m_functions.g_lpfnKVXGetLastError == nullptr) {
        return 0xFFFFFFFF;
    }
    const DWORD dwError = m_functions.g_lpfnKVXGetLastError(0);
    WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction, "Error! La llamada a KVX_End devolvió el error 0x%lX",
             static_cast<unsigned long>(dwError));
    return dwError;
}

bool CKVXApiHelper::FunctionMissing(const char* pszFunction, const void* pfn, const char* pszName)
{
    if (pfn != nullptr) {
        return false;
    }
    WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction,
             "El puntero a la función %s no ha sido cargado correctamente.", pszName);
    return true;
}

DWORD CKVXApiHelper::SdkFailureCode() const
{
    if (m_functions.g_lpfnKVXGetLastError == nullptr) {
        return 0xFFFFFFFF;
    }
    const DWORD dwError = m_functions.g_lpfnKVXGetLastError(0);
    return dwError != 0 ? dwError : static_cast<DWORD>(KVXDIAG2_ERR_FAILED);
}

DWORD CKVXApiHelper::CaptureCallFailed(const char* pszFunction, const std::string& strMessage) const
{
    const DWORD dwError = SdkFailureCode();
    WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction, "%s Last Error: 0x%lX", strMessage.c_str(),
             static_cast<unsigned long>(dwError));
    return KVXDIAG2_ERR_FAILED;
}

DWORD CKVXApiHelper::CheckFilterIndex(const char* pszFunction, DWORD dwIndex, const SKVXFilterSlot*& pSlot) const
{
    pSlot = nullptr;
    if (dwIndex > KVXAPI_FILTER_INDEX_LAST) {
        WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction,
                 "Error! El índice pasado no se corresponde a ningún elemento de la lista de plugins. Índice "
                 "recibido: %lu",
                 static_cast<unsigned long>(dwIndex));
        return KVXAPI_ERROR_UNKNOWN_FILTER;
    }
    const SKVXFilterSlot& slot = m_layout.pFilters[dwIndex];
    if (slot.pszServiceName == nullptr) {
        WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction, "Índice de filtro desconocido: %lu",
                 static_cast<unsigned long>(dwIndex));
        return KVXAPI_ERROR_UNKNOWN_FILTER;
    }
    pSlot = &slot;
    return KVXDIAG2_OK;
}

DWORD CKVXApiHelper::CheckFilterAction(const char* pszFunction, DWORD dwIndex, DWORD dwAction)
{
    if (dwAction == KVXAPI_FILTER_ACTION_STOP || dwAction == KVXAPI_FILTER_ACTION_START) {
        return KVXDIAG2_OK;
    }
    WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction,
             "Error! La acción indicada para el filtro con índice %lu es desconocida: %lu",
             static_cast<unsigned long>(dwIndex), static_cast<unsigned long>(dwAction));
    return KVXDIAG2_ERR_BAD_PARAMETER;
}

DWORD CKVXApiHelper::ResolveFilterAction(const char* pszFunction, DWORD dwIndex, DWORD dwAction, DWORD& dwSdkId) const
{
    dwSdkId = 0;
    const SKVXFilterSlot* pSlot = nullptr;
    DWORD dwResult = CheckFilterIndex(pszFunction, dwIndex, pSlot);
    if (dwResult != KVXDIAG2_OK) {
        return dwResult;
    }
    if (pSlot->dwSdkId == 0) {
        WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction, "Índice de filtro desconocido: %lu",
                 static_cast<unsigned long>(dwIndex));
        return KVXAPI_ERROR_UNKNOWN_FILTER;
    }
    dwResult = CheckFilterAction(pszFunction, dwIndex, dwAction);
    if (dwResult != KVXDIAG2_OK) {
        return dwResult;
    }
    dwSdkId = pSlot->dwSdkId;
    return KVXDIAG2_OK;
}

DWORD CKVXApiHelper::FilterSwitched(const char* pszFunction, DWORD dwIndex, DWORD dwAction, BOOL bCallSucceeded) const
{
    if (!bCallSucceeded) {
        const DWORD dwError = SdkFailureCode();
        WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction,
                 "Error! No fue posible %s el filtro con índice %lu. Last Error: 0x%lX",
                 dwAction == KVXAPI_FILTER_ACTION_STOP ? "detener" : "arrancar", static_cast<unsigned long>(dwIndex),
                 static_cast<unsigned long>(dwError));
        return dwError;
    }
    if (dwAction == KVXAPI_FILTER_ACTION_STOP) {
        WriteLog(eKVXDiagLog_EVENT, KVXDIAG_LOG_MODULE, pszFunction, "El filtro con índice %lu ha sido detenido con éxito.",
                 static_cast<unsigned long>(dwIndex));
    } else {
        WriteLog(eKVXDiagLog_EVENT, KVXDIAG_LOG_MODULE, pszFunction,
                 "El filtro con índice %lu ha sido arrancado con éxito.", static_cast<unsigned long>(dwIndex));
    }
    return KVXDIAG2_OK;
}

DWORD CKVXApiHelper::SnapShot(const std::string& strPath)
{
    KVX_FUNCTION("CKVXApiHelper::SnapShot");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        if (FunctionMissing(kvxFunctionName_, reinterpret_cast<const void*>(m_functions.KVX_TakeSConfigSnapShot),
                            "KVX_TakeSConfigSnapShot")) {
            return ERROR_INVALID_FUNCTION;
        }
        if (m_functions.KVX_TakeSConfigSnapShot(strPath.c_str())) {
            return KVXDIAG2_OK;
        }
        const DWORD dwError = SdkFailureCode();
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No fue posible obtener el snapshot en %s. Last Error: 0x%lX",
                strPath.c_str(), static_cast<unsigned long>(dwError));
        return dwError;
    });
}

DWORD CKVXApiHelper::GetFiltersCount() { return KVXAPI_FILTERS_COUNT; }

DWORD CKVXApiHelper::GetFilterName(DWORD dwIndex, std::string& strName)
{
    KVX_FUNCTION("CKVXApiHelper::GetFilterName");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        const SKVXFilterSlot* pSlot = nullptr;
        const DWORD dwResult = CheckFilterIndex(kvxFunctionName_, dwIndex, pSlot);
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
        strName = pSlot->pszServiceName;
        return KVXDIAG2_OK;
    });
}

DWORD CKVXApiHelper::GetFilterState(const std::string& strName, DWORD& dwState)
{
    KVX_FUNCTION("CKVXApiHelper::GetFilterState");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        const DWORD dwCount = GetFiltersCount();
        for (DWORD dwIndex = 0; dwIndex < dwCount; ++dwIndex) {
            std::string strIndexName;
            if (GetFilterName(dwIndex, strIndexName) == KVXDIAG2_OK && strIndexName == strName) {
                return GetFilterState(dwIndex, dwState);
            }
        }
        KVX_LOG(eKVXDiagLog_ERROR, "Error! El filtro %s no se corresponde con ningún plugin.", strName.c_str());
        return KVXDIAG2_ERR_BAD_PARAMETER;
    });
}

DWORD CKVXApiHelper::SetFilterState(const std::string& strName, DWORD dwAction)
{
    KVX_FUNCTION("CKVXApiHelper::SetFilterState");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        const DWORD dwCount = GetFiltersCount();
        for (DWORD dwIndex = 0; dwIndex < dwCount; ++dwIndex) {
            std::string strIndexName;
            if (GetFilterName(dwIndex, strIndexName) == KVXDIAG2_OK && strIndexName == strName) {
                return SetFilterState(dwIndex, dwAction);
            }
        }
        KVX_LOG(eKVXDiagLog_ERROR, "Error! El filtro %s no se corresponde con ningún plugin.", strName.c_str());
        return KVXDIAG2_ERR_BAD_PARAMETER;
    });
}

DWORD CKVXApiHelper::GetFilterState(DWORD dwIndex, DWORD& dwState)
{
    KVX_FUNCTION("CKVXApiHelper::GetFilterState");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        if (dwIndex > KVXAPI_FILTER_INDEX_LAST) {
            const SKVXFilterSlot* pIgnored = nullptr;
            return CheckFilterIndex(kvxFunctionName_, dwIndex, pIgnored);
        }
        if (FunctionMissing(kvxFunctionName_, reinterpret_cast<const void*>(m_functions.g_lpfnKVXGetFiltersInfo),
                            "g_lpfnKVXGetFiltersInfo") ||
            FunctionMissing(kvxFunctionName_, reinterpret_cast<const void*>(m_functions.g_lpfnKVXGetLastError),
                            "g_lpfnKVXGetLastError")) {
            return ERROR_INVALID_FUNCTION;
        }
        std::string strName;
        if (GetFilterName(dwIndex, strName) != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "¡El filtro indicado no existe! Índice del filtro recibido: %lu",
                    static_cast<unsigned long>(dwIndex));
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        if (!IsFilterInstalled(strName)) {
            dwState = KVXAPI_FILTER_STATE_NOT_INSTALLED;
            KVX_LOG(eKVXDiagLog_INFO, "El filtro %s, no esta instalado.", strName.c_str());
            return 0xFFFFFFFF;
        }
        // Zeroed before the call: the SDK fills only the blocks it knows.
        std::string record(m_layout.dwFiltersInfoSize, '\0');
        BYTE* pRecord = reinterpret_cast<BYTE*>(&record[0]);
        memcpy(pRecord, &m_layout.dwFiltersInfoTag, sizeof(DWORD));
        if (!m_functions.g_lpfnKVXGetFiltersInfo(pRecord)) {
            const DWORD dwError = SdkFailureCode();
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No fue posible obtener la información de los filtros. Last Error: 0x%lX",
                    static_cast<unsigned long>(dwError));
            return dwError;
        }
        const DWORD dwSdkId = m_layout.pFilters[dwIndex].dwSdkId;
        if (dwSdkId == 0) {
            KVX_LOG(eKVXDiagLog_ERROR, "Índice de filtro desconocido: %lu", static_cast<unsigned long>(dwIndex));
            return KVXAPI_ERROR_UNKNOWN_FILTER;
        }
        const size_t offset = sizeof(DWORD) + (dwSdkId - 1) * static_cast<size_t>(m_layout.dwFiltersInfoBlockSize);
        SKVXFilterBlockHead head = {};
        if (offset + sizeof(head) > record.size()) {
            return KVXAPI_ERROR_UNKNOWN_FILTER;
        }
        memcpy(&head, pRecord + offset, sizeof(head));
        dwState = StateFromBlock(head);
        return KVXDIAG2_OK;
    });
}

template <typename TOptions>
DWORD CKVXApiHelper::EnableIMPCapWith(const char* pszFunction, const std::string& strBaseName, DWORD dwMaxSize,
                                      bool bOnRestart)
{
    if (FunctionMissing(pszFunction, reinterpret_cast<const void*>(m_functions.KVXPCapSetConfig), "KVXPCapSetConfig") ||
        FunctionMissing(pszFunction, reinterpret_cast<const void*>(m_functions.g_lpfnKVXPCapSetStatus),
                        "g_lpfnKVXPCapSetStatus") ||
        FunctionMissing(pszFunction, reinterpret_cast<const void*>(m_functions.g_lpfnKVXGetLastError),
                        "g_lpfnKVXGetLastError")) {
        return ERROR_INVALID_FUNCTION;
    }
    TOptions options;
    memset(&options, 0, sizeof(options));
    options.dwVersion = KVXAPI_RECORD_VERSION;
    options.dwMaxSize = dwMaxSize;
    if (!CopyField(options.szBaseName, strBaseName)) {
        WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction,
                 "Error! El nombre base del fichero de capturas no cabe en %u bytes: %s",
                 static_cast<unsigned>(sizeof(options.szBaseName) - 1), strBaseName.c_str());
        return ERROR_FILENAME_EXCED_RANGE;
    }
    if (!m_functions.KVXPCapSetConfig(&options)) {
        return CaptureCallFailed(pszFunction, "Error! No fue posible configurar la captura PCap.");
    }
    return SetCaptureStatus(pszFunction, true, bOnRestart ? eTKVXPCAPStatus_EnableOnRestart : eTKVXPCAPStatus_Enable);
}

template DWORD CKVXApiHelper::EnableIMPCapWith<SKVXIMCaptureOptions32>(const char*, const std::string&, DWORD, bool);
template DWORD CKVXApiHelper::EnableIMPCapWith<SKVXIMCaptureOptions40>(const char*, const std::string&, DWORD, bool);

DWORD CKVXApiHelper::SetCaptureStatus(const char* pszFunction, bool bPacketCapture, DWORD dwStatus)
{
    const auto pfnSetStatus = bPacketCapture ? m_functions.g_lpfnKVXPCapSetStatus : m_functions.g_lpfnKVXATDICapSetStatus;
    if (FunctionMissing(pszFunction, reinterpret_cast<const void*>(pfnSetStatus),
                        bPacketCapture ? "g_lpfnKVXPCapSetStatus" : "g_lpfnKVXATDICapSetStatus") ||
        FunctionMissing(pszFunction, reinterpret_cast<const void*>(m_functions.g_lpfnKVXGetLastError),
                        "g_lpfnKVXGetLastError")) {
        return ERROR_INVALID_FUNCTION;
    }
    SKVXCaptureStatus status = {};
    status.dwVersion = KVXAPI_RECORD_VERSION;
    status.dwStatus = dwStatus;
    if (pfnSetStatus(&status)) {
        return KVXDIAG2_OK;
    }
    const bool bEnable = dwStatus == eTKVXPCAPStatus_Enable || dwStatus == eTKVXPCAPStatus_EnableOnRestart;
    if (bPacketCapture) {
        return CaptureCallFailed(pszFunction, bEnable ? "Error! No fue posible activar la captura PCap."
                                                      : "Error! No fue posible desactivar la captura PCap.");
    }
    return CaptureCallFailed(pszFunction, bEnable ? "Error! No fue posible activar la captura ATDI."
                                                  : "Error! No fue posible desactivar la captura ATDI.");
}

DWORD CKVXApiHelper::DisableIMPcap(bool bOnRestart)
{
    KVX_FUNCTION("CKVXApiHelper::DisableIMPcap");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        return SetCaptureStatus(kvxFunctionName_, true,
                                bOnRestart ? eTKVXPCAPStatus_DisableOnRestart : eTKVXPCAPStatus_Disable);
    });
}

DWORD CKVXApiHelper::EnableATDICap(const std::string& strFileName, DWORD dwMaxSize, bool bOnRestart)
{
    KVX_FUNCTION("CKVXApiHelper::EnableATDICap");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        if (FunctionMissing(kvxFunctionName_, reinterpret_cast<const void*>(m_functions.g_lpfnKVXATDICapSetConfig),
                            "g_lpfnKVXATDICapSetConfig") ||
            FunctionMissing(kvxFunctionName_, reinterpret_cast<const void*>(m_functions.g_lpfnKVXATDICapSetStatus),
                            "g_lpfnKVXATDICapSetStatus") ||
            FunctionMissing(kvxFunctionName_, reinterpret_cast<const void*>(m_functions.g_lpfnKVXGetLastError),
                            "g_lpfnKVXGetLastError")) {
            return ERROR_INVALID_FUNCTION;
        }
        SKVXATDICaptureOptions options;
        memset(&options, 0, sizeof(options));
        options.dwVersion = KVXAPI_RECORD_VERSION;
        options.dwMaxSize = dwMaxSize;
        if (!CopyField(options.szFileName, strFileName)) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! La ruta del fichero de capturas no cabe en %u bytes: %s",
                    static_cast<unsigned>(sizeof(options.szFileName) - 1), strFileName.c_str());
            return ERROR_FILENAME_EXCED_RANGE;
        }
        if (!m_functions.g_lpfnKVXATDICapSetConfig(&options)) {
            return CaptureCallFailed(kvxFunctionName_, "Error! No fue posible configurar la captura ATDI.");
        }
        return SetCaptureStatus(kvxFunctionName_, false,
                                bOnRestart ? eTKVXATDIStatus_EnableOnRestart : eTKVXATDIStatus_Enable);
    });
}

DWORD CKVXApiHelper::DisableATDIcap(bool bOnRestart)
{
    KVX_FUNCTION("CKVXApiHelper::DisableATDIcap");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        return SetCaptureStatus(kvxFunctionName_, false,
                                bOnRestart ? eTKVXATDIStatus_DisableOnRestart : eTKVXATDIStatus_Disable);
    });
}

DWORD CKVXApiHelper::SetModuleLog(const char* pszFunction, DWORD dwModuleId, const std::string& strFileBaseName,
                                  DWORD dwMaxSize, bool bEnable, bool bPersistent)
{
    if (FunctionMissing(pszFunction, reinterpret_cast<const void*>(m_functions.g_lpfnKVXLogSetConfig),
                        "g_lpfnKVXLogSetConfig") ||
        FunctionMissing(pszFunction, reinterpret_cast<const void*>(m_functions.g_lpfnKVXLogSetStatus),
                        "g_lpfnKVXLogSetStatus") ||
        FunctionMissing(pszFunction, reinterpret_cast<const void*>(m_functions.g_lpfnKVXGetLastError),
                        "g_lpfnKVXGetLastError")) {
        return ERROR_INVALID_FUNCTION;
    }
    DWORD dwSdkModule = 0;
    DWORD dwLevel = 0;
    const DWORD dwResult = GetModuleID(dwModuleId, dwSdkModule, dwLevel);
    if (dwResult != KVXDIAG2_OK) {
        return dwResult;
    }
    SKVXLogOptions options;
    memset(&options, 0, sizeof(options));
    options.dwVersion = KVXAPI_RECORD_VERSION;
    options.dwModuleId = dwSdkModule;
    options.dwEnabled = bEnable ? 1 : 0;
    options.dwReserved2 = 1;
    options.dwLevel = dwLevel;
    options.dwMaxSize = dwMaxSize;
    options.dwPersistent = bPersistent ? 1 : 0;
    if (!CopyField(options.szFileBaseName, strFileBaseName)) {
        WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction,
                 "Error! La ruta del fichero de log no cabe en %u bytes: %s",
                 static_cast<unsigned>(sizeof(options.szFileBaseName) - 1), strFileBaseName.c_str());
        return ERROR_FILENAME_EXCED_RANGE;
    }
    char szModule[16];
    snprintf(szModule, sizeof(szModule), "0x%lX.", static_cast<unsigned long>(dwSdkModule));
    DWORD dwOutput = 0;
    if (!m_functions.g_lpfnKVXLogSetConfig(&options, 1, &dwOutput)) {
        return CaptureCallFailed(pszFunction, std::string("Error! No fue posible configurar el log del módulo ") + szModule);
    }
    SKVXLogStatus status = {};
    status.dwVersion = KVXAPI_RECORD_VERSION;
    status.dwModuleId = dwSdkModule;
    status.dwEnabled = options.dwEnabled;
    status.dwPersistent = options.dwPersistent;
    status.dwLevel = dwLevel;
    if (!m_functions.g_lpfnKVXLogSetStatus(&status, 1)) {
        return CaptureCallFailed(pszFunction, std::string(bEnable ? "Error! No fue posible activar el log del módulo "
                                                                  : "Error! No fue posible desactivar el log del módulo ") +
                                                  szModule);
    }
    return KVXDIAG2_OK;
}

DWORD CKVXApiHelper::EnableModuleLog(DWORD dwModuleId, const std::string& strFileBaseName, DWORD dwMaxSize,
                                     bool bPersistent)
{
    KVX_FUNCTION("CKVXApiHelper::EnableModuleLog");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        return SetModuleLog(kvxFunctionName_, dwModuleId, strFileBaseName, dwMaxSize, true, bPersistent);
    });
}

DWORD CKVXApiHelper::DisableLogModule(DWORD dwModuleId)
{
    KVX_FUNCTION("CKVXApiHelper::DisableLogModule");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        return SetModuleLog(kvxFunctionName_, dwModuleId, std::string(), KVXAPI_LOG_DISABLED_MAX_SIZE, false, true);
    });
}

bool CKVXApiHelper::IsFilterInstalled(const std::string& strServiceName)
{
    KVX_FUNCTION("CKVXApiHelper::IsFilterInstalled");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, false, [&]() -> bool {
        const std::string strKey = KVXDIAG2_SERVICES_KEY + strServiceName;
        kvx::UniqueHkey key;
        return ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    });
}

DWORD CKVXApiHelper::GetModuleID(DWORD dwHelperModuleId, DWORD& dwSdkModuleId, DWORD& dwLevel)
{
    KVX_FUNCTION("CKVXApiHelper::GetModuleID");
    dwSdkModuleId = 0;
    dwLevel = 0;
    if (dwHelperModuleId == 0) {
        return KVXDIAG2_OK;
    }
    for (const SKVXModuleMapping& mapping : s_moduleMap) {
        if (mapping.dwHelperId == dwHelperModuleId) {
            dwSdkModuleId = mapping.dwSdkId;
            dwLevel = mapping.dwLevel;
            KVX_LOG(eKVXDiagLog_INFO, "Devolviendo \"%s\" con nivel 0x%lX", mapping.pszName,
                    static_cast<unsigned long>(mapping.dwLevel));
            return KVXDIAG2_OK;
        }
    }
    KVX_LOG(eKVXDiagLog_ERROR, "Error! El Module ID recibido es desconocido: 0x%lX",
            static_cast<unsigned long>(dwHelperModuleId));
    return KVXDIAG2_ERR_BAD_PARAMETER;
}
