// The interface through which jobs report to the caller; the coordinator implements it.
#pragma once

#include "core/interface/KVXDiagTypes.h"
#include "core/tasks/ITaskData.h"

#include <string>

class INotify {
public:
    virtual ~INotify() = default;
    // Progress and other notifications whose data is a list of typed values.
    virtual int Notify(DWORD dwCode, KVXDIAG2_CONTEXT context, const std::string& text, const TaskDataList& data) = 0;
    // Notifications carrying one 32-bit value.
    virtual int Notify(DWORD dwCode, KVXDIAG2_CONTEXT context, const std::string& text, DWORD dwValue) = 0;
};
