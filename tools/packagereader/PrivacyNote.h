// A package packed with personal data removed carries a note of its own, KVXPrivacy.txt: how many
// values of each kind were replaced by tokens and which files were left out. kvxinspect reads it to say
// that the package was cleaned: support then knows that host-3 or user-1 is a token, not a name, and
// why a hive or an event log is missing.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

constexpr const char* KVXINSPECT_PRIVACY_NOTE_NAME = "KVXPrivacy.txt";

struct SPrivacyNote {
    bool m_cleaned = false; // the package holds the note
    struct SKind {
        std::string m_kind; // "user names", "IPv4 addresses", ...
        size_t m_values = 0;
        size_t m_replacements = 0;
    };
    std::vector<SKind> m_kinds;
    struct SLeftOut {
        std::string m_path;
        std::string m_reason;
    };
    std::vector<SLeftOut> m_leftOut;
};

class CPrivacyNote {
public:
    static SPrivacyNote Parse(const std::string& text);
    // The note in each of kvxinspect's forms; a package without one says so in the text and HTML.
    static std::string Text(const SPrivacyNote& note);
    static nlohmann::json Json(const SPrivacyNote& note);
    static std::string Html(const SPrivacyNote& note);
};
