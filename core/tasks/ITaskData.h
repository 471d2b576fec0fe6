// Typed parameter and result values exchanged with tasks.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum EKVXDiagTLVType : LONG {
    eKVXDiagTLVType_BOOL = 1,
    eKVXDiagTLVType_LONG = 4,
    eKVXDiagTLVType_LONG64 = 5,
    eKVXDiagTLVType_CHARSTRING = 6,
};

// Self-describing form of a value: type tag, length in bytes (characters for text) and where it lies.
struct TaskDataTLV {
    LONG type;
    DWORD length;
    const void* value;
};

class ITaskData {
public:
    virtual ~ITaskData() = default;
    virtual DWORD SetData(const TaskDataTLV& tlv) = 0;
    virtual DWORD GetData(TaskDataTLV& tlv) = 0;
    virtual DWORD GetDataAsString(std::string& text) = 0;
    virtual LONG GetType() const = 0;
};

// A parameter list: the caller owns the values.
using TaskDataList = std::vector<ITaskData*>;
