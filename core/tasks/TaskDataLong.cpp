#include "core/tasks/TaskDataLong.h"

#include "core/interface/KVXDiagTypes.h"
#include "core/tasks/TaskDataValue.h"

#include <cstdio>

DWORD CTaskDataLong::SetData(const TaskDataTLV& tlv)
{
    const DWORD check = kvx::CheckTaskDataType("CTaskDataLong::SetData", tlv, eKVXDiagTLVType_LONG, "eKVXDiagTLVType_LONG");
    if (check != KVXDIAG2_OK) {
        return check;
    }
    DWORD value = 0;
    const DWORD copied = kvx::CopyScalarFromRecord(tlv, &value, sizeof value);
    if (copied != KVXDIAG2_OK) {
        return copied;
    }
    m_value = value;
    return tlv.length == sizeof value ? KVXDIAG2_OK : ERROR_BAD_LENGTH;
}

DWORD CTaskDataLong::GetData(TaskDataTLV& tlv)
{
    tlv.type = eKVXDiagTLVType_LONG;
    tlv.length = sizeof(DWORD);
    tlv.value = &m_value;
    return KVXDIAG2_OK;
}

DWORD CTaskDataLong::GetDataAsString(std::string& text)
{
    char buffer[16];
    snprintf(buffer, sizeof buffer, "0x%lX", static_cast<unsigned long>(m_value));
    text = buffer;
    return KVXDIAG2_OK;
}
