#include "core/tasks/TaskDataBool.h"

#include "core/interface/KVXDiagTypes.h"
#include "core/tasks/TaskDataValue.h"

DWORD CTaskDataBool::SetData(const TaskDataTLV& tlv)
{
    const DWORD check = kvx::CheckTaskDataType("CTaskDataBool::SetData", tlv, eKVXDiagTLVType_BOOL, "eKVXDiagTLVType_BOOL");
    if (check != KVXDIAG2_OK) {
        return check;
    }
    unsigned char byte = 0;
    const DWORD copied = kvx::CopyScalarFromRecord(tlv, &byte, sizeof byte);
    if (copied != KVXDIAG2_OK) {
        return copied;
    }
    m_value = byte != 0;
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
