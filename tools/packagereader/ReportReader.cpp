// The report is a sequence of "DD-MM-YYYY HH:MM:SS<TAB><TABs>text" lines whose tabs give the section
// depth; "-> " opens a section and "<- " closes one. A deep analysis spans several processes (one per
// boot), and each new process starts with no open section and cannot close the previous boot's, so
// the runs are told apart by the lines each one writes, not by the section structure.
#include "tools/packagereader/ReportReader.h"

#include <algorithm>
#include <set>
#include <sstream>

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

struct SLine {
    std::string m_time;
    size_t m_depth = 0;
    enum EKind { eKind_TEXT, eKind_BEGIN, eKind_END } m_kind = eKind_TEXT;
    std::string m_text;
};

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}
bool EndsWith(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
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

bool ParseLine(const std::string& raw, SLine& line)
{
    // "07-03-2008 14:05:09\t": 19 characters of date and time and the tab.
    if (raw.size() < 20 || raw[2] != '-' || raw[5] != '-' || raw[10] != ' ' || raw[19] != '\t') {
        return false;
    }
    line.m_time = raw.substr(0, 19);
    size_t pos = 20;
    while (pos < raw.size() && raw[pos] == '\t') {
        ++pos;
    }
    line.m_depth = pos - 20;
    std::string text = raw.substr(pos);
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    if (StartsWith(text, "-> ")) {
        line.m_kind = SLine::eKind_BEGIN;
        text.erase(0, 3);
    } else if (StartsWith(text, "<- ")) {
        line.m_kind = SLine::eKind_END;
        text.erase(0, 3);
    } else {
        line.m_kind = SLine::eKind_TEXT;
    }
    line.m_text = text;
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

std::string NormalizeForDiff(const std::string& program, const std::string& line)
{
    std::string out = Trim(line);
    if (program == "snapshot" && StartsWith(out, "Taken:")) {
        return std::string(); // when it was taken, not what it holds
    }
    if (program == "ping") {
        // Round-trip times change on every run and say nothing about the filter.
        const size_t t = out.find("time");
        if (t != std::string::npos) {
            out = out.substr(0, t);
        }
        if (StartsWith(out, "Minimum") || StartsWith(out, "M\xC3\xADnimo") || StartsWith(out, "M\xEDnimo")) {
            return std::string();
        }
    }
    return out;
}

std::string PingLoss(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        const size_t percent = line.find("% ");
        const size_t open = line.rfind('(', percent);
        if (percent != std::string::npos && open != std::string::npos && line.find("Lost") != std::string::npos) {
            return line.substr(open + 1, percent - open);
        }
    }
    return std::string();
}

std::vector<std::string> DiffLines(const std::string& program, const std::vector<std::string>& pre,
                                   const std::vector<std::string>& post)
{
    std::multiset<std::string> a, b;
    for (const std::string& l : pre) {
        const std::string n = NormalizeForDiff(program, l);
        if (!n.empty()) {
            a.insert(n);
        }
    }
    for (const std::string& l : post) {
        const std::string n = NormalizeForDiff(program, l);
        if (!n.empty()) {
            b.insert(n);
        }
    }
    std::vector<std::string> out;
    if (program == "ping") {
        const std::string before = PingLoss(pre), after = PingLoss(post);
        if (before != after) {
            out.push_back("loss " + (before.empty() ? std::string("?") : before) + " -> " +
                          (after.empty() ? std::string("?") : after));
        }
    }
    std::vector<std::string> gone, added;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(gone));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(added));
    size_t shown = 0;
    const size_t total = gone.size() + added.size();
    for (const std::string& l : gone) {
        if (shown++ < DIFFERENCE_LINES) {
            out.push_back("- " + l);
        }
    }
    for (const std::string& l : added) {
        if (shown++ < DIFFERENCE_LINES) {
            out.push_back("+ " + l);
        }
    }
    if (total > DIFFERENCE_LINES) {
        out.push_back("(" + std::to_string(total - DIFFERENCE_LINES) + " more changed lines)");
    }
    return out;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

class CStoryBuilder {
public:
    explicit CStoryBuilder(SPackageStory& story) : m_story(story) {}

    void Line(const SLine& line)
    {
        if (m_stack.size() > line.m_depth) {
            m_stack.resize(line.m_depth);
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
            m_stack.push_back(line.m_text);
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
                SDifference difference;
                difference.m_filter = filter;
                difference.m_program = program;
                difference.m_lines = DiffLines(program, sides.first, sides.second);
                if (difference.m_lines.empty()) {
                    continue;
                }
                difference.m_pre.assign(sides.first.begin(), sides.first.begin() + std::min(SIDE_LINES, sides.first.size()));
                difference.m_post.assign(sides.second.begin(), sides.second.begin() + std::min(SIDE_LINES, sides.second.size()));
                m_story.m_differences.push_back(difference);
            }
        }
    }

    void Snapshot(const std::string& filter, const std::string& pre, const std::string& post)
    {
        if (std::find(m_filterOrder.begin(), m_filterOrder.end(), filter) == m_filterOrder.end()) {
            m_filterOrder.push_back(filter);
        }
        m_programOrder[filter].push_back("snapshot");
        m_dynamic[filter]["snapshot"] = {SplitLines(pre), SplitLines(post)};
    }

private:
    bool InStack(const char* title) const { return std::find(m_stack.begin(), m_stack.end(), title) != m_stack.end(); }

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
            if (m_inBasic && InStack(TITLE_BASIC)) {
                SBasicFilterStep step;
                step.m_name = name;
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
        const auto dump = std::find(m_stack.begin(), m_stack.end(), TITLE_COMPONENTS);
        if (dump != m_stack.end() && static_cast<size_t>(m_stack.end() - dump) == 2) {
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
        const bool inProgram = !m_stack.empty() && !ProgramOfTitle(m_stack.back()).empty();
        if (inProgram) {
            const std::string program = ProgramOfTitle(m_stack.back());
            if (InStack(TITLE_DRIVERS)) {
                m_driverLines.push_back(t);
            }
            if (m_inBasic && !m_currentFilter.empty() && InStack(TITLE_GATHERING)) {
                const bool pre = InStack("PRE"), post = InStack("POST");
                if (pre || post) {
                    if (std::find(m_filterOrder.begin(), m_filterOrder.end(), m_currentFilter) == m_filterOrder.end()) {
                        m_filterOrder.push_back(m_currentFilter);
                    }
                    auto& order = m_programOrder[m_currentFilter];
                    if (std::find(order.begin(), order.end(), program) == order.end()) {
                        order.push_back(program);
                    }
                    auto& sides = m_dynamic[m_currentFilter][program];
                    (pre ? sides.first : sides.second).push_back(t);
                }
            }
            if (!StartsWith(t, "Failed to execute program")) {
                return;
            }
        }
        if (CReportReader::IsFailureText(t)) {
            SFailureLine failure;
            failure.m_section = m_stack.empty() ? std::string() : m_stack.back();
            failure.m_line = t;
            failure.m_time = line.m_time;
            m_story.m_failures.push_back(failure);
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
        for (SDeepRun& run : m_story.m_deepRuns) {
            if (run.m_step == 0) {
                const int fromTested = StepTestingDriver(run.m_tested);
                run.m_step = fromTested != 0 && !(run.m_tested == "KVXTMGR" && stored == 10) ? fromTested : stored;
            }
            if (run.m_tested.empty() && run.m_step >= 3) {
                for (const auto& other : m_story.m_deepRuns) {
                    if (&other == &run) {
                        break;
                    }
                    if (StepTestingDriver(other.m_driver) == run.m_step) {
                        run.m_tested = other.m_driver;
                    }
                }
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
    std::vector<std::string> m_stack;
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
    std::map<std::string, std::map<std::string, std::pair<std::vector<std::string>, std::vector<std::string>>>> m_dynamic;
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

SPackageStory CReportReader::Read(const SStoryInputs& inputs)
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
    CStoryBuilder builder(story);
    if (inputs.m_pReport != nullptr) {
        story.m_hasReport = true;
        std::istringstream in(*inputs.m_pReport);
        std::string raw;
        SLine line;
        while (std::getline(in, raw)) {
            if (ParseLine(raw, line)) {
                builder.Line(line);
            }
        }
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
