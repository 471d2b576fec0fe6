#include "core/tasks/TaskDataString.h"

#include "core/interface/KVXDiagTypes.h"
#include "core/tasks/TaskDataValue.h"

DWORD CTaskDataString::SetData(const TaskDataTLV& tlv)
{
    const DWORD check = kvx::CheckTaskDataType("CTaskDataString::SetData", tlv, eKVXDiagTLVType_CHARSTRING,
                                               "eKVXDiagTLVType_CHARSTRING");
    if (check != KVXDIAG2_OK) {
        return check;
    }
    m_value = tlv.value != nullptr ? static_cast<const char*>(tlv.value) : "";
    return tlv.length == m_value.size() ? KVXDIAG2_OK : ERROR_BAD_LENGTH;
}

DWORD CTaskDataString::GetData(TaskDataTLV& tlv)
{
    tlv.type = eKVXDiagTLVType_CHARSTRING;
    tlv.length = static_cast<DWORD>(m_value.size());
    tlv.value = m_value.c_str();
    return KVXDIAG2_OK;
}

DWORD CTaskDataString::GetDataAsString(std::string& text)
{
    text = m_value;
    return KVXDIAG2_OK;
}
