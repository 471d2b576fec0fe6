// A 32-bit integer task value (tag 4).
#pragma once

#include "common/log/KVXDiagObject.h"
#include "core/tasks/ITaskData.h"

class CTaskDataLong : public ITaskData, public CKVXDiagObject {
public:
    CTaskDataLong() = default;
    explicit CTaskDataLong(DWORD value) : m_value(value) {}

    DWORD SetData(const TaskDataTLV& tlv) override;
    DWORD GetData(TaskDataTLV& tlv) override;
    DWORD GetDataAsString(std::string& text) override;
    LONG GetType() const override { return eKVXDiagTLVType_LONG; }

    DWORD SetData(DWORD value)
    {
        m_value = value;
        return 0;
    }
    DWORD GetData(DWORD& value) const
    {
        value = m_value;
        return 0;
    }

private:
    DWORD m_value = {};
};
