#include "core/helpers/KVXApiHelper32.h"

#include "common/log/GuardedOperation.h"
#include "core/interface/KVXDiagTypes.h"

SKVXApiFunctions CKVXApiHelper32::s_functions = {};
const DWORD CKVXApiHelper32::s_dwFactoryRegistration = CKVXApiHelper32::PerformFactoryRegistration();

namespace {

// Index table of this generation: index -> service, SDK filter id.
constexpr SKVXFilterSlot s_filters[KVXAPI_FILTER_INDEX_LAST + 1] = {
    {"KVXFLTF", "Application Filter", 1},
    {"KVXFLTD", "Filter D", 3},
    {"KVXFLTB", "Filter B", 5},
    {"KVXFLTE", "Filter E", 2},
    {"KVXFLTA", "Filter A", 4},
    {"KVXFLTC", "Filter C", 6},
    {nullptr, nullptr, 0},
};

constexpr SKVXApiLayout s_layout = {s_filters, SKVXFiltersInfo32::TAG, SKVXFiltersInfo32::BLOCK_SIZE,
                                    sizeof(SKVXFiltersInfo32)};

constexpr SKVXApiExportNames s_exports = {
    nullptr,  // KVX_GetVersion (read by the factory only)
    "_0069_", // KVX_Init
    "_0029_", // KVX_End
    "_0008_", // KVXGetLastError
    "_0070_", // KVXEnableFilter
    "_0071_", // KVXDisableFilter
    nullptr,  // KVXSetFilterState
    "_0072_", // KVXGetFiltersInfo
    "_0117_", // KVX_TakeSConfigSnapShot
    "_0099_", // KVXLogSetStatus
    "_0100_", // KVXLogSetConfig
    "_0105_", // KVXPCapSetStatus
    "_0107_", // KVXPCapSetConfig
    "_0113_", // KVXATDICapSetStatus
    "_0115_", // KVXATDICapSetConfig
    "_0009_", // resolved, never called
    "_0118_",
    nullptr,
};

// How this tool identifies itself to the 3.2 SDK's client session.
constexpr BYTE s_abApplicationId[KVXAPI_APP_ID_SIZE] = {0x4B, 0x56, 0x58, 0x44, 0x49, 0x41, 0x47, 0x32,
                                                        0x03, 0x02, 0x5A, 0x1C, 0x7E, 0x41, 0x90, 0x2B};

} // namespace

CKVXApiHelper32::CKVXApiHelper32() : CKVXApiAdapter(s_functions, s_layout) { Init(); }

CKVXApiHelper32::~CKVXApiHelper32() { End(); }

DWORD CKVXApiHelper32::LoadFuncPointers() { return LoadFunctionTable(s_exports); }

DWORD CKVXApiHelper32::Init()
{
    KVX_FUNCTION("CKVXApiHelper32::Init");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        const DWORD dwResult = LoadFuncPointers();
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
        return InitSession(kvxFunctionName_, s_abApplicationId);
    });
}

DWORD CKVXApiHelper32::End()
{
    KVX_FUNCTION("CKVXApiHelper32::End");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        return EndSession(kvxFunctionName_);
    });
}

DWORD CKVXApiHelper32::SetFilterState(DWORD dwIndex, DWORD dwAction)
{
    KVX_FUNCTION("CKVXApiHelper32::SetFilterState");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        if (FunctionMissing(kvxFunctionName_, reinterpret_cast<const void*>(m_functions.g_lpfnKVXEnableFilter),
                            "g_lpfnKVXEnableFilter") ||
            FunctionMissing(kvxFunctionName_, reinterpret_cast<const void*>(m_functions.g_lpfnKVXDisableFilter),
                            "g_lpfnKVXDisableFilter") ||
            FunctionMissing(kvxFunctionName_, reinterpret_cast<const void*>(m_functions.g_lpfnKVXGetLastError),
                            "g_lpfnKVXGetLastError")) {
            return ERROR_INVALID_FUNCTION;
        }
        DWORD dwSdkId = 0;
        const DWORD dwResult = ResolveFilterAction(kvxFunctionName_, dwIndex, dwAction, dwSdkId);
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
        const BOOL bDone = dwAction == KVXAPI_FILTER_ACTION_STOP ? m_functions.g_lpfnKVXDisableFilter(dwSdkId)
                                                                 : m_functions.g_lpfnKVXEnableFilter(dwSdkId);
        return FilterSwitched(kvxFunctionName_, dwIndex, dwAction, bDone);
    });
}

DWORD CKVXApiHelper32::EnableIMPCap(const std::string& strBaseName, DWORD dwMaxSize, bool bOnRestart)
{
    KVX_FUNCTION("CKVXApiHelper32::EnableIMPCap");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        return EnableIMPCapWith<SKVXIMCaptureOptions32>(kvxFunctionName_, strBaseName, dwMaxSize, bOnRestart);
    });
}
