// A 64-bit integer task value (tag 5).
#pragma once

#include "common/log/KVXDiagObject.h"
#include "core/tasks/ITaskData.h"

class CTaskDataLong64 : public ITaskData, public CKVXDiagObject {
public:
    CTaskDataLong64() = default;
    explicit CTaskDataLong64(ULONGLONG value) : m_value(value) {}

    DWORD SetData(const TaskDataTLV& tlv) override;
    DWORD GetData(TaskDataTLV& tlv) override;
    DWORD GetDataAsString(std::string& text) override;
    LONG GetType() const override { return eKVXDiagTLVType_LONG64; }

    DWORD SetData(ULONGLONG value)
    {
        m_value = value;
        return 0;
    }
    DWORD GetData(ULONGLONG& value) const
    {
        value = m_value;
        return 0;
    }

private:
    ULONGLONG m_value = {};
};
