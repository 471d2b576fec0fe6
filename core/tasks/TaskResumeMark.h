// What the four "suspicious manager" tasks share: each sets or removes one presence-only value in the
// resume key. Only the value's presence counts, so the mark is a DWORD 0.
#pragma once

#include "core/interface/ResumeState.h"
#include "core/tasks/ResumeStateRegistry.h"
#include "core/tasks/TaskBase.h"

#include <string>

namespace kvx {

// TDerived provides, besides what CTaskImpl asks for,
//   static constexpr const char* KVXTASK_VALUE   (the value's name)
//   static constexpr bool KVXTASK_MARK           (true sets the value, false removes it)
template <typename TDerived> class CTaskResumeMark : public CTaskImpl<TDerived> {
public:
    DWORD SetConfig(const TaskDataList&) override
    {
        const std::string function = std::string(TDerived::KVXTASK_CLASS) + "::SetConfig";
        CKVXLogScope scope(KVXDIAG_LOG_MODULE, function.c_str());
        return ERROR_NOT_SUPPORTED;
    }

    DWORD Execute(IReporter*) override
    {
        const std::string function = std::string(TDerived::KVXTASK_CLASS) + "::Execute";
        CKVXLogScope scope(KVXDIAG_LOG_MODULE, function.c_str());
        return GuardedOperation(function.c_str(), [&]() -> DWORD { return Apply(function.c_str()); });
    }

private:
    static DWORD Apply(const char* pszFunction)
    {
        UniqueHkey key;
        DWORD dwResult = OpenResumeKey(false, key);
        if (dwResult != ERROR_SUCCESS) {
            CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction, "%s%lu",
                                     "Error! No se pudo abrir la clave de registro principal del KVXDIAG2: ",
                                     static_cast<unsigned long>(dwResult));
            return dwResult;
        }
        if constexpr (TDerived::KVXTASK_MARK) {
            const DWORD dwMark = 0;
            dwResult = static_cast<DWORD>(::RegSetValueExA(key.get(), TDerived::KVXTASK_VALUE, 0, REG_DWORD,
                                                           reinterpret_cast<const BYTE*>(&dwMark), sizeof dwMark));
        } else {
            dwResult = static_cast<DWORD>(::RegDeleteValueA(key.get(), TDerived::KVXTASK_VALUE));
        }
        if (dwResult != ERROR_SUCCESS) {
            LogRegistryFailure(pszFunction,
                               std::string(TDerived::KVXTASK_MARK ? "Error! No se pudo escribir el valor "
                                                                  : "Error! No se pudo eliminar el valor ") +
                                   TDerived::KVXTASK_VALUE,
                               dwResult);
            return dwResult;
        }
        CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, pszFunction, "%s %s.",
                                 TDerived::KVXTASK_MARK ? "Establecido el valor" : "Eliminado el valor",
                                 TDerived::KVXTASK_VALUE);
        return KVXDIAG2_OK;
    }
};

} // namespace kvx
