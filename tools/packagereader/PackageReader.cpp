// Only the report, the incident file, the manifest and the configuration snapshots are kept in
// memory (each up to a bound, all within the reading's budget); every other entry is checked piece by
// piece and forgotten. Each local record is read once: the directory reader drops entries that share
// one, and an entry that declares more than its data can give is refused before it is inflated.
#include "tools/packagereader/PackageReader.h"

#include "core/archive/ZipFormat.h"
#include "tools/packagereader/EntryNames.h"
#include "tools/packagereader/EntryReader.h"
#include "tools/packagereader/ManifestCheck.h"
#include "tools/packagereader/ReportReader.h"
#include "tools/packagereader/Sha256.h"
#include "tools/packagereader/ZipReader.h"

#include <new>

namespace {
// Bounds of what is kept of each kind of entry. The report and the manifest a real run writes stay far
// below theirs; a snapshot beyond its bound is compared in its first part, with a note.
constexpr size_t REPORT_KEEP_LIMIT = 64u * 1024 * 1024;
constexpr size_t MANIFEST_KEEP_LIMIT = 64u * 1024 * 1024;
constexpr size_t INCIDENT_KEEP_LIMIT = 1024u * 1024;
constexpr size_t SNAPSHOT_KEEP_LIMIT = 4u * 1024 * 1024;
// The privacy note is a few lines of counts and names; anything larger is not the wizard's.
constexpr size_t PRIVACY_NOTE_KEEP_LIMIT = 1024u * 1024;
// Problems named one by one; the rest are counted (a damaged directory can give one per entry).
constexpr size_t PROBLEMS_KEPT = 1000;
// Deflate cannot expand data more than 1032 to 1; an entry declaring more is not what a writer made.
constexpr uint64_t DEFLATE_MAX_RATIO = 1032;
// The most that all entries together may declare: bounds the reading's time whatever the directory says.
constexpr uint64_t PACKAGE_MAX_DECLARED = 64ull * 1024 * 1024 * 1024;
constexpr const char* REPORT_NAME = "KVXDiagReport.txt";
constexpr const char* INCIDENT_NAME = "KVXIncidenceFile.txt";
constexpr const char* SNAPSHOT_SUFFIX = "/KVXSnapshot.txt";

bool EndsWith(const std::string& s, const char* suffix)
{
    const std::string x(suffix);
    return s.size() >= x.size() && s.compare(s.size() - x.size(), x.size(), x) == 0;
}

std::string Megabytes(uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB"; }

class CProblems {
public:
    CProblems(SInspection& inspection, CMemoryBudget& budget) : m_in(inspection), m_budget(budget) {}
    void Add(const std::string& problem)
    {
        if (m_in.m_problems.size() >= PROBLEMS_KEPT) {
            ++m_in.m_problemsNotKept;
            return;
        }
        m_budget.Charge(problem.size() + CMemoryBudget::RECORD_OVERHEAD, "the problems found");
        m_in.m_problems.push_back(problem);
    }
    bool Any() const { return !m_in.m_problems.empty() || m_in.m_problemsNotKept != 0; }

private:
    SInspection& m_in;
    CMemoryBudget& m_budget;
};

// Why an entry's sizes cannot be what a writer produced, or empty.
std::string ImpossibleSizes(const SZipEntryRecord& entry)
{
    const uint64_t header = entry.m_encrypted ? ZIP_ENCRYPTION_HEADER_SIZE : 0;
    if (entry.m_isFolder) {
        return entry.m_compressedSize != 0 || entry.m_uncompressedSize != 0
            ? "a folder entry that holds " + std::to_string(entry.m_compressedSize) + " bytes of data"
            : std::string();
    }
    if (entry.m_method == ZIP_METHOD_STORED && entry.m_compressedSize != entry.m_uncompressedSize + header) {
        return "stored, yet its " + std::to_string(entry.m_compressedSize) + " bytes of data do not hold the " +
            std::to_string(entry.m_uncompressedSize) + " bytes it declares";
    }
    if (entry.m_method == ZIP_METHOD_DEFLATED &&
        entry.m_uncompressedSize > (entry.m_compressedSize + 1) * DEFLATE_MAX_RATIO) {
        return "declares " + std::to_string(entry.m_uncompressedSize) + " bytes, more than deflate can make of its " +
            std::to_string(entry.m_compressedSize);
    }
    return std::string();
}

size_t KeepLimitOf(const std::string& name)
{
    if (name == REPORT_NAME) {
        return REPORT_KEEP_LIMIT;
    }
    if (name == INCIDENT_NAME) {
        return INCIDENT_KEEP_LIMIT;
    }
    if (name == KVXINSPECT_MANIFEST_NAME) {
        return MANIFEST_KEEP_LIMIT;
    }
    if (EndsWith(name, SNAPSHOT_SUFFIX)) {
        return SNAPSHOT_KEEP_LIMIT;
    }
    if (name == KVXINSPECT_PRIVACY_NOTE_NAME) {
        return PRIVACY_NOTE_KEEP_LIMIT;
    }
    return 0;
}

EInspectResult Read(const uint8_t* pData, size_t cb, const std::string& password, SInspection& inspection,
                    std::string& fatal, CMemoryBudget& budget)
{
    inspection.m_size = cb;
    inspection.m_sha256 = CSha256::OfBuffer(pData, cb);
    CZipReader reader;
    if (!reader.Open(pData, cb)) {
        fatal = reader.FatalProblem();
        return eInspectResult_UNREADABLE;
    }
    inspection.m_entries = reader.DeclaredEntryCount();
    uint64_t declared = 0;
    for (const SZipEntryRecord& entry : reader.Entries()) {
        budget.Charge(entry.m_name.size() + sizeof entry + CMemoryBudget::RECORD_OVERHEAD, "the directory");
        declared += entry.m_uncompressedSize;
    }
    if (declared > PACKAGE_MAX_DECLARED) {
        fatal = "its entries declare " + std::to_string(declared) + " bytes in all, more than any package holds (" +
            Megabytes(PACKAGE_MAX_DECLARED) + ")";
        return eInspectResult_UNREADABLE;
    }
    CProblems problems(inspection, budget);
    for (const std::string& p : reader.Problems()) {
        problems.Add(p);
    }
    for (const std::string& p : CEntryNames::Problems(reader.Entries(), budget)) {
        problems.Add(p);
    }

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
    CManifestCheck::CFiles digests;
    digests.reserve(reader.Entries().size());
    for (const SZipEntryRecord& entry : reader.Entries()) {
        ++inspection.m_entriesChecked;
        const std::string who = "entry " + entry.m_name + ": ";
        const std::string impossible = ImpossibleSizes(entry);
        if (!impossible.empty()) {
            problems.Add(who + impossible);
            continue;
        }
        if (entry.m_isFolder) {
            continue;
        }
        // The wizard encrypts every file: one that is not was added or replaced by something else.
        if (!password.empty() && !entry.m_encrypted) {
            problems.Add(who + "not encrypted, while KVXDiag2 encrypts every file of a package");
        }
        const size_t limit = KeepLimitOf(entry.m_name);
        std::string kept;
        std::string* pKeep = nullptr;
        if (limit > 0) {
            const size_t reserve = entry.m_uncompressedSize < limit ? static_cast<size_t>(entry.m_uncompressedSize) : limit;
            budget.Charge(reserve, "the entries kept for the story");
            kept.reserve(reserve);
            pKeep = &kept;
        }
        const SEntryCheck check = CEntryReader::Read(pData, cb, entry, password, pKeep, limit);
        if (!check.m_ok) {
            problems.Add(check.m_problem);
        }
        inputs.m_files[entry.m_name] = check.m_bytesOut;
        if (entry.m_name == KVXINSPECT_MANIFEST_NAME) {
            haveManifest = true;
            manifestReadable = check.m_ok && entry.m_uncompressedSize <= limit;
            if (check.m_ok && !manifestReadable) {
                problems.Add("manifest: " + std::to_string(entry.m_uncompressedSize) + " bytes, more than the " +
                             Megabytes(limit) + " a package's manifest can need; not compared");
            }
            manifest.swap(kept);
            continue;
        }
        budget.Charge(entry.m_name.size() + check.m_sha256.size() + CMemoryBudget::RECORD_OVERHEAD * 2, "the files' digests");
        digests.emplace_back(entry.m_name, check.m_sha256);
        if (!check.m_ok) {
            continue; // a damaged entry's content tells no story
        }
        if (pKeep != nullptr && entry.m_uncompressedSize > limit) {
            inspection.m_story.m_notes.push_back(entry.m_name + ": read in its first " + Megabytes(limit) + " of " +
                                                 Megabytes(entry.m_uncompressedSize));
        }
        if (entry.m_name == KVXINSPECT_PRIVACY_NOTE_NAME) {
            inspection.m_privacy = CPrivacyNote::Parse(kept);
        } else if (entry.m_name == REPORT_NAME) {
            report.swap(kept);
            inputs.m_pReport = &report;
        } else if (entry.m_name == INCIDENT_NAME) {
            incident.swap(kept);
            inputs.m_pIncident = &incident;
        } else if (pKeep != nullptr) {
            inputs.m_snapshots[entry.m_name].swap(kept);
        }
    }

    SManifestCheck& m = inspection.m_manifest;
    if (!haveManifest) {
        m.m_status = "missing";
    } else if (!manifestReadable) {
        m.m_status = "unreadable";
        m.m_unreadable.push_back(std::string(KVXINSPECT_MANIFEST_NAME) + " itself could not be read");
    } else {
        m = CManifestCheck::Compare(manifest, digests, budget);
        for (const std::string& path : m.m_missing) {
            problems.Add("manifest: " + path + " is listed but not in the package");
        }
        for (const std::string& path : m.m_extra) {
            problems.Add("manifest: " + path + " is in the package but not listed");
        }
        for (const std::string& path : m.m_differing) {
            problems.Add("manifest: " + path + " has a different SHA-256 than listed (changed after packing)");
        }
        for (const std::string& path : m.m_contradicted) {
            problems.Add("manifest: " + path + " is listed as unreadable, yet the package holds it");
        }
        for (const std::string& path : m.m_repeated) {
            problems.Add("manifest: " + path + " is listed more than once");
        }
        for (const std::string& line : m.m_malformed) {
            problems.Add("manifest: the line \"" + line + "\" is neither a digest nor an UNREADABLE line");
        }
        if (m.m_notKept > 0) {
            problems.Add("manifest: " + std::to_string(m.m_notKept) + " more differences not listed");
        }
    }
    std::vector<std::string> notes;
    notes.swap(inspection.m_story.m_notes);
    inspection.m_story = CReportReader::Read(inputs, budget);
    notes.insert(notes.end(), inspection.m_story.m_notes.begin(), inspection.m_story.m_notes.end());
    inspection.m_story.m_notes.swap(notes);
    inspection.m_verified = !problems.Any();
    return inspection.m_verified ? eInspectResult_VERIFIED : eInspectResult_FAILED;
}
} // namespace

EInspectResult CPackageReader::Inspect(const uint8_t* pData, size_t cb, const std::string& password,
                                       SInspection& inspection, std::string& fatal, uint64_t maxMemory)
{
    CMemoryBudget budget(maxMemory);
    // The reading's boundary: nothing it meets may end the program, least of all the memory it needs.
    try {
        return Read(pData, cb, password, inspection, fatal, budget);
    } catch (const CMemoryBudget::SExceeded& e) {
        fatal = "reading it needs more memory than the budget of " + Megabytes(budget.Limit()) + " (while holding " +
            e.m_what + "); --max-memory MB raises the budget";
    } catch (const std::bad_alloc&) {
        fatal = "the system ran out of memory while reading it (budget " + Megabytes(budget.Limit()) + ")";
    } catch (...) {
        fatal = "an unexpected error stopped the reading";
    }
    inspection.m_verified = false;
    return eInspectResult_UNREADABLE;
}
