// Packages built in memory with the archive writer and a small generated report: the trail and verdict
// of each kind of run, and damaged or hostile packages, each with its outcome and message.
#include "core/archive/ZipWriter.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tools/packagereader/EntryNames.h"
#include "tools/packagereader/PackageExtractor.h"
#include "tools/packagereader/PackageReader.h"
#include "tools/packagereader/Sha256.h"
#include "tools/packagereader/TerminalText.h"
#include "tools/packagereader/TextSummary.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <malloc.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define KVX_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KVX_TEST_ASAN 1
#endif
#endif

namespace {

using SFiles = std::vector<std::pair<std::string, std::string>>;

// Report lines as the core writes them: timestamp, one tab, one tab per open section.
class CReport {
public:
    CReport& Line(size_t depth, const std::string& text)
    {
        m_text += "09-12-2026 10:00:" + Two(m_second++ % 60) + "\t" + std::string(depth, '\t') + text + "\n";
        return *this;
    }
    CReport& Begin(size_t depth, const std::string& title) { return Line(depth, "-> " + title); }
    CReport& End(size_t depth, const std::string& text) { return Line(depth, "<- " + text); }
    // One filter of the basic analysis with its answer line ("" when it could not be switched off).
    CReport& BasicFilter(const std::string& name, const std::string& answer, const std::string& pingLoss = "0%")
    {
        Begin(1, "-Operations for filter \"" + name + "\"").Begin(2, "PRE");
        Dynamic(3, "0%");
        if (answer.empty()) {
            Line(3, "Error occurred trying to deactivate the " + name + " filter. Continue with next.");
            return End(2, "PRE").End(1, "-Operations for filter \"" + name + "\", Finished");
        }
        Line(3, "Filter " + name + " disabled.").Line(3, "Filter " + name + " deactivated.").End(2, "PRE").Begin(2, "POST");
        Dynamic(3, pingLoss);
        Line(3, "Disabling log and captures...").Line(3, answer);
        return End(2, "POST").End(1, "-Operations for filter \"" + name + "\", Finished");
    }
    CReport& Dynamic(size_t depth, const std::string& loss)
    {
        Begin(depth, "Dynamic Data").Begin(depth + 1, "Gathering Dinamyc Data");
        Begin(depth + 2, "Pinging Orvex Security (C:\\windows\\system32\\ping.exe www.orvex.example)");
        Line(depth + 3, "    Packets: Sent = 4, Received = 4, Lost = 0 (" + loss + " loss),");
        End(depth + 2, "Pinging Orvex Security (C:\\windows\\system32\\ping.exe www.orvex.example)");
        return End(depth + 1, "Gathering Dinamyc Data process finisihed").End(depth, "Dynamic Data");
    }
    // One boot of the deep analysis from step 3 on (a fresh process: no section open).
    CReport& DeepRun(const std::string& fixLine, const std::string& reactivate, const std::string& deactivate,
                     bool reboot = true)
    {
        if (!fixLine.empty()) {
            Line(0, fixLine);
        }
        Begin(0, "-Operations for filter \"" + deactivate + "\"");
        Line(1, "Activating previous filter: " + reactivate + " ...").Line(1, "Deactivating actual filter: " + deactivate + " ...");
        if (!reboot) {
            return Line(1, "Reboot canceled by user. Process will continue on next boot ...");
        }
        return Line(1, "Preparing to reboot...").Line(1, "Reboot...").End(0, "-Operations for filter \"" + deactivate + "\"");
    }
    CReport& DeepStart()
    {
        Line(0, "Step: INITIALIZATIONS_STEP").Line(0, "TDI desactivado OK para evitar conflictos en la desactivacion de IM");
        Line(0, "Preparing to reboot...").Line(0, "Reboot...");
        Begin(0, "======================Deep Analysis======================").Begin(1, "-Previous operations for all filters...");
        End(1, "-Previous operations for all filters finished...");
        Begin(1, "-Operations for filter \"KVXNMGR\"").Line(2, "Activating previous filter:  ...");
        return Line(2, "Deactivating actual filter: KVXNMGR ...").Line(2, "Preparing to reboot...").Line(2, "Reboot...");
    }
    CReport& DeepEnd(const std::string& deactivate)
    {
        Begin(0, "-Operations for filter \"" + deactivate + "\"").Line(1, "No more filters. DeepAnalysis finished...");
        return End(0, "-Operations for filter \"" + deactivate + "\"");
    }
    const std::string& Text() const { return m_text; }

private:
    static std::string Two(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }
    std::string m_text;
    int m_second = 0;
};

const char* FIXED = "The problem was fixed, analysis finished.";
const char* NOT_FIXED = "The problem was not fixed. Analysis continues with the next filter.";
const char* EXITING = "KVXDiag is closing, canceling analysis...";

CReport BasicReport(const std::vector<std::pair<std::string, std::string>>& filters, const std::string& ending)
{
    CReport r;
    r.Begin(0, "======================Data Gathering======================").Begin(1, "Static Data");
    r.Begin(2, "Windows device installation log (setupapi.log)").Line(3, "Fail to copy SetupApi.log log file from C:\\windows\\SetupApi.log.");
    r.End(2, "Windows device installation log (setupapi.log)").End(1, "Static data gathering, finshed.").End(0, "Data gathering, finshed.");
    r.Begin(0, "======================Basic Analysis======================");
    for (const auto& f : filters) {
        r.BasicFilter(f.first, f.second, f.second == FIXED ? "100%" : "0%");
    }
    if (!ending.empty()) {
        r.Line(1, ending);
    }
    r.End(0, "---- Basic Analysis Finished ----");
    return r;
}

std::vector<uint8_t> MakePackage(const SFiles& files, const std::string& password = KVXINSPECT_DEFAULT_PASSWORD,
                                 bool withManifest = true, const std::string& extraManifest = "")
{
    kvxtest::SMemoryOutput output;
    CZipWriter writer(std::unique_ptr<ISeekableSink>(new kvxtest::CMemorySink(output)), password.c_str());
    std::string manifest;
    SEntryInfo info;
    info.m_year = 2026;
    for (const auto& f : files) {
        kvxtest::CMemoryEntrySource source(std::vector<uint8_t>(f.second.begin(), f.second.end()), [&] {
            SEntryInfo i = info;
            i.m_size = f.second.size();
            return i;
        }());
        EXPECT_EQ(writer.AddFileEntry(f.first.c_str(), source), KVXZIP_OK) << f.first;
        manifest += CSha256::OfBuffer(f.second.data(), f.second.size()) + "  " + f.first + "\n";
    }
    manifest += extraManifest;
    if (withManifest) {
        SEntryInfo i = info;
        i.m_size = manifest.size();
        kvxtest::CMemoryEntrySource source(std::vector<uint8_t>(manifest.begin(), manifest.end()), i);
        EXPECT_EQ(writer.AddFileEntry("KVXManifest.sha256", source), KVXZIP_OK);
    }
    EXPECT_EQ(writer.Close(), KVXZIP_OK);
    return output.m_bytes;
}

SFiles StandardFiles(const std::string& report)
{
    return {{"KVXDiagReport.txt", report},
            {"KVXIncidenceFile.txt", "\r\n############### Incidence Number: INC-7  ################# \r\n\r\nNo DNS."},
            {"BasicAnalisys/KVXFLTF/Pre/KVXSnapshot.txt", "Taken: 1\nrule 1 allow\n"},
            {"BasicAnalisys/KVXFLTF/Post/KVXSnapshot.txt", "Taken: 2\nrule 1 allow\nrule 2 block\n"},
            {"DataGathering/StaticData/RegistrySystemKey.reg", std::string(70000, 'r') + "end"}};
}

EInspectResult Inspect(const std::vector<uint8_t>& bytes, SInspection& inspection, std::string& fatal,
                       const std::string& password = KVXINSPECT_DEFAULT_PASSWORD)
{
    return CPackageReader::Inspect(bytes.data(), bytes.size(), password, inspection, fatal);
}

std::string Joined(const std::vector<std::string>& v)
{
    std::string out;
    for (const std::string& s : v) {
        out += s + "|";
    }
    return out;
}

// Offset of the first central header whose name is given.
size_t CentralHeaderOf(const std::vector<uint8_t>& bytes, const std::string& name)
{
    for (size_t i = 0; i + 46 < bytes.size(); ++i) {
        if (kvxtest::LoadLe32(&bytes[i]) == 0x02014B50 &&
            std::string(reinterpret_cast<const char*>(&bytes[i + 46]), name.size()) == name) {
            return i;
        }
    }
    ADD_FAILURE() << "no central header for " << name;
    return 0;
}

void Store32(std::vector<uint8_t>& bytes, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

// An unencrypted package written here with zlib (fast for the large, repetitive entries the memory
// cases need), with any names and sizes, folders holding data included.
std::vector<uint8_t> RawPackage(const SFiles& files)
{
    std::vector<uint8_t> out, central;
    auto put16 = [](std::vector<uint8_t>& v, uint32_t x) {
        v.push_back(static_cast<uint8_t>(x));
        v.push_back(static_cast<uint8_t>(x >> 8));
    };
    auto put32 = [&](std::vector<uint8_t>& v, uint32_t x) {
        put16(v, x & 0xFFFF);
        put16(v, x >> 16);
    };
    for (const auto& f : files) {
        z_stream z = {};
        EXPECT_EQ(deflateInit2(&z, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
        std::vector<uint8_t> packed(deflateBound(&z, f.second.size()) + 16);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(f.second.data()));
        z.avail_in = static_cast<uInt>(f.second.size());
        z.next_out = packed.data();
        z.avail_out = static_cast<uInt>(packed.size());
        EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
        packed.resize(z.total_out);
        deflateEnd(&z);
        const uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(f.second.data()),
                                                         static_cast<uInt>(f.second.size())));
        const uint32_t offset = static_cast<uint32_t>(out.size());
        put32(out, 0x04034B50);
        for (uint32_t v : {20u, 0u, 8u, 0u, 0u}) {
            put16(out, v);
        }
        put32(out, crc);
        put32(out, static_cast<uint32_t>(packed.size()));
        put32(out, static_cast<uint32_t>(f.second.size()));
        put16(out, static_cast<uint32_t>(f.first.size()));
        put16(out, 0);
        out.insert(out.end(), f.first.begin(), f.first.end());
        out.insert(out.end(), packed.begin(), packed.end());
        put32(central, 0x02014B50);
        for (uint32_t v : {20u, 20u, 0u, 8u, 0u, 0u}) {
            put16(central, v);
        }
        put32(central, crc);
        put32(central, static_cast<uint32_t>(packed.size()));
        put32(central, static_cast<uint32_t>(f.second.size()));
        put16(central, static_cast<uint32_t>(f.first.size()));
        for (int i = 0; i < 4; ++i) {
            put16(central, 0);
        }
        put32(central, 0);
        put32(central, offset);
        central.insert(central.end(), f.first.begin(), f.first.end());
    }
    const uint32_t cdOffset = static_cast<uint32_t>(out.size());
    out.insert(out.end(), central.begin(), central.end());
    put32(out, 0x06054B50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<uint32_t>(files.size()));
    put16(out, static_cast<uint32_t>(files.size()));
    put32(out, static_cast<uint32_t>(central.size()));
    put32(out, cdOffset);
    put16(out, 0);
    return out;
}

// The package with its first central header repeated: `copies` directory entries, one local record.
std::vector<uint8_t> OneRecordListed(const std::vector<uint8_t>& single, size_t copies)
{
    const size_t end = single.size() - 22;
    const size_t cd = kvxtest::LoadLe32(&single[end + 16]);
    const size_t cdSize = kvxtest::LoadLe32(&single[end + 12]);
    std::vector<uint8_t> out(single.begin(), single.begin() + cd);
    for (size_t i = 0; i < copies; ++i) {
        out.insert(out.end(), single.begin() + cd, single.begin() + cd + cdSize);
    }
    std::vector<uint8_t> record(single.begin() + end, single.end());
    record[8] = record[10] = static_cast<uint8_t>(copies);
    record[9] = record[11] = static_cast<uint8_t>(copies >> 8);
    Store32(record, 12, static_cast<uint32_t>(cdSize * copies));
    out.insert(out.end(), record.begin(), record.end());
    return out;
}

// Central header, local header and data descriptor of the named entry all declare this size.
void DeclareSize(std::vector<uint8_t>& bytes, const std::string& name, uint32_t size)
{
    const size_t central = CentralHeaderOf(bytes, name);
    const size_t local = kvxtest::LoadLe32(&bytes[central + 42]);
    const size_t data = local + 30 + kvxtest::LoadLe16(&bytes[local + 26]) + kvxtest::LoadLe16(&bytes[local + 28]);
    Store32(bytes, central + 24, size);
    Store32(bytes, local + 22, size);
    Store32(bytes, data + kvxtest::LoadLe32(&bytes[central + 20]) + 12, size);
}

std::string Listing(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return Joined(names);
}

std::string FileText(const std::string& path)
{
    const std::vector<uint8_t> bytes = kvxtest::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

EExtractResult Extract(const std::vector<uint8_t>& bytes, const std::string& target, std::string& problem,
                       const std::string& password = KVXINSPECT_DEFAULT_PASSWORD)
{
    size_t files = 0;
    return CPackageExtractor::Extract(bytes.data(), bytes.size(), password, target, problem, files);
}

TEST(Inspect, TrailAndVerdictOfEachKindOfRun)
{
    struct SCase {
        const char* label;
        std::string report;
        const char* kind;
        const char* analysis;
        const char* culprit;
        const char* layer;
        int step;
        const char* answers; // basic answers, or deep "step:answer:reboot" per boot
    };
    const std::vector<SCase> cases = {
        {"basic not fixed, not fixed, fixed",
         BasicReport({{"KVXFLTF", NOT_FIXED}, {"KVXFLTE", NOT_FIXED}, {"KVXFLTD", FIXED}}, "").Text(), "culprit", "basic",
         "KVXFLTD", "plugin", 0, "not_fixed,not_fixed,fixed,"},
        {"basic all six not fixed",
         BasicReport({{"KVXFLTF", NOT_FIXED}, {"KVXFLTE", NOT_FIXED}, {"KVXFLTD", NOT_FIXED}, {"KVXFLTC", NOT_FIXED},
                      {"KVXFLTB", NOT_FIXED}, {"KVXFLTA", NOT_FIXED}},
                     "The analysis was unsuccessfull.")
             .Text(),
         "not_found", "basic", "", "", 0, "not_fixed,not_fixed,not_fixed,not_fixed,not_fixed,not_fixed,"},
        {"basic cancelled at the second question, first could not be switched off",
         BasicReport({{"KVXFLTF", ""}, {"KVXFLTE", EXITING}}, "The analysis was cancelled.").Text(), "cancelled", "basic",
         "", "", 0, "none,exiting,"},
        {"deep to a plug-in culprit",
         CReport(BasicReport({{"KVXFLTF", NOT_FIXED}}, "The analysis was unsuccessfull."))
             .DeepStart()
             .DeepRun("!!!Problem fixed deactivating NDIS", "KVXNMGR", "KVXTMGR")
             .DeepRun("", "KVXTMGR", "KVXFLTE")
             .DeepRun("", "KVXFLTE", "KVXFLTD")
             .Line(0, "!!!Problem fixed deactivating KVXFLTD filter.")
             .Text(),
         "culprit", "deep", "KVXFLTD", "ndis_plugin", 0,
         "1:none:accepted,2:none:accepted,3:fixed:accepted,8:not_fixed:accepted,4:not_fixed:accepted,5:fixed:none,"},
        {"deep to no solution", CReport().DeepStart().DeepEnd("").Text(), "no_solution", "deep", "", "", 0,
         "1:none:accepted,2:none:accepted,3:not_fixed:none,"},
        {"deep to the TDI workaround",
         CReport()
             .DeepStart()
             .DeepRun("!!!Problem fixed deactivating NDIS", "KVXNMGR", "KVXTMGR")
             .DeepRun("!!!Problem fixed deactivating TDI", "KVXTMGR", "KVXFLTF")
             .DeepRun("", "KVXFLTF", "KVXMON")
             .DeepEnd("KVXTMGR")
             .Text(),
         "workaround", "deep", "", "tdi_manager", 0,
         "1:none:accepted,2:none:accepted,3:fixed:accepted,8:fixed:accepted,9:not_fixed:accepted,10:not_fixed:none,"},
        {"deep left at a stored step after a refused reboot",
         CReport()
             .DeepStart()
             .DeepRun("!!!Problem fixed deactivating NDIS", "KVXNMGR", "KVXTMGR")
             .DeepRun("", "KVXTMGR", "KVXFLTE", false)
             .Text(),
         "unfinished", "deep", "", "", 8, "1:none:accepted,2:none:accepted,3:fixed:accepted,8:not_fixed:refused,"},
        {"no analysis at all", "", "none", "", "", "", 0, ""},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.label);
        SInspection inspection;
        std::string fatal;
        ASSERT_EQ(Inspect(MakePackage(StandardFiles(c.report)), inspection, fatal), eInspectResult_VERIFIED)
            << fatal << Joined(inspection.m_problems);
        const SPackageStory& s = inspection.m_story;
        EXPECT_EQ(s.m_verdict.m_kind, c.kind);
        EXPECT_EQ(s.m_verdict.m_analysis, c.analysis);
        EXPECT_EQ(s.m_verdict.m_culprit, c.culprit);
        EXPECT_EQ(s.m_verdict.m_layer, c.layer);
        EXPECT_EQ(s.m_verdict.m_step, c.step);
        std::string answers;
        for (const SBasicFilterStep& f : s.m_basicSteps) {
            if (!s.m_hasDeep) {
                answers += f.m_answer + ",";
            }
        }
        for (const SDeepRun& r : s.m_deepRuns) {
            answers += std::to_string(r.m_step) + ":" + r.m_answer + ":" + r.m_reboot + ",";
        }
        EXPECT_EQ(answers, c.answers);
        EXPECT_EQ(s.m_incidentNumber, "INC-7");
        EXPECT_EQ(s.m_incidentDescription, "No DNS.");
        EXPECT_TRUE(s.m_snapshotPresent);
        EXPECT_EQ(inspection.m_manifest.m_status, "ok");
    }
}

TEST(Inspect, FailuresAndDifferencesNamed)
{
    SInspection inspection;
    std::string fatal;
    const std::string report = BasicReport({{"KVXFLTF", FIXED}}, "").Text();
    ASSERT_EQ(Inspect(MakePackage(StandardFiles(report)), inspection, fatal), eInspectResult_VERIFIED);
    const SPackageStory& s = inspection.m_story;
    ASSERT_EQ(s.m_failures.size(), 1u);
    EXPECT_EQ(s.SectionOf(s.m_failures[0]), "Windows device installation log (setupapi.log)");
    std::string differences;
    for (const SDifference& d : s.m_differences) {
        differences += d.m_filter + " " + d.m_program + ": " + Joined(d.m_lines) + "\n";
    }
    EXPECT_NE(differences.find("KVXFLTF ping: loss 0% -> 100%|"), std::string::npos) << differences;
    EXPECT_NE(differences.find("KVXFLTF snapshot: + rule 2 block|\n"), std::string::npos) << differences;
}

TEST(Inspect, DamagedAndHostilePackages)
{
    const std::vector<uint8_t> good = MakePackage(StandardFiles(BasicReport({{"KVXFLTF", FIXED}}, "").Text()));
    struct SCase {
        std::string label;
        std::vector<uint8_t> bytes;
        EInspectResult expected;
        std::string message; // in the fatal text or one of the problems
        std::string password = KVXINSPECT_DEFAULT_PASSWORD;
    };
    std::vector<SCase> cases;
    for (int i = 1; i <= 10; ++i) {
        const size_t cut = good.size() * i / 11;
        cases.push_back({"truncated at " + std::to_string(cut), std::vector<uint8_t>(good.begin(), good.begin() + cut),
                         eInspectResult_UNREADABLE, "cut short"});
    }
    cases.push_back({"empty file", {}, eInspectResult_UNREADABLE, "empty"});
    const std::string text = "just some text, not a package";
    cases.push_back({"not a ZIP", std::vector<uint8_t>(text.begin(), text.end()), eInspectResult_UNREADABLE, "not a ZIP"});
    cases.push_back({"wrong password", good, eInspectResult_UNREADABLE, "password does not open", "wrong-000"});
    {
        // One bit of the big (deflated) entry's data, well past its encryption header.
        std::vector<uint8_t> bytes = good;
        const size_t central = CentralHeaderOf(bytes, "DataGathering/StaticData/RegistrySystemKey.reg");
        const size_t local = kvxtest::LoadLe32(&bytes[central + 42]);
        const size_t data = local + 30 + kvxtest::LoadLe16(&bytes[local + 26]) + kvxtest::LoadLe16(&bytes[local + 28]);
        bytes[data + 12 + kvxtest::LoadLe32(&bytes[central + 20]) / 2] ^= 0x10;
        cases.push_back({"flipped bit", bytes, eInspectResult_FAILED, "entry DataGathering/StaticData/RegistrySystemKey.reg: "});
    }
    {
        SFiles files = StandardFiles("report");
        // The same package, but one file changed after its manifest line was written.
        kvxtest::SMemoryOutput output;
        {
            CZipWriter writer(std::unique_ptr<ISeekableSink>(new kvxtest::CMemorySink(output)), KVXINSPECT_DEFAULT_PASSWORD);
            std::string manifest;
            for (auto& f : files) {
                manifest += CSha256::OfBuffer(f.second.data(), f.second.size()) + "  " + f.first + "\n";
            }
            files[0].second = "changed report";
            files.push_back({"KVXManifest.sha256", manifest});
            for (const auto& f : files) {
                SEntryInfo info;
                info.m_size = f.second.size();
                kvxtest::CMemoryEntrySource source(std::vector<uint8_t>(f.second.begin(), f.second.end()), info);
                writer.AddFileEntry(f.first.c_str(), source);
            }
            writer.Close();
        }
        cases.push_back({"changed file, manifest left alone", output.m_bytes, eInspectResult_FAILED,
                         "manifest: KVXDiagReport.txt has a different SHA-256"});
    }
    {
        // A small declared size everywhere it is declared: the inflater must stop there.
        std::vector<uint8_t> bytes = good;
        DeclareSize(bytes, "DataGathering/StaticData/RegistrySystemKey.reg", 1000);
        cases.push_back({"inflates past a small declared size", bytes, eInspectResult_FAILED,
                         "inflates to more than the 1000 bytes it declares; cut there"});
        DeclareSize(bytes, "DataGathering/StaticData/RegistrySystemKey.reg", 0xFFFFFFFFu);
        cases.push_back({"declares 4 GB", bytes, eInspectResult_FAILED, "more than deflate can make of its"});
        bytes = good;
        Store32(bytes, CentralHeaderOf(bytes, "KVXIncidenceFile.txt") + 16, 0x12345678);
        cases.push_back({"directory CRC against the data descriptor", bytes, eInspectResult_FAILED,
                         "entry KVXIncidenceFile.txt: its data descriptor's CRC or sizes differ from the directory's"});
    }
    const SFiles standard = StandardFiles("r");
    cases.push_back({"nothing encrypted", MakePackage(standard, ""), eInspectResult_FAILED,
                     "entry KVXDiagReport.txt: not encrypted"});
    cases.push_back({"one name twice", MakePackage({{"a.txt", "1"}, {"a.txt", "2"}}), eInspectResult_FAILED,
                     "entry a.txt: the package holds it twice"});
    cases.push_back({"one local record listed twice", OneRecordListed(RawPackage({{"a.txt", "data"}}), 2),
                     eInspectResult_FAILED, "entry a.txt: its local record overlaps that of a.txt", ""});
    cases.push_back({"data hidden in a folder entry", RawPackage({{"folder/", "hidden"}}), eInspectResult_FAILED,
                     "entry folder/: a folder entry that holds", ""});
    {
        // The report's digest line replaced: by text that names it, by an UNREADABLE line; and a
        // genuine UNREADABLE line for a file the package rightly lacks.
        std::string digests;
        for (size_t i = 1; i < standard.size(); ++i) {
            digests += CSha256::OfBuffer(standard[i].second.data(), standard[i].second.size()) + "  " + standard[i].first + "\n";
        }
        const std::string locked = "UNREADABLE (error 32: in use by another program)  ";
        const struct {
            const char* label;
            std::string line;
            EInspectResult expected;
            const char* message;
        } manifests[] = {
            {"a line that only names the file", "could not read KVXDiagReport.txt", eInspectResult_FAILED,
             "manifest: KVXDiagReport.txt is in the package but not listed"},
            {"unreadable, yet present", locked + "KVXDiagReport.txt", eInspectResult_FAILED,
             "manifest: KVXDiagReport.txt is listed as unreadable, yet the package holds it"},
            {"unreadable and absent", locked + "DataGathering/locked.log\n" +
                 CSha256::OfBuffer(standard[0].second.data(), standard[0].second.size()) + "  KVXDiagReport.txt",
             eInspectResult_VERIFIED, ""},
        };
        for (const auto& m : manifests) {
            SFiles files = standard;
            files.push_back({"KVXManifest.sha256", digests + m.line + "\n"});
            cases.push_back({m.label, MakePackage(files, KVXINSPECT_DEFAULT_PASSWORD, false), m.expected, m.message});
        }
    }
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.label);
        SInspection inspection;
        std::string fatal;
        EXPECT_EQ(Inspect(c.bytes, inspection, fatal, c.password), c.expected);
        const std::string all = fatal + "|" + Joined(inspection.m_problems);
        EXPECT_NE(all.find(c.message), std::string::npos) << all;
        if (c.label == "unreadable and absent") {
            EXPECT_EQ(inspection.m_manifest.m_status, "unreadable");
            EXPECT_EQ(Joined(inspection.m_manifest.m_unreadable), "UNREADABLE (error 32: in use by another program)  DataGathering/locked.log|");
        }
    }
}

TEST(Inspect, PackageWithoutManifestIsNotAnError)
{
    SInspection inspection;
    std::string fatal;
    EXPECT_EQ(Inspect(MakePackage(StandardFiles("x"), KVXINSPECT_DEFAULT_PASSWORD, false), inspection, fatal),
              eInspectResult_VERIFIED);
    EXPECT_EQ(inspection.m_manifest.m_status, "missing");
}

TEST(Inspect, HostileNamesAreRefusedBeforeAnythingIsWritten)
{
    const std::string longPart(256, 'x');
    const struct {
        SFiles files;
        const char* message; // "" for a set that is fine
    } cases[] = {
        {{{"ok/name.txt", "1"}, {"KVXDiagReport.txt", "2"}, {"\xC3\x89mile/\xC3\xA9t\xC3\xA9.txt", "3"}, {"a.b.c", "4"}}, ""},
        {{{"../evil.txt", "e"}}, "entry ../evil.txt: name refused (contains \"..\")"},
        {{{"a/../../evil", "e"}}, "name refused (contains \"..\")"},
        {{{"C:\\evil.txt", "e"}}, "name refused (drive letter)"},
        {{{"C:evil", "e"}}, "name refused (drive letter)"},
        {{{"/etc/evil", "e"}}, "name refused"},
        {{{"a//b", "e"}}, "name refused (contains an empty path component)"},
        {{{"sub/...", "e"}}, "name refused (a component of only dots and spaces)"},
        {{{"KVXDiagReport.txt", "r"}, {"./KVXDiagReport.txt", "x"}}, "entry ./KVXDiagReport.txt: name refused (contains \".\")"},
        {{{"Report.txt", "1"}, {"REPORT.TXT", "2"}}, "entry REPORT.TXT: collides with Report.txt"},
        {{{"\xC3\x89t\xC3\xA9.txt", "1"}, {"\xC3\xA9t\xC3\xA9.txt", "2"}}, "collides with"},
        {{{"notes.txt", "1"}, {"notes.txt. ", "2"}}, "entry notes.txt. : collides with notes.txt"},
        {{{"a", "1"}, {"a/b", "2"}}, "entry a/b: a file of that name is also a folder in a"},
        {{{"CON", "1"}}, "name refused (\"CON\" is a device name on Windows)"},
        {{{"logs/aux.txt", "1"}}, "is a device name on Windows"},
        {{{"COM1.log", "1"}}, "is a device name on Windows"},
        {{{"file.txt:stream", "1"}}, "name refused (contains a colon"},
        {{{"bell\x07.txt", "1"}}, "name refused (contains a control character)"},
        {{{"what?.txt", "1"}}, "name refused (contains a character Windows does not allow"},
        {{{longPart, "1"}}, "name refused (a component longer than 255"},
    };
    kvxtest::CTempDirectory temp;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.files.back().first);
        const std::vector<uint8_t> bytes = MakePackage(c.files);
        SInspection inspection;
        std::string fatal;
        const EInspectResult result = Inspect(bytes, inspection, fatal);
        std::string problem;
        const std::string target = temp.Join("out");
        const EExtractResult extracted = Extract(bytes, target, problem);
        if (*c.message == '\0') {
            EXPECT_EQ(result, eInspectResult_VERIFIED) << Joined(inspection.m_problems);
            EXPECT_EQ(extracted, eExtractResult_EXTRACTED) << problem;
            EXPECT_EQ(Listing(temp.Path()), "out|");
            std::filesystem::remove_all(target);
            continue;
        }
        EXPECT_EQ(result, eInspectResult_FAILED);
        EXPECT_NE(Joined(inspection.m_problems).find(c.message), std::string::npos) << Joined(inspection.m_problems);
        EXPECT_EQ(extracted, eExtractResult_REFUSED);
        EXPECT_NE(problem.find(c.message), std::string::npos) << problem;
        EXPECT_EQ(Listing(temp.Path()), "") << "something was written";
    }
    EXPECT_EQ(CEntryNames::UnsafeReason(""), "empty name");
    EXPECT_EQ(CEntryNames::UnsafeReason("folder/"), "");
}

TEST(Inspect, ExtractionIsAllOrNothingAndNeverFollowsLinks)
{
    kvxtest::CTempDirectory temp;
    const SFiles files = StandardFiles("the report");
    const std::vector<uint8_t> good = MakePackage(files);
    const std::string target = temp.Join("out");
    std::string problem;

    // A folder that already holds something, even one file, is refused and left as it was.
    std::filesystem::create_directory(target);
    ASSERT_TRUE(kvxtest::WriteFileBytes(target + "/KVXDiagReport.txt", {'o', 'l', 'd'}));
    EXPECT_EQ(Extract(good, target, problem), eExtractResult_REFUSED);
    EXPECT_NE(problem.find("exists and is not empty"), std::string::npos) << problem;
    EXPECT_EQ(FileText(target + "/KVXDiagReport.txt"), "old");
    EXPECT_EQ(Listing(temp.Path()), "out|");
    std::filesystem::remove_all(target);
    ASSERT_TRUE(kvxtest::WriteFileBytes(target, {'f'}));
    EXPECT_EQ(Extract(good, target, problem), eExtractResult_REFUSED);
    EXPECT_NE(problem.find("exists and is not a folder"), std::string::npos) << problem;
    std::filesystem::remove(target);

    // An empty folder is filled; the result is what the manifest lists.
    std::filesystem::create_directory(target);
    ASSERT_EQ(Extract(good, target, problem), eExtractResult_EXTRACTED) << problem;
    for (const auto& f : files) {
        EXPECT_EQ(FileText(target + "/" + f.first), f.second) << f.first;
    }
    EXPECT_EQ(Listing(temp.Path()), "out|");
    std::filesystem::remove_all(target);

    // Damage found midway (the last entry's data) removes everything written before it.
    std::vector<uint8_t> damaged = good;
    const size_t central = CentralHeaderOf(damaged, "DataGathering/StaticData/RegistrySystemKey.reg");
    const size_t local = kvxtest::LoadLe32(&damaged[central + 42]);
    damaged[local + 30 + kvxtest::LoadLe16(&damaged[local + 26]) + 100] ^= 0x01;
    EXPECT_EQ(Extract(damaged, target, problem), eExtractResult_FAILED);
    EXPECT_NE(problem.find("entry DataGathering/StaticData/RegistrySystemKey.reg"), std::string::npos) << problem;
    EXPECT_EQ(Listing(temp.Path()), "");

#ifndef _WIN32
    // Links: the target itself, and a link inside a folder that is not empty; neither is followed.
    const std::string elsewhere = temp.Join("elsewhere");
    std::filesystem::create_directory(elsewhere);
    std::filesystem::create_directory_symlink(elsewhere, target);
    EXPECT_EQ(Extract(good, target, problem), eExtractResult_REFUSED);
    EXPECT_NE(problem.find("is a link"), std::string::npos) << problem;
    EXPECT_EQ(Listing(elsewhere), "");
    std::filesystem::remove(target);
    std::filesystem::create_directory(target);
    std::filesystem::create_symlink(elsewhere + "/victim.txt", target + "/KVXDiagReport.txt");
    EXPECT_EQ(Extract(good, target, problem), eExtractResult_REFUSED);
    EXPECT_EQ(Listing(elsewhere), "");
#endif
}

#ifndef _WIN32
TEST(Inspect, ExtractionThatRunsOutOfDiskLeavesNothing)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    }
    kvxtest::CTempDirectory temp;
    const std::string small = temp.Join("small");
    std::filesystem::create_directory(small);
    if (::mount("kvxtest", small.c_str(), "tmpfs", 0, "size=256k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    const std::vector<uint8_t> noise = kvxtest::PseudoRandomBytes(1 << 20, 7);
    SFiles files = StandardFiles("r");
    files.push_back({"DataGathering/capture.bin", std::string(noise.begin(), noise.end())});
    std::string problem;
    const EExtractResult result = Extract(MakePackage(files), small + "/out", problem);
    const std::string left = Listing(small);
    ::umount(small.c_str());
    EXPECT_EQ(result, eExtractResult_FAILED);
    EXPECT_NE(problem.find("the disk is full"), std::string::npos) << problem;
    EXPECT_EQ(left, "");
}

// Heap in use through operator new, counted by the allocator's own sizes (the sanitizers answer
// malloc_usable_size too), and its peak.
std::atomic<size_t> g_heapLive{0};
std::atomic<size_t> g_heapPeak{0};

size_t PeakDuring(const std::function<void()>& work)
{
    const size_t start = g_heapLive.load();
    g_heapPeak = start;
    work();
    return g_heapPeak.load() - start;
}

TEST(Inspect, HostilePackagesStayWithinTheMemoryBudget)
{
    const uint64_t budget = 64ull << 20;
    std::string titleOverFailures = "09-12-2026 10:00:00\t-> " + std::string(1 << 20, 'T') + "\n";
    for (int i = 0; i < 2000; ++i) {
        titleOverFailures += "09-12-2026 10:00:01\t\tFailed to copy file " + std::to_string(i) + "\n";
    }
    SFiles snapshots;
    for (int i = 0; i < 2; ++i) {
        const std::string filter = "BasicAnalisys/KVXFLT" + std::string(1, static_cast<char>('A' + i));
        snapshots.push_back({filter + "/Pre/KVXSnapshot.txt", std::string(32u << 20, 'a')});
        snapshots.push_back({filter + "/Post/KVXSnapshot.txt", std::string(32u << 20, '\n')});
    }
    const struct {
        const char* label;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"a 1 MB section title over 2,000 failure lines", RawPackage({{"KVXDiagReport.txt", titleOverFailures}})},
        {"4 snapshots of 32 MB", RawPackage(snapshots)},
    };
    // Each case in a child under an address-space cap, then here with the heap counted.
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
#ifndef KVX_TEST_ASAN
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit cap = {1ull << 30, 1ull << 30};
            ::setrlimit(RLIMIT_AS, &cap);
            SInspection inspection;
            std::string fatal;
            const EInspectResult r = CPackageReader::Inspect(c.bytes.data(), c.bytes.size(), "", inspection, fatal, budget);
            ::_exit(r == eInspectResult_UNREADABLE && fatal.find("budget") == std::string::npos ? 3 : 0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
#endif
        SInspection inspection;
        std::string fatal;
        EInspectResult result = eInspectResult_VERIFIED;
        const size_t peak = PeakDuring(
            [&] { result = CPackageReader::Inspect(c.bytes.data(), c.bytes.size(), "", inspection, fatal, budget); });
        EXPECT_LT(peak, budget + (16u << 20));
        if (result == eInspectResult_UNREADABLE) {
            EXPECT_NE(fatal.find("more memory than the budget of 64 MB"), std::string::npos) << fatal;
        }
    }
    // Extraction streams: a 64 MB entry (a 64 KB package) passes through pieces of a fixed size.
    kvxtest::CTempDirectory temp;
    const std::vector<uint8_t> bomb = RawPackage({{"zeros.bin", std::string(64u << 20, '\0')}});
    std::string problem;
    EExtractResult extracted = eExtractResult_REFUSED;
    const size_t peak = PeakDuring([&] { extracted = Extract(bomb, temp.Join("out"), problem, ""); });
    EXPECT_EQ(extracted, eExtractResult_EXTRACTED) << problem;
    EXPECT_LT(peak, 4u << 20);
    EXPECT_EQ(std::filesystem::file_size(temp.Join("out") + "/zeros.bin"), 64u << 20);
}
#endif

TEST(Inspect, RepeatedWorkIsBounded)
{
    // 65,535 directory entries on one 32 MB record (once inflated per entry, half a terabyte), and a
    // manifest of 20,000 long lines that are not digests over 20,000 files (once compared line by file).
    const auto started = std::chrono::steady_clock::now();
    const std::vector<uint8_t> shared = OneRecordListed(RawPackage({{"zeros.bin", std::string(32u << 20, '\0')}}), 65535);
    SInspection inspection;
    std::string fatal;
    EXPECT_EQ(CPackageReader::Inspect(shared.data(), shared.size(), "", inspection, fatal), eInspectResult_FAILED);
    EXPECT_EQ(inspection.m_problems.size() + inspection.m_problemsNotKept, 65534u); // one overlap each

    SFiles files;
    std::string manifest;
    for (int i = 0; i < 20000; ++i) {
        files.push_back({"f/" + std::to_string(i), std::to_string(i)});
        manifest += "f/" + std::to_string(i) + " " + std::string(1000, 'x') + "\n";
    }
    files.push_back({"KVXManifest.sha256", manifest});
    const std::vector<uint8_t> many = RawPackage(files);
    SInspection second;
    EXPECT_EQ(CPackageReader::Inspect(many.data(), many.size(), "", second, fatal), eInspectResult_FAILED);
    EXPECT_EQ(second.m_manifest.m_malformed.size() + second.m_manifest.m_extra.size() + second.m_manifest.m_notKept, 40000u);
    // A generous bound: linear work takes seconds even under the sanitizers, the repeated work hours.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(120));
}

TEST(Inspect, PackageTextIsEscapedForTheTerminal)
{
    const struct {
        std::string in;
        const char* out;
    } texts[] = {
        {"plain \xC3\xA9t\xC3\xA9", "plain \xC3\xA9t\xC3\xA9"},
        {"\x1B[32mverified\x1B[0m", "\\x1B[32mverified\\x1B[0m"},
        {std::string("cut\0here", 8), "cut\\x00here"},
        {"csi \xC2\x9B" "2J, lone \xE9, del \x7F", "csi \\xC2\\x9B2J, lone \\xE9, del \\x7F"},
    };
    for (const auto& t : texts) {
        EXPECT_EQ(CTerminalText::Escape(t.in), t.out);
    }
    SFiles files = StandardFiles(BasicReport({{"KVXFLTF\x1B]0;x\x07", FIXED}}, "").Text());
    files[1].second = "Incidence Number: INC-\x1B[2J  ####\r\nVerification verified\x1B[1A\r\n";
    SInspection inspection;
    std::string fatal;
    ASSERT_EQ(Inspect(MakePackage(files), inspection, fatal), eInspectResult_VERIFIED) << Joined(inspection.m_problems);
    const std::string summary = CTextSummary::Write(inspection);
    EXPECT_EQ(summary.find('\x1B'), std::string::npos) << summary;
    EXPECT_EQ(summary.find('\x07'), std::string::npos) << summary;
    EXPECT_NE(summary.find("INC-\\x1B[2J"), std::string::npos) << summary;
}

} // namespace

#ifndef _WIN32
void* operator new(size_t n)
{
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    const size_t live = g_heapLive += malloc_usable_size(p);
    size_t peak = g_heapPeak.load();
    while (live > peak && !g_heapPeak.compare_exchange_weak(peak, live)) {
    }
    return p;
}
void* operator new[](size_t n) { return operator new(n); }
void operator delete(void* p) noexcept
{
    if (p != nullptr) {
        g_heapLive -= malloc_usable_size(p);
        std::free(p);
    }
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }
#endif
