// Layout of the summary: package and verification first (can the rest be trusted?), then the machine,
// the trail, the verdict, failures and differences.
#include "tools/packagereader/TextSummary.h"

#include <sstream>

namespace {
const char* AnswerText(const std::string& answer)
{
    if (answer == "fixed") {
        return "fixed";
    }
    if (answer == "not_fixed") {
        return "not fixed";
    }
    if (answer == "exiting") {
        return "exiting (wizard closed)";
    }
    return "no answer";
}
} // namespace

std::string CTextSummary::VerdictText(const SVerdict& v)
{
    if (v.m_kind == "culprit") {
        return "culprit " + v.m_culprit + " (" + v.m_layer + "), found by the " + v.m_analysis + " analysis";
    }
    if (v.m_kind == "no_solution") {
        return "no solution: the deep analysis tried every driver";
    }
    if (v.m_kind == "workaround") {
        return "no solution; workaround applied: " + v.m_workaround + " left switched off (needs a reboot)";
    }
    if (v.m_kind == "cancelled") {
        return "cancelled by the user during the " + v.m_analysis + " analysis";
    }
    if (v.m_kind == "unfinished") {
        return v.m_analysis == "deep" ? "unfinished: the deep analysis waits at step " + std::to_string(v.m_step)
                                      : "unfinished: the basic analysis did not reach its end";
    }
    if (v.m_kind == "not_found") {
        return "not found: no filter fixed it in the basic analysis, and no deep analysis ran";
    }
    return "none: the report holds no analysis";
}

std::string CTextSummary::Write(const SInspection& in)
{
    const SPackageStory& s = in.m_story;
    std::ostringstream out;
    out << "Package      " << in.m_file << "\n";
    out << "             " << in.m_size << " bytes, " << in.m_entries << " entries, SHA-256 " << in.m_sha256 << "\n";
    out << "Verification " << (in.m_verified ? "verified" : "FAILED") << " (" << in.m_entriesChecked
        << " entries checked; manifest: " << in.m_manifest.m_status;
    if (in.m_manifest.m_status == "missing") {
        out << " - no manifest (package made before manifests existed)";
    } else {
        out << ", " << in.m_manifest.m_listed << " files listed";
    }
    out << ")\n";
    for (const std::string& p : in.m_problems) {
        out << "  ! " << p << "\n";
    }
    for (const std::string& u : in.m_manifest.m_unreadable) {
        out << "  ? " << u << "\n";
    }
    out << "\nIncident     ";
    if (s.m_hasIncident) {
        out << s.m_incidentNumber << "\n";
        std::istringstream d(s.m_incidentDescription);
        std::string line;
        while (std::getline(d, line)) {
            out << "             " << line << "\n";
        }
    } else {
        out << "(no incident file)\n";
    }

    out << "\nMachine\n";
    out << "  drivers    ";
    if (s.m_drivers.empty()) {
        out << "(no product driver in the driver list)";
    }
    for (size_t i = 0; i < s.m_drivers.size(); ++i) {
        out << (i ? ", " : "") << s.m_drivers[i].m_name << " " << s.m_drivers[i].m_state;
    }
    out << "\n";
    for (const SNetworkComponentFact& c : s.m_components) {
        out << "  component  " << c.m_name << " [" << c.m_id << "]\n";
        for (const std::string& b : c.m_bindings) {
            out << "               " << b << "\n";
        }
    }
    out << "  SDK        " << (s.m_sdkPresent ? "answered" : "no sign of it in the report") << "\n";
    out << "  snapshot   " << (s.m_snapshotPresent ? "present" : "absent") << "\n";
    out << CSystemBlock::Text(in.m_system);

    if (s.m_hasBasic) {
        out << "\nBasic analysis (" << s.m_basicOutcome << ")\n";
        for (const SBasicFilterStep& f : s.m_basicSteps) {
            out << "  " << f.m_name << "  " << (f.m_switchedOff ? "switched off" : "COULD NOT BE SWITCHED OFF") << ", "
                << AnswerText(f.m_answer) << (f.m_time.empty() ? "" : "  at " + f.m_time) << "\n";
        }
    }
    if (s.m_hasDeep) {
        out << "\nDeep analysis (one line per boot)\n";
        for (const SDeepRun& r : s.m_deepRuns) {
            out << "  step " << r.m_step << "  " << r.m_time;
            if (!r.m_tested.empty() || r.m_step >= 3) {
                out << "  tested with " << (r.m_tested.empty() ? "?" : r.m_tested) << " off: " << AnswerText(r.m_answer);
            }
            if (!r.m_driver.empty()) {
                out << "; switched off " << r.m_driver;
            }
            if (r.m_reboot != "none") {
                out << "; reboot " << r.m_reboot;
            }
            out << "\n";
        }
    }
    out << "\nVerdict      " << VerdictText(s.m_verdict) << "\n";

    if (!s.m_failures.empty()) {
        out << "\nFailures in the report (" << s.m_failures.size() << ")\n";
        for (const SFailureLine& f : s.m_failures) {
            out << "  [" << (f.m_section.empty() ? "top level" : f.m_section) << "] " << f.m_line << "\n";
        }
    }
    if (!s.m_differences.empty()) {
        out << "\nPre/Post differences\n";
        for (const SDifference& d : s.m_differences) {
            out << "  " << d.m_filter << " " << d.m_program << "\n";
            for (const std::string& l : d.m_lines) {
                out << "      " << l << "\n";
            }
        }
    }
    return out.str();
}
