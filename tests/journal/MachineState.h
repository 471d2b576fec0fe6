// Everything a run of the tool can change on the simulated machine, read into one ordered map of
// named values, so that the state after a crash and its recovery compares value by value with the
// state before the run (or with what the verdict keeps), and a difference names what it is.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace kvxtest {

class CSimAntivirus;
class CSimNetCfgModel;
class CSimProduct;

class CMachineState {
public:
    static constexpr const char* RUN_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    static constexpr const char* AUTOSTART_VALUE = "KVXDIAG2_AUTOSTART";
    static constexpr const char* RESUME_KEY = "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2";
    static constexpr const char* WIZARD_AWAITS_REBOOT = "journal: the wizard's run awaits its reboot";
    static constexpr const char* JOURNAL_KEY = "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2Journal";

    // Any of the doubles may be absent: its values are then not read.
    CMachineState(const CSimProduct* product, const CSimNetCfgModel* netcfg, const CSimAntivirus* antivirus);

    std::map<std::string, std::string> Read() const;
    // "name: expected A, found B" for every value that differs, one per line; empty when none does.
    static std::string Differences(const std::map<std::string, std::string>& expected,
                                   const std::map<std::string, std::string>& actual);

    // What a boot does to the journal's volatile key: it is gone.
    static void SimulateBoot();
    // Removes the journal, the resume key and both views' autostart value, as a clean machine has none.
    static void ClearToolState();

private:
    const CSimProduct* m_product;
    const CSimNetCfgModel* m_netcfg;
    const CSimAntivirus* m_antivirus;
};

} // namespace kvxtest
