// The adapter for SDK 4.0. This generation opens its client session by itself and no longer lets a
// client start or stop a plug-in filter: a start/stop request is checked and answered without a call.
#pragma once

#include "core/helpers/KVXApiHelper.h"

class CKVXApiHelper40 : public CKVXApiAdapter<CKVXApiHelper40> {
public:
    static constexpr WORD KVXAPI_VERSION = KVXAPI_VERSION_4_0;
    static constexpr const char* KVXAPI_CLASS = "CKVXApiHelper40";

    using CKVXApiHelper::SetFilterState;
    DWORD SetFilterState(DWORD dwIndex, DWORD dwAction) override;
    DWORD EnableIMPCap(const std::string& strBaseName, DWORD dwMaxSize, bool bOnRestart) override;

    DWORD LoadFuncPointers();

private:
    friend class CKVXApiAdapter<CKVXApiHelper40>;
    friend class kvx::CRefCountedSingleton<CKVXApiHelper40>;

    CKVXApiHelper40();
    ~CKVXApiHelper40() override;

    static SKVXApiFunctions s_functions;
    static const DWORD s_dwFactoryRegistration;
};
