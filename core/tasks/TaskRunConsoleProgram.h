// Task 18: runs a console program and writes its output into a report section of its own.
#pragma once

#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskIds.h"

#include <string>

class CTaskRunConsoleProgram : public kvx::CSysUtilsTask<CTaskRunConsoleProgram> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_RUN_CONSOLE_PROGRAM;
    static constexpr const char* KVXTASK_CLASS = "CTaskRunConsoleProgram";

    // Parameters: program, arguments, report section title (three texts).
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;
    // The program's exit code, after a run that succeeded.
    DWORD GetResults(ITaskData** ppResult) override;

private:
    std::string m_strProgram;
    std::string m_strArguments;
    std::string m_strSection;
    CTaskDataLong m_exitCode;
    bool m_bHasExitCode = false;

    static const DWORD s_dwFactoryRegistration;
};
