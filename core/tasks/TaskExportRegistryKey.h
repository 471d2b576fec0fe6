// Task 22: saves a registry key as a hive file, with the backup privilege switched on for the time of
// the save.
#pragma once

#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskIds.h"

#include <string>

class CTaskExportRegistryKey : public kvx::CSysUtilsTask<CTaskExportRegistryKey> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_EXPORT_REGISTRY_KEY;
    static constexpr const char* KVXTASK_CLASS = "CTaskExportRegistryKey";

    // Parameters: root key (64-bit; its low 32 bits are the handle value), subkey, destination file.
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    ULONGLONG m_ullRootKey = 0;
    std::string m_strSubKey;
    std::string m_strFile;

    static const DWORD s_dwFactoryRegistration;
};
