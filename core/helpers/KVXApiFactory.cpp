// SDK version detection and adapter choice. The version is read afresh at every request, loading and
// freeing the library once for it, so that a product updated while the tool runs is seen as it is.
#include "core/helpers/KVXApiFactory.h"

#include "common/log/GuardedOperation.h"
#include "common/log/KVXDiagObject.h"
#include "common/win/LibraryLoading.h"
#include "common/win/ProcAddress.h"
#include "common/win/RegistryView.h"
#include "common/win/UniqueHandles.h"
#include "core/helpers/HelpersFactory.h"
#include "core/helpers/KVXApiHelper.h"
#include "core/helpers/KVXApiTypes.h"
#include "core/interface/KVXDiagTypes.h"

#include <cstring>

const DWORD CKVXApiFactory::s_dwFactoryRegistration = CKVXApiFactory::PerformFactoryRegistration();

DWORD CKVXApiFactory::PerformFactoryRegistration()
{
    KVX_FUNCTION("CKVXApiFactory::PerformFactoryRegistration");
    const DWORD dwResult = CHelpersFactory::Subscribe(KVXDIAG2_HELPER_KVXAPI, &CKVXApiFactory::AutoCreation);
    KVX_LOG(eKVXDiagLog_INFO, "Resultado de la subscripción en la factoría de helpers con nombre %s: 0x%lX",
            KVXDIAG2_HELPER_KVXAPI, static_cast<unsigned long>(dwResult));
    return dwResult;
}

DWORD CKVXApiFactory::GetLibraryPath(std::string& strPath)
{
    KVX_FUNCTION_QUIET("CKVXApiFactory::GetLibraryPath");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        kvx::UniqueHkey key;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXAPI_PRODUCT_KEY, 0, KEY_READ | kvx::KVX_REGVIEW_VENDOR, key.put()) !=
            ERROR_SUCCESS) {
            return ERROR_PATH_NOT_FOUND;
        }
        DWORD dwType = 0;
        DWORD dwSize = 0;
        if (::RegQueryValueExA(key.get(), KVXAPI_PRODUCT_PATH_VALUE, nullptr, &dwType, nullptr, &dwSize) !=
                ERROR_SUCCESS ||
            (dwType != REG_SZ && dwType != REG_EXPAND_SZ) || dwSize == 0) {
            return ERROR_PATH_NOT_FOUND;
        }
        std::string value(dwSize, '\0');
        if (::RegQueryValueExA(key.get(), KVXAPI_PRODUCT_PATH_VALUE, nullptr, &dwType,
                               reinterpret_cast<BYTE*>(&value[0]), &dwSize) != ERROR_SUCCESS) {
            return ERROR_PATH_NOT_FOUND;
        }
        // The stored string need not carry its terminator; take what lies before the first zero.
        value.resize(strnlen(value.c_str(), value.size()));
        if (dwType == REG_EXPAND_SZ && !value.empty()) {
            // "%ProgramFiles%\..." is a path only once expanded; loading it as it stands fails.
            const DWORD dwNeeded = ::ExpandEnvironmentStringsA(value.c_str(), nullptr, 0);
            std::string expanded(dwNeeded, '\0');
            if (dwNeeded == 0 || ::ExpandEnvironmentStringsA(value.c_str(), &expanded[0], dwNeeded) == 0) {
                return ERROR_PATH_NOT_FOUND;
            }
            expanded.resize(strnlen(expanded.c_str(), expanded.size()));
            value = expanded;
        }
        if (value.empty()) {
            return ERROR_PATH_NOT_FOUND;
        }
        if (value.back() != '\\') {
            value += '\\';
        }
        strPath = value + KVXAPI_LIBRARY_NAME;
        return KVXDIAG2_OK;
    });
}

DWORD CKVXApiFactory::GetInstalledKVXApiVersion(WORD& wVersion)
{
    KVX_FUNCTION("CKVXApiFactory::GetInstalledKVXApiVersion");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        std::string strPath;
        if (GetLibraryPath(strPath) != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s",
                    "Error! No se pudo obtener el path al directorio de instalación del SDK de KVX.");
            return ERROR_PATH_NOT_FOUND;
        }
        kvx::UniqueModule library(kvx::LoadLibraryByFullPath(strPath));
        if (!library) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! No se pudo obtener la versión del SDK de KVX. Fallo el GetVersion.");
            return ERROR_MOD_NOT_FOUND;
        }
        auto pfnGetVersion = kvx::GetProc<PFN_KVX_GETVERSION>(library.get(), "KVX_GetVersion");
        if (pfnGetVersion == nullptr) {
            // The first 3.2 builds had no version entry at all.
            wVersion = KVXAPI_VERSION_3_2;
            KVX_LOG(eKVXDiagLog_INFO, "%s",
                    "No fue posible cargar el puntero a la función KVX_GetVersion. Se presupone version 3.2...");
            return KVXDIAG2_OK;
        }
        DWORD dwMajor = 0;
        DWORD dwMinor = 0;
        DWORD dwBuild = 0;
        DWORD dwRevision = 0;
        if (!pfnGetVersion(&dwMajor, &dwMinor, &dwBuild, &dwRevision)) {
            wVersion = KVXAPI_VERSION_3_3;
            KVX_LOG(eKVXDiagLog_ERROR, "%s",
                    "Error! No se pudo obtener la versión del SDK de KVX. Fallo el GetVersion. Se presupone version "
                    "3.3...");
            return KVXDIAG2_OK;
        }
        wVersion = static_cast<WORD>(((dwMajor & 0xFF) << 8) | (dwMinor & 0xFF));
        KVX_LOG(eKVXDiagLog_INFO, "Obtenida versión del SDK de KVXApi: %lu.%lu.%lu.%lu",
                static_cast<unsigned long>(dwMajor), static_cast<unsigned long>(dwMinor),
                static_cast<unsigned long>(dwBuild), static_cast<unsigned long>(dwRevision));
        return KVXDIAG2_OK;
    });
}

CKVXApiHelper* CKVXApiFactory::GetKVXApi()
{
    KVX_FUNCTION("CKVXApiFactory::GetKVXApi");
    try {
        WORD wVersion = 0;
        const DWORD dwResult = GetInstalledKVXApiVersion(wVersion);
        if (dwResult != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR,
                    "Error! No fue posible obtener la versión del SDK instalado. Error devuelto: 0x%lX",
                    static_cast<unsigned long>(dwResult));
            return nullptr;
        }
        // Only an exact version match counts: a later SDK may have moved its records or exports.
        return Create(wVersion);
    } catch (...) {
        KVX_LOG(eKVXDiagLog_EXCEPTION, "Excepción no controlada!! LastError=%lu", ::GetLastError());
        return nullptr;
    }
}

IHelper* CKVXApiFactory::AutoCreation()
{
    KVX_FUNCTION("CKVXApiFactory::AutoCreation");
    try {
        CKVXApiHelper* pAdapter = GetKVXApi();
        if (pAdapter == nullptr) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s",
                    "No se ha podido obtener el helper de KVX API para la versión de API instalada.");
            return nullptr;
        }
        std::string strName;
        pAdapter->GetName(strName);
        KVX_LOG(eKVXDiagLog_INFO, "Obtenido el helper %s.", strName.c_str());
        return pAdapter;
    } catch (...) {
        KVX_LOG(eKVXDiagLog_EXCEPTION, "Excepción no controlada!! LastError=%lu", ::GetLastError());
        return nullptr;
    }
}
