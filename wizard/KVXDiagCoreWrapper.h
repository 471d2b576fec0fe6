// The wizard's binding to the core library: loads KVXDiagCore.dll at run time, resolves its eight
// exports by name and turns each into a checked, logged method.
#pragma once

#include "common/log/KVXDiagObject.h"
#include "common/win/UniqueHandles.h"
#include "core/interface/KVXDiagTypes.h"

#include <string>

class CKVXDiagCore : public CKVXDiagObject {
public:
    // Loads and initialises the core at once; a failed load leaves an object without entry points,
    // whose methods then answer ERROR_FUNCTION_NOT_CALLED.
    CKVXDiagCore();
    ~CKVXDiagCore() override;

    CKVXDiagCore(const CKVXDiagCore&) = delete;
    CKVXDiagCore& operator=(const CKVXDiagCore&) = delete;

    DWORD Load();
    DWORD BasicAnalysis(int* pJobId);
    DWORD DeepAnalysis(int* pJobId);
    DWORD PackAndSendResults(const std::string& destination, int* pJobId);
    DWORD CancelTask(int jobId);
    // A null callback and context unregister.
    DWORD RegisterNotifyCallback(PFN_KVXDIAG2_NOTIFY pfnCallback, KVXDIAG2_CONTEXT context);
    bool IsPendingDeepAnalysis(int* pStep);
    void Unload();

    // The library's file name; the wizard looks for it beside its own executable first.
    static constexpr const char* KVXDIAG2_CORE_LIBRARY = "KVXDiagCore.dll";

private:
    kvx::UniqueModule m_hLibrary;
    bool bPendingDeepAnalysis = false;
    int eStep = 0;

    PFN_KVXDIAG2_INIT m_pfnInit = nullptr;                    // _0003_
    PFN_KVXDIAG2_FINISH m_pfnEnd = nullptr;                   // _0001_
    PFN_KVXDIAG2_BASIC m_pfnBasicAnalysis = nullptr;          // _0006_
    PFN_KVXDIAG2_DEEP m_pfnDeepAnalysis = nullptr;            // _0004_
    PFN_KVXDIAG2_PACK m_pfnPackAndSendResults = nullptr;      // _0008_
    PFN_KVXDIAG2_CANCEL m_pfnCancelTask = nullptr;            // _0005_
    PFN_KVXDIAG2_REGISTER m_pfnRegisterNotifyCallback = nullptr; // _0002_
    PFN_KVXDIAG2_RESERVED m_pfnReserved = nullptr;            // _0007_, resolved but never called
};
