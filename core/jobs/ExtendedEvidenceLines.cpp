// Formatting without a fixed buffer: a program's output summary may be longer than any guess.
#include "core/jobs/ExtendedEvidenceLines.h"

#include <cstdarg>
#include <cstdio>

void CExtendedEvidenceLines::Report(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, pszFormat, copy);
    va_end(copy);
    std::string line;
    if (length > 0) {
        line.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(&line[0], line.size(), pszFormat, args);
        line.resize(static_cast<size_t>(length));
    }
    va_end(args);
    m_lines.push_back(std::move(line));
}
