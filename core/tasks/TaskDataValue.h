// Shared checks of the four value classes: the tag test and its log line are the same for all of them.
#pragma once

#include "core/tasks/ITaskData.h"

#include <cstddef>

namespace kvx {

// Answers 87 (and logs the expected and received tag) unless the record carries the expected tag.
DWORD CheckTaskDataType(const char* pszFunction, const TaskDataTLV& tlv, LONG expected, const char* expectedName);

// Takes a scalar from a record the way GetData describes one: the record's value points to it. At
// most `size` bytes are copied and never more than the record's length declares, so a record whose
// length is wrong can neither be over-read nor overflow the destination (which the caller zeroes).
// 87 when the record points nowhere.
DWORD CopyScalarFromRecord(const TaskDataTLV& tlv, void* pDestination, size_t size);

} // namespace kvx
