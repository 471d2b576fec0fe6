// Reads only the item lines of the "Extended Data" section, by their labels: each line is
// "label: outcome", and a written item's outcome is "written to PATH (N bytes...)" followed by its
// "; "-separated summary. The line's closing "[n.n s]" is its time.
#include "tools/packagereader/SystemBlock.h"

#include <cstdlib>
#include <sstream>

namespace {

// The text of a report line without its time stamp, indentation and the item's time.
std::string LineText(const std::string& raw)
{
    std::string text = raw;
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
        text.pop_back();
    }
    if (text.size() > 20 && text[2] == '-' && text[5] == '-' && text[19] == '\t') {
        size_t at = 20;
        while (at < text.size() && text[at] == '\t') {
            ++at;
        }
        text = text.substr(at);
    }
    const size_t time = text.rfind(" [");
    if (time != std::string::npos && text.size() > 3 && text.compare(text.size() - 3, 3, " s]") == 0) {
        text.resize(time);
    }
    return text;
}

bool Outcome(const std::string& line, const char* label, std::string& outcome)
{
    const std::string prefix = std::string(label) + ": ";
    if (line.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    outcome = line.substr(prefix.size());
    return true;
}

// The "; "-separated parts after "written to PATH (N bytes...)"; empty when the item wrote nothing.
std::vector<std::string> SummaryParts(const std::string& outcome)
{
    std::vector<std::string> parts;
    if (outcome.compare(0, 11, "written to ") != 0) {
        return parts;
    }
    const size_t bytes = outcome.find(" bytes");
    const size_t close = bytes == std::string::npos ? bytes : outcome.find(')', bytes);
    if (close == std::string::npos) {
        return parts;
    }
    std::string rest = outcome.substr(close + 1);
    size_t at = 0;
    while ((at = rest.find("; ", at)) != std::string::npos) {
        const size_t next = rest.find("; ", at + 2);
        parts.push_back(rest.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2));
        at = next == std::string::npos ? rest.size() : next;
    }
    return parts;
}

unsigned CountOf(const std::string& part, unsigned long id, bool bRange = false, unsigned long last = 0)
{
    // "3 events: 41 x1, 1001 x1, 7000 x1"
    unsigned total = 0;
    const size_t colon = part.find(": ");
    if (colon == std::string::npos) {
        return 0;
    }
    std::istringstream list(part.substr(colon + 2));
    std::string entry;
    while (std::getline(list, entry, ',')) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(entry.c_str(), &end, 10);
        const size_t x = entry.find(" x");
        if (x == std::string::npos) {
            continue;
        }
        const unsigned count = static_cast<unsigned>(std::strtoul(entry.c_str() + x + 2, nullptr, 10));
        if (bRange ? value >= id && value <= last : value == id) {
            total += count;
        }
    }
    return total;
}

std::string Joined(const std::vector<std::string>& parts, const char* separator)
{
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : separator) + part;
    }
    return text;
}

} // namespace

SSystemFacts CSystemBlock::Read(const std::string& report)
{
    SSystemFacts facts;
    std::istringstream lines(report);
    std::string raw;
    while (std::getline(lines, raw)) {
        const std::string line = LineText(raw);
        std::string outcome;
        if (Outcome(line, "Windows version", outcome)) {
            facts.m_present = true;
            facts.m_windows = outcome;
        } else if (Outcome(line, "Antivirus products (root\\SecurityCenter2)", outcome) ||
                   Outcome(line, "Firewall products (root\\SecurityCenter2)", outcome)) {
            const std::vector<std::string> parts = SummaryParts(outcome);
            facts.m_securityProducts.insert(facts.m_securityProducts.end(), parts.begin(), parts.end());
            if (parts.empty() && facts.m_securityNote.empty()) {
                facts.m_securityNote = outcome;
            }
        } else if (Outcome(line, "Product drivers", outcome)) {
            facts.m_drivers = SummaryParts(outcome);
            if (facts.m_drivers.empty()) {
                facts.m_drivers.push_back(outcome);
            }
        } else if (Outcome(line, "Filtering Platform audit policy (auditpol)", outcome)) {
            const std::vector<std::string> parts = SummaryParts(outcome);
            facts.m_auditPolicy = parts.empty() ? outcome : parts.front();
            const std::string marker = "Filtering Platform Packet Drop: ";
            const size_t at = facts.m_auditPolicy.find(marker);
            const std::string setting =
                at == std::string::npos ? std::string()
                                        : facts.m_auditPolicy.substr(at + marker.size(),
                                                                     facts.m_auditPolicy.find(',', at) - at - marker.size());
            if (setting == "No Auditing") {
                facts.m_dropAuditing = "off";
            } else if (setting == "Failure" || setting == "Success" || setting == "Success and Failure") {
                facts.m_dropAuditing = "on";
            }
        } else if (Outcome(line, "Minidump bugcheck codes", outcome)) {
            facts.m_bugchecks = SummaryParts(outcome);
        } else if (Outcome(line, "Service, bugcheck and power-loss events, last 30 days (wevtutil qe)", outcome)) {
            for (const std::string& part : SummaryParts(outcome)) {
                facts.m_bugcheckEvents += CountOf(part, 1001);
                facts.m_powerLossEvents += CountOf(part, 41);
                facts.m_serviceFailures += CountOf(part, 7000, true, 7045);
            }
        }
    }
    return facts;
}

std::string CSystemBlock::Text(const SSystemFacts& f)
{
    if (!f.m_present) {
        return std::string();
    }
    std::ostringstream out;
    out << "\nSystem\n";
    out << "  Windows    " << f.m_windows << "\n";
    out << "  security   "
        << (f.m_securityProducts.empty() ? (f.m_securityNote.empty() ? "(not in the report)" : f.m_securityNote)
                                         : Joined(f.m_securityProducts, "\n             "))
        << "\n";
    out << "  drivers    " << (f.m_drivers.empty() ? "(not in the report)" : Joined(f.m_drivers, "\n             "))
        << "\n";
    out << "  WFP drops  auditing " << f.m_dropAuditing << (f.m_auditPolicy.empty() ? "" : " (" + f.m_auditPolicy + ")")
        << "\n";
    out << "  bugchecks  " << (f.m_bugchecks.empty() ? "no minidump" : Joined(f.m_bugchecks, ", ")) << "; events: "
        << f.m_bugcheckEvents << " bugcheck, " << f.m_powerLossEvents << " unexpected power loss, " << f.m_serviceFailures
        << " service failure\n";
    return out.str();
}

nlohmann::ordered_json CSystemBlock::Json(const SSystemFacts& f)
{
    if (!f.m_present) {
        return nullptr;
    }
    return {{"windows", f.m_windows},
            {"security_products", f.m_securityProducts},
            {"security_note", f.m_securityNote.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(f.m_securityNote)},
            {"product_drivers", f.m_drivers},
            {"wfp_drop_auditing", f.m_dropAuditing},
            {"audit_policy", f.m_auditPolicy},
            {"minidump_bugchecks", f.m_bugchecks},
            {"bugcheck_events", f.m_bugcheckEvents},
            {"power_loss_events", f.m_powerLossEvents},
            {"service_failure_events", f.m_serviceFailures}};
}

std::string CSystemBlock::Html(const SSystemFacts& f, std::string (*escape)(const std::string&))
{
    if (!f.m_present) {
        return std::string();
    }
    auto list = [&](const std::vector<std::string>& items, const std::string& none) {
        std::string html;
        for (const std::string& item : items) {
            html += escape(item) + "<br>";
        }
        return html.empty() ? escape(none) : html;
    };
    std::ostringstream o;
    o << "<h2>System</h2><table>";
    o << "<tr><th>Windows</th><td>" << escape(f.m_windows) << "</td></tr>";
    o << "<tr><th>Security products</th><td>"
      << list(f.m_securityProducts, f.m_securityNote.empty() ? "(not in the report)" : f.m_securityNote) << "</td></tr>";
    o << "<tr><th>Product drivers</th><td>" << list(f.m_drivers, "(not in the report)") << "</td></tr>";
    o << "<tr><th>WFP drop auditing</th><td>" << escape(f.m_dropAuditing)
      << (f.m_auditPolicy.empty() ? "" : " (" + escape(f.m_auditPolicy) + ")") << "</td></tr>";
    o << "<tr><th>Bugchecks</th><td>" << list(f.m_bugchecks, "no minidump") << escape(std::to_string(f.m_bugcheckEvents))
      << " bugcheck, " << f.m_powerLossEvents << " unexpected power loss and " << f.m_serviceFailures
      << " service failure events</td></tr>";
    o << "</table>";
    return o.str();
}
