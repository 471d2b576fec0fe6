// The report lines of one "Extended Data" item, held while the items run side by side and written
// afterwards in the items' fixed order.
#pragma once

#include "core/report/IReporter.h"

#include <string>
#include <vector>

class CExtendedEvidenceLines : public IReporter {
public:
    void SetOutputFile(const std::string&) override {}
    void BeginSection(const char*, ...) override {}
    void EndSection() override {}
    void EndSection(const char*, ...) override {}
    void Report(const char* pszFormat, ...) override KVXDIAG_PRINTF(2, 3);

    std::vector<std::string>& Lines() { return m_lines; }

private:
    std::vector<std::string> m_lines;
};
