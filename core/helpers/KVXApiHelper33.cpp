#include "core/helpers/KVXApiHelper33.h"

#include "common/log/GuardedOperation.h"
#include "core/interface/KVXDiagTypes.h"

SKVXApiFunctions CKVXApiHelper33::s_functions = {};
const DWORD CKVXApiHelper33::s_dwFactoryRegistration = CKVXApiHelper33::PerformFactoryRegistration();

namespace {

// Index table of this generation: index -> service, SDK filter id. 3.3 has no "KVXFLTB".
constexpr SKVXFilterSlot s_filters[KVXAPI_FILTER_INDEX_LAST + 1] = {
    {"KVXFLTF", "Application Filter", 1},
    {"KVXFLTD", "Filter D", 3},
    {"KVXFLTE", "Filter E", 2},
    {"KVXFLTA", "Filter A", 4},
    {"KVXFLTC", "Filter C", 5},
    {nullptr, nullptr, 0},
    {nullptr, nullptr, 0},
};

constexpr SKVXApiLayout s_layout = {s_filters, SKVXFiltersInfo33::TAG, SKVXFiltersInfo33::BLOCK_SIZE,
                                    sizeof(SKVXFiltersInfo33)};

constexpr SKVXApiExportNames s_exports = {
    "KVX_GetVersion",
    "_0067_", // KVX_Init
    "_0027_", // KVX_End
    "_0008_", // KVXGetLastError
    nullptr,  // KVXEnableFilter
    nullptr,  // KVXDisableFilter
    "_0071_", // KVXSetFilterState
    "_0070_", // KVXGetFiltersInfo
    "_0107_", // KVX_TakeSConfigSnapShot
    "_0089_", // KVXLogSetStatus
    "_0090_", // KVXLogSetConfig
    "_0095_", // KVXPCapSetStatus
    "_0097_", // KVXPCapSetConfig
    "_0103_", // KVXATDICapSetStatus
    "_0105_", // KVXATDICapSetConfig
    "_0009_", // resolved, never called
    nullptr,
    nullptr,
};

// How this tool identifies itself to the 3.3 SDK's client session.
constexpr BYTE s_abApplicationId[KVXAPI_APP_ID_SIZE] = {0x4B, 0x56, 0x58, 0x44, 0x49, 0x41, 0x47, 0x32,
                                                        0x03, 0x03, 0x6B, 0x2D, 0x8F, 0x52, 0xA1, 0x3C};

// KVXSetFilterState's state argument.
constexpr DWORD KVXAPI33_FILTER_STOP = 0;
constexpr DWORD KVXAPI33_FILTER_START = 1;

} // namespace

CKVXApiHelper33::CKVXApiHelper33() : CKVXApiAdapter(s_functions, s_layout) { Init(); }

CKVXApiHelper33::~CKVXApiHelper33() { End(); }

DWORD CKVXApiHelper33::LoadFuncPointers() { return LoadFunctionTable(s_exports); }

DWORD CKVXApiHelper33::Init()
{
    KVX_FUNCTION("CKVXApiHelper33::Init");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        const DWORD dwResult = LoadFuncPointers();
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
        return InitSession(kvxFunctionName_, s_abApplicationId);
    });
}

DWORD CKVXApiHelper33::End()
{
    KVX_FUNCTION("CKVXApiHelper33::End");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        return EndSession(kvxFunctionName_);
    });
}

DWORD CKVXApiHelper33::SetFilterState(DWORD dwIndex, DWORD dwAction)
{
    KVX_FUNCTION("CKVXApiHelper33::SetFilterState");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        if (FunctionMissing(kvxFunctionName_, reinterpret_cast<const void*>(m_functions.g_lpfnKVXSetFilterState),
                            "g_lpfnKVXSetFilterState") ||
            FunctionMissing(kvxFunctionName_, reinterpret_cast<const void*>(m_functions.g_lpfnKVXGetLastError),
                            "g_lpfnKVXGetLastError")) {
            return ERROR_INVALID_FUNCTION;
        }
        DWORD dwSdkId = 0;
        const DWORD dwResult = ResolveFilterAction(kvxFunctionName_, dwIndex, dwAction, dwSdkId);
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
        const BOOL bDone = m_functions.g_lpfnKVXSetFilterState(
            dwSdkId, dwAction == KVXAPI_FILTER_ACTION_STOP ? KVXAPI33_FILTER_STOP : KVXAPI33_FILTER_START);
        return FilterSwitched(kvxFunctionName_, dwIndex, dwAction, bDone);
    });
}

DWORD CKVXApiHelper33::EnableIMPCap(const std::string& strBaseName, DWORD dwMaxSize, bool bOnRestart)
{
    KVX_FUNCTION("CKVXApiHelper33::EnableIMPCap");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        return EnableIMPCapWith<SKVXIMCaptureOptions32>(kvxFunctionName_, strBaseName, dwMaxSize, bOnRestart);
    });
}
