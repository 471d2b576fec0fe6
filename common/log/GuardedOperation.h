// The boundary every core operation shares: an exception that escapes its body is logged under the
// operation's name and answered with 1064, never passed to the caller.
#pragma once

#include "common/log/KVXDiagObject.h"

namespace kvx {

constexpr DWORD KVXDIAG2_GUARD_EXCEPTION = 1064; // ERROR_EXCEPTION_IN_SERVICE

template <typename TBody>
DWORD GuardedOperation(const char* pszFunction, TBody body)
{
    try {
        return body();
    } catch (...) {
        CKVXDiagObject::WriteLog(eKVXDiagLog_EXCEPTION, KVXDIAG_LOG_MODULE, pszFunction,
                                 "Excepción no controlada!! LastError: %lu", static_cast<unsigned long>(::GetLastError()));
        return KVXDIAG2_GUARD_EXCEPTION;
    }
}

} // namespace kvx
