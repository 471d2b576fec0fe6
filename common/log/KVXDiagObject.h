// The diagnostic trace log shared by the wizard and the core library. Each deliverable compiles its
// own copy, so each has its own process-wide state: configuration, lock and open file.
#pragma once

#include <windows.h>

#include <cstdarg>

// Each deliverable names itself in its lines; the core is the default.
#ifndef KVXDIAG_LOG_MODULE
#define KVXDIAG_LOG_MODULE 0xDD000001u
#endif

#ifdef __MINGW_PRINTF_FORMAT
#define KVXDIAG_PRINTF(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#else
#define KVXDIAG_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

// Levels callers pass; the threshold is compared as a number, not as a mask.
enum EKVXDiagLogLevel : DWORD {
    eKVXDiagLog_EXCEPTION = 1,
    eKVXDiagLog_SYSTEM = 2,
    eKVXDiagLog_ERROR = 4,
    eKVXDiagLog_EVENT = 16,
    eKVXDiagLog_INFO = 128,
    eKVXDiagLog_TRACE = 512,
};

constexpr DWORD KVXDIAG_MODULE_CORE = 0xDD000001u;
constexpr DWORD KVXDIAG_MODULE_GUI = 0xDD000002u;

class CKVXDiagObject {
public:
    // Constructing any object resets the shared state, so the next line re-reads the configuration and
    // is preceded by a new start banner; that is how a fresh configuration takes effect.
    CKVXDiagObject();
    virtual ~CKVXDiagObject();

    static void WriteLog(DWORD dwLevel, DWORD dwModuleId, const char* pszFunction, const char* pszFormat, ...)
        KVXDIAG_PRINTF(4, 5);
    static void WriteLogV(DWORD dwLevel, DWORD dwModuleId, const char* pszFunction, const char* pszFormat,
                          va_list args);

protected:
    static bool Initialize(bool* pbInitialisedNow = nullptr);
    static bool OpenLogFile(const char* _aszFileFullPath);
    static void OutputDebugStringToFile(const char* pszText);
    static bool ReadConfig();
    static void SetDefaultConfig();

private:
    static void Reset();
};

// Writes "Inicio función." on entry and "Fin función." on every exit of the enclosing function.
class CKVXLogScope {
public:
    CKVXLogScope(DWORD dwModuleId, const char* pszFunction) : m_dwModuleId(dwModuleId), m_pszFunction(pszFunction)
    {
        CKVXDiagObject::WriteLog(eKVXDiagLog_TRACE, m_dwModuleId, m_pszFunction, "%s", "Inicio función.");
    }
    ~CKVXLogScope() { CKVXDiagObject::WriteLog(eKVXDiagLog_TRACE, m_dwModuleId, m_pszFunction, "%s", "Fin función."); }
    CKVXLogScope(const CKVXLogScope&) = delete;
    CKVXLogScope& operator=(const CKVXLogScope&) = delete;

private:
    DWORD m_dwModuleId;
    const char* m_pszFunction;
};

// KVX_FUNCTION names the qualified function once; KVX_LOG lines then carry that name.
#define KVX_FUNCTION(name)                                                                                         \
    [[maybe_unused]] static constexpr const char* kvxFunctionName_ = name;                                          \
    CKVXLogScope kvxLogScope_(KVXDIAG_LOG_MODULE, kvxFunctionName_)
#define KVX_FUNCTION_QUIET(name) [[maybe_unused]] static constexpr const char* kvxFunctionName_ = name
#define KVX_LOG(level, ...) CKVXDiagObject::WriteLog((level), KVXDIAG_LOG_MODULE, kvxFunctionName_, __VA_ARGS__)
