// Package texts are escaped byte by byte; bytes above 0x7F pass unchanged and the page declares UTF-8.
#include "tools/packagereader/HtmlPage.h"

#include "tools/packagereader/TerminalText.h"
#include "tools/packagereader/TextSummary.h"

#include <sstream>

namespace {
const char* PAGE_STYLE =
    "body{font-family:sans-serif;margin:24px;color:#222;max-width:1200px}"
    "h1{font-size:22px}h2{font-size:17px;margin-top:28px;border-bottom:1px solid #ccc}"
    ".ok{color:#176d2c}.bad{color:#b00020}.dim{color:#777}"
    "table{border-collapse:collapse}td,th{padding:3px 10px;text-align:left;vertical-align:top}"
    ".timeline{border-left:3px solid #3a6ea5;margin-left:10px;padding-left:18px}"
    ".event{position:relative;margin:10px 0}.event:before{content:'';position:absolute;left:-26px;top:4px;"
    "width:11px;height:11px;border-radius:50%;background:#3a6ea5}"
    ".event.fixed:before{background:#176d2c}.event.cancel:before{background:#b00020}"
    ".verdict{font-size:18px;padding:10px;background:#eef3f8;border:1px solid #3a6ea5}"
    ".side{display:flex;gap:12px}.side pre{flex:1;background:#f6f6f6;padding:6px;font-size:12px;overflow:auto;"
    "max-height:260px;margin:4px 0}";

const char* AnswerClass(const std::string& answer)
{
    return answer == "fixed" ? "event fixed" : answer == "exiting" ? "event cancel" : "event";
}
} // namespace

std::string CHtmlPage::Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        // Control characters mean nothing on a page and a NUL could end it early in some viewers.
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') || c == 0x7F) {
            out += CTerminalText::Escape(std::string(1, c));
            continue;
        }
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string CHtmlPage::Write(const SInspection& in, const std::string& version)
{
    const SPackageStory& s = in.m_story;
    std::ostringstream o;
    o << "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>kvxinspect: " << Escape(in.m_file)
      << "</title><style>" << PAGE_STYLE << "</style></head><body>";
    o << "<h1>KVXDiag2 package " << Escape(in.m_file) << "</h1>";
    o << "<p>" << in.m_size << " bytes, " << in.m_entries << " entries, SHA-256 <code>" << in.m_sha256 << "</code></p>";
    o << "<p class=\"" << (in.m_verified ? "ok" : "bad") << "\"><b>" << (in.m_verified ? "Verified" : "Verification failed")
      << "</b>: " << in.m_entriesChecked << " entries checked; manifest " << Escape(in.m_manifest.m_status) << "</p>";
    if (!in.m_problems.empty()) {
        o << "<ul class=\"bad\">";
        for (const std::string& p : in.m_problems) {
            o << "<li>" << Escape(p) << "</li>";
        }
        if (in.m_problemsNotKept > 0) {
            o << "<li>" << in.m_problemsNotKept << " more problems</li>";
        }
        o << "</ul>";
    }
    o << CPrivacyNote::Html(in.m_privacy);
    o << "<h2>Incident</h2>";
    if (s.m_hasIncident) {
        o << "<p><b>" << Escape(s.m_incidentNumber) << "</b></p><pre>" << Escape(s.m_incidentDescription) << "</pre>";
    } else {
        o << "<p class=\"dim\">No incident file.</p>";
    }
    o << "<div class=\"verdict\">Verdict: " << Escape(CTextSummary::VerdictText(s.m_verdict)) << "</div>";

    o << "<h2>Machine</h2><table><tr><th>Driver</th><th>State</th><th>Start mode</th></tr>";
    for (const SDriverFact& d : s.m_drivers) {
        o << "<tr><td>" << Escape(d.m_name) << "</td><td>" << Escape(d.m_state) << "</td><td>" << Escape(d.m_startMode)
          << "</td></tr>";
    }
    o << "</table><table><tr><th>Network component</th><th>Bindings</th></tr>";
    for (const SNetworkComponentFact& c : s.m_components) {
        o << "<tr><td>" << Escape(c.m_name) << "<br><span class=\"dim\">" << Escape(c.m_id) << "</span></td><td>";
        for (const std::string& b : c.m_bindings) {
            o << Escape(b) << "<br>";
        }
        o << "</td></tr>";
    }
    o << "</table><p>SDK: " << (s.m_sdkPresent ? "answered" : "no sign of it") << "; configuration snapshot: "
      << (s.m_snapshotPresent ? "present" : "absent") << "</p>";

    o << "<h2>Isolation trail</h2><div class=\"timeline\">";
    for (const SBasicFilterStep& f : s.m_basicSteps) {
        o << "<div class=\"" << AnswerClass(f.m_answer) << "\"><b>Basic: " << Escape(f.m_name) << "</b> "
          << (f.m_switchedOff ? "switched off" : "<span class=\"bad\">could not be switched off</span>") << " &mdash; "
          << Escape(f.m_answer) << " <span class=\"dim\">" << Escape(f.m_time) << "</span></div>";
    }
    for (const SDeepRun& r : s.m_deepRuns) {
        o << "<div class=\"" << AnswerClass(r.m_answer) << "\"><b>Deep step " << r.m_step << "</b>";
        if (!r.m_tested.empty()) {
            o << " tested with " << Escape(r.m_tested) << " off";
        }
        o << " &mdash; " << Escape(r.m_answer);
        if (!r.m_driver.empty()) {
            o << "; switched off " << Escape(r.m_driver);
        }
        o << "; reboot " << Escape(r.m_reboot) << " <span class=\"dim\">" << Escape(r.m_time) << "</span></div>";
    }
    o << "</div>";

    if (!s.m_failures.empty()) {
        o << "<h2>Failures in the report</h2><table><tr><th>Section</th><th>Line</th></tr>";
        for (const SFailureLine& f : s.m_failures) {
            o << "<tr><td>" << Escape(s.SectionOf(f)) << "</td><td>" << Escape(f.m_line) << "</td></tr>";
        }
        o << "</table>";
        if (s.m_failuresNotKept > 0) {
            o << "<p class=\"dim\">" << s.m_failuresNotKept << " more failure lines not listed.</p>";
        }
    }
    if (!s.m_differences.empty()) {
        o << "<h2>Pre/Post differences</h2>";
        for (const SDifference& d : s.m_differences) {
            o << "<h3>" << Escape(d.m_filter) << " &middot; " << Escape(d.m_program) << "</h3><pre>";
            for (const std::string& l : d.m_lines) {
                o << Escape(l) << "\n";
            }
            o << "</pre><div class=\"side\"><pre>Pre\n";
            for (const std::string& l : d.m_pre) {
                o << Escape(l) << "\n";
            }
            o << "</pre><pre>Post\n";
            for (const std::string& l : d.m_post) {
                o << Escape(l) << "\n";
            }
            o << "</pre></div>";
        }
    }
    if (!s.m_notes.empty()) {
        o << "<h2>Notes</h2><ul class=\"dim\">";
        for (const std::string& n : s.m_notes) {
            o << "<li>" << Escape(n) << "</li>";
        }
        o << "</ul>";
    }
    o << "<p class=\"dim\">kvxinspect " << Escape(version) << "</p></body></html>\n";
    return o.str();
}
