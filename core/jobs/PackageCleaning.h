// Pack and send's removal of personal data from the copy of the results directory, when the user asked
// for it: the values this machine names itself by are collected, every original is read once to learn
// the names its fields give, and each copy is cleaned as it is made (see CPrivacyCleaner); the files
// that cannot be cleaned are left out, and the copy gets a note of what was done.
// The table of tokens is written to the results directory, the only change this job makes there.
//
// The choice reaches the core as the REG_DWORD KVXDIAG2_PACK_REMOVE_PERSONAL_DATA under the resume key
// (vendor view), which the wizard writes just before _0008_: 1 removes, 0 or no value packs as it is.
#pragma once

#include "core/interface/ResumeState.h"

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

class IReporter;
class CPrivacyCleaner;

class CPackageCleaning {
public:
    // Reads the user's choice and writes it to the report (before the copy, so that the package holds it).
    static bool Requested(IReporter* pReporter);

    CPackageCleaning(std::string resultsDirectory, std::string copyDirectory);
    ~CPackageCleaning();
    CPackageCleaning(const CPackageCleaning&) = delete;
    CPackageCleaning& operator=(const CPackageCleaning&) = delete;

    // File by file, as pack and send copies and packs at once: Prepare learns the names from the results
    // directory (the copy's originals) before anything is copied; CleanCopiedFile then cleans each copy
    // before it is packed, answering 0 or CPackageCopyFeed::LEFT_OUT; Finish writes the note into the
    // copy (its path is returned, to be packed like any file) and the table into the results directory.
    DWORD Prepare();
    DWORD CleanCopiedFile(const std::string& copiedPath, const std::string& relativePath);
    std::string Finish(IReporter* pReporter);

private:
    DWORD StartCleaner();
    void CollectMachineValues(CPrivacyCleaner& cleaner) const;
    void ListFiles(const std::string& directory, const std::string& archivePrefix);

    std::string m_resultsDirectory;
    std::string m_copyDirectory;
    std::vector<std::pair<std::string, std::string>> m_files; // archive name, path
    std::unique_ptr<CPrivacyCleaner> m_cleaner;
    std::vector<std::pair<std::string, std::string>> m_leftOut; // archive name, reason
    size_t m_cleaned = 0;
    size_t m_seen = 0;
    DWORD m_dwStart = 0;
};
