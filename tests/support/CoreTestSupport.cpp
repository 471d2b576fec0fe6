#include "tests/support/CoreTestSupport.h"

#include "tests/support/TestSupport.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>

namespace kvxtest {

namespace {

std::string FormatV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) {
        return std::string();
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

} // namespace

CScopedTempVariables::CScopedTempVariables(const std::string& directory)
{
    for (const char* name : {"TMP", "TEMP"}) {
        SSaved saved{name, false, std::string()};
        const DWORD needed = ::GetEnvironmentVariableA(name, nullptr, 0);
        if (needed > 0) {
            std::string value(needed, '\0');
            const DWORD length = ::GetEnvironmentVariableA(name, &value[0], needed);
            value.resize(length);
            saved.present = true;
            saved.value = value;
        }
        m_saved.push_back(saved);
        ::SetEnvironmentVariableA(name, directory.c_str());
    }
}

CScopedTempVariables::~CScopedTempVariables()
{
    for (const SSaved& saved : m_saved) {
        ::SetEnvironmentVariableA(saved.name, saved.present ? saved.value.c_str() : nullptr);
    }
}

std::string TestProgramDirectory()
{
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    std::string directory(path, length < sizeof path ? length : 0);
    return directory.substr(0, directory.find_last_of('\\') + 1);
}

std::string ConsoleProbePath() { return TestProgramDirectory() + "kvx_console_probe.exe"; }

std::string ProbeNumberedLines(unsigned long count)
{
    std::string all;
    all.reserve(count);
    char line[101];
    for (unsigned long n = 0; all.size() < count; ++n) {
        snprintf(line, sizeof line, "%010lu %-87s\r\n", n, "abcdefghijklmnopqrstuvwxyz0123456789");
        all.append(line, 100);
    }
    all.resize(count);
    return all;
}

void CRecordingReporter::BeginSection(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    m_calls.push_back("BEGIN " + FormatV(pszFormat, args));
    va_end(args);
}

void CRecordingReporter::EndSection(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    m_calls.push_back("END " + FormatV(pszFormat, args));
    va_end(args);
}

void CRecordingReporter::Report(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    m_calls.push_back("REPORT " + FormatV(pszFormat, args));
    va_end(args);
}

std::vector<SReportLine> ReadReportLines(const std::string& path)
{
    const std::string content = ReadFileText(path);
    std::vector<SReportLine> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        const size_t end = content.find('\n', pos);
        const std::string raw = content.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? content.size() : end + 1;

        SReportLine line;
        // "dd-mm-yyyy hh:mm:ss" and a tab
        static const char shape[] = "99-99-9999 99:99:99\t";
        bool shapeOk = raw.size() >= sizeof shape - 1;
        for (size_t i = 0; shapeOk && i < sizeof shape - 1; ++i) {
            shapeOk = shape[i] == '9' ? std::isdigit(static_cast<unsigned char>(raw[i])) != 0 : raw[i] == shape[i];
        }
        line.valid = shapeOk && end != std::string::npos;
        if (shapeOk) {
            line.timestamp = raw.substr(0, 19);
            size_t text = 20;
            while (text < raw.size() && raw[text] == '\t') {
                ++text;
            }
            line.tabs = text - 20;
            line.text = raw.substr(text);
        } else {
            line.text = raw;
        }
        lines.push_back(line);
    }
    return lines;
}

bool MakeFile(const std::string& path, const std::string& content) { return WriteFileText(path, content); }

bool DirectoryExists(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace kvxtest
