// Writes the autostart entry that starts the wizard again at the next logon: the wizard's path in
// double quotes, naming the batch file of the same name beside it.
#pragma once

#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskIds.h"

#include <string>

class CTaskPrepareProcessReboot : public kvx::CTaskImpl<CTaskPrepareProcessReboot> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_PREPARE_PROCESS_REBOOT;
    static constexpr const char* KVXTASK_CLASS = "CTaskPrepareProcessReboot";

    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

    // The Run value for a program path: quoted, with the last ".exe" (exact case) turned into ".bat".
    static std::string MakeAutostartCommand(const std::string& processPath);

private:
    std::string m_strProcessPath;

    static const DWORD s_dwFactoryRegistration;
};
