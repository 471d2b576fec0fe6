// The report of a run: time-stamped English outcome lines, nested in titled sections. Text that is
// not itself a format (a program's output, a title made from a program name) is passed as the
// argument of "%s", so that a "%" in it is written unchanged.
#pragma once

#include "common/log/KVXDiagObject.h"

#include <string>

class IReporter {
public:
    virtual ~IReporter() = default;
    virtual void SetOutputFile(const std::string& strPath) = 0;
    virtual void BeginSection(const char* pszFormat, ...) KVXDIAG_PRINTF(2, 3) = 0;
    virtual void EndSection() = 0;
    virtual void EndSection(const char* pszFormat, ...) KVXDIAG_PRINTF(2, 3) = 0;
    virtual void Report(const char* pszFormat, ...) KVXDIAG_PRINTF(2, 3) = 0;
};

// Reporter ids.
constexpr DWORD KVXDIAG2_REPORTERID_PLAINTEXT = 1;
