// A backslash is a separator on Windows even though the writer never emits one, "C:x" is drive-relative
// there, "a." and "a " open "a", and "CON.txt" opens the console. Names are compared through a folded
// key (case folded, trailing dots and spaces cut) whose prefixes are hashed as the name is walked, so a
// set of 65,535 deep names is judged in time linear in their length.
#include "tools/packagereader/EntryNames.h"

#include <cstdint>
#include <unordered_map>

namespace {

// The letters whose case Windows folds and the packer could plausibly meet: ASCII, Latin-1, Greek and
// Cyrillic capitals. Other scripts are compared as written.
uint32_t FoldCase(uint32_t cp)
{
    if ((cp >= 'A' && cp <= 'Z') || (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) || (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) ||
        (cp >= 0x410 && cp <= 0x42F)) {
        return cp + 0x20;
    }
    if (cp >= 0x400 && cp <= 0x40F) {
        return cp + 0x50;
    }
    return cp;
}

// Next code point of UTF-8 text (a byte that is not UTF-8 stands for itself, above the Unicode range).
uint32_t NextCodePoint(const std::string& s, size_t& i)
{
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > s.size()) {
        ++i;
        return 0x110000u + c;
    }
    uint32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        const unsigned char d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) {
            ++i;
            return 0x110000u + c;
        }
        cp = (cp << 6) | (d & 0x3F);
    }
    i += n;
    return cp;
}

// A component as Windows opens it: trailing dots and spaces dropped.
std::string WindowsForm(const std::string& part)
{
    size_t end = part.size();
    while (end > 0 && (part[end - 1] == '.' || part[end - 1] == ' ')) {
        --end;
    }
    return part.substr(0, end);
}

std::string Upper(std::string s)
{
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return s;
}

bool IsDeviceName(const std::string& part)
{
    const std::string form = WindowsForm(part);
    std::string stem = Upper(form.substr(0, form.find('.')));
    while (!stem.empty() && stem.back() == ' ') {
        stem.pop_back();
    }
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$") {
        return true;
    }
    if ((stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem.size() > 3) {
        const std::string digit = stem.substr(3);
        return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" || digit == "\xC2\xB2" ||
            digit == "\xC2\xB3";
    }
    return false;
}

size_t Utf16Length(const std::string& s)
{
    size_t units = 0;
    for (size_t i = 0; i < s.size();) {
        const uint32_t cp = NextCodePoint(s, i);
        units += cp >= 0x10000 && cp < 0x110000 ? 2 : 1;
    }
    return units;
}

constexpr uint64_t FNV_OFFSET = 1469598103934665603ull;
constexpr uint64_t FNV_PRIME = 1099511628211ull;

uint64_t Mix(uint64_t h, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        h = (h ^ ((v >> (8 * i)) & 0xFF)) * FNV_PRIME;
    }
    return h;
}

// The folded key of the name's first `components` components.
std::string FoldedPrefix(const std::string& name, size_t components)
{
    std::string out;
    size_t start = 0;
    for (size_t c = 0; c < components && start <= name.size(); ++c) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) {
            end = name.size();
        }
        const std::string part = WindowsForm(name.substr(start, end - start));
        for (size_t i = 0; i < part.size();) {
            const uint32_t cp = FoldCase(NextCodePoint(part, i));
            out.append(reinterpret_cast<const char*>(&cp), sizeof cp);
        }
        out += '/';
        start = end + 1;
    }
    return out;
}

struct SSeen {
    size_t m_entry = 0;
    size_t m_components = 0;
    bool m_isFile = false;     // the key names a file (a folder key can be met any number of times)
    bool m_explicit = false;   // an entry of its own (a folder entry "a/" or a file)
};

} // namespace

std::string CEntryNames::UnsafeReason(const std::string& name)
{
    if (name.empty()) {
        return "empty name";
    }
    if (name.size() > MAX_NAME_BYTES) {
        return "longer than " + std::to_string(MAX_NAME_BYTES) + " bytes";
    }
    if (name.find('\\') != std::string::npos) {
        return "contains a backslash (a separator on Windows)";
    }
    if (name[0] == '/') {
        return "absolute path";
    }
    if (name.size() >= 2 && name[1] == ':') {
        return "drive letter";
    }
    if (name.find(':') != std::string::npos) {
        return "contains a colon (drive or alternate data stream on Windows)";
    }
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) {
            return "contains a control character";
        }
        if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') {
            return "contains a character Windows does not allow in names";
        }
    }
    const bool folder = name.back() == '/';
    const size_t body = folder ? name.size() - 1 : name.size();
    size_t start = 0;
    while (start <= body) {
        size_t end = name.find('/', start);
        if (end == std::string::npos || end > body) {
            end = body;
        }
        const std::string part = name.substr(start, end - start);
        if (part == ".." || part == ".") {
            return "contains \"" + part + "\"";
        }
        if (part.empty()) {
            return "contains an empty path component";
        }
        if (WindowsForm(part).empty()) {
            return "a component of only dots and spaces";
        }
        if (IsDeviceName(part)) {
            return "\"" + part + "\" is a device name on Windows";
        }
        if (part.size() > MAX_COMPONENT || Utf16Length(part) > MAX_COMPONENT) {
            return "a component longer than " + std::to_string(MAX_COMPONENT) + " characters";
        }
        start = end + 1;
    }
    return std::string();
}

std::vector<std::string> CEntryNames::Problems(const std::vector<SZipEntryRecord>& entries, CMemoryBudget& budget)
{
    std::vector<std::string> problems;
    std::unordered_map<uint64_t, SSeen> seen;
    seen.reserve(entries.size() * 2);
    for (size_t e = 0; e < entries.size(); ++e) {
        const std::string& name = entries[e].m_name;
        const std::string who = "entry " + name + ": ";
        const std::string why = UnsafeReason(name);
        if (!why.empty()) {
            problems.push_back(who + "name refused (" + why + ")");
            continue;
        }
        const bool folder = name.back() == '/';
        const size_t body = folder ? name.size() - 1 : name.size();
        uint64_t hash = FNV_OFFSET;
        size_t start = 0, components = 0;
        while (start <= body) {
            size_t end = name.find('/', start);
            if (end == std::string::npos || end > body) {
                end = body;
            }
            const std::string part = WindowsForm(name.substr(start, end - start));
            for (size_t i = 0; i < part.size();) {
                hash = Mix(hash, FoldCase(NextCodePoint(part, i)));
            }
            hash = Mix(hash, '/');
            ++components;
            const bool last = end == body;
            SSeen mine;
            mine.m_entry = e;
            mine.m_components = components;
            mine.m_isFile = last && !folder;
            mine.m_explicit = last;
            auto it = seen.find(hash);
            if (it == seen.end()) {
                budget.Charge(CMemoryBudget::RECORD_OVERHEAD, "the entries' names");
                seen.emplace(hash, mine);
            } else {
                SSeen& other = it->second;
                // Only a clash is confirmed by comparing the keys themselves: folders shared by many names
                // cost their hash alone, and a name costs its length once.
                const bool clash = mine.m_isFile || other.m_isFile || (mine.m_explicit && other.m_explicit);
                if (!clash) {
                    other.m_explicit = other.m_explicit || mine.m_explicit;
                } else if (other.m_components == components &&
                           FoldedPrefix(entries[other.m_entry].m_name, components) == FoldedPrefix(name, components)) {
                    const std::string& otherName = entries[other.m_entry].m_name;
                    if (otherName == name) {
                        problems.push_back(who + "the package holds it twice");
                    } else if (mine.m_isFile != other.m_isFile) {
                        problems.push_back(who + "a file of that name is also a folder in " + otherName);
                    } else {
                        problems.push_back(who + "collides with " + otherName +
                                           " (the same name once case and trailing dots and spaces are ignored)");
                    }
                    break;
                }
            }
            start = end + 1;
        }
    }
    return problems;
}
