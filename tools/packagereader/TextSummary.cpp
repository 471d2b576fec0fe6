// Layout of the summary: package and verification first (can the rest be trusted?), then the machine,
// the trail, the verdict, failures and differences.
#include "tools/packagereader/TextSummary.h"

#include "tools/packagereader/TerminalText.h"

#include <sstream>

namespace {
// Every text from the package passes here: it is written to a terminal.
std::string E(const std::string& text) { return CTerminalText::Escape(text); }

void WriteOutcome(std::ostringstream& out, const char* label, const SOutputOutcome& o)
{
    if (!o.m_requested) {
        return;
    }
    out << label;
    if (o.m_status == "extracted") {
        out << "extracted, " << o.m_files << " files in " << E(o.m_target);
    } else if (o.m_status == "written") {
        out << "written to " << E(o.m_target);
    } else if (o.m_status == "not_attempted") {
        out << "not attempted: " << E(o.m_problem);
    } else if (o.m_status == "refused") {
        out << "REFUSED, nothing written: " << E(o.m_problem);
    } else {
        out << "FAILED: " << E(o.m_problem);
    }
    out << "\n";
}

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
        return "culprit " + E(v.m_culprit) + " (" + v.m_layer + "), found by the " + v.m_analysis + " analysis";
    }
    if (v.m_kind == "no_solution") {
        return "no solution: the deep analysis tried every driver";
    }
    if (v.m_kind == "workaround") {
        return "no solution; workaround applied: " + E(v.m_workaround) + " left switched off (needs a reboot)";
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
    out << "Package      " << E(in.m_file) << "\n";
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
        out << "  ! " << E(p) << "\n";
    }
    if (in.m_problemsNotKept > 0) {
        out << "  ! (" << in.m_problemsNotKept << " more problems)\n";
    }
    for (const std::string& u : in.m_manifest.m_unreadable) {
        out << "  ? " << E(u) << "\n";
    }
    out << "\n" << CPrivacyNote::Text(in.m_privacy);
    WriteOutcome(out, "Extraction   ", in.m_extraction);
    WriteOutcome(out, "HTML page    ", in.m_html);
    out << "\nIncident     ";
    if (s.m_hasIncident) {
        out << E(s.m_incidentNumber) << "\n";
        std::istringstream d(s.m_incidentDescription);
        std::string line;
        while (std::getline(d, line)) {
            out << "             " << E(line) << "\n";
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
        out << (i ? ", " : "") << E(s.m_drivers[i].m_name) << " " << E(s.m_drivers[i].m_state);
    }
    out << "\n";
    for (const SNetworkComponentFact& c : s.m_components) {
        out << "  component  " << E(c.m_name) << " [" << E(c.m_id) << "]\n";
        for (const std::string& b : c.m_bindings) {
            out << "               " << E(b) << "\n";
        }
    }
    out << "  SDK        " << (s.m_sdkPresent ? "answered" : "no sign of it in the report") << "\n";
    out << "  snapshot   " << (s.m_snapshotPresent ? "present" : "absent") << "\n";

    if (s.m_hasBasic) {
        out << "\nBasic analysis (" << s.m_basicOutcome << ")\n";
        for (const SBasicFilterStep& f : s.m_basicSteps) {
            out << "  " << E(f.m_name) << "  " << (f.m_switchedOff ? "switched off" : "COULD NOT BE SWITCHED OFF") << ", "
                << AnswerText(f.m_answer) << (f.m_time.empty() ? "" : "  at " + f.m_time) << "\n";
        }
    }
    if (s.m_hasDeep) {
        out << "\nDeep analysis (one line per boot)\n";
        for (const SDeepRun& r : s.m_deepRuns) {
            out << "  step " << r.m_step << "  " << r.m_time;
            if (!r.m_tested.empty() || r.m_step >= 3) {
                out << "  tested with " << (r.m_tested.empty() ? "?" : E(r.m_tested)) << " off: " << AnswerText(r.m_answer);
            }
            if (!r.m_driver.empty()) {
                out << "; switched off " << E(r.m_driver);
            }
            if (r.m_reboot != "none") {
                out << "; reboot " << r.m_reboot;
            }
            out << "\n";
        }
    }
    out << "\nVerdict      " << VerdictText(s.m_verdict) << "\n";

    if (!s.m_failures.empty()) {
        out << "\nFailures in the report (" << s.m_failures.size() + s.m_failuresNotKept << ")\n";
        for (const SFailureLine& f : s.m_failures) {
            const std::string& section = s.SectionOf(f);
            out << "  [" << (section.empty() ? "top level" : E(section)) << "] " << E(f.m_line) << "\n";
        }
        if (s.m_failuresNotKept > 0) {
            out << "  (" << s.m_failuresNotKept << " more failure lines not listed)\n";
        }
    }
    if (!s.m_differences.empty()) {
        out << "\nPre/Post differences\n";
        for (const SDifference& d : s.m_differences) {
            out << "  " << E(d.m_filter) << " " << E(d.m_program) << "\n";
            for (const std::string& l : d.m_lines) {
                out << "      " << E(l) << "\n";
            }
        }
    }
    if (!s.m_notes.empty()) {
        out << "\nNotes\n";
        for (const std::string& n : s.m_notes) {
            out << "  " << E(n) << "\n";
        }
    }
    return out.str();
}
