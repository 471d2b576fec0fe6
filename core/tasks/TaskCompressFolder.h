// Task 19: packs a folder into a password-protected ZIP archive through the system-utilities helper.
#pragma once

#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskIds.h"

#include <string>

class CTaskCompressFolder : public kvx::CSysUtilsTask<CTaskCompressFolder> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_COMPRESS_FOLDER;
    static constexpr const char* KVXTASK_CLASS = "CTaskCompressFolder";

    // Parameters: folder to pack, archive file to write, password (empty for none); three texts.
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    std::string m_strFolder;
    std::string m_strArchive;
    std::string m_strPassword;

    static const DWORD s_dwFactoryRegistration;
};
