// A cleaned package as support reads it: the core's own note, packed with the archive writer, is
// reported as cleaned, with its counts and the files left out, in the summary, the JSON and the page.
#include "core/archive/ZipWriter.h"
#include "core/privacy/PrivacyCleaner.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tools/packagereader/HtmlPage.h"
#include "tools/packagereader/JsonWriter.h"
#include "tools/packagereader/PackageReader.h"
#include "tools/packagereader/TextSummary.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<uint8_t> PackageOf(const std::vector<std::pair<std::string, std::string>>& files)
{
    kvxtest::SMemoryOutput output;
    CZipWriter writer(std::unique_ptr<ISeekableSink>(new kvxtest::CMemorySink(output)), KVXINSPECT_DEFAULT_PASSWORD);
    for (const auto& f : files) {
        SEntryInfo info;
        info.m_year = 2026;
        info.m_size = f.second.size();
        kvxtest::CMemoryEntrySource source(std::vector<uint8_t>(f.second.begin(), f.second.end()), info);
        EXPECT_EQ(writer.AddFileEntry(f.first.c_str(), source), KVXZIP_OK) << f.first;
    }
    EXPECT_EQ(writer.Close(), KVXZIP_OK);
    return output.m_bytes;
}

SInspection InspectionOf(const std::vector<uint8_t>& bytes)
{
    SInspection inspection;
    std::string fatal;
    EXPECT_EQ(CPackageReader::Inspect(bytes.data(), bytes.size(), KVXINSPECT_DEFAULT_PASSWORD, inspection, fatal),
              eInspectResult_VERIFIED)
        << fatal;
    return inspection;
}

TEST(PrivacyNote, CleanedPackageIsReportedInEveryForm)
{
    CPrivacyCleaner cleaner(std::array<uint8_t, 16>{});
    ASSERT_TRUE(cleaner.AddValue(ePrivacy_USER, "jdoe"));
    cleaner.Clean("C:\\Users\\jdoe\\x from 10.0.0.1 and 10.0.0.2\r\n");
    const std::string note = cleaner.NoteText({{"DataGathering/StaticData/RegistrySystemKey.reg", "registry hive"},
                                               {"DataGathering/ExtendedData/System (1).evtx", "event log"}});
    const SInspection cleaned = InspectionOf(PackageOf({{"KVXDiagReport.txt", "r"}, {"KVXPrivacy.txt", note}}));

    ASSERT_TRUE(cleaned.m_privacy.m_cleaned);
    ASSERT_EQ(cleaned.m_privacy.m_kinds.size(), static_cast<size_t>(ePrivacy_KIND_COUNT));
    EXPECT_EQ(cleaned.m_privacy.m_kinds[ePrivacy_USER].m_kind, "user names");
    EXPECT_EQ(cleaned.m_privacy.m_kinds[ePrivacy_USER].m_replacements, 1u);
    EXPECT_EQ(cleaned.m_privacy.m_kinds[ePrivacy_IPV4].m_values, 2u);
    ASSERT_EQ(cleaned.m_privacy.m_leftOut.size(), 2u);
    EXPECT_EQ(cleaned.m_privacy.m_leftOut[1].m_path, "DataGathering/ExtendedData/System (1).evtx");
    EXPECT_EQ(cleaned.m_privacy.m_leftOut[1].m_reason, "event log");

    const std::string text = CTextSummary::Write(cleaned);
    EXPECT_NE(text.find("Personal     removed"), std::string::npos) << text;
    EXPECT_NE(text.find("left out   DataGathering/StaticData/RegistrySystemKey.reg (registry hive)"), std::string::npos);
    const nlohmann::json doc = nlohmann::json::parse(CJsonWriter::Write(cleaned, "test"));
    EXPECT_EQ(doc["privacy"]["cleaned"], true);
    EXPECT_EQ(doc["privacy"]["left_out"][0]["reason"], "registry hive");
    EXPECT_EQ(doc["privacy"]["replaced"][ePrivacy_IPV4]["values"], 2);
    const std::string page = CHtmlPage::Write(cleaned, "test");
    EXPECT_NE(page.find("<h2>Personal data</h2><p><b>Removed</b>"), std::string::npos);

    const SInspection plain = InspectionOf(PackageOf({{"KVXDiagReport.txt", "r"}}));
    EXPECT_FALSE(plain.m_privacy.m_cleaned);
    EXPECT_NE(CTextSummary::Write(plain).find("Personal     included"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(CJsonWriter::Write(plain, "test"))["privacy"]["cleaned"], false);
}

} // namespace
