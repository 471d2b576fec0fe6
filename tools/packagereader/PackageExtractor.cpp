// The names are judged by the same rules as verification (CEntryNames), and additionally against the
// room the target leaves, which only the extraction knows.
#include "tools/packagereader/PackageExtractor.h"

#include "tools/packagereader/EntryNames.h"
#include "tools/packagereader/EntryReader.h"
#include "tools/packagereader/TargetFolder.h"
#include "tools/packagereader/ZipReader.h"

#include <new>

namespace {
EExtractResult ExtractAll(const uint8_t* pData, size_t cb, const std::string& password, const std::string& directory,
                          std::string& problem, size_t& files)
{
    CZipReader reader;
    if (!reader.Open(pData, cb)) {
        problem = reader.FatalProblem();
        return eExtractResult_REFUSED;
    }
    if (!reader.Problems().empty()) {
        problem = "the package's directory is damaged: " + reader.Problems().front();
        return eExtractResult_REFUSED;
    }
    std::vector<std::string> names;
    try {
        CMemoryBudget budget;
        names = CEntryNames::Problems(reader.Entries(), budget);
    } catch (const CMemoryBudget::SExceeded&) {
        names.push_back("the names need more memory than the reading's budget");
    } catch (const std::bad_alloc&) {
        names.push_back("the names need more memory than the system has");
    }
    if (!names.empty()) {
        problem = names.front() +
            (names.size() > 1 ? " (and " + std::to_string(names.size() - 1) + " more)" : "");
        return eExtractResult_REFUSED;
    }
    CTargetFolder target;
    if (!target.Begin(directory, problem)) {
        return eExtractResult_REFUSED;
    }
    for (const SZipEntryRecord& entry : reader.Entries()) {
        if (entry.m_name.size() > target.NameRoom()) {
            problem = "entry " + entry.m_name + ": the name is too long for " + directory;
            return eExtractResult_REFUSED;
        }
    }
    for (const SZipEntryRecord& entry : reader.Entries()) {
        if (entry.m_isFolder) {
            if (!target.MakeFolders(entry.m_name, problem)) {
                return eExtractResult_FAILED;
            }
            continue;
        }
        if (!target.CreateFile(entry.m_name, problem)) {
            return eExtractResult_FAILED;
        }
        std::string writeProblem;
        const SEntryCheck check = CEntryReader::Read(pData, cb, entry, password, nullptr, 0,
                                                     [&](const uint8_t* p, size_t n) { return target.Write(p, n, writeProblem); });
        if (!writeProblem.empty()) {
            problem = writeProblem;
            return eExtractResult_FAILED;
        }
        if (!check.m_ok) {
            problem = check.m_problem;
            return eExtractResult_FAILED;
        }
        if (!target.CloseFile(problem)) {
            return eExtractResult_FAILED;
        }
        ++files;
    }
    if (!target.Commit(problem)) {
        return eExtractResult_FAILED;
    }
    return eExtractResult_EXTRACTED;
}
} // namespace

EExtractResult CPackageExtractor::Extract(const uint8_t* pData, size_t cb, const std::string& password,
                                          const std::string& directory, std::string& problem, size_t& files)
{
    files = 0;
    // The extraction's boundary: the target folder removes itself while the exception unwinds.
    try {
        const EExtractResult result = ExtractAll(pData, cb, password, directory, problem, files);
        if (result != eExtractResult_EXTRACTED) {
            files = 0;
        }
        return result;
    } catch (const std::bad_alloc&) {
        problem = "the system ran out of memory";
    } catch (...) {
        problem = "an unexpected error stopped the extraction";
    }
    files = 0;
    return eExtractResult_FAILED;
}
