// The records kvxinspect fills while reading a package: what the ZIP directory declares, what
// verification found, and the story the report tells. The text, JSON and HTML writers read only these.
#pragma once

#include "tools/packagereader/PrivacyNote.h"

#include <cstdint>
#include <string>
#include <vector>

// One entry as the central directory declares it, with what its local header agreed to.
struct SZipEntryRecord {
    std::string m_name;
    uint16_t m_flags = 0;
    uint16_t m_method = 0;
    uint16_t m_dosTime = 0;
    uint32_t m_crc = 0;
    uint64_t m_compressedSize = 0;
    uint64_t m_uncompressedSize = 0;
    uint64_t m_localHeaderOffset = 0;
    uint64_t m_dataOffset = 0; // first byte after the local header (encryption header included in the data)
    uint64_t m_recordEnd = 0;  // first byte after the data and its data descriptor
    bool m_isFolder = false;
    bool m_encrypted = false;
};

// What reading one entry's data gave.
struct SEntryCheck {
    bool m_ok = false;
    std::string m_problem;   // in words, naming the entry; empty when m_ok
    std::string m_sha256;    // of the data as inflated (also when the CRC is wrong)
    uint64_t m_bytesOut = 0;
};

struct SManifestCheck {
    std::string m_status = "missing"; // ok | missing | mismatch | unreadable
    std::vector<std::string> m_missing;
    std::vector<std::string> m_extra;
    std::vector<std::string> m_differing;
    std::vector<std::string> m_unreadable;   // UNREADABLE lines of files the package rightly lacks
    std::vector<std::string> m_contradicted; // listed UNREADABLE, yet in the package
    std::vector<std::string> m_malformed;    // lines that are neither a digest nor an UNREADABLE line
    std::vector<std::string> m_repeated;     // paths listed more than once
    size_t m_listed = 0;
    size_t m_notKept = 0;                    // names past the kept ones in the lists above, counted only
};

struct SDriverFact {
    std::string m_name;
    std::string m_state;
    std::string m_startMode;
};

struct SNetworkComponentFact {
    std::string m_name;      // display name (the section title)
    std::string m_id;        // "Component" line
    std::vector<std::string> m_bindings;
};

struct SBasicFilterStep {
    std::string m_name;
    bool m_switchedOff = false;
    std::string m_answer = "none"; // not_fixed | fixed | exiting | none
    std::string m_time;
    bool m_reactivated = false;
};

struct SDeepRun {
    int m_step = 0;
    std::string m_driver;   // switched off in this run
    std::string m_tested;   // off while the user tried (the driver the question was about)
    std::string m_answer = "none"; // fixed | not_fixed | exiting | none
    std::string m_reboot = "none"; // accepted | refused | none
    std::string m_time;
    bool m_ended = false;   // the analysis ended in this run
};

struct SVerdict {
    std::string m_kind = "none";
    std::string m_analysis; // basic | deep | empty for none
    std::string m_culprit;
    std::string m_layer;
    int m_step = 0;         // 0: none
    std::string m_workaround;
};

struct SFailureLine {
    size_t m_section = 0; // index into SPackageStory::m_sections (a title is held once, however often used)
    std::string m_line;
    std::string m_time;
};

struct SDifference {
    std::string m_filter;
    std::string m_program;
    std::vector<std::string> m_lines;
    // Both sides in full (cut to a bound) for the side-by-side view of the HTML page.
    std::vector<std::string> m_pre;
    std::vector<std::string> m_post;
};

// Everything the report, the incident file and the entries' names say.
struct SPackageStory {
    bool m_hasReport = false;
    bool m_hasIncident = false;
    std::string m_incidentNumber;
    std::string m_incidentDescription;
    std::vector<SDriverFact> m_drivers;
    std::vector<SNetworkComponentFact> m_components;
    bool m_sdkPresent = false;
    bool m_snapshotPresent = false;
    bool m_hasBasic = false;
    std::vector<SBasicFilterStep> m_basicSteps;
    std::string m_basicOutcome = "unfinished"; // culprit | not_found | cancelled | unfinished
    bool m_hasDeep = false;
    std::vector<SDeepRun> m_deepRuns;
    SVerdict m_verdict;
    std::vector<SFailureLine> m_failures;
    size_t m_failuresNotKept = 0;        // failure lines past the kept ones, counted only
    std::vector<std::string> m_sections; // section titles of the failure lines; "" is the top level
    std::vector<SDifference> m_differences;
    std::vector<std::string> m_notes;    // where the reading stopped at a bound (a snapshot compared in part)

    const std::string& SectionOf(const SFailureLine& f) const
    {
        static const std::string s_none;
        return f.m_section < m_sections.size() ? m_sections[f.m_section] : s_none;
    }
};

// How one requested output went (--extract DIR, --html FILE).
struct SOutputOutcome {
    bool m_requested = false;
    std::string m_target;  // the folder or file, as given
    // extract: extracted | not_attempted (the package did not verify) | refused | failed
    // html: written | failed
    std::string m_status;
    size_t m_files = 0;    // extract: files written
    std::string m_problem; // why, when not done
};

struct SInspection {
    std::string m_file;
    uint64_t m_size = 0;
    std::string m_sha256;
    size_t m_entries = 0;
    size_t m_entriesChecked = 0;
    bool m_verified = false;
    std::vector<std::string> m_problems;
    size_t m_problemsNotKept = 0; // problems past the kept ones, counted only
    SManifestCheck m_manifest;
    SPackageStory m_story;
    SOutputOutcome m_extraction;
    SOutputOutcome m_html;
    SPrivacyNote m_privacy;
};
