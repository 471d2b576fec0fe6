#include "core/tasks/TaskDataValue.h"

#include "common/log/KVXDiagObject.h"
#include "core/interface/KVXDiagTypes.h"

#include <cstring>

namespace kvx {

DWORD CheckTaskDataType(const char* pszFunction, const TaskDataTLV& tlv, LONG expected, const char* expectedName)
{
    if (tlv.type == expected) {
        return KVXDIAG2_OK;
    }
    CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, pszFunction,
                             "Error! Se esperaba un dato de tipo %s. Tipo recibido: 0x%lX", expectedName,
                             static_cast<unsigned long>(tlv.type));
    return KVXDIAG2_ERR_BAD_PARAMETER;
}

DWORD CopyScalarFromRecord(const TaskDataTLV& tlv, void* pDestination, size_t size)
{
    if (tlv.value == nullptr) {
        return KVXDIAG2_ERR_BAD_PARAMETER;
    }
    std::memcpy(pDestination, tlv.value, tlv.length < size ? tlv.length : size);
    return KVXDIAG2_OK;
}

} // namespace kvx
