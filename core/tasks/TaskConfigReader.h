// Reading a task's parameter list. Every task's SetConfig follows one of five patterns; they live
// here once, with their codes and log lines, so that the tasks only name their fields.
#pragma once

#include "common/log/KVXDiagObject.h"
#include "core/tasks/ITaskData.h"

#include <windows.h>

#include <initializer_list>
#include <string>

namespace kvx {

// A field that a mixed list may set, with the type tag its element must carry.
class CTaskField {
public:
    static CTaskField Text(std::string& field) { return CTaskField(eKVXDiagTLVType_CHARSTRING, &field); }
    static CTaskField Long(DWORD& field) { return CTaskField(eKVXDiagTLVType_LONG, &field); }
    static CTaskField Bool(bool& field) { return CTaskField(eKVXDiagTLVType_BOOL, &field); }

    LONG Type() const { return m_type; }
    void* Target() const { return m_pTarget; }

private:
    CTaskField(LONG type, void* pTarget) : m_type(type), m_pTarget(pTarget) {}
    LONG m_type;
    void* m_pTarget;
};

class CTaskConfigReader {
public:
    // pszFunction names the task's SetConfig in the log lines.
    explicit CTaskConfigReader(const char* pszFunction) : m_pszFunction(pszFunction) {}

    // One text: at least one element, only the first is read.
    DWORD ReadOneText(const TaskDataList& params, std::string& field) const;
    // Exactly as many texts as fields (two or three), read in order until one fails.
    DWORD ReadTexts(const TaskDataList& params, std::initializer_list<std::string*> fields) const;
    // Mixed: at least one element; elements set the fields in order until the list ends or one
    // fails. Fields after the last element keep their values.
    DWORD ReadFields(const TaskDataList& params, std::initializer_list<CTaskField> fields) const;
    // Exactly three: a 64-bit root key, then two texts.
    DWORD ReadRootKeyAndTexts(const TaskDataList& params, ULONGLONG& rootKey, std::string& first,
                              std::string& second) const;

private:
    // dwWrongTypeCode: 87 in the text patterns, 1629 in the mixed one.
    DWORD ReadText(ITaskData* pElement, std::string& field, DWORD dwWrongTypeCode) const;
    DWORD ReadScalar(ITaskData* pElement, const CTaskField& field) const;
    DWORD CheckNotEmpty(const TaskDataList& params) const;
    void Log(DWORD dwLevel, const char* pszFormat, ...) const KVXDIAG_PRINTF(3, 4);

    const char* m_pszFunction;
};

} // namespace kvx
