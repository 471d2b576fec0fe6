// An 8-bit text task value (tag 6).
#pragma once

#include "common/log/KVXDiagObject.h"
#include "core/tasks/ITaskData.h"

#include <string>

class CTaskDataString : public ITaskData, public CKVXDiagObject {
public:
    CTaskDataString() = default;
    explicit CTaskDataString(std::string value) : m_value(std::move(value)) {}

    DWORD SetData(const TaskDataTLV& tlv) override;
    DWORD GetData(TaskDataTLV& tlv) override;
    DWORD GetDataAsString(std::string& text) override;
    LONG GetType() const override { return eKVXDiagTLVType_CHARSTRING; }

    DWORD SetData(const std::string& value)
    {
        m_value = value;
        return 0;
    }
    DWORD GetData(std::string& value) const
    {
        value = m_value;
        return 0;
    }

private:
    std::string m_value;
};
