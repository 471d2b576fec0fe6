// What every task class shares: creation and self-registration by id, the default "no result"
// answer, the boundary that turns an exception into a code, and (for the tasks that use it) the
// system-utilities helper held from construction to destruction.
#pragma once

#include "common/log/GuardedOperation.h"
#include "common/log/KVXDiagObject.h"
#include "core/helpers/HelperRef.h"
#include "core/helpers/SysUtilsHelper.h"
#include "core/interface/KVXDiagTypes.h"
#include "core/tasks/ITask.h"
#include "core/tasks/TasksFactory.h"

#include <new>
#include <string>

namespace kvx {

// TDerived provides
//   static constexpr DWORD KVXTASK_ID            (its id, from TaskIds.h)
//   static constexpr const char* KVXTASK_CLASS   (its class name for the log)
// and a public default constructor; it registers itself with one line in its .cpp:
//   const DWORD CTaskX::s_dwFactoryRegistration = CTaskX::PerformFactoryRegistration();
template <typename TDerived>
class CTaskImpl : public ITask, public CKVXDiagObject {
public:
    static ITask* AutoCreation()
    {
        const std::string function = std::string(TDerived::KVXTASK_CLASS) + "::AutoCreation";
        try {
            TDerived* pTask = new (std::nothrow) TDerived();
            if (pTask == nullptr) {
                CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, function.c_str(), "%s",
                                         "Error! No se pudo crear el objeto, fallo en la reserva de memoria.");
            }
            return pTask;
        } catch (...) {
            CKVXDiagObject::WriteLog(eKVXDiagLog_EXCEPTION, KVXDIAG_LOG_MODULE, function.c_str(), "%s",
                                     "Excepción no controlada!!");
            return nullptr;
        }
    }

    static DWORD PerformFactoryRegistration()
    {
        const std::string function = std::string(TDerived::KVXTASK_CLASS) + "::PerformFactoryRegistration";
        const DWORD dwResult = CTasksFactory::Subscribe(TDerived::KVXTASK_ID, &CTaskImpl::AutoCreation);
        CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, function.c_str(),
                                 "Resultado de la subsicripción en la factoría de task con ID 0x%lX: 0x%lX",
                                 static_cast<unsigned long>(TDerived::KVXTASK_ID), static_cast<unsigned long>(dwResult));
        return dwResult;
    }

    // Tasks without a result value answer 232 and clear the out pointer.
    DWORD GetResults(ITaskData** ppResult) override { return NoResult(ppResult); }

protected:
    static DWORD NoResult(ITaskData** ppResult)
    {
        if (ppResult != nullptr) {
            *ppResult = nullptr;
        }
        return KVXDIAG2_ERR_NO_DATA;
    }
    static DWORD HandOut(ITaskData& value, ITaskData** ppResult)
    {
        if (ppResult == nullptr) {
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        *ppResult = &value;
        return KVXDIAG2_OK;
    }
};

// A task that works through "SYSUTILS". The helper is asked for at construction and may be missing;
// Execute checks it with SysUtilsMissing.
template <typename TDerived>
class CSysUtilsTask : public CTaskImpl<TDerived> {
protected:
    CSysUtilsTask() : m_sysUtils(KVXDIAG2_HELPER_SYSUTILS) {}

    // True (after the level-2 log line) when the helper could not be obtained; Execute then answers 4301.
    bool SysUtilsMissing(const char* pszFunction) const
    {
        if (m_sysUtils) {
            return false;
        }
        CKVXDiagObject::WriteLog(eKVXDiagLog_SYSTEM, KVXDIAG_LOG_MODULE, pszFunction, "%s",
                                 "Error! El SysUtils Helper no ha sido cargado.");
        return true;
    }

    CHelperRef<CSysUtilsHelper> m_sysUtils;
};

} // namespace kvx
