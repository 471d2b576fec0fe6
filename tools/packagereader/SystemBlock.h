// The "System" block of kvxinspect: what the report's "Extended Data" lines say about the machine
// (Windows, other security products, the product's drivers and their signatures, whether WFP drops are
// audited, recent bugchecks), for the summary, the JSON and the HTML page.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

struct SSystemFacts {
    bool m_present = false;                       // the report has the "Extended Data" lines
    std::string m_windows;                        // the "Windows version" outcome
    std::vector<std::string> m_securityProducts;  // "Orvex HostGuard (state 0x41000: on, up to date)"
    std::string m_securityNote;                   // why no products are listed, when none are
    std::vector<std::string> m_drivers;           // "KVXTMGR 5.2.0.1 signed (catalog) by ..., running, system"
    std::string m_dropAuditing = "unknown";       // on | off | unknown
    std::string m_auditPolicy;                    // the two subcategories' settings as reported
    std::vector<std::string> m_bugchecks;         // "Mini120926-01.dmp 0x000000D1", newest first
    unsigned m_bugcheckEvents = 0;                // event 1001 in the failures digest
    unsigned m_powerLossEvents = 0;               // Kernel-Power 41
    unsigned m_serviceFailures = 0;               // Service Control Manager 7000-7045
};

class CSystemBlock {
public:
    // From the whole report text; an absent or older report gives m_present false.
    static SSystemFacts Read(const std::string& report);

    static std::string Text(const SSystemFacts& facts);
    static nlohmann::ordered_json Json(const SSystemFacts& facts);
    // escape: the page's own HTML escaping.
    static std::string Html(const SSystemFacts& facts, std::string (*escape)(const std::string&));
};
