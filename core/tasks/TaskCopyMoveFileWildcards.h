// Task 31: copies the files that match a path with wildcards to a destination prefix, and deletes
// each source after its copy when asked (a move). Works without any helper.
#pragma once

#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskIds.h"

#include <string>

class CTaskCopyMoveFileWildcards : public kvx::CTaskImpl<CTaskCopyMoveFileWildcards> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_COPY_MOVE_FILE_WILDCARDS;
    static constexpr const char* KVXTASK_CLASS = "CTaskCopyMoveFileWildcards";

    // Parameters (mixed list): source path whose last component may hold "*" and "?", destination
    // prefix (the matched name is appended to it directly), delete-source flag.
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    std::string m_strSource;
    std::string m_strDestination;
    bool m_bDeleteSource = false;

    static const DWORD s_dwFactoryRegistration;
};
