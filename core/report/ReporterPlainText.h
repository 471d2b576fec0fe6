// The plain-text report writer (reporter id 1). Every call appends to the file and closes it again,
// so the report on disk is complete whatever happens to the process afterwards (a reboot in the
// middle of a deep analysis), and other programs may read it while it grows.
#pragma once

#include "common/log/KVXDiagObject.h"
#include "core/report/IReporter.h"

#include <cstdarg>
#include <deque>
#include <memory>
#include <string>

// Size of the format buffer: a formatted text longer than this minus one is cut.
constexpr size_t KVXREPORT_FORMAT_BUFFER_SIZE = 102400;
// Indentation stops growing here; deeper sections share the last column.
constexpr size_t KVXREPORT_MAX_TABS = 100;

class CReporterPlainText : public IReporter, public CKVXDiagObject {
public:
    static IReporter* AutoCreation();
    static DWORD PerformFactoryRegistration();

    CReporterPlainText();
    ~CReporterPlainText() override;
    CReporterPlainText(const CReporterPlainText&) = delete;
    CReporterPlainText& operator=(const CReporterPlainText&) = delete;

    void SetOutputFile(const std::string& strPath) override;
    void BeginSection(const char* pszFormat, ...) override KVXDIAG_PRINTF(2, 3);
    void EndSection() override;
    void EndSection(const char* pszFormat, ...) override KVXDIAG_PRINTF(2, 3);
    void Report(const char* pszFormat, ...) override KVXDIAG_PRINTF(2, 3);

    // The number of open sections.
    size_t GetDepth() const;

private:
    void BeginSectionV(const char* pszFormat, va_list args);
    void EndSectionV(const char* pszFormat, va_list args);
    void ReportV(const char* pszFormat, va_list args);

    // Formats into the format buffer and copies the (possibly cut) text out; false when there is no
    // buffer or the format is malformed.
    bool Format(const char* pszFunction, const char* pszFormat, va_list args, std::string& text);
    // "dd-mm-yyyy hh:mm:ss\t" and one tab per open section, at most KVXREPORT_MAX_TABS.
    static std::string MakeLinePrefix(size_t depth);
    void AddStringToReportFile(const std::string& text);

    std::unique_ptr<char[]> m_pFormatBuffer;
    std::string m_strOutputFile;
    std::deque<std::string> m_sections;
    // Not needed by the one job that writes at a time, but it keeps the shared format buffer and the
    // section stack whole if two threads ever report at once.
    mutable CRITICAL_SECTION m_cs;

    static const DWORD s_dwFactoryRegistration;
};
