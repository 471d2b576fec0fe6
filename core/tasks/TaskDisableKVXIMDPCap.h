// Switches the NDIS intermediate driver's packet capture off and moves its capture files from the
// system's Drivers directory into the results.
#pragma once

#include "core/tasks/KVXApiTask.h"
#include "core/tasks/TaskIds.h"

#include <string>

class CTaskDisableKVXIMDPCap : public kvx::CKVXApiTask<CTaskDisableKVXIMDPCap> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_DISABLE_KVXIM_PCAP;
    static constexpr const char* KVXTASK_CLASS = "CTaskDisableKVXIMDPCap";

    // From next restart [1], capture base name [6], destination directory ending in a backslash [6].
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    // Moves the capture files with the copy task; returns the task's code, dwDisableResult when
    // nothing could be tried.
    DWORD CollectCaptureFiles(IReporter* pReporter, DWORD dwDisableResult);

    bool m_bOnRestart = false;
    std::string m_strBaseName;
    std::string m_strDestination;

    static const DWORD s_dwFactoryRegistration;
};
