// Pack and send's pass that removes personal data from the copy of the results directory, when the
// user asked for it: the values this machine names itself by are collected, every file of the copy is
// read once to learn the names its fields give and once to replace them (see CPrivacyCleaner), the
// files that cannot be cleaned are removed from the copy, and the copy gets a note of what was done.
// The table of tokens is written to the results directory, the only change this job makes there.
//
// The choice reaches the core as the REG_DWORD KVXDIAG2_PACK_REMOVE_PERSONAL_DATA under the resume key
// (vendor view), which the wizard writes just before _0008_: 1 removes, 0 or no value packs as it is.
#pragma once

#include "core/interface/ResumeState.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

class IReporter;
class CPrivacyCleaner;

class CPackageCleaning {
public:
    // Reads the user's choice and writes it to the report (before the copy, so that the package holds it).
    static bool Requested(IReporter* pReporter);
    // The table of tokens never leaves the machine: it is removed from every copy, cleaned or not.
    // False when it is in the copy and cannot be removed.
    static bool LeaveOutTable(const std::string& copyDirectory);

    CPackageCleaning(std::string resultsDirectory, std::string copyDirectory);

    // 0, or a Windows code when the copy still holds a file that could be neither cleaned nor removed:
    // such a copy must not be packed.
    DWORD Run(IReporter* pReporter);

private:
    DWORD Clean(IReporter* pReporter);
    void CollectMachineValues(CPrivacyCleaner& cleaner) const;
    void ListFiles(const std::string& directory, const std::string& archivePrefix);

    std::string m_resultsDirectory;
    std::string m_copyDirectory;
    std::vector<std::pair<std::string, std::string>> m_files; // archive name, path
};
