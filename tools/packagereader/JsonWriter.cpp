// Texts from the package are not guaranteed to be UTF-8 (console programs write in the system's code
// page): invalid bytes become U+FFFD rather than aborting the document.
#include "tools/packagereader/JsonWriter.h"

#include <nlohmann/json.hpp>

namespace {
using json = nlohmann::ordered_json;

json NullIfEmpty(const std::string& s) { return s.empty() ? json(nullptr) : json(s); }

std::string Dump(const json& doc) { return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n"; }

json Tool(const std::string& version) { return {{"name", "kvxinspect"}, {"version", version}}; }


json Output(const SOutputOutcome& o, bool withFiles)
{
    if (!o.m_requested) {
        return nullptr;
    }
    json out = {{"target", o.m_target}, {"status", o.m_status}};
    if (withFiles) {
        out["files"] = o.m_files;
    }
    out["problem"] = NullIfEmpty(o.m_problem);
    return out;
}

// How the requested outputs went; also in the short document, where nothing was attempted.
json Outputs(const SInspection& in, bool attempted)
{
    SOutputOutcome extraction = in.m_extraction, html = in.m_html;
    if (!attempted) {
        for (SOutputOutcome* o : {&extraction, &html}) {
            o->m_status = "not_attempted";
            o->m_problem = "the package could not be read";
        }
    }
    return {{"extract", Output(extraction, true)}, {"html", Output(html, false)}};
}
} // namespace

std::string CJsonWriter::WriteUnreadable(const SInspection& in, const std::string& why, const std::string& version)
{
    json doc;
    doc["schema"] = 1;
    doc["tool"] = Tool(version);
    doc["package"] = {{"file", in.m_file}, {"size", in.m_size}, {"sha256", in.m_sha256}, {"entries", 0}};
    doc["verification"] = {{"status", "failed"}, {"readable", false}, {"problems", json::array({why})}, {"entries_checked", 0},
                           {"manifest", {{"status", "unreadable"}, {"missing", json::array()}, {"extra", json::array()},
                                         {"differing", json::array()}, {"unreadable", json::array()}}}};
    doc["outputs"] = Outputs(in, false);
    return Dump(doc);
}

std::string CJsonWriter::Write(const SInspection& in, const std::string& version)
{
    const SPackageStory& s = in.m_story;
    json doc;
    doc["schema"] = 1;
    doc["tool"] = Tool(version);
    doc["package"] = {{"file", in.m_file}, {"size", in.m_size}, {"sha256", in.m_sha256}, {"entries", in.m_entries}};
    doc["verification"] = {
        {"status", in.m_verified ? "verified" : "failed"},
        {"problems", in.m_problems},
        {"problems_not_listed", in.m_problemsNotKept},
        {"entries_checked", in.m_entriesChecked},
        {"manifest",
         {{"status", in.m_manifest.m_status},
          {"listed", in.m_manifest.m_listed},
          {"missing", in.m_manifest.m_missing},
          {"extra", in.m_manifest.m_extra},
          {"differing", in.m_manifest.m_differing},
          {"unreadable", in.m_manifest.m_unreadable},
          {"unreadable_but_present", in.m_manifest.m_contradicted},
          {"malformed", in.m_manifest.m_malformed},
          {"repeated", in.m_manifest.m_repeated},
          {"not_listed", in.m_manifest.m_notKept}}}};
    doc["outputs"] = Outputs(in, true);
    doc["privacy"] = CPrivacyNote::Json(in.m_privacy);
    doc["incident"] = s.m_hasIncident ? json{{"number", s.m_incidentNumber}, {"description", s.m_incidentDescription}}
                                      : json(nullptr);
    json drivers = json::array();
    for (const SDriverFact& d : s.m_drivers) {
        drivers.push_back({{"name", d.m_name}, {"state", d.m_state}, {"start_mode", d.m_startMode}});
    }
    json components = json::array();
    for (const SNetworkComponentFact& c : s.m_components) {
        components.push_back({{"name", c.m_name}, {"id", c.m_id}, {"bindings", c.m_bindings}});
    }
    doc["machine"] = {{"drivers", drivers},
                      {"network_components", components},
                      {"sdk_present", s.m_sdkPresent},
                      {"snapshot_present", s.m_snapshotPresent},
                      {"report_present", s.m_hasReport}};
    if (s.m_hasBasic) {
        json filters = json::array();
        for (const SBasicFilterStep& f : s.m_basicSteps) {
            filters.push_back({{"name", f.m_name},
                               {"switched_off", f.m_switchedOff},
                               {"answer", f.m_answer},
                               {"time", f.m_time},
                               {"switched_back_on", f.m_reactivated}});
        }
        doc["basic_analysis"] = {{"filters", filters}, {"outcome", s.m_basicOutcome}};
    } else {
        doc["basic_analysis"] = nullptr;
    }
    if (s.m_hasDeep) {
        json runs = json::array();
        for (const SDeepRun& r : s.m_deepRuns) {
            runs.push_back({{"step", r.m_step},
                            {"driver", r.m_driver},
                            {"tested", r.m_tested},
                            {"answer", r.m_answer},
                            {"reboot", r.m_reboot},
                            {"time", r.m_time}});
        }
        doc["deep_analysis"] = {{"runs", runs}};
    } else {
        doc["deep_analysis"] = nullptr;
    }
    const SVerdict& v = s.m_verdict;
    doc["verdict"] = {{"kind", v.m_kind},
                      {"analysis", NullIfEmpty(v.m_analysis)},
                      {"culprit", NullIfEmpty(v.m_culprit)},
                      {"layer", NullIfEmpty(v.m_layer)},
                      {"step", v.m_step != 0 ? json(v.m_step) : json(nullptr)},
                      {"workaround", NullIfEmpty(v.m_workaround)}};
    json failures = json::array();
    for (const SFailureLine& f : s.m_failures) {
        failures.push_back({{"section", s.SectionOf(f)}, {"line", f.m_line}, {"time", f.m_time}});
    }
    doc["failures"] = failures;
    doc["failures_not_listed"] = s.m_failuresNotKept;
    json differences = json::array();
    for (const SDifference& d : s.m_differences) {
        differences.push_back({{"filter", d.m_filter}, {"program", d.m_program}, {"lines", d.m_lines}});
    }
    doc["differences"] = differences;
    doc["notes"] = s.m_notes;
    return Dump(doc);
}
