// The one object behind the exports: owns the foreman, hands out job ids and delivers notifications.
#pragma once

#include "common/journal/InstanceMutex.h"

#include "common/log/KVXDiagObject.h"
#include "core/interface/INotify.h"

#include <string>

class CForeman;

class CCoordinator : public CKVXDiagObject, public INotify {
public:
    static CCoordinator* CreateSingletonObject();
    static void DestroySingletonObject();

    ~CCoordinator() override;

    DWORD Init(int* pPending, int* pStep);
    DWORD Finish();
    DWORD RegisterNotificationsCallback(PFN_KVXDIAG2_NOTIFY pfnCallback, KVXDIAG2_CONTEXT context);
    DWORD ManageThisJob(DWORD dwJobType, int* pJobId);
    DWORD CancelJob(DWORD dwJobId);
    void SetResultsPackageDestinationFile(const std::string& path);

    int Notify(DWORD dwCode, KVXDIAG2_CONTEXT context, const std::string& text, const TaskDataList& data) override;
    int Notify(DWORD dwCode, KVXDIAG2_CONTEXT context, const std::string& text, DWORD dwValue) override;

    static const char* GetNotifiedDescription(DWORD dwCode);

private:
    CCoordinator() = default;
    // Checks shared by both Notify forms; false when the notification must not be delivered.
    bool CanDeliver(const char* pszFunction, DWORD dwCode);

    static CCoordinator* s_pInstance;

    PFN_KVXDIAG2_NOTIFY m_pfnCallback = nullptr;
    CForeman* m_pForeman = nullptr;
    bool m_bInitialised = false;
    volatile LONG m_lJobCounter = 0;
    kvx::CInstanceMutex m_instance;
};
