// Shared checks of the four value classes: the tag test and its log line are the same for all of them.
#pragma once

#include "core/tasks/ITaskData.h"

namespace kvx {

// Answers 87 (and logs the expected and received tag) unless the record carries the expected tag.
DWORD CheckTaskDataType(const char* pszFunction, const TaskDataTLV& tlv, LONG expected, const char* expectedName);

} // namespace kvx
