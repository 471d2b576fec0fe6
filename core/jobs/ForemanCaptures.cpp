// The foreman's single-task switches of the product's module logs and captures. Each wraps one task;
// a configuration the task refuses is answered with 13 whatever the task said, and a task that cannot
// be created stops the analysis with a code-12 notification.
#include "core/jobs/Foreman.h"

#include "core/interface/KVXDiagTypes.h"
#include "core/jobs/ScopedTask.h"
#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskDataBool.h"
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskIds.h"

#include <functional>

namespace {

constexpr const char* KVXFOREMAN_NO_CAPTURE_NAME = "Error! No se ha recibido un nombre base para el fichero de capturas.";
constexpr const char* KVXFOREMAN_NO_LOG_NAME = "Error! No se ha recibido un nombre para el fichero de capturas.";
constexpr const char* KVXFOREMAN_NOTIFY_TEXT = "ERROR: Notify object not available!";

// What one switch needs beyond its parameter list.
struct SCaptureSwitch {
    const char* pszFunction;
    DWORD dwTaskId;
    const std::string* pRequiredName; // the enabling switches refuse an empty name or path
    const char* pszEmptyNameMessage;
};

// Create, check, configure, execute, destroy. `notify` sends the foreman's notification when the task
// cannot be created.
DWORD RunCaptureSwitch(const SCaptureSwitch& sw, const TaskDataList& params, IReporter* pReporter,
                       const std::function<void(DWORD, const std::string&, DWORD)>& notify)
{
    kvx::UniqueTask pTask = kvx::MakeTask(sw.dwTaskId);
    if (!pTask) {
        CKVXDiagObject::WriteLog(eKVXDiagLog_SYSTEM, KVXDIAG_LOG_MODULE, sw.pszFunction,
                                 "ERROR: No se ha podido crear tarea id: 0x%lX(%s) !!",
                                 static_cast<unsigned long>(sw.dwTaskId), GetTaskIdName(sw.dwTaskId));
        notify(eKVXDIAG2Notify_DEEPANALYSIS_CANCELLED, KVXFOREMAN_NOTIFY_TEXT, KVXDIAG2_ERR_NO_OBJECT);
        return KVXDIAG2_ERR_CREATE_FAILED;
    }
    if (sw.pRequiredName != nullptr && sw.pRequiredName->empty()) {
        CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, sw.pszFunction, "%s", sw.pszEmptyNameMessage);
        return KVXDIAG2_ERR_BAD_PARAMETER;
    }
    const DWORD dwConfig = pTask->SetConfig(params);
    if (dwConfig != KVXDIAG2_OK) {
        CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, sw.pszFunction,
                                 "Error! No se pudo configurar la tarea %s. Error: 0x%lX", GetTaskIdName(sw.dwTaskId),
                                 static_cast<unsigned long>(dwConfig));
        return ERROR_INVALID_DATA;
    }
    return pTask->Execute(pReporter);
}

} // namespace

DWORD CForeman::EnableModuleLog(DWORD dwModuleId, const std::string& logFile, DWORD dwMaxSize, bool bFlag)
{
    KVX_FUNCTION("CForeman::EnableModuleLog");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        CTaskDataLong id(dwModuleId);
        CTaskDataString file(logFile);
        CTaskDataLong size(dwMaxSize);
        CTaskDataBool flag(bFlag);
        const SCaptureSwitch sw = {kvxFunctionName_, KVXDIAG2_TASKID_ENABLE_MODULE_LOG, &logFile,
                                   KVXFOREMAN_NO_LOG_NAME};
        return RunCaptureSwitch(sw, {&id, &file, &size, &flag}, m_pReporter,
                                [this](DWORD c, const std::string& t, DWORD v) { NotifyValue(c, t, v); });
    });
}

DWORD CForeman::DisableModuleLog(DWORD dwModuleId)
{
    KVX_FUNCTION("CForeman::DisableModuleLog");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        CTaskDataLong id(dwModuleId);
        const SCaptureSwitch sw = {kvxFunctionName_, KVXDIAG2_TASKID_DISABLE_MODULE_LOG, nullptr, nullptr};
        return RunCaptureSwitch(sw, {&id}, m_pReporter,
                                [this](DWORD c, const std::string& t, DWORD v) { NotifyValue(c, t, v); });
    });
}

DWORD CForeman::EnableKVXIMDPCap(const std::string& baseName, DWORD dwMaxSize, bool bFlag)
{
    KVX_FUNCTION("CForeman::EnableKVXIMDPCap");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        CTaskDataString name(baseName);
        CTaskDataLong size(dwMaxSize);
        CTaskDataBool flag(bFlag);
        const SCaptureSwitch sw = {kvxFunctionName_, KVXDIAG2_TASKID_ENABLE_KVXIM_PCAP, &baseName,
                                   KVXFOREMAN_NO_CAPTURE_NAME};
        return RunCaptureSwitch(sw, {&name, &size, &flag}, m_pReporter,
                                [this](DWORD c, const std::string& t, DWORD v) { NotifyValue(c, t, v); });
    });
}

DWORD CForeman::DisableKVXIMDPCap(bool bFlag, const std::string& baseName, const std::string& destination)
{
    KVX_FUNCTION("CForeman::DisableKVXIMDPCap");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        CTaskDataBool flag(bFlag);
        CTaskDataString name(baseName);
        CTaskDataString target(destination);
        const SCaptureSwitch sw = {kvxFunctionName_, KVXDIAG2_TASKID_DISABLE_KVXIM_PCAP, nullptr, nullptr};
        return RunCaptureSwitch(sw, {&flag, &name, &target}, m_pReporter,
                                [this](DWORD c, const std::string& t, DWORD v) { NotifyValue(c, t, v); });
    });
}

DWORD CForeman::EnableKVXTMGRATDI(const std::string& captureFile, DWORD dwMaxSize, bool bFlag)
{
    KVX_FUNCTION("CForeman::EnableKVXTMGRATDI");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        CTaskDataString file(captureFile);
        CTaskDataLong size(dwMaxSize);
        CTaskDataBool flag(bFlag);
        const SCaptureSwitch sw = {kvxFunctionName_, KVXDIAG2_TASKID_ENABLE_KVXTMGR_ATDI, &captureFile,
                                   KVXFOREMAN_NO_CAPTURE_NAME};
        return RunCaptureSwitch(sw, {&file, &size, &flag}, m_pReporter,
                                [this](DWORD c, const std::string& t, DWORD v) { NotifyValue(c, t, v); });
    });
}

DWORD CForeman::DisableKVXTMGRATDI(bool bFlag)
{
    KVX_FUNCTION("CForeman::DisableKVXTMGRATDI");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        CTaskDataBool flag(bFlag);
        const SCaptureSwitch sw = {kvxFunctionName_, KVXDIAG2_TASKID_DISABLE_KVXTMGR_ATDI, nullptr, nullptr};
        return RunCaptureSwitch(sw, {&flag}, m_pReporter,
                                [this](DWORD c, const std::string& t, DWORD v) { NotifyValue(c, t, v); });
    });
}
