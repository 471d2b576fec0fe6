#include "tests/journal/MachineState.h"

#include "tests/support/SimAntivirus.h"
#include "tests/support/SimNetCfg.h"
#include "tests/support/SimProduct.h"
#include "tests/support/TestSupport.h"

#include "common/win/UniqueHandles.h"

#include <vector>

namespace kvxtest {

namespace {

constexpr const char* RUN_KEY = CMachineState::RUN_KEY;
constexpr const char* AUTOSTART_VALUE = CMachineState::AUTOSTART_VALUE;
constexpr const char* RESUME_KEY = CMachineState::RESUME_KEY;
constexpr const char* JOURNAL_KEY = CMachineState::JOURNAL_KEY;
// The vendor's keys, the journal among them, live in the 32-bit view for both builds.
constexpr REGSAM VENDOR_VIEW = KEY_WOW64_32KEY;
constexpr const char* PRODUCT_DRIVERS[] = {"KVXTMGR", "KVXNMGR", "KVXIMD",  "KVXMON",  "KVXFLTA",
                                           "KVXFLTB", "KVXFLTC", "KVXFLTD", "KVXFLTE", "KVXFLTF"};
constexpr const char* PLUGIN_FILTERS[] = {"KVXFLTA", "KVXFLTB", "KVXFLTC", "KVXFLTD", "KVXFLTE", "KVXFLTF"};
constexpr size_t IM_BINDING_PATHS = 2;

std::string DwordText(HKEY root, const std::string& key, const std::string& name, REGSAM view)
{
    DWORD value = 0;
    return GetDword(root, key, name, value, view) ? std::to_string(value) : "absent";
}

std::string StringText(HKEY root, const std::string& key, const std::string& name, REGSAM view)
{
    std::string value;
    return GetString(root, key, name, value, view) ? "\"" + value + "\"" : "absent";
}

// The journal's entries, each with the original it would put back (a wrong original only shows when
// the last undo writes it) and whether it is kept, and whether a run waits for its reboot.
void ReadJournal(std::map<std::string, std::string>& values)
{
    kvx::UniqueHkey entries;
    const std::string path = std::string(JOURNAL_KEY) + "\\Entries";
    std::string text;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | VENDOR_VIEW, entries.put()) == ERROR_SUCCESS) {
        for (DWORD index = 0;; ++index) {
            char name[512] = {};
            DWORD length = sizeof name;
            if (::RegEnumKeyExA(entries.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            const std::string entry = path + "\\" + name;
            DWORD kept = 0;
            DWORD hadOriginal = 1;
            GetDword(HKEY_LOCAL_MACHINE, entry, "Kept", kept, VENDOR_VIEW);
            GetDword(HKEY_LOCAL_MACHINE, entry, "HadOriginal", hadOriginal, VENDOR_VIEW);
            std::string original = DwordText(HKEY_LOCAL_MACHINE, entry, "Original", VENDOR_VIEW);
            std::string originalText;
            if (GetString(HKEY_LOCAL_MACHINE, entry, "OriginalText", originalText, VENDOR_VIEW) &&
                !originalText.empty()) {
                original = "\"" + originalText + "\"";
            }
            text += std::string(text.empty() ? "" : " ") + name + "=" + (hadOriginal != 0 ? original : "none") +
                    (kept != 0 ? "(kept)" : "");
        }
    }
    values["journal entries"] = text.empty() ? "none" : text;
    // One bit per program (1 the wizard, 2 the core): each takes its own at its next start.
    DWORD awaiting = 0;
    GetDword(HKEY_LOCAL_MACHINE, JOURNAL_KEY, "AwaitingReboot", awaiting, VENDOR_VIEW);
    values[CMachineState::WIZARD_AWAITS_REBOOT] = (awaiting & 1) != 0 ? "yes" : "no";
    values["journal: the core's run awaits its reboot"] = (awaiting & 2) != 0 ? "yes" : "no";
}

} // namespace

CMachineState::CMachineState(const CSimProduct* product, const CSimNetCfgModel* netcfg, const CSimAntivirus* antivirus)
    : m_product(product), m_netcfg(netcfg), m_antivirus(antivirus)
{
}

std::map<std::string, std::string> CMachineState::Read() const
{
    std::map<std::string, std::string> values;
    if (m_product != nullptr) {
        for (const char* driver : PRODUCT_DRIVERS) {
            values[std::string(driver) + " Start"] =
                DwordText(HKEY_LOCAL_MACHINE, std::string(CSimProduct::SERVICES_KEY) + driver, "Start", 0);
        }
        for (const char* filter : PLUGIN_FILTERS) {
            values[std::string(filter) + " filter (SDK)"] = m_product->FilterEnabled(filter) ? "enabled" : "disabled";
        }
        values["module logs or captures (SDK)"] = CSimProduct::LogsOrCapturesOn() ? "on" : "off";
        values["capture files in the drivers folder"] = std::to_string(CSimProduct::NativeCaptureFiles("*").size());
    }
    if (m_netcfg != nullptr) {
        for (size_t path = 0; path < IM_BINDING_PATHS; ++path) {
            const std::optional<bool> enabled = m_netcfg->IsPathEnabled(L"kvximd", path);
            values["KVXIMD binding " + std::to_string(path)] = enabled ? (*enabled ? "enabled" : "disabled") : "absent";
        }
    }
    if (m_antivirus != nullptr) {
        const std::optional<DWORD> shield = CSimAntivirus::ShieldStart();
        values["shield Start"] = shield ? std::to_string(*shield) : "absent";
        values["HOSTGUARD.exe"] = m_antivirus->ModuleInPlace() ? "in place"
                                  : m_antivirus->ModuleAside() ? "aside"
                                                               : "?";
    }
    values["Run KVXDIAG2_AUTOSTART (32-bit view)"] =
        StringText(HKEY_LOCAL_MACHINE, RUN_KEY, AUTOSTART_VALUE, KEY_WOW64_32KEY);
    values["Run KVXDIAG2_AUTOSTART (64-bit view)"] =
        StringText(HKEY_LOCAL_MACHINE, RUN_KEY, AUTOSTART_VALUE, KEY_WOW64_64KEY);
    values["resume CurrentStep"] = DwordText(HKEY_LOCAL_MACHINE, RESUME_KEY, "CurrentStep", VENDOR_VIEW);
    values["resume TDIManSuspicious"] = DwordText(HKEY_LOCAL_MACHINE, RESUME_KEY, "TDIManSuspicious", VENDOR_VIEW);
    std::string results;
    values["resume ResultsDir"] =
        GetString(HKEY_LOCAL_MACHINE, RESUME_KEY, "ResultsDir", results, VENDOR_VIEW) ? "present" : "absent";
    ReadJournal(values);
    return values;
}

std::string CMachineState::Differences(const std::map<std::string, std::string>& expected,
                                       const std::map<std::string, std::string>& actual)
{
    std::string text;
    for (const auto& value : expected) {
        const auto found = actual.find(value.first);
        const std::string now = found == actual.end() ? "not read" : found->second;
        if (now != value.second) {
            text += "  " + value.first + ": expected " + value.second + ", found " + now + "\n";
        }
    }
    return text;
}

void CMachineState::SimulateBoot()
{
    CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, std::string(JOURNAL_KEY) + "\\BootMarker", VENDOR_VIEW);
}

void CMachineState::ClearToolState()
{
    CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, JOURNAL_KEY, VENDOR_VIEW);
    CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, RESUME_KEY, VENDOR_VIEW);
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        kvx::UniqueHkey run;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, RUN_KEY, 0, KEY_SET_VALUE | view, run.put()) == ERROR_SUCCESS) {
            ::RegDeleteValueA(run.get(), AUTOSTART_VALUE);
        }
    }
}

} // namespace kvxtest
