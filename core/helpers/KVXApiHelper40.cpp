#include "core/helpers/KVXApiHelper40.h"

#include "common/log/GuardedOperation.h"
#include "core/interface/KVXDiagTypes.h"

SKVXApiFunctions CKVXApiHelper40::s_functions = {};
const DWORD CKVXApiHelper40::s_dwFactoryRegistration = CKVXApiHelper40::PerformFactoryRegistration();

namespace {

// Index table of this generation: index -> service, SDK filter id. "KVXFLTB" keeps its index but has
// no SDK id any more, so its state and start/stop requests are refused.
constexpr SKVXFilterSlot s_filters[KVXAPI_FILTER_INDEX_LAST + 1] = {
    {"KVXFLTF", "Application Filter", 1},
    {"KVXFLTD", "Filter D", 3},
    {"KVXFLTB", "Filter B", 0},
    {"KVXFLTE", "Filter E", 2},
    {"KVXFLTA", "Filter A", 4},
    {"KVXFLTC", "Filter C", 5},
    {nullptr, nullptr, 0},
};

constexpr SKVXApiLayout s_layout = {s_filters, SKVXFiltersInfo40::TAG, SKVXFiltersInfo40::BLOCK_SIZE,
                                    sizeof(SKVXFiltersInfo40)};

constexpr SKVXApiExportNames s_exports = {
    nullptr,  // KVX_GetVersion (read by the factory only)
    "_0069_", // KVX_Init (resolved, never called)
    "_0027_", // KVX_End (resolved, never called)
    "_0008_", // KVXGetLastError
    nullptr,  // KVXEnableFilter
    nullptr,  // KVXDisableFilter
    nullptr,  // KVXSetFilterState
    "_0072_", // KVXGetFiltersInfo
    "_0111_", // KVX_TakeSConfigSnapShot
    "_0093_", // KVXLogSetStatus
    "_0094_", // KVXLogSetConfig
    "_0099_", // KVXPCapSetStatus
    "_0101_", // KVXPCapSetConfig
    "_0107_", // KVXATDICapSetStatus
    "_0109_", // KVXATDICapSetConfig
    "_0009_", // resolved, never called
    "_0112_",
    nullptr,
};

} // namespace

CKVXApiHelper40::CKVXApiHelper40() : CKVXApiAdapter(s_functions, s_layout) { LoadFuncPointers(); }

CKVXApiHelper40::~CKVXApiHelper40() = default;

DWORD CKVXApiHelper40::LoadFuncPointers() { return LoadFunctionTable(s_exports); }

DWORD CKVXApiHelper40::SetFilterState(DWORD dwIndex, DWORD dwAction)
{
    KVX_FUNCTION("CKVXApiHelper40::SetFilterState");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        if (FunctionMissing(kvxFunctionName_, reinterpret_cast<const void*>(m_functions.g_lpfnKVXGetLastError),
                            "g_lpfnKVXGetLastError")) {
            return ERROR_INVALID_FUNCTION;
        }
        // The product manages its plug-ins itself from 4.0 on; the request is only validated.
        DWORD dwSdkId = 0;
        return ResolveFilterAction(kvxFunctionName_, dwIndex, dwAction, dwSdkId);
    });
}

DWORD CKVXApiHelper40::EnableIMPCap(const std::string& strBaseName, DWORD dwMaxSize, bool bOnRestart)
{
    KVX_FUNCTION("CKVXApiHelper40::EnableIMPCap");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT_EQ, KVXDIAG2_ERR_EXCEPTION, [&]() -> DWORD {
        return EnableIMPCapWith<SKVXIMCaptureOptions40>(kvxFunctionName_, strBaseName, dwMaxSize, bOnRestart);
    });
}
