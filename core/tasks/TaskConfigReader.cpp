#include "core/tasks/TaskConfigReader.h"

#include "common/log/KVXDiagObject.h"
#include "core/interface/KVXDiagTypes.h"

#include <cstdarg>
#include <cstring>
#include <new>

namespace kvx {

namespace {

const char* TypeWord(LONG type)
{
    switch (type) {
    case eKVXDiagTLVType_BOOL:
        return "BOOL";
    case eKVXDiagTLVType_LONG:
        return "LONG";
    case eKVXDiagTLVType_LONG64:
        return "LONG64";
    default:
        return "CHARSTRING";
    }
}

DWORD TypeLength(LONG type) { return type == eKVXDiagTLVType_BOOL ? 1 : type == eKVXDiagTLVType_LONG ? 4 : 8; }

} // namespace

void CTaskConfigReader::Log(DWORD dwLevel, const char* pszFormat, ...) const
{
    va_list args;
    va_start(args, pszFormat);
    CKVXDiagObject::WriteLogV(dwLevel, KVXDIAG_LOG_MODULE, m_pszFunction, pszFormat, args);
    va_end(args);
}

DWORD CTaskConfigReader::CheckNotEmpty(const TaskDataList& params) const
{
    if (params.empty()) {
        Log(eKVXDiagLog_ERROR, "%s", "Error! El vector de TaskData debe contener como mínimo un elemento.");
        return KVXDIAG2_ERR_BAD_PARAMETER;
    }
    return KVXDIAG2_OK;
}

DWORD CTaskConfigReader::ReadText(ITaskData* pElement, std::string& field, DWORD dwWrongTypeCode) const
{
    if (pElement == nullptr) {
        Log(eKVXDiagLog_ERROR, "%s", "Error! El iterador obtenido sobre iTaskData no es válido.");
        return KVXDIAG2_ERR_BAD_PARAMETER;
    }
    TaskDataTLV tlv = {};
    pElement->GetData(tlv);
    if (tlv.type != eKVXDiagTLVType_CHARSTRING) {
        Log(eKVXDiagLog_ERROR, "Error! No se trata de un dato de tipo CHARSTRING. Tipo recibido: 0x%lX",
            static_cast<unsigned long>(tlv.type));
        return dwWrongTypeCode;
    }
    if (tlv.value == nullptr && tlv.length != 0) {
        Log(eKVXDiagLog_ERROR, "%s", "Error! El iterador obtenido sobre iTaskData no es válido.");
        return KVXDIAG2_ERR_BAD_PARAMETER;
    }
    // The declared length bounds the copy; a zero byte inside it ends the text.
    const char* pText = static_cast<const char*>(tlv.value);
    const size_t length = pText != nullptr ? strnlen(pText, tlv.length) : 0;
    try {
        field.assign(pText != nullptr ? pText : "", length);
    } catch (const std::bad_alloc&) {
        Log(eKVXDiagLog_SYSTEM, "Error! No se pudieron reservar %lu Bytes de memoria.",
            static_cast<unsigned long>(tlv.length) + 1);
        return ERROR_OUTOFMEMORY;
    }
    return KVXDIAG2_OK;
}

DWORD CTaskConfigReader::ReadScalar(ITaskData* pElement, const CTaskField& field) const
{
    if (pElement == nullptr) {
        Log(eKVXDiagLog_ERROR, "%s", "Error! El iterador obtenido sobre iTaskData no es válido.");
        return KVXDIAG2_ERR_BAD_PARAMETER;
    }
    TaskDataTLV tlv = {};
    pElement->GetData(tlv);
    if (tlv.type != field.Type()) {
        Log(eKVXDiagLog_ERROR, "Error! No se trata de un dato de tipo %s. Tipo recibido: 0x%lX", TypeWord(field.Type()),
            static_cast<unsigned long>(tlv.type));
        return KVXDIAG2_ERR_TYPE_MISMATCH;
    }
    const DWORD dwExpected = TypeLength(field.Type());
    if (tlv.length != dwExpected) {
        Log(eKVXDiagLog_ERROR, "Error! El tamaño no corresponde al tipo. Esperado: %d. Recibido: %d.",
            static_cast<int>(dwExpected), static_cast<int>(tlv.length));
        return KVXDIAG2_ERR_TYPE_MISMATCH;
    }
    if (tlv.value == nullptr) {
        Log(eKVXDiagLog_ERROR, "%s", "Error! El iterador obtenido sobre iTaskData no es válido.");
        return KVXDIAG2_ERR_BAD_PARAMETER;
    }
    if (field.Type() == eKVXDiagTLVType_BOOL) {
        // Any non-zero byte is true; copying the byte into a bool would not be.
        *static_cast<bool*>(field.Target()) = *static_cast<const unsigned char*>(tlv.value) != 0;
    } else {
        std::memcpy(field.Target(), tlv.value, dwExpected);
    }
    return KVXDIAG2_OK;
}

DWORD CTaskConfigReader::ReadOneText(const TaskDataList& params, std::string& field) const
{
    const DWORD dwCheck = CheckNotEmpty(params);
    if (dwCheck != KVXDIAG2_OK) {
        return dwCheck;
    }
    return ReadText(params.front(), field, KVXDIAG2_ERR_BAD_PARAMETER);
}

DWORD CTaskConfigReader::ReadTexts(const TaskDataList& params, std::initializer_list<std::string*> fields) const
{
    if (params.size() != fields.size()) {
        Log(eKVXDiagLog_ERROR, "%s",
            fields.size() == 2 ? "Error! El vector de TaskData debe contener dos elementos."
                               : "Error! El vector de TaskData debe contener como tres elementos.");
        return KVXDIAG2_ERR_BAD_PARAMETER;
    }
    size_t index = 0;
    for (std::string* pField : fields) {
        const DWORD dwResult = ReadText(params[index++], *pField, KVXDIAG2_ERR_BAD_PARAMETER);
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
    }
    return KVXDIAG2_OK;
}

DWORD CTaskConfigReader::ReadFields(const TaskDataList& params, std::initializer_list<CTaskField> fields) const
{
    const DWORD dwCheck = CheckNotEmpty(params);
    if (dwCheck != KVXDIAG2_OK) {
        return dwCheck;
    }
    const CTaskField* pField = fields.begin();
    for (size_t index = 0; index < params.size(); ++index, ++pField) {
        if (pField == fields.end()) {
            Log(eKVXDiagLog_ERROR, "Error! El vector de TaskData contiene un elemento de más en la posición %u.",
                static_cast<unsigned>(index));
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        const DWORD dwResult =
            pField->Type() == eKVXDiagTLVType_CHARSTRING
                ? ReadText(params[index], *static_cast<std::string*>(pField->Target()), KVXDIAG2_ERR_TYPE_MISMATCH)
                : ReadScalar(params[index], *pField);
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
    }
    return KVXDIAG2_OK;
}

DWORD CTaskConfigReader::ReadRootKeyAndTexts(const TaskDataList& params, ULONGLONG& rootKey, std::string& first,
                                             std::string& second) const
{
    if (params.size() != 3) {
        Log(eKVXDiagLog_ERROR, "%s", "Error! El vector de TaskData debe contener como tres elementos.");
        return KVXDIAG2_ERR_BAD_PARAMETER;
    }
    TaskDataTLV tlv = {};
    if (params[0] != nullptr) {
        params[0]->GetData(tlv);
    }
    if (params[0] == nullptr || tlv.type != eKVXDiagTLVType_LONG64 || tlv.length != sizeof(ULONGLONG) ||
        tlv.value == nullptr) {
        Log(eKVXDiagLog_ERROR, "%s", "Error! El parametro 0 debe ser de tipo ULONG64.");
        return KVXDIAG2_ERR_BAD_PARAMETER;
    }
    std::memcpy(&rootKey, tlv.value, sizeof rootKey);
    for (size_t index = 1; index < 3; ++index) {
        TaskDataTLV text = {};
        if (params[index] != nullptr) {
            params[index]->GetData(text);
        }
        if (params[index] == nullptr || text.type != eKVXDiagTLVType_CHARSTRING) {
            Log(eKVXDiagLog_ERROR, "%s", "Error! Los parametros 1 y 2 deben ser de tipo string.");
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        const DWORD dwResult = ReadText(params[index], index == 1 ? first : second, KVXDIAG2_ERR_BAD_PARAMETER);
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
    }
    return KVXDIAG2_OK;
}

} // namespace kvx
