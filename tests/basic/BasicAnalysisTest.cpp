// The basic analysis end to end through the exports, against the simulated product, the simulated
// network configuration engine and the console programs of the test prefix, with a callback that
// answers like a user.
#include "core/interface/Exports.h"
#include "tests/support/SimNetCfg.h"
#include "tests/support/SimProduct.h"
#include "tests/support/TestSupport.h"

#include "common/journal/ChangeJournal.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* RESUME_KEY = "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2";
#ifdef _WIN64
constexpr REGSAM VENDOR_VIEW = KEY_WOW64_32KEY;
#else
constexpr REGSAM VENDOR_VIEW = 0;
#endif
constexpr DWORD JOB_TIMEOUT_MS = 300000;

struct SNote {
    DWORD code;
    std::string text;
    DWORD size;
    std::vector<DWORD> data;
    DWORD tick;
};

// The user: answers the questions from a script and records every notification. The job's end
// (code 10) is signalled through an event the test waits on.
class CScriptedUser {
public:
    CScriptedUser() : m_ended(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~CScriptedUser() { ::CloseHandle(m_ended); }

    void Script(std::deque<int> answers) { m_answers = std::move(answers); }

    static int WINAPI Callback(DWORD code, KVXDIAG2_CONTEXT context, const char* text, DWORD size, ULONG_PTR data)
    {
        return reinterpret_cast<CScriptedUser*>(context)->On(code, text, size, data);
    }

    bool WaitEnded(DWORD ms) const { return ::WaitForSingleObject(m_ended, ms) == WAIT_OBJECT_0; }

    std::vector<DWORD> Codes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<DWORD> codes;
        for (const SNote& n : m_notes) {
            codes.push_back(n.code);
        }
        return codes;
    }
    std::vector<SNote> Notes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_notes;
    }

private:
    int On(DWORD code, const char* text, DWORD size, ULONG_PTR data)
    {
        SNote note{code, text != nullptr ? text : "", size, {}, ::GetTickCount()};
        if (size == 12) {
            const DWORD* record = reinterpret_cast<const DWORD*>(data);
            note.data.assign(record, record + 3);
        } else if (size == 4) {
            note.data.push_back(static_cast<DWORD>(data));
        }
        int answer = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_notes.push_back(note);
            if (code == 1 && !m_answers.empty()) {
                answer = m_answers.front();
                m_answers.pop_front();
            }
        }
        if (code == 10) {
            ::SetEvent(m_ended);
        }
        return answer;
    }

    mutable std::mutex m_mutex;
    std::vector<SNote> m_notes;
    std::deque<int> m_answers;
    HANDLE m_ended;
};

// One report line: indentation depth (tabs after the time stamp's own) and text.
struct SReportLine {
    size_t depth;
    std::string text;
    // An expected text ending in "*" matches any line that starts with the rest: a program's section
    // title carries the program's path and arguments after the title.
    bool Matches(const SReportLine& actual) const
    {
        if (depth != actual.depth) {
            return false;
        }
        if (!text.empty() && text.back() == '*') {
            return actual.text.compare(0, text.size() - 1, text, 0, text.size() - 1) == 0;
        }
        return text == actual.text;
    }
};

std::vector<SReportLine> ParseReport(const std::string& report)
{
    std::vector<SReportLine> lines;
    std::istringstream in(report);
    std::string line;
    while (std::getline(in, line)) {
        const size_t stamp = line.find('\t');
        if (stamp == std::string::npos) {
            continue;
        }
        size_t at = stamp + 1;
        size_t depth = 0;
        while (at < line.size() && line[at] == '\t') {
            ++depth;
            ++at;
        }
        lines.push_back({depth, line.substr(at)});
    }
    return lines;
}

// Every expected line occurs in the report, in this order (other lines, such as program output, may
// stand between them).
::testing::AssertionResult ContainsInOrder(const std::vector<SReportLine>& report,
                                           const std::vector<SReportLine>& expected)
{
    size_t at = 0;
    for (const SReportLine& want : expected) {
        while (at < report.size() && !want.Matches(report[at])) {
            ++at;
        }
        if (at == report.size()) {
            auto failure = ::testing::AssertionFailure();
            failure << "missing or out of order: depth " << want.depth << " \"" << want.text << "\"\nreport:\n";
            for (size_t i = 0; i < report.size() && i < 80; ++i) {
                failure << report[i].depth << " " << report[i].text << "\n";
            }
            return failure;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

std::vector<SReportLine> FilterPass(const std::string& name, const std::string& post)
{
    std::vector<SReportLine> lines = {
        {1, "-> -Operations for filter \"" + name + "\""},
        {2, "-> PRE"},
        {3, "Enabling log and captures..."},
        {3, "-> Dynamic Data"},
        {4, "-> Gathering Dinamyc Data"},
        {5, "-> Getting current network configuration (*"},
        {5, "<- Getting current network configuration (*"},
        {5, "-> Pinging Orvex Security (*"},
        {5, "<- Pinging Orvex Security (*"},
        {5, "-> Getting current KVX configuration snapshot."},
        {5, "<- Getting current KVX configuration snapshot."},
        {4, "<- Gathering Dinamyc Data process finisihed"},
        {3, "<- Dynamic Data"},
        {3, "Filter " + name + " deactivated."},
        {2, "<- PRE"},
        {2, "-> POST"},
        {3, "-> Dynamic Data"},
        {4, "<- Gathering Dinamyc Data process finisihed"},
        {3, "<- Dynamic Data"},
        {3, "Disabling log and captures..."},
    };
    lines.push_back({3, post});
    if (post == "The problem was not fixed. Analysis continues with the next filter.") {
        lines.push_back({3, "Filter " + name + " reactivated."});
    }
    lines.push_back({2, "<- POST"});
    lines.push_back({1, "<- -Operations for filter \"" + name + "\", Finished"});
    return lines;
}

class BasicAnalysisTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_product.Error().empty()) << m_product.Error();
        ASSERT_EQ(m_netcfgRegistration.Result(), 0u);
        ASSERT_EQ(m_model.AddTypicalMachine(), 0u);
        for (const char* filter : FILTERS) {
            m_product.SetFilter(filter, true);
        }
    }
    void TearDown() override { kvxtest::RemoveResultsDirectories(); }

    // Runs one basic analysis through the exports; answers come from the script.
    void Run(std::deque<int> answers, bool cancelAtOnce = false)
    {
        m_user.Script(std::move(answers));
        int pending = -1;
        int step = -1;
        ASSERT_EQ(_0003_(&pending, &step), 0u);
        ASSERT_EQ(_0002_(&CScriptedUser::Callback, reinterpret_cast<KVXDIAG2_CONTEXT>(&m_user)), 0u);
        int jobId = 0;
        const DWORD start = ::GetTickCount();
        ASSERT_EQ(_0006_(&jobId), 0u);
        if (!cancelAtOnce) {
            ASSERT_TRUE(m_user.WaitEnded(JOB_TIMEOUT_MS)) << "the job did not end";
        }
        // Releases the job; for a cancelled run this also requests the cancel and waits.
        EXPECT_EQ(_0005_(jobId), 0u);
        m_elapsedMs = ::GetTickCount() - start;
        m_resultsDir = LatestResultsDirectory();
        EXPECT_EQ(_0001_(), 0u);
    }

    static std::string LatestResultsDirectory()
    {
        char temp[MAX_PATH + 1] = {};
        ::GetTempPathA(sizeof temp, temp);
        std::string best;
        WIN32_FIND_DATAA data;
        HANDLE find = ::FindFirstFileA((std::string(temp) + "KVXDIAG2-Results*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::string candidate = std::string(temp) + data.cFileName;
                if (candidate.size() > best.size()) {
                    best = candidate; // the newest has the most "_"
                }
            } while (::FindNextFileA(find, &data));
            ::FindClose(find);
        }
        return best;
    }

    std::vector<SReportLine> Report() const
    {
        return ParseReport(kvxtest::ReadFileText(m_resultsDir + "\\KVXDiagReport.txt"));
    }

    static constexpr const char* FILTERS[] = {"KVXFLTF", "KVXFLTE", "KVXFLTD", "KVXFLTC", "KVXFLTB", "KVXFLTA"};

    kvxtest::CScopedRegistryTree m_resume{HKEY_LOCAL_MACHINE, RESUME_KEY, VENDOR_VIEW};
    // SDK 3.2 switches every one of the six filters through the SDK, so the product's state shows
    // which filters the analysis left off.
    static kvxtest::SSimProductOptions ProductOptions()
    {
        kvxtest::SSimProductOptions options;
        options.sdk = kvxtest::ESimSdk::V3_2;
        return options;
    }
    kvxtest::CSimProduct m_product{ProductOptions()};
    kvxtest::CSimNetCfgRegistration m_netcfgRegistration;
    kvxtest::CSimNetCfgModel m_model;
    CScriptedUser m_user;
    std::string m_resultsDir;
    DWORD m_elapsedMs = 0;
};

TEST_F(BasicAnalysisTest, FixedAtTheThirdFilterLeavesItDisabled)
{
    Run({4, 4, 3});
    EXPECT_EQ(m_user.Codes(), (std::vector<DWORD>{5, 1, 6, 1, 6, 1, 8, 10}));
    const std::vector<SNote> notes = m_user.Notes();
    EXPECT_EQ(notes[1].text, "KVXFLTF");
    EXPECT_EQ(notes[2].data, (std::vector<DWORD>{12, 6, 1}));
    EXPECT_EQ(notes[4].data, (std::vector<DWORD>{12, 6, 2}));
    EXPECT_EQ(notes[6].text, "KVXFLTD");
    EXPECT_EQ(notes[7].text, "Job ended");
    EXPECT_FALSE(m_product.FilterEnabled("KVXFLTD"));
    EXPECT_TRUE(m_product.FilterEnabled("KVXFLTF"));
    EXPECT_TRUE(m_product.FilterEnabled("KVXFLTE"));
    std::cout << "basic analysis with three filter passes took " << m_elapsedMs << " ms\n";

    // The report holds every section and outcome line, in order and at its depth.
    const std::string r = m_resultsDir;
    std::vector<SReportLine> expected = {
        {0, "-> ======================Data Gathering======================"},
        {1, "-> Static Data"},
        {2, "-> Windows Registry System Key"},
        {3, "Windows Registry System key exported to " + r + "\\DataGathering\\StaticData\\RegistrySystemKey.reg"},
        {2, "<- Windows Registry System Key"},
        {2, "-> Loaded drivers"},
        {3, "-> Getting driver list (*"},
        {3, "<- Getting driver list (*"},
        {2, "<- Loaded drivers"},
        {2, "-> Network info and bindings"},
        {2, "<- Network info and bindings"},
        {2, "-> Windows device installation log (setupapi.log)"},
        {2, "<- Windows device installation log (setupapi.log)"},
        {1, "<- Static data gathering, finshed."},
        {0, "<- Data gathering, finshed."},
        {0, "-> Extended Data"},
        {1, "Windows version: *"},
        {1, "System information (systeminfo): written to " + r + "\\DataGathering\\ExtendedData\\systeminfo.txt*"},
        {1, "WFP filters (netsh wfp show filters): written to *"},
        {1, "Network configuration (ipconfig /all): written to *"},
        {1, "System event log, last 7 days (wevtutil epl): written to *"},
        {1, "Minidumps: *"},
        {1, "Application setup log (setupapi.app.log): *"},
        {0, "<- Extended data gathering, finished."},
        {0, "-> ======================Basic Analysis======================"},
    };
    for (const auto& line : FilterPass("KVXFLTF", "The problem was not fixed. Analysis continues with the next filter.")) {
        expected.push_back(line);
    }
    for (const auto& line : FilterPass("KVXFLTE", "The problem was not fixed. Analysis continues with the next filter.")) {
        expected.push_back(line);
    }
    for (const auto& line : FilterPass("KVXFLTD", "The problem was fixed, analysis finished.")) {
        expected.push_back(line);
    }
    expected.push_back({0, "<- ---- Basic Analysis Finished ----"});
    EXPECT_TRUE(ContainsInOrder(Report(), expected));

    // Evidence on disk: the hive, and per filter the snapshots before and after.
    EXPECT_TRUE(kvxtest::FileExists(r + "\\DataGathering\\StaticData\\RegistrySystemKey.reg"));
    for (const char* filter : {"KVXFLTF", "KVXFLTE", "KVXFLTD"}) {
        SCOPED_TRACE(filter);
        const std::string d = r + "\\BasicAnalisys\\" + filter + "\\";
        EXPECT_TRUE(kvxtest::FileExists(d + "Pre\\KVXSnapshot.txt"));
        EXPECT_TRUE(kvxtest::FileExists(d + "Post\\KVXSnapshot.txt"));
        EXPECT_TRUE(kvxtest::FileExists(d + "KVXApiSrvLog.txt")) << "module logs are written into the pass's folder";
    }
    EXPECT_FALSE(kvxtest::FileExists(r + "\\BasicAnalisys\\KVXFLTC")) << "no pass after the culprit";
}

TEST_F(BasicAnalysisTest, NeverFixedAsksSixTimesAndEnablesEveryFilterAgain)
{
    Run({4, 4, 4, 4, 4, 4});
    EXPECT_EQ(m_user.Codes(), (std::vector<DWORD>{5, 1, 6, 1, 6, 1, 6, 1, 6, 1, 6, 1, 6, 7, 10}));
    DWORD current = 0;
    for (const SNote& note : m_user.Notes()) {
        if (note.code == 6) {
            EXPECT_EQ(note.data, (std::vector<DWORD>{12, 6, ++current}));
        }
    }
    for (const char* filter : FILTERS) {
        EXPECT_TRUE(m_product.FilterEnabled(filter)) << filter;
    }
    EXPECT_TRUE(ContainsInOrder(Report(), {{1, "The analysis was unsuccessfull."},
                                           {0, "<- ---- Basic Analysis Finished ----"}}));
}

// A filter the customer had off is still tried, and left off again afterwards.
TEST_F(BasicAnalysisTest, FilterFoundOffStaysOff)
{
    m_product.SetFilter("KVXFLTD", false);
    Run({4, 4, 4, 4, 4, 4});
    for (const char* filter : FILTERS) {
        EXPECT_EQ(m_product.FilterEnabled(filter), std::string(filter) != "KVXFLTD") << filter;
    }
    EXPECT_TRUE(ContainsInOrder(Report(), {{3, "Filter KVXFLTD left disabled, as it was found."}}));
    EXPECT_TRUE(kvx::CChangeJournal::Entries().empty()) << "every pass's entry is gone with its undo";
}

TEST_F(BasicAnalysisTest, ClosingAtTheSecondFilterCancelsAfterAPause)
{
    Run({4, 5});
    EXPECT_EQ(m_user.Codes(), (std::vector<DWORD>{5, 1, 6, 1, 9, 10}));
    const std::vector<SNote> notes = m_user.Notes();
    ASSERT_EQ(notes.size(), 6u);
    EXPECT_GE(notes[4].tick - notes[3].tick, 450u) << "the cancellation is announced after a pause";
    EXPECT_EQ(notes[4].text, "Job cancelled by user");
    // Once the caller has gone nothing would switch the filter on again, so the analysis does.
    EXPECT_TRUE(m_product.FilterEnabled("KVXFLTE"));
    EXPECT_FALSE(kvxtest::CSimProduct::LogsOrCapturesOn());
    EXPECT_TRUE(kvx::CChangeJournal::Entries().empty()) << "the entry of the pass is gone with its change";
    EXPECT_TRUE(ContainsInOrder(Report(), {{3, "KVXDiag is closing, canceling analysis..."},
                                           {3, "Filter KVXFLTE reactivated."},
                                           {1, "The analysis was cancelled."}}));
}

TEST_F(BasicAnalysisTest, CancelBeforeTheLoopStopsAfterTheAnnouncement)
{
    Run({}, true);
    EXPECT_EQ(m_user.Codes(), (std::vector<DWORD>{5}));
    for (const char* filter : FILTERS) {
        EXPECT_TRUE(m_product.FilterEnabled(filter)) << filter;
    }
}

TEST_F(BasicAnalysisTest, UnknownLastAnswerEndsWithoutAVerdict)
{
    Run({4, 4, 4, 4, 4, 9});
    EXPECT_EQ(m_user.Codes(), (std::vector<DWORD>{5, 1, 6, 1, 6, 1, 6, 1, 6, 1, 6, 1, 6, 10}));
    EXPECT_TRUE(m_product.FilterEnabled("KVXFLTA"));
}

TEST_F(BasicAnalysisTest, FilterThatCannotBeDisabledIsSkippedWithoutQuestion)
{
    m_product.FailFunction("KVXDisableFilter", 5);
    Run({});
    EXPECT_EQ(m_user.Codes(), (std::vector<DWORD>{5, 10}));
    EXPECT_TRUE(ContainsInOrder(Report(), {{3, "Error occurred trying to deactivate the KVXFLTF filter. Continue with next."},
                                           {2, "<- PRE"},
                                           {1, "<- -Operations for filter \"KVXFLTF\", Finished"},
                                           {1, "Disabling log and captures..."},
                                           {0, "<- ---- Basic Analysis Finished ----"}}));
    EXPECT_FALSE(kvxtest::CSimProduct::LogsOrCapturesOn()) << "switched off after the last pass all the same";
}

} // namespace
