// The plain-text report writer: the on-disk format, sections and indentation, line splitting,
// appending, and the failures it swallows.
#include "core/report/ReporterFactory.h"
#include "core/report/ReporterPlainText.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using kvxtest::ReadReportLines;
using kvxtest::SReportLine;

class ReporterPlainTextTest : public ::testing::Test {
protected:
    void SetUp() override { m_reporter.SetOutputFile(m_file); }

    std::vector<SReportLine> Lines() const { return ReadReportLines(m_file); }

    kvxtest::CScopedTempDir m_dir{"kvxreport"};
    std::string m_file = m_dir.Path() + "\\KVXDiagReport.txt";
    CReporterPlainText m_reporter;
};

IReporter* NeverCalled()
{
    ADD_FAILURE() << "a refused registration's creation function was called";
    return nullptr;
}

// Expected text and indentation of one line.
struct SExpected {
    size_t tabs;
    std::string text;
};

void ExpectLines(const std::vector<SReportLine>& lines, const std::vector<SExpected>& expected)
{
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE("line " + std::to_string(i));
        EXPECT_TRUE(lines[i].valid) << "malformed time stamp or line end: " << lines[i].text;
        EXPECT_EQ(lines[i].tabs, expected[i].tabs);
        EXPECT_EQ(lines[i].text, expected[i].text);
    }
}

} // namespace

TEST(ReporterFactory, GivesAPlainTextReporterForIdOneOnly)
{
    std::unique_ptr<IReporter> reporter(CReporterFactory::GetReporter(KVXDIAG2_REPORTERID_PLAINTEXT));
    ASSERT_NE(reporter, nullptr);
    EXPECT_NE(dynamic_cast<CReporterPlainText*>(reporter.get()), nullptr);
    EXPECT_EQ(CReporterFactory::GetReporter(0), nullptr);
    EXPECT_EQ(CReporterFactory::GetReporter(2), nullptr);
}

TEST(ReporterFactory, DuplicateIdIsRefusedAndTheFirstStays)
{
    EXPECT_EQ(CReporterFactory::Subscribe(KVXDIAG2_REPORTERID_PLAINTEXT, &NeverCalled),
              static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(CReporterFactory::Subscribe(77, nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    std::unique_ptr<IReporter> reporter(CReporterFactory::GetReporter(KVXDIAG2_REPORTERID_PLAINTEXT));
    EXPECT_NE(dynamic_cast<CReporterPlainText*>(reporter.get()), nullptr);
}

TEST_F(ReporterPlainTextTest, LinePrefixIsTheLocalTimeAndATab)
{
    SYSTEMTIME before = {};
    ::GetLocalTime(&before);
    m_reporter.Report("%s", "x");
    const std::vector<SReportLine> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_TRUE(lines[0].valid);
    char date[16];
    snprintf(date, sizeof date, "%02d-%02d-%04d", before.wDay, before.wMonth, before.wYear);
    EXPECT_EQ(lines[0].timestamp.substr(0, 10), date) << "day-month-year order";
    EXPECT_EQ(lines[0].tabs, 0u);
    EXPECT_EQ(kvxtest::ReadFileText(m_file).find('\r'), std::string::npos) << "line ends are LF only";
}

TEST_F(ReporterPlainTextTest, RunsOfLineBreaksSplitAndEmptyLinesVanish)
{
    struct SCase {
        const char* label;
        const char* text;
        std::vector<std::string> lines;
    };
    const SCase cases[] = {
        {"CR LF CR LF", "a\r\n\r\nb", {"a", "b"}},
        {"lone CR and LF", "a\rb\nc", {"a", "b", "c"}},
        {"leading and trailing breaks", "\r\n\nx\n\r", {"x"}},
        {"no break", "single", {"single"}},
        {"only breaks", "\r\n\r\n", {}},
        {"empty", "", {}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.label);
        ::DeleteFileA(m_file.c_str());
        m_reporter.Report("%s", c.text);
        const std::vector<SReportLine> lines = Lines();
        ASSERT_EQ(lines.size(), c.lines.size());
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].text, c.lines[i]);
            EXPECT_EQ(lines[i].timestamp, lines[0].timestamp) << "one prefix per call";
        }
        if (c.lines.empty()) {
            EXPECT_TRUE(kvxtest::ReadFileText(m_file).empty());
        }
    }
}

TEST_F(ReporterPlainTextTest, SectionTitlesAreIndentedLikeTheirSurroundings)
{
    m_reporter.BeginSection("%s", "S");
    m_reporter.Report("%s", "x");
    m_reporter.BeginSection("Inner %d", 2);
    m_reporter.Report("%s", "y\r\nz");
    m_reporter.EndSection();
    m_reporter.EndSection("%s", "closing text");
    m_reporter.Report("%s", "after");
    ExpectLines(Lines(), {{0, "-> S"},
                          {1, "x"},
                          {1, "-> Inner 2"},
                          {2, "y"},
                          {2, "z"},
                          {1, "<- Inner 2"},
                          {0, "<- closing text"},
                          {0, "after"}});
    EXPECT_EQ(m_reporter.GetDepth(), 0u);
}

TEST_F(ReporterPlainTextTest, UnbalancedEndSectionWritesNothing)
{
    m_reporter.EndSection();
    m_reporter.EndSection("%s", "text");
    EXPECT_FALSE(kvxtest::FileExists(m_file));
    EXPECT_EQ(m_reporter.GetDepth(), 0u);
    m_reporter.Report("%s", "still works");
    ExpectLines(Lines(), {{0, "still works"}});
}

TEST_F(ReporterPlainTextTest, IndentationStopsAtOneHundredTabs)
{
    for (int i = 0; i < 150; ++i) {
        m_reporter.BeginSection("level %d", i);
    }
    m_reporter.Report("%s", "deep");
    const std::vector<SReportLine> lines = Lines();
    ASSERT_EQ(lines.size(), 151u);
    EXPECT_EQ(lines[99].tabs, 99u);
    EXPECT_EQ(lines[100].tabs, 100u);
    EXPECT_EQ(lines[149].tabs, 100u);
    EXPECT_EQ(lines[150].text, "deep");
    EXPECT_EQ(lines[150].tabs, 100u);
}

TEST_F(ReporterPlainTextTest, TextIsNeverUsedAsAFormat)
{
    m_reporter.Report("%s", "100%");
    m_reporter.Report("%s", "%s %n %x %%");
    m_reporter.BeginSection("%s", "title with % sign");
    m_reporter.EndSection();
    ExpectLines(Lines(), {{0, "100%"}, {0, "%s %n %x %%"}, {0, "-> title with % sign"}, {0, "<- title with % sign"}});
}

TEST_F(ReporterPlainTextTest, LongTextIsCutToTheFormatBuffer)
{
    const std::string text(KVXREPORT_FORMAT_BUFFER_SIZE + 5000, 'x');
    m_reporter.Report("%s", text.c_str());
    const std::vector<SReportLine> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text.size(), KVXREPORT_FORMAT_BUFFER_SIZE - 1);
}

TEST_F(ReporterPlainTextTest, ExistingReportIsAppendedTo)
{
    ASSERT_TRUE(kvxtest::MakeFile(m_file, "earlier line\n"));
    m_reporter.Report("%s", "new");
    const std::string content = kvxtest::ReadFileText(m_file);
    EXPECT_EQ(content.rfind("earlier line\n", 0), 0u) << content;
    const std::vector<SReportLine> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].text, "new");
}

TEST_F(ReporterPlainTextTest, ReportCanBeWrittenWhileAnotherHandleHoldsItOpen)
{
    m_reporter.Report("%s", "one");
    HANDLE reader = ::CreateFileA(m_file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    m_reporter.Report("%s", "two");
    ::CloseHandle(reader);
    ExpectLines(Lines(), {{0, "one"}, {0, "two"}});
}

TEST(ReporterPlainText, WithoutAnOutputFileNothingIsCreated)
{
    kvxtest::CScopedTempDir dir("kvxreport");
    CReporterPlainText reporter;
    reporter.BeginSection("%s", "S");
    reporter.Report("%s", "a\nb");
    reporter.EndSection();
    reporter.SetOutputFile("");
    reporter.Report("%s", "c");
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((dir.Path() + "\\*.txt").c_str(), &data);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE);
    if (find != INVALID_HANDLE_VALUE) {
        ::FindClose(find);
    }
}

TEST(ReporterPlainText, UnwritablePathLosesOnlyThatText)
{
    kvxtest::CScopedTempDir dir("kvxreport");
    CReporterPlainText reporter;
    reporter.SetOutputFile(dir.Path() + "\\missing\\report.txt");
    reporter.Report("%s", "lost");
    const std::string good = dir.Path() + "\\report.txt";
    reporter.SetOutputFile(good);
    reporter.Report("%s", "kept");
    const std::vector<SReportLine> lines = ReadReportLines(good);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "kept");
}

TEST(ReporterPlainText, ReportInANonAsciiDirectory)
{
    kvxtest::CScopedTempDir dir("kvxreport");
    const std::string accented = dir.Path() + "\\Se\xF1" "al";
    ASSERT_TRUE(::CreateDirectoryA(accented.c_str(), nullptr));
    CReporterPlainText reporter;
    reporter.SetOutputFile(accented + "\\KVXDiagReport.txt");
    reporter.Report("%s", "caf\xE9");
    const std::vector<SReportLine> lines = ReadReportLines(accented + "\\KVXDiagReport.txt");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "caf\xE9") << "8-bit text is written as given";
}
