// Reads the story out of a package: the report's sections and lines (the machine facts, the isolation
// trail of both analyses, the failure lines, the Pre/Post dynamic data of each filter), the incident
// file, and which evidence files the package holds.
#pragma once

#include "tools/packagereader/MemoryBudget.h"
#include "tools/packagereader/PackageReaderTypes.h"

#include <map>
#include <string>
#include <vector>

struct SStoryInputs {
    const std::string* m_pReport = nullptr;   // KVXDiagReport.txt, when the package has one
    const std::string* m_pIncident = nullptr; // KVXIncidenceFile.txt
    std::map<std::string, uint64_t> m_files;  // file entries with their sizes
    std::map<std::string, std::string> m_snapshots; // ".../Pre/KVXSnapshot.txt" and ".../Post/..." contents
};

class CReportReader {
public:
    // What the story holds is charged to budget (the inputs are the caller's).
    static SPackageStory Read(const SStoryInputs& inputs, CMemoryBudget& budget);

    // Lines of the report a reader would call "failed" (exposed for the tests).
    static bool IsFailureText(const std::string& text);
    // Layer of a culprit found by the given analysis.
    static std::string LayerOf(const std::string& driver, bool deep);
};
