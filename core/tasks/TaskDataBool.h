// A boolean task value (tag 1).
#pragma once

#include "common/log/KVXDiagObject.h"
#include "core/tasks/ITaskData.h"

class CTaskDataBool : public ITaskData, public CKVXDiagObject {
public:
    CTaskDataBool() = default;
    explicit CTaskDataBool(bool value) : m_value(value) {}

    DWORD SetData(const TaskDataTLV& tlv) override;
    DWORD GetData(TaskDataTLV& tlv) override;
    DWORD GetDataAsString(std::string& text) override;
    LONG GetType() const override { return eKVXDiagTLVType_BOOL; }

    DWORD SetData(bool value)
    {
        m_value = value;
        return 0;
    }
    DWORD GetData(bool& value) const
    {
        value = m_value;
        return 0;
    }

private:
    bool m_value = {};
};
