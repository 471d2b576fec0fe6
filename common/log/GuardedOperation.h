// The boundary every core operation shares: an exception that escapes its body is logged under the
// operation's name and answered with the operation's failure value, never passed to the caller.
#pragma once

#include "common/log/KVXDiagObject.h"

namespace kvx {

constexpr DWORD KVXDIAG2_GUARD_EXCEPTION = 1064; // ERROR_EXCEPTION_IN_SERVICE

// The foreman and its tasks write the error after a colon, the coordinator after an equals sign; the
// support team's log filters know each wording.
constexpr const char* KVX_EXCEPTION_TEXT = "Excepción no controlada!! LastError: ";
constexpr const char* KVX_EXCEPTION_TEXT_EQ = "Excepción no controlada!! LastError=";
// The notification path's own wording.
constexpr const char* KVX_EXCEPTION_TEXT_NOTIFY = "Excepción no controlada. LastError=";

template <typename TResult, typename TBody>
TResult GuardedCall(const char* pszFunction, const char* pszExceptionText, TResult fallback, TBody body)
{
    try {
        return body();
    } catch (...) {
        const unsigned long lastError = ::GetLastError();
        CKVXDiagObject::WriteLog(eKVXDiagLog_EXCEPTION, KVXDIAG_LOG_MODULE, pszFunction, "%s%lu", pszExceptionText,
                                 lastError);
        return fallback;
    }
}

// For the operations that answer nothing, or the same whatever happened inside.
template <typename TBody>
void GuardedProcedure(const char* pszFunction, const char* pszExceptionText, TBody body)
{
    GuardedCall(pszFunction, pszExceptionText, 0, [&]() {
        body();
        return 0;
    });
}

template <typename TBody>
DWORD GuardedOperation(const char* pszFunction, TBody body)
{
    return GuardedCall(pszFunction, KVX_EXCEPTION_TEXT, KVXDIAG2_GUARD_EXCEPTION, body);
}

} // namespace kvx
