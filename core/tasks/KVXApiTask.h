// What the module-log, capture and snapshot tasks share: they work through the SDK adapter "KVXAPI",
// and hold it only around the adapter call, so that a long job never keeps the product's SDK loaded
// between its steps.
#pragma once

#include "common/log/KVXDiagObject.h"
#include "core/helpers/HelperRef.h"
#include "core/helpers/KVXApiHelper.h"
#include "core/interface/KVXDiagTypes.h"
#include "core/tasks/TaskBase.h"

namespace kvx {

constexpr const char* KVXTASK_KVXAPI_MISSING = "Error! El helper KVXAPI no ha sido cargado.";

// "True"/"False", as the report writes flags.
inline const char* BoolText(bool bValue) { return bValue ? "True" : "False"; }

template <typename TDerived>
class CKVXApiTask : public CTaskImpl<TDerived> {
protected:
    // Obtains the adapter, runs operation(adapter) and releases the adapter again; 4301 (logged at
    // level 2) when there is no adapter for the installed product.
    template <typename TOperation>
    static DWORD WithAdapter(const char* pszFunction, TOperation operation)
    {
        CHelperRef<CKVXApiHelper> adapter(KVXDIAG2_HELPER_KVXAPI);
        if (!adapter) {
            CKVXDiagObject::WriteLog(eKVXDiagLog_SYSTEM, KVXDIAG_LOG_MODULE, pszFunction, "%s", KVXTASK_KVXAPI_MISSING);
            return KVXDIAG2_ERR_NO_LIBRARY;
        }
        return operation(*adapter.get());
    }

    // The outcome line of the trace log: level 4 with the code on failure.
    static void LogOutcome(const char* pszFunction, DWORD dwResult, const char* pszWhat)
    {
        if (dwResult == KVXDIAG2_OK) {
            CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, pszFunction, "%s: realizado con éxito.",
                                     pszWhat);
        } else {
            CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction, "Error! %s: ha fallado. Error: 0x%lX",
                                     pszWhat, static_cast<unsigned long>(dwResult));
        }
    }
};

} // namespace kvx
