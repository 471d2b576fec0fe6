// The "KVXAPI" helper: one interface over the three generations of the product SDK. This abstract
// base holds everything the generations share (loading the library, the filter walk by name, the
// capture and log records, the module map); each adapter class supplies its export names, its filter
// numbering and the calls that differ.
#pragma once

#include "common/log/KVXDiagObject.h"
#include "common/win/UniqueHandles.h"
#include "core/helpers/IHelper.h"
#include "core/helpers/KVXApiFactory.h"
#include "core/helpers/KVXApiTypes.h"
#include "core/helpers/RefCountedSingleton.h"

#include <windows.h>

#include <new>
#include <string>

// Filter indexes run from 0 to this value; what an index names depends on the SDK generation.
constexpr DWORD KVXAPI_FILTER_INDEX_LAST = 6;
constexpr DWORD KVXAPI_FILTERS_COUNT = 6;
// The answer for an index that names no filter (or no SDK filter) in the installed generation: 1611,
// ERROR_INDEX_ABSENT in the Windows table.
constexpr DWORD KVXAPI_ERROR_UNKNOWN_FILTER = 1611;

// One row of a generation's filter index table: the service name (none: the index names nothing)
// and the SDK filter id (0: the filter has no id in this generation).
struct SKVXFilterSlot {
    const char* pszServiceName;
    const char* pszDisplayName;
    DWORD dwSdkId;
};

// What distinguishes one generation for the shared code.
struct SKVXApiLayout {
    const SKVXFilterSlot* pFilters; // KVXAPI_FILTER_INDEX_LAST + 1 rows
    DWORD dwFiltersInfoTag;
    DWORD dwFiltersInfoBlockSize;
    DWORD dwFiltersInfoSize;
};

// A generation's export names; none where the generation has no such function.
struct SKVXApiExportNames {
    const char* pszGetVersion;
    const char* pszInit;
    const char* pszEnd;
    const char* pszGetLastError;
    const char* pszEnableFilter;
    const char* pszDisableFilter;
    const char* pszSetFilterState;
    const char* pszGetFiltersInfo;
    const char* pszTakeSConfigSnapShot;
    const char* pszLogSetStatus;
    const char* pszLogSetConfig;
    const char* pszPCapSetStatus;
    const char* pszPCapSetConfig;
    const char* pszATDICapSetStatus;
    const char* pszATDICapSetConfig;
    const char* pszReserved1;
    const char* pszReserved2;
    const char* pszReserved3;
};

class CKVXApiHelper : public IHelper, public CKVXDiagObject {
public:
    DWORD GetName(std::string& strName) override;

    virtual DWORD SnapShot(const std::string& strPath);
    virtual DWORD GetFiltersCount();
    virtual DWORD GetFilterName(DWORD dwIndex, std::string& strName);
    virtual DWORD GetFilterState(const std::string& strName, DWORD& dwState);
    virtual DWORD GetFilterState(DWORD dwIndex, DWORD& dwState);
    virtual DWORD SetFilterState(const std::string& strName, DWORD dwAction);
    virtual DWORD SetFilterState(DWORD dwIndex, DWORD dwAction) = 0;
    virtual DWORD EnableIMPCap(const std::string& strBaseName, DWORD dwMaxSize, bool bOnRestart) = 0;
    virtual DWORD DisableIMPcap(bool bOnRestart);
    virtual DWORD EnableATDICap(const std::string& strFileName, DWORD dwMaxSize, bool bOnRestart);
    virtual DWORD DisableATDIcap(bool bOnRestart);
    virtual DWORD EnableModuleLog(DWORD dwModuleId, const std::string& strFileBaseName, DWORD dwMaxSize,
                                  bool bPersistent);
    virtual DWORD DisableLogModule(DWORD dwModuleId);

    DWORD Load();
    DWORD Unload();
    bool IsFilterInstalled(const std::string& strServiceName);

    // The tool's helper module id to the SDK's module id and the level to log it at.
    static DWORD GetModuleID(DWORD dwHelperModuleId, DWORD& dwSdkModuleId, DWORD& dwLevel);

protected:
    CKVXApiHelper(SKVXApiFunctions& functions, const SKVXApiLayout& layout);
    ~CKVXApiHelper() override;

    // Resolves every export of the generation into the class's table (missing ones stay null).
    DWORD LoadFunctionTable(const SKVXApiExportNames& names);
    // KVX_Init with the retry on "service busy", and KVX_End; only 3.2 and 3.3 open a session.
    DWORD InitSession(const char* pszFunction, const BYTE (&abApplicationId)[KVXAPI_APP_ID_SIZE]);
    DWORD EndSession(const char* pszFunction);

    // The row of the index table, or 1611 (with the log line for an index out of range or naming nothing).
    DWORD CheckFilterIndex(const char* pszFunction, DWORD dwIndex, const SKVXFilterSlot*& pSlot) const;
    static DWORD CheckFilterAction(const char* pszFunction, DWORD dwIndex, DWORD dwAction);
    // True (after the log line) when an SDK function the operation needs was not resolved.
    static bool FunctionMissing(const char* pszFunction, const void* pfn, const char* pszName);
    // The SDK's code for the call that just failed; never 0, so that a failure is never read as success.
    DWORD SdkFailureCode() const;
    // Logs an SDK-call failure with the SDK's own code and answers 1627.
    DWORD CaptureCallFailed(const char* pszFunction, const std::string& strMessage) const;
    // Index, SDK id and action checks of a start/stop request; dwSdkId is the id to pass to the SDK.
    DWORD ResolveFilterAction(const char* pszFunction, DWORD dwIndex, DWORD dwAction, DWORD& dwSdkId) const;
    // The outcome of a start/stop call: its log line, and 0 or the SDK's code.
    DWORD FilterSwitched(const char* pszFunction, DWORD dwIndex, DWORD dwAction, BOOL bCallSucceeded) const;

    template <typename TOptions>
    DWORD EnableIMPCapWith(const char* pszFunction, const std::string& strBaseName, DWORD dwMaxSize, bool bOnRestart);

    SKVXApiFunctions& m_functions;

private:
    DWORD SetCaptureStatus(const char* pszFunction, bool bPacketCapture, DWORD dwStatus);
    DWORD SetModuleLog(const char* pszFunction, DWORD dwModuleId, const std::string& strFileBaseName,
                       DWORD dwMaxSize, bool bEnable, bool bPersistent);

    const SKVXApiLayout& m_layout;
    kvx::UniqueModule m_hLibrary;
};

// What each adapter class shares as a reference-counted singleton subscribed by SDK version. TDerived
// provides KVXAPI_VERSION, KVXAPI_CLASS and a private default constructor (befriending this class and
// kvx::CRefCountedSingleton<TDerived>).
template <typename TDerived>
class CKVXApiAdapter : public CKVXApiHelper {
public:
    using Singleton = kvx::CRefCountedSingleton<TDerived>;

    static CKVXApiHelper* AutoCreation();
    static DWORD PerformFactoryRegistration();
    void Destroy() override;

protected:
    using CKVXApiHelper::CKVXApiHelper;
};

template <typename TDerived>
CKVXApiHelper* CKVXApiAdapter<TDerived>::AutoCreation()
{
    const std::string function = std::string(TDerived::KVXAPI_CLASS) + "::AutoCreation";
    CKVXLogScope scope(KVXDIAG_LOG_MODULE, function.c_str());
    try {
        bool bCreated = false;
        TDerived* pAdapter = Singleton::Acquire(
            [&bCreated] {
                TDerived* pNew = new (std::nothrow) TDerived();
                bCreated = pNew != nullptr;
                return pNew;
            },
            function.c_str());
        if (bCreated) {
            CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, function.c_str(), "%s",
                                     "Objeto singleton construido.");
        }
        return pAdapter;
    } catch (...) {
        CKVXDiagObject::WriteLog(eKVXDiagLog_EXCEPTION, KVXDIAG_LOG_MODULE, function.c_str(),
                                 "Excepción no controlada!! LastError=%lu", ::GetLastError());
        return nullptr;
    }
}

template <typename TDerived>
DWORD CKVXApiAdapter<TDerived>::PerformFactoryRegistration()
{
    const std::string function = std::string(TDerived::KVXAPI_CLASS) + "::PerformFactoryRegistration";
    const DWORD dwResult = CKVXApiFactory::Subscribe(TDerived::KVXAPI_VERSION, &CKVXApiAdapter::AutoCreation);
    CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, function.c_str(),
                             "Resultado de la subscripción en la factoría de KVX API con versión 0x%X: 0x%lX",
                             static_cast<unsigned>(TDerived::KVXAPI_VERSION), static_cast<unsigned long>(dwResult));
    return dwResult;
}

template <typename TDerived>
void CKVXApiAdapter<TDerived>::Destroy()
{
    const std::string function = std::string(TDerived::KVXAPI_CLASS) + "::Destroy";
    CKVXLogScope scope(KVXDIAG_LOG_MODULE, function.c_str());
    try {
        Singleton::Release(static_cast<TDerived*>(this), function.c_str());
    } catch (...) {
        CKVXDiagObject::WriteLog(eKVXDiagLog_EXCEPTION, KVXDIAG_LOG_MODULE, function.c_str(), "%s",
                                 "Excepción no controlada!!");
    }
}
