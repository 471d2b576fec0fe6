// The adapter for SDK 3.2: filters started and stopped with separate calls, a client session opened
// with KVX_Init and closed with KVX_End.
#pragma once

#include "core/helpers/KVXApiHelper.h"

class CKVXApiHelper32 : public CKVXApiAdapter<CKVXApiHelper32> {
public:
    static constexpr WORD KVXAPI_VERSION = KVXAPI_VERSION_3_2;
    static constexpr const char* KVXAPI_CLASS = "CKVXApiHelper32";

    using CKVXApiHelper::SetFilterState;
    DWORD SetFilterState(DWORD dwIndex, DWORD dwAction) override;
    DWORD EnableIMPCap(const std::string& strBaseName, DWORD dwMaxSize, bool bOnRestart) override;

    DWORD Init();
    DWORD End();
    DWORD LoadFuncPointers();

private:
    friend class CKVXApiAdapter<CKVXApiHelper32>;
    friend class kvx::CRefCountedSingleton<CKVXApiHelper32>;

    CKVXApiHelper32();
    ~CKVXApiHelper32() override;

    static SKVXApiFunctions s_functions;
    static const DWORD s_dwFactoryRegistration;
};
