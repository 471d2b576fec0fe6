// Base of the tasks that work through the network configuration helper ("NETCFG"): the helper is asked
// for at construction, may be missing, and is released with the task.
#pragma once

#include "core/helpers/HelperRef.h"
#include "core/helpers/NetCfgHelper.h"
#include "core/tasks/TaskBase.h"

namespace kvx {

template <typename TDerived>
class CNetCfgTask : public CTaskImpl<TDerived> {
protected:
    CNetCfgTask() : m_netCfg(KVXDIAG2_HELPER_NETCFG) {}

    // True (after the level-2 log line) when the helper could not be obtained; Execute then answers 4301.
    bool NetCfgMissing(const char* pszFunction) const
    {
        if (m_netCfg) {
            return false;
        }
        CKVXDiagObject::WriteLog(eKVXDiagLog_SYSTEM, KVXDIAG_LOG_MODULE, pszFunction, "%s",
                                 "Error! El NetCfg Helper no ha sido cargado.");
        return true;
    }

    CHelperRef<CNetCfgHelper> m_netCfg;
};

} // namespace kvx
