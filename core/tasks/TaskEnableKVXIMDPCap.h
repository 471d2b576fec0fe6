// Switches the NDIS intermediate driver's packet capture on; the driver names its files after the
// base name, in the system's Drivers directory.
#pragma once

#include "core/tasks/KVXApiTask.h"
#include "core/tasks/TaskIds.h"

#include <string>

class CTaskEnableKVXIMDPCap : public kvx::CKVXApiTask<CTaskEnableKVXIMDPCap> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_ENABLE_KVXIM_PCAP;
    static constexpr const char* KVXTASK_CLASS = "CTaskEnableKVXIMDPCap";

    // Capture base name [6], maximum size [4], from next restart [1].
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    std::string m_strBaseName;
    DWORD m_dwMaxSize = 0;
    bool m_bOnRestart = false;

    static const DWORD s_dwFactoryRegistration;
};
