// What the activate and deactivate filter tasks share: each writes the "Start" value of one driver
// service. The new start type takes effect at the next boot; the driver is neither started nor stopped.
#pragma once

#include "common/win/UniqueHandles.h"
#include "core/interface/KVXDiagTypes.h"
#include "core/report/IReporter.h"
#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskConfigReader.h"

#include <string>

namespace kvx {

// TDerived provides, besides what CTaskImpl asks for,
//   static constexpr DWORD KVXTASK_START_VALUE          (1 system start, 4 disabled)
//   static void ReportOutcome(IReporter&, const std::string& name, bool bSucceeded)
template <typename TDerived>
class CServiceStartTask : public CTaskImpl<TDerived> {
public:
    // Parameter: the driver's service name (one text).
    DWORD SetConfig(const TaskDataList& params) override
    {
        const std::string function = std::string(TDerived::KVXTASK_CLASS) + "::SetConfig";
        CKVXLogScope scope(KVXDIAG_LOG_MODULE, function.c_str());
        return GuardedOperation(function.c_str(),
                                [&] { return CTaskConfigReader(function.c_str()).ReadOneText(params, m_strService); });
    }

    DWORD Execute(IReporter* pReporter) override
    {
        const std::string function = std::string(TDerived::KVXTASK_CLASS) + "::Execute";
        CKVXLogScope scope(KVXDIAG_LOG_MODULE, function.c_str());
        return GuardedOperation(function.c_str(), [&]() -> DWORD {
            const DWORD dwResult = SetStartValue(function.c_str());
            if (pReporter != nullptr) {
                TDerived::ReportOutcome(*pReporter, m_strService, dwResult == KVXDIAG2_OK);
            }
            return dwResult;
        });
    }

private:
    DWORD SetStartValue(const char* pszFunction) const
    {
        // An empty name would make the services key itself the target.
        if (m_strService.empty()) {
            CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction, "%s",
                                     "Error! No se ha indicado el nombre del servicio.");
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        const std::string keyPath = ::KVXDIAG2_SERVICES_KEY + m_strService;
        UniqueHkey key;
        LONG rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_ALL_ACCESS, key.put());
        if (rc != ERROR_SUCCESS) {
            CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction,
                                     "Error! No se pudo abrir la clave %s. Error: %ld", keyPath.c_str(),
                                     static_cast<long>(rc));
            return static_cast<DWORD>(rc);
        }
        const DWORD dwStart = TDerived::KVXTASK_START_VALUE;
        rc = ::RegSetValueExA(key.get(), "Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwStart),
                              sizeof dwStart);
        if (rc != ERROR_SUCCESS) {
            CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction,
                                     "Error! No se pudo escribir el valor Start de %s. Error: %ld", keyPath.c_str(),
                                     static_cast<long>(rc));
            return static_cast<DWORD>(rc);
        }
        CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, pszFunction, "Valor Start de %s fijado a %lu.",
                                 m_strService.c_str(), static_cast<unsigned long>(dwStart));
        return KVXDIAG2_OK;
    }

    std::string m_strService;
};

} // namespace kvx
