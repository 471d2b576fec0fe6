// Fixture pieces shared by the network configuration tests: driver service keys owned by a test, the
// engine double's model builders, and a report read back without its timestamps.
#pragma once

#include "common/win/UniqueHandles.h"
#include "core/report/ReporterPlainText.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimNetCfg.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace kvxtest {

constexpr const char* NETCFG_SERVICES_KEY = "SYSTEM\\CurrentControlSet\\Services";
constexpr DWORD NETCFG_NO_WRITE_LOCK = 0x8004A024;

// A driver service key that exists for one test.
class CScopedService {
public:
    explicit CScopedService(std::string name) : m_name(std::move(name)), m_tree(HKEY_LOCAL_MACHINE, Path(m_name)) {}
    static std::string Path(const std::string& name) { return std::string(NETCFG_SERVICES_KEY) + "\\" + name; }
    bool Create(DWORD start = 3) const { return SetDword(HKEY_LOCAL_MACHINE, Path(m_name), "Start", start); }
    bool MarkForDeletion() const { return SetDword(HKEY_LOCAL_MACHINE, Path(m_name), "DeleteFlag", 1); }
    DWORD Start() const
    {
        DWORD value = 0xDEADBEEF;
        GetDword(HKEY_LOCAL_MACHINE, Path(m_name), "Start", value);
        return value;
    }
    const std::string& Name() const { return m_name; }

private:
    std::string m_name;
    CScopedRegistryTree m_tree;
};

// Services of the prefix whose names begin with the intermediate driver's prefix; a test that needs
// to own all of them skips when others exist.
inline std::vector<std::string> ForeignIMServices()
{
    std::vector<std::string> names;
    kvx::UniqueHkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, NETCFG_SERVICES_KEY, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return names;
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD length = sizeof name;
        if (::RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        if (strncmp(name, "KVXIMD", 6) == 0) {
            names.push_back(name);
        }
    }
    return names;
}

inline SSimPathDef SimPath(std::wstring token, bool enabled = true, std::optional<HRESULT> enableResult = {})
{
    SSimPathDef path;
    path.token = std::move(token);
    path.enabled = enabled;
    path.enableResult = enableResult;
    return path;
}

inline SSimComponentDef SimComponent(std::wstring id, std::wstring classGuid, std::vector<SSimPathDef> paths = {})
{
    SSimComponentDef component;
    component.id = std::move(id);
    component.classGuid = std::move(classGuid);
    component.instanceGuid = L"{00000000-0000-0000-0000-000000000000}";
    component.displayName = *component.id;
    component.paths = std::move(paths);
    return component;
}

// The report file's lines without their "dd-mm-yyyy hh:mm:ss<TAB>" prefix; a line without a valid
// prefix is kept whole with a marker, so that a comparison shows it.
inline std::vector<std::string> ReportLines(const std::string& file)
{
    static const std::regex stamp("^\\d{2}-\\d{2}-\\d{4} \\d{2}:\\d{2}:\\d{2}\\t");
    std::vector<std::string> lines;
    const std::string text = ReadFileText(file);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        std::smatch match;
        if (std::regex_search(line, match, stamp)) {
            lines.push_back(match.suffix().str());
        } else {
            lines.push_back("<no timestamp>" + line);
        }
        start = end + 1;
    }
    return lines;
}

// A plain-text reporter writing into a file of a temporary directory.
class CReportFile {
public:
    CReportFile() { m_reporter.SetOutputFile(m_dir.Path() + "\\KVXDiagReport.txt"); }
    IReporter* Reporter() { return &m_reporter; }
    std::vector<std::string> Lines() const { return ReportLines(m_dir.Path() + "\\KVXDiagReport.txt"); }

private:
    CScopedTempDir m_dir{"netcfgreport"};
    CReporterPlainText m_reporter;
};

} // namespace kvxtest
