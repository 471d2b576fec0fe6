// Chooses the SDK adapter for the installed product: registered with the helper factory as "KVXAPI",
// it reads the SDK version from the installed library and creates the adapter subscribed for exactly
// that version.
#pragma once

#include "core/helpers/IHelper.h"
#include "core/tasks/SubscriptionFactory.h"

#include <windows.h>

#include <string>

class CKVXApiHelper;

struct SKVXApiFactoryTraits {
    static constexpr const char* SUBSCRIBE_FUNCTION = "CKVXApiFactory::Subscribe";
    static constexpr const char* CREATE_FUNCTION = "CKVXApiFactory::GetKVXApi";
    static constexpr const char* DUPLICATE_PREFIX = "El proveedor de KVX API para la versión ";
    static constexpr const char* DUPLICATE_SUFFIX = ", ya esta registrado.";
    static constexpr const char* UNKNOWN_PREFIX =
        "No hay ningún proveedor de KVX API registrado con para la versión de API instalada:  ";
    static constexpr const char* BROKEN_PREFIX = "El proveedor de KVX API solicitado(";
    static constexpr const char* BROKEN_SUFFIX = ") no esta correctamente registrado.";
    static std::string KeyText(WORD wVersion) { return kvx::HexKeyText(wVersion); }
};

class CKVXApiFactory : public kvx::CSubscriptionFactory<WORD, CKVXApiHelper, SKVXApiFactoryTraits> {
public:
    static DWORD PerformFactoryRegistration();

    // The installed SDK's version as (major << 8) | minor; 0 on success.
    static DWORD GetInstalledKVXApiVersion(WORD& wVersion);
    // The adapter for the installed version (one more reference; release it with Destroy), or none.
    static CKVXApiHelper* GetKVXApi();
    // The helper factory's creation function for "KVXAPI".
    static IHelper* AutoCreation();

    // The full path of the product's SDK library from its install path; 3 when the product key or
    // its MainPath is missing or empty.
    static DWORD GetLibraryPath(std::string& strPath);

    CKVXApiFactory() = delete;

private:
    static const DWORD s_dwFactoryRegistration;
};
