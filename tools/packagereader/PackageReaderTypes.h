// The records kvxinspect fills while reading a package: what the ZIP directory declares, what
// verification found, and the story the report tells. The text, JSON and HTML writers read only these.
#pragma once

#include "tools/packagereader/SystemBlock.h"

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
    std::vector<std::string> m_unreadable;
    size_t m_listed = 0;
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
    std::string m_section;
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
    std::vector<SDifference> m_differences;
};

struct SInspection {
    std::string m_file;
    uint64_t m_size = 0;
    std::string m_sha256;
    size_t m_entries = 0;
    size_t m_entriesChecked = 0;
    bool m_verified = false;
    std::vector<std::string> m_problems;
    SManifestCheck m_manifest;
    SPackageStory m_story;
    SSystemFacts m_system;
};
