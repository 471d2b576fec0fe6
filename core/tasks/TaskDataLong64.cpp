#include "core/tasks/TaskDataLong64.h"

#include "core/interface/KVXDiagTypes.h"
#include "core/tasks/TaskDataValue.h"

#include <cstdio>

DWORD CTaskDataLong64::SetData(const TaskDataTLV& tlv)
{
    const DWORD check =
        kvx::CheckTaskDataType("CTaskDataLong64::SetData", tlv, eKVXDiagTLVType_LONG64, "eKVXDiagTLVType_LONG64");
    if (check != KVXDIAG2_OK) {
        return check;
    }
    // A 32-bit quantity carried in the value field, sign-extended to 64 bits.
    m_value = static_cast<ULONGLONG>(static_cast<LONGLONG>(static_cast<LONG>(reinterpret_cast<LONG_PTR>(tlv.value))));
    return tlv.length == sizeof(ULONGLONG) ? KVXDIAG2_OK : ERROR_BAD_LENGTH;
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
