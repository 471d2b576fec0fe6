#include "core/tasks/TaskDataBool.h"

#include "core/interface/KVXDiagTypes.h"
#include "core/tasks/TaskDataValue.h"

DWORD CTaskDataBool::SetData(const TaskDataTLV& tlv)
{
    const DWORD check = kvx::CheckTaskDataType("CTaskDataBool::SetData", tlv, eKVXDiagTLVType_BOOL, "eKVXDiagTLVType_BOOL");
    if (check != KVXDIAG2_OK) {
        return check;
    }
    // The record carries the value itself in its value field, as the scalar convention of the values says.
    m_value = reinterpret_cast<ULONG_PTR>(tlv.value) != 0;
    return tlv.length == sizeof(bool) ? KVXDIAG2_OK : ERROR_BAD_LENGTH;
}

DWORD CTaskDataBool::GetData(TaskDataTLV& tlv)
{
    tlv.type = eKVXDiagTLVType_BOOL;
    tlv.length = sizeof(bool);
    tlv.value = &m_value;
    return KVXDIAG2_OK;
}

DWORD CTaskDataBool::GetDataAsString(std::string& text)
{
    text = m_value ? "True" : "False";
    return KVXDIAG2_OK;
}
