// The report is a sequence of "DD-MM-YYYY HH:MM:SS<TAB><TABs>text" lines whose tabs give the section
// depth; "-> " opens a section and "<- " closes one. A deep analysis spans several processes (one per
// boot), and each new process starts with no open section and cannot close the previous boot's, so
// the runs are told apart by the lines each one writes, not by the section structure.
#include "tools/packagereader/ReportReader.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace {

constexpr const char* TITLE_BASIC = "======================Basic Analysis======================";
constexpr const char* TITLE_DEEP = "======================Deep Analysis======================";
constexpr const char* TITLE_BASIC_END = "---- Basic Analysis Finished ----";
constexpr const char* TITLE_FILTER_PREFIX = "-Operations for filter \"";
constexpr const char* TITLE_DRIVERS = "Loaded drivers";
constexpr const char* TITLE_COMPONENTS = "Getting Network Components.";
constexpr const char* TITLE_GATHERING = "Gathering Dinamyc Data";
constexpr size_t DIFFERENCE_LINES = 6;
constexpr size_t SIDE_LINES = 200;
// Failure lines kept in full; the rest are counted. Thousands of "failed" lines say no more than the
// first thousand, and a hostile report could otherwise repeat one line without end.
constexpr size_t FAILURE_LINES_KEPT = 1000;
// Longest line shown in a difference or its side-by-side view (the comparison uses whole lines).
constexpr size_t SHOWN_LINE_LENGTH = 400;
// What a held line view costs: the view itself and its share of the container.
constexpr uint64_t VIEW_COST = 32;
constexpr size_t MAX_SECTION_DEPTH = 256;

struct SLine {
    std::string m_time;
    size_t m_depth = 0;
    enum EKind { eKind_TEXT, eKind_BEGIN, eKind_END } m_kind = eKind_TEXT;
    std::string m_text;
    std::string_view m_view; // the same text inside the report, which outlives the reading
};

using CLines = std::vector<std::string_view>;

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}
bool EndsWith(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}
std::string_view TrimView(std::string_view s)
{
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) {
        ++b;
    }
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) {
        --e;
    }
    return s.substr(b, e - b);
}
bool ViewStartsWith(std::string_view s, std::string_view prefix) { return s.compare(0, prefix.size(), prefix) == 0; }
std::string Shown(std::string_view line)
{
    return line.size() <= SHOWN_LINE_LENGTH ? std::string(line)
                                            : std::string(line.substr(0, SHOWN_LINE_LENGTH)) + " [... " +
            std::to_string(line.size() - SHOWN_LINE_LENGTH) + " more bytes]";
}
std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) {
        ++b;
    }
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) {
        --e;
    }
    return s.substr(b, e - b);
}
std::string Lower(std::string s)
{
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

bool ParseLine(std::string_view raw, SLine& line)
{
    // "07-03-2008 14:05:09\t": 19 characters of date and time and the tab.
    if (raw.size() < 20 || raw[2] != '-' || raw[5] != '-' || raw[10] != ' ' || raw[19] != '\t') {
        return false;
    }
    line.m_time.assign(raw.data(), 19);
    size_t pos = 20;
    while (pos < raw.size() && raw[pos] == '\t') {
        ++pos;
    }
    line.m_depth = pos - 20;
    std::string_view text = raw.substr(pos);
    if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    if (ViewStartsWith(text, "-> ")) {
        line.m_kind = SLine::eKind_BEGIN;
        text.remove_prefix(3);
    } else if (ViewStartsWith(text, "<- ")) {
        line.m_kind = SLine::eKind_END;
        text.remove_prefix(3);
    } else {
        line.m_kind = SLine::eKind_TEXT;
    }
    line.m_text.assign(text.data(), text.size());
    line.m_view = text;
    return true;
}

// "Title (C:\windows\system32\ping.exe args)" names the program "ping".
std::string ProgramOfTitle(const std::string& title)
{
    const size_t open = title.rfind(" (");
    if (open == std::string::npos || title.back() != ')') {
        return std::string();
    }
    const std::string inner = title.substr(open + 2, title.size() - open - 3);
    const size_t exe = Lower(inner).find(".exe");
    if (exe == std::string::npos) {
        return std::string();
    }
    const size_t slash = inner.find_last_of("\\/", exe);
    const size_t begin = slash == std::string::npos ? 0 : slash + 1;
    return Lower(inner.substr(begin, exe - begin));
}

std::string QuotedName(const std::string& title)
{
    // -Operations for filter "NAME"
    const size_t start = std::char_traits<char>::length(TITLE_FILTER_PREFIX);
    if (title.size() < start + 1 || title.back() != '"') {
        return std::string();
    }
    return title.substr(start, title.size() - start - 1);
}

// "Filter %s deactivated." and the like: the name between a prefix and a suffix.
bool NameBetween(const std::string& text, const char* prefix, const char* suffix, std::string& name)
{
    if (!StartsWith(text, prefix) || !EndsWith(text, suffix)) {
        return false;
    }
    const size_t p = std::char_traits<char>::length(prefix), s = std::char_traits<char>::length(suffix);
    if (text.size() < p + s) {
        return false;
    }
    name = text.substr(p, text.size() - p - s);
    return true;
}

bool IsNdisManager(const std::string& name) { return name == "KVXNMGR" || StartsWith(name, "KVXIMD"); }

// The step whose question is about the given driver being off.
int StepTestingDriver(const std::string& driver)
{
    if (IsNdisManager(driver)) {
        return 3;
    }
    static const std::map<std::string, int> steps = {{"KVXFLTE", 4}, {"KVXFLTD", 5}, {"KVXFLTC", 6},
                                                     {"KVXTMGR", 8}, {"KVXFLTF", 9}, {"KVXMON", 10}};
    const auto it = steps.find(driver);
    return it == steps.end() ? 0 : it->second;
}

void ReadIncident(const std::string& text, SPackageStory& story)
{
    // Every Next on the incident page appends a header and a description; the last one counts.
    const std::string marker = "Incidence Number: ";
    const size_t header = text.rfind(marker);
    if (header == std::string::npos) {
        return;
    }
    story.m_hasIncident = true;
    const size_t numberStart = header + marker.size();
    const size_t numberEnd = text.find("  ####", numberStart);
    const size_t lineEnd = text.find('\n', numberStart);
    story.m_incidentNumber = Trim(text.substr(numberStart, std::min(numberEnd, lineEnd) - numberStart));
    std::string description = lineEnd == std::string::npos ? std::string() : text.substr(lineEnd + 1);
    description.erase(std::remove(description.begin(), description.end(), '\r'), description.end());
    while (!description.empty() && (description.front() == '\n' || description.front() == ' ')) {
        description.erase(0, 1);
    }
    while (!description.empty() && (description.back() == '\n' || description.back() == ' ')) {
        description.pop_back();
    }
    story.m_incidentDescription = description;
}

// driverquery's table: the "====" line under the header gives the column boundaries.
void ReadDriverTable(const std::vector<std::string>& lines, SPackageStory& story)
{
    size_t header = lines.size();
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].find("Module Name") != std::string::npos && StartsWith(Trim(lines[i + 1]), "==")) {
            header = i;
            break;
        }
    }
    if (header == lines.size()) {
        return;
    }
    const std::string& rule = lines[header + 1];
    std::vector<std::pair<size_t, size_t>> columns;
    for (size_t pos = 0; pos < rule.size();) {
        if (rule[pos] != '=') {
            ++pos;
            continue;
        }
        const size_t start = pos;
        while (pos < rule.size() && rule[pos] == '=') {
            ++pos;
        }
        columns.emplace_back(start, pos);
    }
    auto cell = [&](const std::string& row, size_t c) {
        if (c >= columns.size() || columns[c].first >= row.size()) {
            return std::string();
        }
        const size_t end = c + 1 < columns.size() ? columns[c + 1].first : row.size();
        return Trim(row.substr(columns[c].first, end - columns[c].first));
    };
    size_t nameCol = 0, stateCol = columns.size(), startCol = columns.size();
    for (size_t c = 0; c < columns.size(); ++c) {
        const std::string title = cell(lines[header], c);
        if (title == "State") {
            stateCol = c;
        } else if (title == "Start Mode") {
            startCol = c;
        } else if (title == "Module Name") {
            nameCol = c;
        }
    }
    for (size_t i = header + 2; i < lines.size(); ++i) {
        SDriverFact fact;
        fact.m_name = cell(lines[i], nameCol);
        if (!StartsWith(fact.m_name, "KVX")) {
            continue;
        }
        fact.m_state = cell(lines[i], stateCol);
        fact.m_startMode = cell(lines[i], startCol);
        story.m_drivers.push_back(fact);
    }
}

// A view of the line as compared: the normal forms are all parts of the line, so nothing is copied.
std::string_view NormalizeForDiff(const std::string& program, std::string_view line)
{
    std::string_view out = TrimView(line);
    if (program == "snapshot" && ViewStartsWith(out, "Taken:")) {
        return std::string_view(); // when it was taken, not what it holds
    }
    if (program == "ping") {
        // Round-trip times change on every run and say nothing about the filter.
        const size_t t = out.find("time");
        if (t != std::string_view::npos) {
            out = out.substr(0, t);
        }
        if (ViewStartsWith(out, "Minimum") || ViewStartsWith(out, "M\xC3\xADnimo") || ViewStartsWith(out, "M\xEDnimo")) {
            return std::string_view();
        }
    }
    return out;
}

std::string PingLoss(const CLines& lines)
{
    for (std::string_view line : lines) {
        const size_t percent = line.find("% ");
        const size_t open = line.rfind('(', percent);
        if (percent != std::string_view::npos && open != std::string_view::npos &&
            line.find("Lost") != std::string_view::npos) {
            return std::string(line.substr(open + 1, percent - open));
        }
    }
    return std::string();
}

// Sorted normal forms of both sides, then their multiset differences: n log n in the lines, and the
// memory of two views per line.
std::vector<std::string> DiffLines(const std::string& program, const CLines& pre, const CLines& post, CMemoryBudget& budget)
{
    budget.Charge((pre.size() + post.size()) * 2 * VIEW_COST, "the Pre/Post comparison");
    CLines a, b;
    a.reserve(pre.size());
    b.reserve(post.size());
    for (std::string_view l : pre) {
        const std::string_view n = NormalizeForDiff(program, l);
        if (!n.empty()) {
            a.push_back(n);
        }
    }
    for (std::string_view l : post) {
        const std::string_view n = NormalizeForDiff(program, l);
        if (!n.empty()) {
            b.push_back(n);
        }
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    std::vector<std::string> out;
    if (program == "ping") {
        const std::string before = PingLoss(pre), after = PingLoss(post);
        if (before != after) {
            out.push_back("loss " + (before.empty() ? std::string("?") : before) + " -> " +
                          (after.empty() ? std::string("?") : after));
        }
    }
    CLines gone, added;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(gone));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(added));
    size_t shown = 0;
    const size_t total = gone.size() + added.size();
    for (std::string_view l : gone) {
        if (shown++ < DIFFERENCE_LINES) {
            out.push_back("- " + Shown(l));
        }
    }
    for (std::string_view l : added) {
        if (shown++ < DIFFERENCE_LINES) {
            out.push_back("+ " + Shown(l));
        }
    }
    budget.Release((pre.size() + post.size()) * 2 * VIEW_COST);
    if (total > DIFFERENCE_LINES) {
        out.push_back("(" + std::to_string(total - DIFFERENCE_LINES) + " more changed lines)");
    }
    return out;
}

// Views of the lines of text (which outlives them), without their line ends.
template <typename FLine>
void ForEachLine(std::string_view text, FLine&& onLine)
{
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        onLine(line);
        pos = end + 1;
    }
}

CLines SplitLines(std::string_view text, CMemoryBudget& budget)
{
    CLines lines;
    ForEachLine(text, [&](std::string_view line) {
        if (line.empty()) {
            return; // compares as nothing, and costs nothing
        }
        budget.Charge(VIEW_COST, "a configuration snapshot's lines");
        lines.push_back(line);
    });
    return lines;
}

class CStoryBuilder {
public:
    CStoryBuilder(SPackageStory& story, CMemoryBudget& budget) : m_story(story), m_budget(budget) {}

    void Line(const SLine& line)
    {
        if (m_stack.size() > line.m_depth) {
            for (size_t i = line.m_depth; i < m_stack.size(); ++i) {
                m_budget.Release(m_stack[i].size() + CMemoryBudget::RECORD_OVERHEAD);
            }
            m_stack.resize(line.m_depth);
            m_stackSection.resize(line.m_depth);
            m_stackProgram.resize(line.m_depth);
            m_stackFlags.resize(line.m_depth);
        }
        if (line.m_kind == SLine::eKind_END) {
            if (line.m_text == TITLE_BASIC_END) {
                m_inBasic = false;
            }
            FinishComponentIfLeft();
            return;
        }
        if (line.m_kind == SLine::eKind_BEGIN) {
            Begin(line);
            m_budget.Charge(line.m_text.size() + CMemoryBudget::RECORD_OVERHEAD, "the open sections");
            m_stack.push_back(line.m_text);
            m_stackSection.push_back(SIZE_MAX);
            m_stackProgram.push_back(ProgramOfTitle(line.m_text));
            m_stackFlags.push_back((m_stackFlags.empty() ? 0u : m_stackFlags.back()) | FlagOf(line.m_text));
            return;
        }
        Text(line);
    }

    void Finish()
    {
        FinishComponentIfLeft(true);
        ReadDriverTable(m_driverLines, m_story);
        Verdict();
        for (const std::string& filter : m_filterOrder) {
            for (const std::string& program : m_programOrder[filter]) {
                const auto& sides = m_dynamic[filter][program];
                AddDifference(filter, program, sides.first, sides.second);
            }
            const auto snapshot = m_snapshotDifferences.find(filter);
            if (snapshot != m_snapshotDifferences.end() && !snapshot->second.m_lines.empty()) {
                m_story.m_differences.push_back(std::move(snapshot->second));
            }
        }
    }

    // Compared at once: the line views of one pair at a time, then only the difference is held.
    void Snapshot(const std::string& filter, const std::string& pre, const std::string& post)
    {
        if (m_programOrder.emplace(filter, std::vector<std::string>()).second) {
            m_filterOrder.push_back(filter);
        }
        const CLines a = SplitLines(pre, m_budget), b = SplitLines(post, m_budget);
        m_snapshotDifferences[filter] = MakeDifference(filter, "snapshot", a, b);
        m_budget.Release((a.size() + b.size()) * VIEW_COST);
    }

private:
    void AddFailure(const SLine& line)
    {
        if (m_story.m_failures.size() >= FAILURE_LINES_KEPT) {
            ++m_story.m_failuresNotKept;
            return;
        }
        size_t section = 0; // the top level
        if (m_story.m_sections.empty()) {
            m_story.m_sections.emplace_back();
        }
        if (!m_stack.empty()) {
            if (m_stackSection.back() == SIZE_MAX) {
                m_budget.Charge(m_stack.back().size() + CMemoryBudget::RECORD_OVERHEAD, "the failure lines' sections");
                m_stackSection.back() = m_story.m_sections.size();
                m_story.m_sections.push_back(m_stack.back());
            }
            section = m_stackSection.back();
        }
        m_budget.Charge(line.m_text.size() + CMemoryBudget::RECORD_OVERHEAD, "the failure lines");
        SFailureLine failure;
        failure.m_section = section;
        failure.m_line = line.m_text;
        failure.m_time = line.m_time;
        m_story.m_failures.push_back(std::move(failure));
    }

    SDifference MakeDifference(const std::string& filter, const std::string& program, const CLines& pre, const CLines& post)
    {
        SDifference difference;
        difference.m_filter = filter;
        difference.m_program = program;
        difference.m_lines = DiffLines(program, pre, post, m_budget);
        if (difference.m_lines.empty()) {
            return difference;
        }
        uint64_t cost = 0;
        for (size_t i = 0; i < pre.size() && i < SIDE_LINES; ++i) {
            difference.m_pre.push_back(Shown(pre[i]));
            cost += difference.m_pre.back().size() + CMemoryBudget::RECORD_OVERHEAD;
        }
        for (size_t i = 0; i < post.size() && i < SIDE_LINES; ++i) {
            difference.m_post.push_back(Shown(post[i]));
            cost += difference.m_post.back().size() + CMemoryBudget::RECORD_OVERHEAD;
        }
        for (const std::string& l : difference.m_lines) {
            cost += l.size() + CMemoryBudget::RECORD_OVERHEAD;
        }
        m_budget.Charge(cost, "the Pre/Post differences");
        return difference;
    }

    void AddDifference(const std::string& filter, const std::string& program, const CLines& pre, const CLines& post)
    {
        SDifference difference = MakeDifference(filter, program, pre, post);
        if (!difference.m_lines.empty()) {
            m_story.m_differences.push_back(std::move(difference));
        }
    }

    // The titles the story looks for among the open sections, one bit each; each level holds the bits of
    // itself and every level above it, so a look-up costs the same however deep the report nests.
    enum : unsigned {
        eOpen_BASIC = 1,
        eOpen_DRIVERS = 2,
        eOpen_GATHERING = 4,
        eOpen_PRE = 8,
        eOpen_POST = 16,
        eOpen_COMPONENTS = 32,
    };
    static unsigned FlagOf(const std::string& title)
    {
        return title == TITLE_BASIC ? eOpen_BASIC
            : title == TITLE_DRIVERS ? eOpen_DRIVERS
            : title == TITLE_GATHERING ? eOpen_GATHERING
            : title == "PRE"           ? eOpen_PRE
            : title == "POST"          ? eOpen_POST
            : title == TITLE_COMPONENTS ? eOpen_COMPONENTS
                                       : 0u;
    }
    bool InStack(unsigned flag) const { return !m_stackFlags.empty() && (m_stackFlags.back() & flag) != 0; }

    void Begin(const SLine& line)
    {
        const std::string& t = line.m_text;
        if (t == TITLE_BASIC) {
            m_inBasic = true;
            m_inDeep = false;
            m_story.m_hasBasic = true;
            return;
        }
        if (t == TITLE_DEEP) {
            NewRun(line, 2);
            return;
        }
        if (StartsWith(t, TITLE_FILTER_PREFIX) && !EndsWith(t, ", Finished")) {
            const std::string name = QuotedName(t);
            if (m_inBasic && InStack(eOpen_BASIC)) {
                SBasicFilterStep step;
                step.m_name = name;
                m_budget.Charge(name.size() + CMemoryBudget::RECORD_OVERHEAD * 2, "the basic analysis");
                m_story.m_basicSteps.push_back(step);
                m_currentFilter = name;
                return;
            }
            if (m_inDeep) {
                SDeepRun* run = CurrentRun();
                const bool sameRun = run != nullptr && !run->m_ended && !m_runOpened &&
                    (run->m_step == 2 || m_runStartedByFix);
                if (!sameRun) {
                    NewRun(line, 0);
                    CurrentRun()->m_answer = "not_fixed";
                }
                m_runOpened = true;
                CurrentRun()->m_driver = name;
            }
            return;
        }
        // A component of the network dump: the section two below the dump's own.
        const size_t depth = m_stackFlags.size();
        const bool dumpTwoAbove = depth >= 2 && (m_stackFlags[depth - 2] & eOpen_COMPONENTS) != 0 &&
            (depth < 3 || (m_stackFlags[depth - 3] & eOpen_COMPONENTS) == 0);
        if (dumpTwoAbove) {
            FinishComponentIfLeft(true);
            m_component = SNetworkComponentFact();
            m_component.m_name = t;
            m_componentDepth = m_stack.size();
            m_inComponent = true;
            return;
        }
        if (m_inComponent && StartsWith(t, "Path ")) {
            m_pathToken = t.substr(5);
        }
    }

    void Text(const SLine& line)
    {
        const std::string& t = line.m_text;
        const bool inProgram = !m_stackProgram.empty() && !m_stackProgram.back().empty();
        if (inProgram) {
            const std::string& program = m_stackProgram.back();
            if (InStack(eOpen_DRIVERS)) {
                m_budget.Charge(t.size() + CMemoryBudget::RECORD_OVERHEAD, "the driver list");
                m_driverLines.push_back(t);
            }
            if (m_inBasic && !m_currentFilter.empty() && InStack(eOpen_GATHERING)) {
                const bool pre = InStack(eOpen_PRE), post = InStack(eOpen_POST);
                if (pre || post) {
                    const auto filter = m_programOrder.emplace(m_currentFilter, std::vector<std::string>());
                    if (filter.second) {
                        m_filterOrder.push_back(m_currentFilter);
                    }
                    auto& programs = m_dynamic[m_currentFilter];
                    if (programs.count(program) == 0) {
                        m_budget.Charge(program.size() * 2 + CMemoryBudget::RECORD_OVERHEAD * 4, "the Pre/Post evidence");
                        filter.first->second.push_back(program);
                    }
                    auto& sides = programs[program];
                    m_budget.Charge(VIEW_COST, "the Pre/Post evidence");
                    (pre ? sides.first : sides.second).push_back(line.m_view);
                }
            }
            if (!StartsWith(t, "Failed to execute program")) {
                return;
            }
        }
        if (CReportReader::IsFailureText(t)) {
            AddFailure(line);
        }
        if (StartsWith(t, "Filter ") && (EndsWith(t, " disabled.") || EndsWith(t, " enabled."))) {
            m_story.m_sdkPresent = true;
        }
        if (StartsWith(t, "Snapshot generated at ")) {
            m_story.m_sdkPresent = true;
        }
        if (m_inComponent) {
            ComponentText(t);
        }
        if (m_inBasic) {
            BasicText(line);
        }
        DeepText(line);
    }

    void ComponentText(const std::string& t)
    {
        if (StartsWith(t, "Component ")) {
            m_component.m_id = Trim(t.substr(10));
        } else if (StartsWith(t, "Enabled ") && !m_pathToken.empty()) {
            m_budget.Charge(m_pathToken.size() + CMemoryBudget::RECORD_OVERHEAD, "the network components");
            m_component.m_bindings.push_back(m_pathToken + (Trim(t.substr(8)) == "Yes" ? " (enabled)" : " (disabled)"));
            m_pathToken.clear();
        }
    }

    void FinishComponentIfLeft(bool force = false)
    {
        if (!m_inComponent || (!force && m_stack.size() >= m_componentDepth)) {
            return;
        }
        m_inComponent = false;
        const std::string id = Lower(m_component.m_id), name = Lower(m_component.m_name);
        if (id.find("kvx") != std::string::npos || name.find("orvex") != std::string::npos) {
            m_budget.Charge(m_component.m_name.size() + m_component.m_id.size() + CMemoryBudget::RECORD_OVERHEAD * 2,
                            "the network components");
            m_story.m_components.push_back(m_component);
        }
    }

    SBasicFilterStep* CurrentFilter()
    {
        return m_story.m_basicSteps.empty() ? nullptr : &m_story.m_basicSteps.back();
    }

    void BasicText(const SLine& line)
    {
        const std::string& t = line.m_text;
        SBasicFilterStep* step = CurrentFilter();
        std::string name;
        if (step != nullptr && NameBetween(t, "Filter ", " deactivated.", name) && name == step->m_name) {
            step->m_switchedOff = true;
        } else if (step != nullptr && NameBetween(t, "Filter ", " reactivated.", name) && name == step->m_name) {
            step->m_reactivated = true;
        } else if (step != nullptr && t == "The problem was fixed, analysis finished.") {
            step->m_answer = "fixed";
            step->m_time = line.m_time;
            m_story.m_basicOutcome = "culprit";
        } else if (step != nullptr && t == "The problem was not fixed. Analysis continues with the next filter.") {
            step->m_answer = "not_fixed";
            step->m_time = line.m_time;
        } else if (step != nullptr && t == "KVXDiag is closing, canceling analysis...") {
            step->m_answer = "exiting";
            step->m_time = line.m_time;
            m_story.m_basicOutcome = "cancelled";
        } else if (t == "The analysis was cancelled.") {
            m_story.m_basicOutcome = "cancelled";
        } else if (t == "The analysis was unsuccessfull.") {
            m_story.m_basicOutcome = "not_found";
        }
    }

    SDeepRun* CurrentRun() { return m_story.m_deepRuns.empty() ? nullptr : &m_story.m_deepRuns.back(); }

    void NewRun(const SLine& line, int step)
    {
        m_inDeep = true;
        m_inBasic = false;
        m_story.m_hasDeep = true;
        SDeepRun run;
        run.m_step = step;
        run.m_time = line.m_time;
        m_budget.Charge(CMemoryBudget::RECORD_OVERHEAD * 4, "the deep analysis");
        m_story.m_deepRuns.push_back(run);
        m_runOpened = false;
        m_runStartedByFix = false;
    }

    void DeepText(const SLine& line)
    {
        const std::string& t = line.m_text;
        std::string name;
        if (t == "Step: INITIALIZATIONS_STEP") {
            NewRun(line, 1);
            return;
        }
        if (!m_inDeep) {
            return;
        }
        SDeepRun* run = CurrentRun();
        if (t == "TDI desactivado OK para evitar conflictos en la desactivacion de IM" && run != nullptr) {
            run->m_driver = "KVXTMGR";
        } else if (t == "!!!Problem fixed deactivating NDIS" || t == "!!!Problem fixed deactivating TDI") {
            NewRun(line, t == "!!!Problem fixed deactivating TDI" ? 8 : 3);
            CurrentRun()->m_answer = "fixed";
            CurrentRun()->m_tested = t == "!!!Problem fixed deactivating TDI" ? "KVXTMGR" : "";
            m_runStartedByFix = true;
        } else if (NameBetween(t, "!!!Problem fixed deactivating ", " filter.", name)) {
            NewRun(line, StepTestingDriver(name));
            run = CurrentRun();
            run->m_answer = "fixed";
            run->m_tested = name;
            run->m_ended = true;
            m_culprit = name;
        } else if (run == nullptr) {
            return;
        } else if (NameBetween(t, "Activating previous filter: ", " ...", name)) {
            if (!name.empty()) {
                run->m_tested = name;
            }
        } else if (NameBetween(t, "Deactivating actual filter: ", " ...", name)) {
            run->m_driver = name;
        } else if (t == "No more filters. DeepAnalysis finished...") {
            run->m_ended = true;
            m_noSolution = true;
        } else if (t == "Reboot canceled by user. Process will continue on next boot ...") {
            run->m_reboot = "refused";
        } else if (t == "Preparing to reboot..." || t == "Reboot...") {
            run->m_reboot = "accepted";
        }
    }

    void DeepSteps()
    {
        // The step each boot performed: its own lines name it when they can; otherwise it is the step the
        // previous boot stored before its accepted reboot.
        int stored = 1;
        std::map<int, std::string> lastDriverOfStep; // the driver an earlier boot switched off for each step's question
        for (SDeepRun& run : m_story.m_deepRuns) {
            if (run.m_step == 0) {
                const int fromTested = StepTestingDriver(run.m_tested);
                run.m_step = fromTested != 0 && !(run.m_tested == "KVXTMGR" && stored == 10) ? fromTested : stored;
            }
            if (run.m_tested.empty() && run.m_step >= 3) {
                const auto earlier = lastDriverOfStep.find(run.m_step);
                if (earlier != lastDriverOfStep.end()) {
                    run.m_tested = earlier->second;
                }
            }
            const int testedBy = StepTestingDriver(run.m_driver);
            if (testedBy != 0) {
                lastDriverOfStep[testedBy] = run.m_driver;
            }
            if (run.m_reboot == "accepted") {
                stored = run.m_step == 1 ? 2 : StepTestingDriver(run.m_driver);
                if (stored == 8 && run.m_step == 10) {
                    stored = 11;
                }
            } else if (run.m_reboot == "refused") {
                stored = run.m_step;
            }
            m_storedStep = stored;
        }
    }

    void Verdict()
    {
        DeepSteps();
        SVerdict& v = m_story.m_verdict;
        if (m_story.m_hasDeep) {
            v.m_analysis = "deep";
            const SDeepRun& last = m_story.m_deepRuns.back();
            if (last.m_ended && !m_culprit.empty() && last.m_answer == "fixed") {
                v.m_kind = "culprit";
                v.m_culprit = m_culprit;
                v.m_layer = CReportReader::LayerOf(m_culprit, true);
            } else if (last.m_ended && m_noSolution) {
                if (!last.m_driver.empty()) {
                    v.m_kind = "workaround";
                    v.m_workaround = last.m_driver;
                    v.m_layer = CReportReader::LayerOf(last.m_driver, true);
                } else {
                    v.m_kind = "no_solution";
                }
            } else {
                v.m_kind = "unfinished";
                v.m_step = m_storedStep;
            }
            return;
        }
        if (!m_story.m_hasBasic) {
            return;
        }
        v.m_analysis = "basic";
        const std::string& outcome = m_story.m_basicOutcome;
        if (outcome == "culprit") {
            for (const SBasicFilterStep& step : m_story.m_basicSteps) {
                if (step.m_answer == "fixed") {
                    v.m_culprit = step.m_name;
                }
            }
            v.m_kind = "culprit";
            v.m_layer = CReportReader::LayerOf(v.m_culprit, false);
        } else {
            v.m_kind = outcome; // not_found | cancelled | unfinished
        }
    }

    SPackageStory& m_story;
    CMemoryBudget& m_budget;
    std::vector<std::string> m_stack;
    std::vector<size_t> m_stackSection;       // per open section: its index in m_story.m_sections, once used
    std::vector<std::string> m_stackProgram;  // per open section: the program its title runs, if any
    std::vector<unsigned> m_stackFlags;       // per open section: eOpen_ bits of it and the sections above
    bool m_inBasic = false;
    bool m_inDeep = false;
    bool m_runOpened = false;
    bool m_runStartedByFix = false;
    bool m_noSolution = false;
    int m_storedStep = 0;
    std::string m_culprit;
    std::string m_currentFilter;
    std::vector<std::string> m_driverLines;
    bool m_inComponent = false;
    size_t m_componentDepth = 0;
    SNetworkComponentFact m_component;
    std::string m_pathToken;
    std::vector<std::string> m_filterOrder;
    std::map<std::string, std::vector<std::string>> m_programOrder;
    std::map<std::string, std::map<std::string, std::pair<CLines, CLines>>> m_dynamic; // views into the report
    std::map<std::string, SDifference> m_snapshotDifferences;
};

} // namespace

bool CReportReader::IsFailureText(const std::string& text)
{
    return StartsWith(text, "Fail") || StartsWith(text, "Error") || StartsWith(text, "ERROR") ||
        text.find("error 0x") != std::string::npos || text.find("Error: 0x") != std::string::npos;
}

std::string CReportReader::LayerOf(const std::string& driver, bool deep)
{
    if (driver.empty()) {
        return std::string();
    }
    if (driver == "KVXTMGR") {
        return "tdi_manager";
    }
    if (IsNdisManager(driver)) {
        return "ndis_manager";
    }
    if (!deep) {
        return "plugin";
    }
    if (driver == "KVXFLTF" || driver == "KVXMON") {
        return "tdi_plugin";
    }
    return "ndis_plugin";
}

SPackageStory CReportReader::Read(const SStoryInputs& inputs, CMemoryBudget& budget)
{
    SPackageStory story;
    if (inputs.m_pIncident != nullptr) {
        ReadIncident(*inputs.m_pIncident, story);
    }
    for (const auto& file : inputs.m_files) {
        if (EndsWith(file.first, "/KVXSnapshot.txt") && file.second > 0) {
            story.m_snapshotPresent = true;
        }
    }
    CStoryBuilder builder(story, budget);
    if (inputs.m_pReport != nullptr) {
        story.m_hasReport = true;
        SLine line;
        ForEachLine(*inputs.m_pReport, [&](std::string_view raw) {
            // Deeper than any report nests: such lines are damage, and following them would make every
            // later line walk a stack as deep as the report is long.
            if (ParseLine(raw, line) && line.m_depth <= MAX_SECTION_DEPTH) {
                builder.Line(line);
            }
        });
    }
    // The configuration snapshots of each filter's two passes, compared like the programs' output.
    for (const auto& snapshot : inputs.m_snapshots) {
        const std::string& path = snapshot.first;
        const std::string suffix = "/Pre/KVXSnapshot.txt";
        if (!StartsWith(path, "BasicAnalisys/") || !EndsWith(path, suffix)) {
            continue;
        }
        const std::string filter = path.substr(14, path.size() - 14 - suffix.size());
        const auto post = inputs.m_snapshots.find("BasicAnalisys/" + filter + "/Post/KVXSnapshot.txt");
        if (post != inputs.m_snapshots.end()) {
            builder.Snapshot(filter, snapshot.second, post->second);
        }
    }
    builder.Finish();
    return story;
}
