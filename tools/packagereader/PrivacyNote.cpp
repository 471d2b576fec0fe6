#include "tools/packagereader/PrivacyNote.h"

#include "tools/packagereader/HtmlPage.h"

#include <nlohmann/json.hpp>

#include <cstdio>

#include <sstream>

namespace {

// "user names: 2 values, 14 replacements"
bool ParseKind(const std::string& line, SPrivacyNote::SKind& kind)
{
    const size_t colon = line.find(": ");
    if (colon == std::string::npos || line.compare(0, 9, "left out:") == 0) {
        return false;
    }
    unsigned long values = 0, replacements = 0;
    char rest[2] = {};
    if (std::sscanf(line.c_str() + colon + 2, "%lu values, %lu replacements%1s", &values, &replacements, rest) != 2) {
        return false;
    }
    kind.m_kind = line.substr(0, colon);
    kind.m_values = values;
    kind.m_replacements = replacements;
    return true;
}

// "left out: DataGathering/StaticData/RegistrySystemKey.reg (registry hive)"
bool ParseLeftOut(const std::string& line, SPrivacyNote::SLeftOut& file)
{
    if (line.compare(0, 10, "left out: ") != 0 || line.empty() || line.back() != ')') {
        return false;
    }
    const size_t open = line.rfind(" (");
    if (open == std::string::npos || open < 10) {
        return false;
    }
    file.m_path = line.substr(10, open - 10);
    file.m_reason = line.substr(open + 2, line.size() - open - 3);
    return true;
}

} // namespace

SPrivacyNote CPrivacyNote::Parse(const std::string& text)
{
    SPrivacyNote note;
    note.m_cleaned = true;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        SPrivacyNote::SKind kind;
        SPrivacyNote::SLeftOut file;
        if (ParseLeftOut(line, file)) {
            note.m_leftOut.push_back(file);
        } else if (ParseKind(line, kind)) {
            note.m_kinds.push_back(kind);
        }
    }
    return note;
}

std::string CPrivacyNote::Text(const SPrivacyNote& note)
{
    if (!note.m_cleaned) {
        return "Personal     included (the package was not cleaned)\n";
    }
    std::ostringstream out;
    out << "Personal     removed: the package was cleaned, names and addresses are tokens\n";
    for (const SPrivacyNote::SKind& kind : note.m_kinds) {
        if (kind.m_replacements > 0) {
            out << "  replaced   " << kind.m_kind << ": " << kind.m_values << " values, " << kind.m_replacements
                << " replacements\n";
        }
    }
    for (const SPrivacyNote::SLeftOut& file : note.m_leftOut) {
        out << "  left out   " << file.m_path << " (" << file.m_reason << ")\n";
    }
    return out.str();
}

nlohmann::json CPrivacyNote::Json(const SPrivacyNote& note)
{
    nlohmann::json kinds = nlohmann::json::array();
    for (const SPrivacyNote::SKind& kind : note.m_kinds) {
        kinds.push_back({{"kind", kind.m_kind}, {"values", kind.m_values}, {"replacements", kind.m_replacements}});
    }
    nlohmann::json leftOut = nlohmann::json::array();
    for (const SPrivacyNote::SLeftOut& file : note.m_leftOut) {
        leftOut.push_back({{"path", file.m_path}, {"reason", file.m_reason}});
    }
    return {{"cleaned", note.m_cleaned}, {"replaced", kinds}, {"left_out", leftOut}};
}

std::string CPrivacyNote::Html(const SPrivacyNote& note)
{
    std::ostringstream o;
    o << "<h2>Personal data</h2>";
    if (!note.m_cleaned) {
        o << "<p class=\"dim\">Included: the package was not cleaned.</p>";
        return o.str();
    }
    o << "<p><b>Removed</b>: the customer had the package cleaned; names and addresses are tokens.</p>"
      << "<table><tr><th>Replaced</th><th>Values</th><th>Replacements</th></tr>";
    for (const SPrivacyNote::SKind& kind : note.m_kinds) {
        o << "<tr><td>" << CHtmlPage::Escape(kind.m_kind) << "</td><td>" << kind.m_values << "</td><td>"
          << kind.m_replacements << "</td></tr>";
    }
    o << "</table>";
    if (!note.m_leftOut.empty()) {
        o << "<table><tr><th>Left out</th><th>Why</th></tr>";
        for (const SPrivacyNote::SLeftOut& file : note.m_leftOut) {
            o << "<tr><td>" << CHtmlPage::Escape(file.m_path) << "</td><td>" << CHtmlPage::Escape(file.m_reason)
              << "</td></tr>";
        }
        o << "</table>";
    }
    return o.str();
}
