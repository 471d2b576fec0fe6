// Packages built in memory with the archive writer and a small generated report: the trail and verdict
// of each kind of run, and damaged or hostile packages, each with its outcome and message.
#include "core/archive/ZipWriter.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tools/packagereader/PackageExtractor.h"
#include "tools/packagereader/PackageReader.h"
#include "tools/packagereader/Sha256.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

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
                                 bool withManifest = true)
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
    EXPECT_EQ(s.m_failures[0].m_section, "Windows device installation log (setupapi.log)");
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
        // A small declared size: the inflater must stop there rather than follow the stream.
        std::vector<uint8_t> bytes = good;
        const size_t central = CentralHeaderOf(bytes, "DataGathering/StaticData/RegistrySystemKey.reg");
        Store32(bytes, central + 24, 1000);
        cases.push_back({"inflates past a small declared size", bytes, eInspectResult_FAILED,
                         "inflates to more than the 1000 bytes it declares; cut there"});
        Store32(bytes, central + 24, 0xFFFFFFFFu);
        cases.push_back({"declares 4 GB", bytes, eInspectResult_FAILED, "the directory declares 4294967295"});
    }
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.label);
        SInspection inspection;
        std::string fatal;
        EXPECT_EQ(Inspect(c.bytes, inspection, fatal, c.password), c.expected);
        const std::string all = fatal + "|" + Joined(inspection.m_problems);
        EXPECT_NE(all.find(c.message), std::string::npos) << all;
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

TEST(Inspect, ExtractRefusesNamesThatLeaveTheDirectory)
{
    const std::vector<std::pair<std::string, bool>> names = {
        {"ok/name.txt", true},   {"KVXDiagReport.txt", true}, {"../evil", false},     {"a/../../evil", false},
        {"C:\\evil", false},     {"C:evil", false},           {"/etc/evil", false},   {"a\\..\\..\\evil", false},
        {"a//b", false},         {"..", false},               {"", false},
    };
    for (const auto& n : names) {
        SCOPED_TRACE(n.first);
        EXPECT_EQ(CPackageExtractor::UnsafeReason(n.first).empty(), n.second);
    }
    kvxtest::CTempDirectory temp;
    for (const char* hostile : {"../evil.txt", "C:\\evil.txt"}) {
        SCOPED_TRACE(hostile);
        const std::vector<uint8_t> bytes = MakePackage({{"good.txt", "g"}, {hostile, "e"}});
        std::string problem;
        size_t files = 0;
        const std::string target = temp.Join("out");
        EXPECT_FALSE(CPackageExtractor::Extract(bytes.data(), bytes.size(), KVXINSPECT_DEFAULT_PASSWORD, target, problem, files));
        EXPECT_NE(problem.find("refused"), std::string::npos) << problem;
        EXPECT_EQ(files, 0u);
        EXPECT_TRUE(kvxtest::ReadFileBytes(temp.Join("evil.txt")).empty());
        EXPECT_TRUE(kvxtest::ReadFileBytes(target + "/good.txt").empty());
    }
    const std::vector<uint8_t> bytes = MakePackage(StandardFiles("r"));
    std::string problem;
    size_t files = 0;
    ASSERT_TRUE(CPackageExtractor::Extract(bytes.data(), bytes.size(), KVXINSPECT_DEFAULT_PASSWORD, temp.Join("all"), problem, files))
        << problem;
    EXPECT_EQ(files, 6u);
    const std::vector<uint8_t> report = kvxtest::ReadFileBytes(temp.Join("all") + "/KVXDiagReport.txt");
    EXPECT_EQ(std::string(report.begin(), report.end()), "r");
}

} // namespace
