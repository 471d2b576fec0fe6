// The reference-counted singleton scheme of the helpers and SDK adapters, written once: the first
// acquisition creates the instance, every later one shares it, the last release deletes it.
#pragma once

#include "common/log/KVXDiagObject.h"
#include "common/win/UniqueHandles.h"
#include "core/helpers/HelpersFactory.h"
#include "core/helpers/IHelper.h"
#include "core/interface/KVXDiagTypes.h"

#include <new>
#include <string>

namespace kvx {

// One instance of TShared per process. A lock makes creation and the last release atomic with respect
// to each other: without it two job threads could both create an instance, or one could take a
// reference to an instance that another thread is deleting. The count itself still moves by
// interlocked operations so that readers outside the lock see whole values.
template <typename TShared>
class CRefCountedSingleton {
public:
    // Returns the shared instance with one more reference; when there is none, `create` (returning a
    // new TShared or none) makes it. Exceptions from `create` reach the caller.
    template <typename TCreate>
    static TShared* Acquire(TCreate create, const char* pszFunction)
    {
        SState& state = State();
        CCriticalSectionLock lock(state.cs);
        if (state.pInstance != nullptr) {
            ::InterlockedIncrement(&state.lRefs);
            return state.pInstance;
        }
        TShared* pInstance = create();
        if (pInstance == nullptr) {
            CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction, "%s",
                                     "Error! No se pudo crear la instancia, fallo en la reserva de memoria.");
            return nullptr;
        }
        state.pInstance = pInstance;
        ::InterlockedExchange(&state.lRefs, 1);
        CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, pszFunction, "%s",
                                 "Se crea instancia por primera vez.");
        return pInstance;
    }

    // Drops one reference of pInstance and deletes it at zero. A pointer that is not the current
    // instance (a stale or doubled release) is logged and ignored rather than freed twice.
    static void Release(TShared* pInstance, const char* pszFunction)
    {
        SState& state = State();
        CCriticalSectionLock lock(state.cs);
        if (pInstance == nullptr || pInstance != state.pInstance || state.lRefs <= 0) {
            CKVXDiagObject::WriteLog(eKVXDiagLog_SYSTEM, KVXDIAG_LOG_MODULE, pszFunction, "%s",
                                     "Error! Se libera una instancia que no es la actual.");
            return;
        }
        if (::InterlockedDecrement(&state.lRefs) != 0) {
            return;
        }
        CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, pszFunction, "%s", "Borrando singleton...");
        state.pInstance = nullptr;
        // Deleted under the lock so that a concurrent Acquire waits for the old instance to be gone
        // (an SDK adapter unloads its library here) before it makes a new one.
        delete pInstance;
    }

    // For diagnostics and tests: the current instance (no reference taken) and its count.
    static TShared* Peek()
    {
        CCriticalSectionLock lock(State().cs);
        return State().pInstance;
    }
    static LONG RefCount() { return ::InterlockedCompareExchange(&State().lRefs, 0, 0); }

private:
    struct SState {
        CRITICAL_SECTION cs;
        TShared* pInstance = nullptr;
        volatile LONG lRefs = 0;
        SState() { ::InitializeCriticalSection(&cs); }
        // The lock is never deleted: a helper released from another static destructor at process
        // exit must still find it usable.
    };
    static SState& State()
    {
        static SState* s_pState = new SState();
        return *s_pState;
    }
};

// Base of a helper class that is its own singleton: it supplies AutoCreation, Destroy, GetName and
// PerformFactoryRegistration. TDerived provides
//   static constexpr const char* KVXHELPER_NAME  (registration name, e.g. "SYSUTILS")
//   static constexpr const char* KVXHELPER_CLASS (class name for the log, e.g. "CSysUtilsHelper")
// and may hide `static TDerived* CreateInstance()` to construct something other than a plain TDerived
// (an SDK adapter chosen by version). TDerived must be deletable through TDerived*.
template <typename TDerived>
class CSharedHelper : public IHelper {
public:
    using Singleton = CRefCountedSingleton<TDerived>;

    static IHelper* AutoCreation()
    {
        const std::string function = std::string(TDerived::KVXHELPER_CLASS) + "::AutoCreation";
        CKVXLogScope scope(KVXDIAG_LOG_MODULE, function.c_str());
        try {
            TDerived* pInstance = Singleton::Acquire([] { return TDerived::CreateInstance(); }, function.c_str());
            return pInstance;
        } catch (...) {
            CKVXDiagObject::WriteLog(eKVXDiagLog_EXCEPTION, KVXDIAG_LOG_MODULE, function.c_str(), "%s",
                                     "Excepción no controlada!!");
            return nullptr;
        }
    }

    static DWORD PerformFactoryRegistration()
    {
        const std::string function = std::string(TDerived::KVXHELPER_CLASS) + "::PerformFactoryRegistration";
        const DWORD dwResult = CHelpersFactory::Subscribe(TDerived::KVXHELPER_NAME, &CSharedHelper::AutoCreation);
        CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, function.c_str(),
                                 "Resultado de la subscripción en la factoría de helpers con nombre %s: 0x%lX",
                                 TDerived::KVXHELPER_NAME, static_cast<unsigned long>(dwResult));
        return dwResult;
    }

    void Destroy() override
    {
        const std::string function = std::string(TDerived::KVXHELPER_CLASS) + "::Destroy";
        CKVXLogScope scope(KVXDIAG_LOG_MODULE, function.c_str());
        try {
            Singleton::Release(static_cast<TDerived*>(this), function.c_str());
        } catch (...) {
            CKVXDiagObject::WriteLog(eKVXDiagLog_EXCEPTION, KVXDIAG_LOG_MODULE, function.c_str(), "%s",
                                     "Excepción no controlada!!");
        }
    }

    DWORD GetName(std::string& strName) override
    {
        try {
            strName = TDerived::KVXHELPER_NAME;
            return KVXDIAG2_OK;
        } catch (...) {
            return KVXDIAG2_ERR_EXCEPTION;
        }
    }

    static TDerived* CreateInstance() { return new (std::nothrow) TDerived(); }

protected:
    CSharedHelper() = default;
    ~CSharedHelper() = default;
};

} // namespace kvx
