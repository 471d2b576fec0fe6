// The journal of SDK calls that tests read back. One entry per call, written in one append so that
// entries of concurrent callers never interleave:
//
//   CALL func=KVXLogSetConfig export=_0100_ sdk=3.2 pid=1234 tid=88
//   ARG name=value                                  (scalar arguments, in call order)
//   REC name=LogOptions size=554 dir=in             (a record passed by pointer)
//   FLD +4 u32 module=0x0101FFFF                    (the double's reading of each field)
//   HEX +0000 01 00 00 00 ...                       (the record's raw bytes, 16 per line)
//   NOTE text                                       (why a call was refused, files written, ...)
//   RET result=1 error=0x00000000
//   END
#pragma once

#include "simulator/kvxapi/SimRecords.h"

#include <windows.h>

#include <string>

namespace kvxsim {

class CJournalEntry {
public:
    CJournalEntry(const char* function, const char* exportName);
    ~CJournalEntry();
    CJournalEntry(const CJournalEntry&) = delete;
    CJournalEntry& operator=(const CJournalEntry&) = delete;

    void Arg(const char* name, DWORD value);
    void Arg(const char* name, const std::string& value);
    void Record(const SRecordDesc& desc, const void* record, const char* direction);
    void RawRecord(const char* name, const void* record, DWORD size, const char* direction);
    void Note(const std::string& text);

    // Sets the call's outcome (the returned value and the error it leaves); the entry is written when
    // the object goes out of scope.
    DWORD Result(DWORD result, DWORD error);

private:
    void Hex(const BYTE* bytes, DWORD size);

    std::string m_text;
    DWORD m_result = 0;
    DWORD m_error = 0;
};

} // namespace kvxsim
