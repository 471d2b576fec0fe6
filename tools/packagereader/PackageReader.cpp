// Only the report, the incident file, the manifest and the configuration snapshots are kept in
// memory (each up to a bound); every other entry is checked piece by piece and forgotten.
#include "tools/packagereader/PackageReader.h"

#include "tools/packagereader/EntryReader.h"
#include "tools/packagereader/ManifestCheck.h"
#include "tools/packagereader/ReportReader.h"
#include "tools/packagereader/Sha256.h"
#include "tools/packagereader/ZipReader.h"

#include <map>

namespace {
constexpr size_t KEEP_LIMIT = 64u * 1024 * 1024;
constexpr const char* REPORT_NAME = "KVXDiagReport.txt";
constexpr const char* INCIDENT_NAME = "KVXIncidenceFile.txt";

bool EndsWith(const std::string& s, const char* suffix)
{
    const std::string x(suffix);
    return s.size() >= x.size() && s.compare(s.size() - x.size(), x.size(), x) == 0;
}
} // namespace

EInspectResult CPackageReader::Inspect(const uint8_t* pData, size_t cb, const std::string& password,
                                          SInspection& inspection, std::string& fatal)
{
    inspection.m_size = cb;
    inspection.m_sha256 = CSha256::OfBuffer(pData, cb);
    CZipReader reader;
    if (!reader.Open(pData, cb)) {
        fatal = reader.FatalProblem();
        return eInspectResult_UNREADABLE;
    }
    inspection.m_entries = reader.DeclaredEntryCount();
    inspection.m_problems = reader.Problems();

    // A wrong password shows on the check byte of (nearly) every encrypted entry; a few damaged ones
    // are damage, not a wrong password.
    size_t encrypted = 0, refused = 0;
    for (const SZipEntryRecord& entry : reader.Entries()) {
        if (entry.m_encrypted && !entry.m_isFolder) {
            ++encrypted;
            refused += CEntryReader::PasswordOpens(pData, cb, entry, password) ? 0 : 1;
        }
    }
    if (encrypted > 0 && refused * 2 > encrypted) {
        fatal = "the password does not open the package (" + std::to_string(refused) + " of " +
            std::to_string(encrypted) + " encrypted entries refuse it); give the right one with --password";
        return eInspectResult_UNREADABLE;
    }

    std::string report, incident, manifest;
    bool haveManifest = false, manifestReadable = false;
    SStoryInputs inputs;
    std::map<std::string, std::string> digests;
    for (const SZipEntryRecord& entry : reader.Entries()) {
        if (entry.m_isFolder) {
            ++inspection.m_entriesChecked;
            continue;
        }
        std::string kept;
        std::string* pKeep = nullptr;
        if (entry.m_name == REPORT_NAME || entry.m_name == INCIDENT_NAME || entry.m_name == KVXINSPECT_MANIFEST_NAME ||
            EndsWith(entry.m_name, "/KVXSnapshot.txt")) {
            pKeep = &kept;
        }
        const SEntryCheck check = CEntryReader::Read(pData, cb, entry, password, pKeep, KEEP_LIMIT);
        ++inspection.m_entriesChecked;
        if (!check.m_ok) {
            inspection.m_problems.push_back(check.m_problem);
        }
        inputs.m_files[entry.m_name] = check.m_bytesOut;
        if (entry.m_name == KVXINSPECT_MANIFEST_NAME) {
            haveManifest = true;
            manifestReadable = check.m_ok;
            manifest.swap(kept);
            continue;
        }
        digests[entry.m_name] = check.m_sha256;
        if (!check.m_ok) {
            continue; // a damaged entry's content tells no story
        }
        if (entry.m_name == REPORT_NAME) {
            report.swap(kept);
            inputs.m_pReport = &report;
        } else if (entry.m_name == INCIDENT_NAME) {
            incident.swap(kept);
            inputs.m_pIncident = &incident;
        } else if (pKeep != nullptr) {
            inputs.m_snapshots[entry.m_name].swap(kept);
        }
    }

    if (!haveManifest) {
        inspection.m_manifest.m_status = "missing";
    } else if (!manifestReadable) {
        inspection.m_manifest.m_status = "unreadable";
        inspection.m_manifest.m_unreadable.push_back(std::string(KVXINSPECT_MANIFEST_NAME) + " itself could not be read");
    } else {
        inspection.m_manifest = CManifestCheck::Compare(manifest, digests);
        for (const std::string& path : inspection.m_manifest.m_missing) {
            inspection.m_problems.push_back("manifest: " + path + " is listed but not in the package");
        }
        for (const std::string& path : inspection.m_manifest.m_extra) {
            inspection.m_problems.push_back("manifest: " + path + " is in the package but not listed");
        }
        for (const std::string& path : inspection.m_manifest.m_differing) {
            inspection.m_problems.push_back("manifest: " + path + " has a different SHA-256 than listed (changed after packing)");
        }
    }

    inspection.m_story = CReportReader::Read(inputs);
    inspection.m_system = CSystemBlock::Read(report);
    inspection.m_verified = inspection.m_problems.empty();
    return inspection.m_verified ? eInspectResult_VERIFIED : eInspectResult_FAILED;
}
