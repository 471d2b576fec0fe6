// Fixture helpers for the task, helper and report tests: the temporary directory a test sees, the
// console probe program, a reporter that records what it is told, and reading a report file back.
#pragma once

#include "core/report/IReporter.h"

#include <windows.h>

#include <string>
#include <vector>

namespace kvxtest {

// Points TMP and TEMP of this process at another directory (8-bit text in the ANSI code page) and
// puts the old values back on destruction.
class CScopedTempVariables {
public:
    explicit CScopedTempVariables(const std::string& directory);
    ~CScopedTempVariables();
    CScopedTempVariables(const CScopedTempVariables&) = delete;
    CScopedTempVariables& operator=(const CScopedTempVariables&) = delete;

private:
    struct SSaved {
        const char* name;
        bool present;
        std::string value;
    };
    std::vector<SSaved> m_saved;
};

// Full path of kvx_console_probe.exe, which is built next to the test programs.
std::string ConsoleProbePath();
// The directory of the running test program, with a trailing backslash.
std::string TestProgramDirectory();

// What the probe's "bytes COUNT" mode prints.
std::string ProbeNumberedLines(unsigned long count);

// A reporter that keeps each call as a line: "BEGIN <title>", "REPORT <text>", "END", "END <text>".
class CRecordingReporter : public IReporter {
public:
    void SetOutputFile(const std::string& strPath) override { m_strOutputFile = strPath; }
    void BeginSection(const char* pszFormat, ...) override KVXDIAG_PRINTF(2, 3);
    void EndSection() override { m_calls.push_back("END"); }
    void EndSection(const char* pszFormat, ...) override KVXDIAG_PRINTF(2, 3);
    void Report(const char* pszFormat, ...) override KVXDIAG_PRINTF(2, 3);

    const std::vector<std::string>& Calls() const { return m_calls; }
    const std::string& OutputFile() const { return m_strOutputFile; }

private:
    std::vector<std::string> m_calls;
    std::string m_strOutputFile;
};

// One line of a report file split into its parts; valid is false when the time stamp is malformed.
struct SReportLine {
    bool valid = false;
    std::string timestamp; // "dd-mm-yyyy hh:mm:ss"
    size_t tabs = 0;       // tabs after the time stamp's own tab
    std::string text;
};
// Reads a report file; every line must end in "\n" (a final partial line is returned with valid false).
std::vector<SReportLine> ReadReportLines(const std::string& path);

// Creates a file with the given content; false on failure.
bool MakeFile(const std::string& path, const std::string& content);
bool DirectoryExists(const std::string& path);

} // namespace kvxtest
