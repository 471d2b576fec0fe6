#include "core/tasks/TaskDataLong64.h"

#include "core/interface/KVXDiagTypes.h"
#include "core/tasks/TaskDataValue.h"

#include <cstdio>

DWORD CTaskDataLong64::SetData(const TaskDataTLV& tlv)
{
    const DWORD check = kvx::CheckTaskDataType("CTaskDataLong64::SetData", tlv, eKVXDiagTLVType_LONG64, "eKVXDiagTLVType_LONG64");
    if (check != KVXDIAG2_OK) {
        return check;
    }
    ULONGLONG value = 0;
    const DWORD copied = kvx::CopyScalarFromRecord(tlv, &value, sizeof value);
    if (copied != KVXDIAG2_OK) {
        return copied;
    }
    m_value = value;
    return tlv.length == sizeof value ? KVXDIAG2_OK : ERROR_BAD_LENGTH;
}

DWORD CTaskDataLong64::GetData(TaskDataTLV& tlv)
{
    tlv.type = eKVXDiagTLVType_LONG64;
    tlv.length = sizeof(ULONGLONG);
    tlv.value = &m_value;
    return KVXDIAG2_OK;
}

DWORD CTaskDataLong64::GetDataAsString(std::string& text)
{
    char buffer[32];
    snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(m_value));
    text = buffer;
    return KVXDIAG2_OK;
}
