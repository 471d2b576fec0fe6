// The adapter for SDK 3.3: filters switched with one call that takes the wanted state, a client session
// opened with KVX_Init and closed with KVX_End.
#pragma once

#include "core/helpers/KVXApiHelper.h"

class CKVXApiHelper33 : public CKVXApiAdapter<CKVXApiHelper33> {
public:
    static constexpr WORD KVXAPI_VERSION = KVXAPI_VERSION_3_3;
    static constexpr const char* KVXAPI_CLASS = "CKVXApiHelper33";

    using CKVXApiHelper::SetFilterState;
    DWORD SetFilterState(DWORD dwIndex, DWORD dwAction) override;
    DWORD EnableIMPCap(const std::string& strBaseName, DWORD dwMaxSize, bool bOnRestart) override;

    DWORD Init();
    DWORD End();
    DWORD LoadFuncPointers();

private:
    friend class CKVXApiAdapter<CKVXApiHelper33>;
    friend class kvx::CRefCountedSingleton<CKVXApiHelper33>;

    CKVXApiHelper33();
    ~CKVXApiHelper33() override;

    static SKVXApiFunctions s_functions;
    static const DWORD s_dwFactoryRegistration;
};
