// What the plug-in filter tasks share: they start, stop or query one filter by service name through
// the SDK adapter "KVXAPI", which they hold from construction to destruction (the adapter keeps the
// product's SDK loaded while any task holds it).
#pragma once

#include "core/helpers/HelperRef.h"
#include "core/helpers/KVXApiHelper.h"
#include "core/tasks/KVXApiTask.h"
#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskConfigReader.h"

#include <string>

namespace kvx {

// The adapter's action codes.
constexpr DWORD KVXAPI_ACTION_STOP = 1;
constexpr DWORD KVXAPI_ACTION_START = 2;

template <typename TDerived>
class CFilterTask : public CTaskImpl<TDerived> {
public:
    // Parameter: the filter's service name (one text).
    DWORD SetConfig(const TaskDataList& params) override
    {
        const std::string function = std::string(TDerived::KVXTASK_CLASS) + "::SetConfig";
        CKVXLogScope scope(KVXDIAG_LOG_MODULE, function.c_str());
        return GuardedOperation(function.c_str(),
                                [&] { return CTaskConfigReader(function.c_str()).ReadOneText(params, m_strFilter); });
    }

protected:
    CFilterTask() : m_api(KVXDIAG2_HELPER_KVXAPI) {}

    // True (after the level-2 log line) when there is no adapter for the installed product.
    bool ApiMissing(const char* pszFunction) const
    {
        if (m_api) {
            return false;
        }
        CKVXDiagObject::WriteLog(eKVXDiagLog_SYSTEM, KVXDIAG_LOG_MODULE, pszFunction, "%s", KVXTASK_KVXAPI_MISSING);
        return true;
    }

    std::string m_strFilter;
    CHelperRef<CKVXApiHelper> m_api;
};

} // namespace kvx
