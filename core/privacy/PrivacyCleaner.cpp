#include "core/privacy/PrivacyCleaner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Files are cleaned a piece at a time; a piece ends at a line end, as every rule works within a line.
constexpr size_t KVX_PRIVACY_PIECE = 1u << 20;
// A line longer than this is cleaned in parts: a value cut at the seam may be missed, but memory stays
// bounded whatever a log holds.
constexpr size_t KVX_PRIVACY_LONGEST_LINE = 16u << 20;
// The bytes that decide whether a file is text.
constexpr size_t KVX_PRIVACY_HEAD = 64u << 10;

const char* const kPrefixes[ePrivacy_KIND_COUNT] = {"user-", "computer-", "domain-", "host-", "", "", "", ""};
const char* const kKindNames[ePrivacy_KIND_COUNT] = {"user names", "computer names", "domain names", "host names",
                                                     "user SIDs",  "MAC addresses",  "IPv4 addresses", "IPv6 addresses"};
const char* const kMapKinds[ePrivacy_KIND_COUNT] = {"user", "computer", "domain", "host", "sid", "mac", "ipv4", "ipv6"};

// Words that name nothing personal, and the product's own names: support needs them as they are.
const char* const kCommonWords[] = {
    "localhost", "workgroup", "default", "default user", "defaultuser0", "gateway", "root", "public", "all users",
    "administrator", "administrators", "guest", "system", "local", "local service", "network service",
    "localservice", "networkservice", "systemprofile", "nt authority", "builtin", "nt service", "host", "server",
    "user", "users", "windows", "microsoft", "ethernet", "wi-fi", "wifi", "wlan", "lan", "network", "internet",
    "router", "domain", "n/a", "na", "none", "null", "unknown", "yes", "no", "home", "office", "pc", "desktop",
    "laptop", "computer", "workstation", "-", "wpad", "isatap", "teredo",
};
// The product's own names: never a user, a machine or a host of the customer's.
const char* const kProductNames[] = {
    "orvex", "orvex network manager", "orvex software", "orvex security", "kvxdiag", "kvxdiag2", "kvxdiagcore",
    "kvxapi", "kvxtmgr", "kvxnmgr", "kvximd", "kvxmon", "kvxflta", "kvxfltb", "kvxfltc", "kvxfltd", "kvxflte",
    "kvxfltf", "kvxapisrv", "hostguard",
};
// Values of user fields that name no person. Other user names, "root" and "Administrator" among them, are
// replaced: only in their contexts, where they cannot be a common word.
const char* const kNoUsers[] = {"n/a", "na", "-", "none", "null", "unknown", "system", "local service",
                                "network service", "localservice", "networkservice", "systemprofile", "nt authority",
                                "anonymous logon", "public", "default", "default user", "all users", "defaultuser0",
                                "defaultapppool"};
// The vendor's own hosts lie under this domain.
constexpr const char* KVX_VENDOR_DOMAIN = "orvex.example";


enum EFieldKind { eField_USER, eField_OWNER, eField_COMPUTER, eField_DOMAIN, eField_HOST };

struct SField {
    const char* label; // lower case, without the dots and spaces that lead to the colon
    EFieldKind kind;
};

// Fields of the evidence that name a user, the machine, its domain or a host (English and Spanish
// forms of ipconfig, systeminfo, the event logs and the environment).
const SField kFields[] = {
    {"user name", eField_USER}, {"username", eField_USER}, {"user", eField_USER}, {"account name", eField_USER},
    {"logon user", eField_USER}, {"nombre de usuario", eField_USER}, {"usuario", eField_USER},
    {"nombre de cuenta", eField_USER}, {"target user name", eField_USER}, {"subject user name", eField_USER},
    {"registered owner", eField_OWNER}, {"propietario registrado", eField_OWNER},
    {"registered organization", eField_OWNER}, {"owner", eField_OWNER},
    {"host name", eField_COMPUTER}, {"hostname", eField_COMPUTER}, {"nombre de host", eField_COMPUTER},
    {"computer name", eField_COMPUTER}, {"computername", eField_COMPUTER}, {"computer", eField_COMPUTER},
    {"nombre del equipo", eField_COMPUTER}, {"workstation name", eField_COMPUTER}, {"logon server", eField_COMPUTER},
    {"logonserver", eField_COMPUTER},
    {"domain", eField_DOMAIN}, {"dominio", eField_DOMAIN}, {"primary dns suffix", eField_DOMAIN},
    {"sufijo dns principal", eField_DOMAIN}, {"connection-specific dns suffix", eField_DOMAIN},
    {"userdomain", eField_DOMAIN}, {"userdnsdomain", eField_DOMAIN}, {"account domain", eField_DOMAIN},
    {"dns suffix search list", eField_DOMAIN},
    {"record name", eField_HOST}, {"nombre de registro", eField_HOST}, {"cname record", eField_HOST},
    {"registro cname", eField_HOST}, {"ptr record", eField_HOST}, {"registro ptr", eField_HOST},
};

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerText(const char* p, size_t length)
{
    std::string text(p, length);
    for (char& c : text) {
        c = Lower(c);
    }
    return text;
}

// Character classes by table: the scanner asks them of every byte of every file.
enum : uint8_t { KVX_CLASS_ALNUM = 1, KVX_CLASS_RUN = 2, KVX_CLASS_DIGIT = 4, KVX_CLASS_HEX = 8 };

struct SCharClasses {
    uint8_t of[256];
    SCharClasses() : of()
    {
        for (int c = 0; c < 256; ++c) {
            const bool digit = c >= '0' && c <= '9';
            const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            const bool alnum = digit || alpha || c >= 0x80; // bytes of non-ASCII letters belong to words
            const bool hex = digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            of[c] = static_cast<uint8_t>((alnum ? KVX_CLASS_ALNUM : 0) |
                                         (alnum || c == '-' || c == '_' || c == '.' ? KVX_CLASS_RUN : 0) |
                                         (digit ? KVX_CLASS_DIGIT : 0) | (hex ? KVX_CLASS_HEX : 0));
        }
    }
};
const SCharClasses kClasses;

inline bool IsAlnum(unsigned char c)
{
    return (kClasses.of[c] & KVX_CLASS_ALNUM) != 0;
}

// The characters of a name: letters, digits, '-', '_', and '.' between labels.
inline bool IsRunChar(unsigned char c)
{
    return (kClasses.of[c] & KVX_CLASS_RUN) != 0;
}

int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

inline bool IsDigit(unsigned char c)
{
    return (kClasses.of[c] & KVX_CLASS_DIGIT) != 0;
}

// Where a user name in a path or a field ends.
bool EndsUserName(unsigned char c)
{
    return c == '\\' || c == '/' || c == '"' || c == '\'' || c == '<' || c == '>' || c == '|' || c == ':' ||
        c == '*' || c == '?' || c == ';' || c == ',' || c == ')' || c == '(' || c == '\r' || c == '\n' || c == '\t' ||
        c == '=' || c == ']' || c == '[';
}

bool IsCommon(const std::string& lower, bool user)
{
    if (std::any_of(std::begin(kProductNames), std::end(kProductNames), [&](const char* name) { return lower == name; })) {
        return true;
    }
    if (user) {
        return std::any_of(std::begin(kNoUsers), std::end(kNoUsers), [&](const char* word) { return lower == word; }) ||
            lower.find_first_not_of("0123456789") == std::string::npos;
    }
    for (const char* word : kCommonWords) {
        if (lower == word) {
            return true;
        }
    }
    const size_t vendor = std::strlen(KVX_VENDOR_DOMAIN);
    if (lower == KVX_VENDOR_DOMAIN ||
        (lower.size() > vendor && lower.compare(lower.size() - vendor, vendor, KVX_VENDOR_DOMAIN) == 0 &&
         lower[lower.size() - vendor - 1] == '.')) {
        return true;
    }
    return lower.find_first_not_of("0123456789.") == std::string::npos; // numbers and dotted numbers
}

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// A line "Label . . . : value" or "Label=value": the field's index, and where its value lies.
int FindField(const char* begin, const char* end, const char*& valueBegin, const char*& valueEnd)
{
    const char* p = begin;
    while (p < end && (*p == ' ' || *p == '\t')) {
        ++p;
    }
    const char* labelBegin = p;
    const char* limit = std::min(end, p + 48);
    while (p < limit && *p != ':' && *p != '=') {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (!(IsAlnum(c) || c == ' ' || c == '.' || c == '-' || c == '(' || c == ')')) {
            return -1;
        }
        ++p;
    }
    if (p == limit || p == labelBegin) {
        return -1;
    }
    const char* labelEnd = p;
    while (labelEnd > labelBegin && (labelEnd[-1] == ' ' || labelEnd[-1] == '.')) {
        --labelEnd;
    }
    if (labelEnd == labelBegin || labelEnd - labelBegin > 40) {
        return -1;
    }
    // First letters rule out almost every line before the label is compared.
    const char first = Lower(*labelBegin);
    if (std::strchr("uanltsrpohcdw", first) == nullptr) {
        return -1;
    }
    static const std::unordered_map<std::string, int> fields = [] {
        std::unordered_map<std::string, int> index;
        for (size_t i = 0; i < sizeof kFields / sizeof kFields[0]; ++i) {
            index.emplace(kFields[i].label, static_cast<int>(i));
        }
        return index;
    }();
    const auto found = fields.find(LowerText(labelBegin, static_cast<size_t>(labelEnd - labelBegin)));
    if (found == fields.end()) {
        return -1;
    }
    const char* v = p + 1;
    while (v < end && (*v == ' ' || *v == '\t')) {
        ++v;
    }
    const char* e = end;
    while (e > v && (e[-1] == ' ' || e[-1] == '\t' || e[-1] == '\r')) {
        --e;
    }
    valueBegin = v;
    valueEnd = e;
    return found->second;
}

bool ParseIPv4(const char* p, const char* end, uint32_t& address, const char*& stop)
{
    uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (p >= end || *p != '.') {
                return false;
            }
            ++p;
        }
        unsigned octet = 0;
        int digits = 0;
        while (p < end && IsDigit(static_cast<unsigned char>(*p)) && digits < 4) {
            octet = octet * 10 + static_cast<unsigned>(*p - '0');
            ++p;
            ++digits;
        }
        if (digits == 0 || digits > 3 || octet > 255) {
            return false;
        }
        value = (value << 8) | octet;
    }
    // A version number (10.0.19045.1) or a longer dotted number is not an address.
    if (p < end && (IsAlnum(static_cast<unsigned char>(*p)) ||
                    (*p == '.' && p + 1 < end && IsDigit(static_cast<unsigned char>(p[1]))))) {
        return false;
    }
    address = value;
    stop = p;
    return true;
}

bool ParseIPv6(const char* p, const char* end, CAddressMapper::SIPv6& address, const char*& stop)
{
    const char* q = p;
    while (q < end && (HexValue(static_cast<unsigned char>(*q)) >= 0 || *q == ':' || *q == '.')) {
        ++q;
    }
    // A sentence may end right after an address, or a colon follow it ("fe80::1: up").
    while (q > p && (q[-1] == '.' || (q[-1] == ':' && !(q - p >= 2 && q[-2] == ':')))) {
        --q;
    }
    if (q < end && (IsAlnum(static_cast<unsigned char>(*q)) || *q == '_')) {
        return false;
    }
    uint16_t head[8];
    uint16_t tail[8];
    int headCount = 0;
    int tailCount = 0;
    bool gap = false;
    const char* s = p;
    if (q - s >= 2 && s[0] == ':' && s[1] == ':') {
        gap = true;
        s += 2;
    } else if (s < q && *s == ':') {
        return false;
    }
    while (s < q) {
        const char* groupEnd = s;
        while (groupEnd < q && *groupEnd != ':') {
            ++groupEnd;
        }
        uint16_t* groups = gap ? tail : head;
        int& count = gap ? tailCount : headCount;
        if (std::find(s, groupEnd, '.') != groupEnd) {
            // The last 32 bits as a dotted quad (::ffff:192.0.2.1).
            uint32_t v4 = 0;
            const char* v4End = nullptr;
            if (groupEnd != q || !ParseIPv4(s, q, v4, v4End) || v4End != q || count + 2 > 8) {
                return false;
            }
            groups[count++] = static_cast<uint16_t>(v4 >> 16);
            groups[count++] = static_cast<uint16_t>(v4 & 0xFFFF);
            s = q;
            break;
        }
        if (groupEnd == s || groupEnd - s > 4 || count >= 8) {
            return false;
        }
        unsigned value = 0;
        for (const char* c = s; c < groupEnd; ++c) {
            value = value * 16 + static_cast<unsigned>(HexValue(static_cast<unsigned char>(*c)));
        }
        groups[count++] = static_cast<uint16_t>(value);
        s = groupEnd;
        if (s < q) {
            ++s; // the colon
            if (s < q && *s == ':') {
                if (gap) {
                    return false;
                }
                gap = true;
                ++s;
            } else if (s == q) {
                return false;
            }
        }
    }
    const int total = headCount + tailCount;
    if ((!gap && total != 8) || (gap && total > 7)) {
        return false;
    }
    uint16_t groups[8] = {};
    std::copy(head, head + headCount, groups);
    std::copy(tail, tail + tailCount, groups + 8 - tailCount);
    for (int i = 0; i < 8; ++i) {
        address[2 * i] = static_cast<uint8_t>(groups[i] >> 8);
        address[2 * i + 1] = static_cast<uint8_t>(groups[i] & 0xFF);
    }
    stop = q;
    return true;
}

std::string HexKey(const std::array<uint8_t, 16>& key)
{
    std::string text;
    char byte[3];
    for (uint8_t b : key) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        text += byte;
    }
    return text;
}

// UTF-16 text (with its byte order mark) is cleaned as UTF-8 and written back as it came.
std::string Utf16ToUtf8(const std::string& bytes)
{
    std::string out;
    out.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        uint32_t c = static_cast<uint8_t>(bytes[i]) | static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
            const uint32_t low =
                static_cast<uint8_t>(bytes[i + 2]) | static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 3])) << 8;
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void PutUtf16(std::string& out, uint32_t c)
{
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
}

std::string Utf8ToUtf16(const std::string& text)
{
    std::string out("\xFF\xFE", 2);
    for (size_t i = 0; i < text.size();) {
        const uint8_t b = static_cast<uint8_t>(text[i]);
        uint32_t c = b;
        size_t extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        if (extra > 0 && i + extra < text.size()) {
            c = b & (0x3F >> extra);
            for (size_t k = 1; k <= extra && i + k < text.size(); ++k) {
                c = (c << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
            }
        } else {
            extra = 0;
        }
        i += 1 + extra;
        if (c >= 0x10000) {
            c -= 0x10000;
            PutUtf16(out, 0xD800 + (c >> 10));
            PutUtf16(out, 0xDC00 + (c & 0x3FF));
        } else {
            PutUtf16(out, c);
        }
    }
    return out;
}

struct SFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, SFileCloser>;

bool ReadHead(std::FILE* file, std::string& head)
{
    head.resize(KVX_PRIVACY_HEAD);
    head.resize(std::fread(&head[0], 1, head.size(), file));
    return !std::ferror(file);
}

bool IsUtf16(const std::string& head)
{
    return head.size() >= 2 && static_cast<uint8_t>(head[0]) == 0xFF && static_cast<uint8_t>(head[1]) == 0xFE;
}

// Feeds the file to `piece(data, size, utf16)` in parts that end at line ends (UTF-16 files whole, as
// UTF-8). One buffer serves the whole file: a fresh megabyte per part would cost its page faults again.
template <typename Piece>
bool ForEachPiece(std::FILE* file, const std::string& head, Piece piece)
{
    std::string buffer = head;
    if (IsUtf16(head)) {
        for (size_t got;;) {
            const size_t used = buffer.size();
            buffer.resize(used + KVX_PRIVACY_PIECE);
            got = std::fread(&buffer[used], 1, KVX_PRIVACY_PIECE, file);
            buffer.resize(used + got);
            if (got == 0) {
                break;
            }
        }
        if (std::ferror(file)) {
            return false;
        }
        const std::string text = Utf16ToUtf8(buffer);
        return piece(text.data(), text.size(), true);
    }
    buffer.reserve(2 * KVX_PRIVACY_PIECE);
    for (;;) {
        const size_t cut = buffer.rfind('\n');
        if (cut != std::string::npos || buffer.size() > KVX_PRIVACY_LONGEST_LINE) {
            const size_t length = cut != std::string::npos ? cut + 1 : buffer.size();
            if (!piece(buffer.data(), length, false)) {
                return false;
            }
            buffer.erase(0, length);
        }
        const size_t used = buffer.size();
        buffer.resize(used + KVX_PRIVACY_PIECE);
        const size_t got = std::fread(&buffer[used], 1, KVX_PRIVACY_PIECE, file);
        buffer.resize(used + got);
        if (got == 0) {
            break;
        }
    }
    if (std::ferror(file)) {
        return false;
    }
    return buffer.empty() || piece(buffer.data(), buffer.size(), false);
}

} // namespace

CPrivacyCleaner::CPrivacyCleaner(const std::array<uint8_t, 16>& key) : m_key(key), m_addresses(key) {}

const char* CPrivacyCleaner::KindName(EPrivacyKind kind)
{
    return kKindNames[kind];
}

const std::string* CPrivacyCleaner::NameToken(EPrivacyKind kind, const std::string& value, bool)
{
    std::string trimmed = Trim(value);
    while (!trimmed.empty() && trimmed.back() == '.') {
        trimmed.pop_back();
    }
    if (kind != ePrivacy_USER && trimmed.size() >= 2 && trimmed[0] == '\\' && trimmed[1] == '\\') {
        trimmed.erase(0, 2); // a logon server
    }
    const std::string lower = LowerText(trimmed.data(), trimmed.size());
    // Fields repeat their values line after line: a known value is answered before any rule runs.
    if (kind == ePrivacy_USER) {
        const auto known = m_users.find(lower);
        if (known != m_users.end()) {
            return &known->second;
        }
    } else {
        const auto known = m_words.find(lower);
        if (known != m_words.end()) {
            return &known->second.token;
        }
    }
    if (lower.size() < 2 || IsCommon(lower, kind == ePrivacy_USER) || lower.compare(0, 4, "s-1-") == 0) {
        return nullptr;
    }
    if (kind == ePrivacy_USER) {
        if (std::any_of(lower.begin(), lower.end(), [](char c) { return EndsUserName(static_cast<unsigned char>(c)); })) {
            return nullptr;
        }
        auto found = m_users.find(lower);
        if (found == m_users.end()) {
            const std::string token = kPrefixes[kind] + std::to_string(++m_next[kind]);
            found = m_users.emplace(lower, token).first;
            m_table[kind].emplace_back(token, trimmed);
        }
        return &found->second;
    }
    if (!std::all_of(lower.begin(), lower.end(), [](char c) { return IsRunChar(static_cast<unsigned char>(c)); }) ||
        !IsAlnum(static_cast<unsigned char>(lower.front()))) {
        return nullptr;
    }
    auto found = m_words.find(lower);
    if (found == m_words.end()) {
        const std::string token = kPrefixes[kind] + std::to_string(++m_next[kind]);
        found = m_words.emplace(lower, SName{kind, token}).first;
        m_table[kind].emplace_back(token, trimmed);
        IndexWord(lower);
    }
    return &found->second.token;
}

bool CPrivacyCleaner::AddValue(EPrivacyKind kind, const std::string& value)
{
    if (kind > ePrivacy_HOST) {
        return false;
    }
    if (kind == ePrivacy_COMPUTER || kind == ePrivacy_HOST) {
        // A full name: the first label names the machine, the rest its domain.
        const std::string trimmed = Trim(value);
        const size_t dot = trimmed.find('.');
        if (kind == ePrivacy_COMPUTER && dot != std::string::npos) {
            AddValue(ePrivacy_DOMAIN, trimmed.substr(dot + 1));
            return NameToken(kind, trimmed.substr(0, dot), true) != nullptr;
        }
    }
    return NameToken(kind, value, true) != nullptr;
}

void CPrivacyCleaner::LearnField(int field, const std::string& rawValue)
{
    const std::string value = Trim(rawValue);
    switch (kFields[field].kind) {
    case eField_USER: {
        const size_t slash = value.rfind('\\');
        if (slash != std::string::npos) {
            LearnName(ePrivacy_DOMAIN, value.substr(0, slash));
        }
        LearnName(ePrivacy_USER, slash != std::string::npos ? value.substr(slash + 1) : value);
        break;
    }
    case eField_OWNER:
        LearnName(ePrivacy_USER, value);
        break;
    case eField_COMPUTER:
        AddValue(ePrivacy_COMPUTER, value.compare(0, 2, "\\\\") == 0 ? value.substr(2) : value);
        break;
    case eField_DOMAIN: {
        // A search list names several.
        size_t start = 0;
        while (start < value.size()) {
            size_t stop = value.find_first_of(", ", start);
            if (stop == std::string::npos) {
                stop = value.size();
            }
            LearnName(ePrivacy_DOMAIN, value.substr(start, stop - start));
            start = stop + 1;
        }
        break;
    }
    case eField_HOST:
        LearnName(ePrivacy_HOST, value);
        break;
    }
}

void CPrivacyCleaner::LearnHostsLine(const std::string& line)
{
    const std::string text = line.substr(0, line.find('#'));
    size_t start = text.find_first_not_of(" \t\r");
    bool first = true;
    while (start != std::string::npos) {
        const size_t stop = text.find_first_of(" \t\r", start);
        const std::string word = text.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
        if (!first) {
            LearnName(ePrivacy_HOST, word);
        }
        first = false;
        start = stop == std::string::npos ? stop : text.find_first_not_of(" \t\r", stop);
    }
}

void CPrivacyCleaner::Learn(const std::string& archiveName, const std::string& text)
{
    Learn(archiveName, text.data(), text.size());
}

void CPrivacyCleaner::Learn(const std::string& archiveName, const char* data, size_t size)
{
    const size_t slash = archiveName.find_last_of("\\/");
    const std::string file = LowerText(archiveName.data() + (slash == std::string::npos ? 0 : slash + 1),
                                       archiveName.size() - (slash == std::string::npos ? 0 : slash + 1));
    const bool hosts = file == "hosts" || file == "hosts.txt";
    const char* p = data;
    const char* end = p + size;
    while (p < end) {
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (lineEnd == nullptr) {
            lineEnd = end;
        }
        const char* valueBegin = nullptr;
        const char* valueEnd = nullptr;
        const int field = FindField(p, lineEnd, valueBegin, valueEnd);
        if (field >= 0) {
            LearnField(field, std::string(valueBegin, valueEnd));
        } else if (hosts) {
            LearnHostsLine(std::string(p, lineEnd));
        }
        p = lineEnd + (lineEnd < end ? 1 : 0);
    }
}

void CPrivacyCleaner::Count(EPrivacyKind kind, bool fresh)
{
    ++m_replacements[kind];
    if (fresh) {
        ++m_values[kind];
    }
}

void CPrivacyCleaner::IndexWord(const std::string& lower)
{
    const unsigned char first = static_cast<unsigned char>(lower.front());
    m_firstChar[first] = true;
    m_lengths[first] |= 1ull << std::min<size_t>(lower.size(), 63);
    m_longest = std::max(m_longest, lower.size());
}

void CPrivacyCleaner::CountToken(EPrivacyKind kind, const std::string& token)
{
    bool fresh = false;
    if (m_used.find(token) == m_used.end()) {
        m_used.insert(token);
        fresh = true;
    }
    Count(kind, fresh);
}

const std::string* CPrivacyCleaner::KnownWord(const char* p, size_t length, EPrivacyKind& kind)
{
    if (length > m_longest ||
        (m_lengths[static_cast<unsigned char>(Lower(*p))] & (1ull << std::min<size_t>(length, 63))) == 0) {
        return nullptr;
    }
    m_scratch.assign(p, length);
    for (char& c : m_scratch) {
        c = Lower(c);
    }
    const auto found = m_words.find(m_scratch);
    if (found == m_words.end()) {
        return nullptr;
    }
    kind = found->second.kind;
    CountToken(found->second.kind, found->second.token);
    return &found->second.token;
}

const char* CPrivacyCleaner::ReplaceSid(const char* p, const char* end, std::string& out)
{
    // S-1-5-21-<a>-<b>-<c>[-RID] (machine and domain accounts), S-1-12-1-<a>-<b>-<c>-<d> (Azure AD).
    static const char* const forms[] = {"s-1-5-21-", "s-1-12-1-"};
    for (int form = 0; form < 2; ++form) {
        const size_t prefix = std::strlen(forms[form]);
        if (static_cast<size_t>(end - p) <= prefix ||
            !std::equal(forms[form], forms[form] + prefix, p, [](char a, char b) { return a == Lower(b); })) {
            continue;
        }
        const int parts = form == 0 ? 3 : 4;
        const char* q = p + prefix;
        for (int i = 0; i < parts; ++i) {
            const char* digits = q;
            while (q < end && IsDigit(static_cast<unsigned char>(*q))) {
                ++q;
            }
            if (q == digits || q - digits > 10 || (i + 1 < parts && (q >= end || *q != '-'))) {
                return nullptr;
            }
            if (i + 1 < parts) {
                ++q;
            }
        }
        const std::string domain = LowerText(p, static_cast<size_t>(q - p));
        const char* rid = q;
        if (q + 1 < end && *q == '-' && IsDigit(static_cast<unsigned char>(q[1]))) {
            ++q;
            while (q < end && IsDigit(static_cast<unsigned char>(*q))) {
                ++q;
            }
        }
        if (q < end && (IsAlnum(static_cast<unsigned char>(*q)) || *q == '_')) {
            return nullptr;
        }
        auto found = m_sidDomains.find(domain);
        if (found == m_sidDomains.end()) {
            found = m_sidDomains.emplace(domain, std::to_string(m_sidDomains.size() + 1)).first;
            m_table[ePrivacy_SID].emplace_back(std::string(form == 0 ? "S-1-5-21-0-0-" : "S-1-12-1-0-0-0-") + found->second,
                                               std::string(p, rid));
        }
        const std::string token =
            std::string(form == 0 ? "S-1-5-21-0-0-" : "S-1-12-1-0-0-0-") + found->second + std::string(rid, q);
        CountToken(ePrivacy_SID, token);
        out += token;
        return q;
    }
    return nullptr;
}

const char* CPrivacyCleaner::ReplaceMac(const char* p, const char* end, std::string& out)
{
    if (end - p < 17) {
        return nullptr;
    }
    const char separator = p[2];
    if (separator != '-' && separator != ':' && separator != ' ') {
        return nullptr;
    }
    CAddressMapper::SMac mac;
    bool upper = false;
    for (int i = 0; i < 6; ++i) {
        const int high = HexValue(static_cast<unsigned char>(p[3 * i]));
        const int low = HexValue(static_cast<unsigned char>(p[3 * i + 1]));
        if (high < 0 || low < 0 || (i < 5 && p[3 * i + 2] != separator)) {
            return nullptr;
        }
        upper = upper || (p[3 * i] >= 'A' && p[3 * i] <= 'F') || (p[3 * i + 1] >= 'A' && p[3 * i + 1] <= 'F');
        mac[i] = static_cast<uint8_t>(high << 4 | low);
    }
    const char* q = p + 17;
    if (q < end && (IsRunChar(static_cast<unsigned char>(*q)) || *q == ':' ||
                    (*q == separator && q + 2 < end && HexValue(static_cast<unsigned char>(q[1])) >= 0 &&
                     HexValue(static_cast<unsigned char>(q[2])) >= 0))) {
        return nullptr; // a longer hex string, or a dump of bytes
    }
    if (CAddressMapper::IsKeptMac(mac)) {
        out.append(p, 17);
        return q;
    }
    bool fresh = false;
    const CAddressMapper::SMac mapped = m_addresses.MapMac(mac, &fresh);
    char text[18];
    std::snprintf(text, sizeof text, upper ? "%02X%c%02X%c%02X%c%02X%c%02X%c%02X" : "%02x%c%02x%c%02x%c%02x%c%02x%c%02x",
                  mapped[0], separator, mapped[1], separator, mapped[2], separator, mapped[3], separator, mapped[4],
                  separator, mapped[5]);
    uint64_t key = 0;
    for (uint8_t b : mac) {
        key = key << 8 | b;
    }
    const bool firstHere = m_macsUsed.insert(key).second;
    if (fresh) {
        char original[18];
        std::snprintf(original, sizeof original, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
                      mac[5]);
        char token[18];
        std::snprintf(token, sizeof token, "%02X-%02X-%02X-%02X-%02X-%02X", mapped[0], mapped[1], mapped[2], mapped[3],
                      mapped[4], mapped[5]);
        m_table[ePrivacy_MAC].emplace_back(token, original);
    }
    Count(ePrivacy_MAC, firstHere);
    out += text;
    return q;
}

const char* CPrivacyCleaner::ReplaceIPv6(const char* p, const char* end, std::string& out)
{
    CAddressMapper::SIPv6 address;
    const char* stop = nullptr;
    if (!ParseIPv6(p, end, address, stop)) {
        return nullptr;
    }
    if (CAddressMapper::IsKeptIPv6(address)) {
        out.append(p, stop);
        return stop;
    }
    const std::string key(address.begin(), address.end());
    auto found = m_ipv6Texts.find(key);
    const bool fresh = found == m_ipv6Texts.end();
    if (fresh) {
        const std::string original = CAddressMapper::IPv6Text(address);
        found = m_ipv6Texts.emplace(key, CAddressMapper::IPv6Text(m_addresses.MapIPv6(address))).first;
        if (m_tabled.insert("6:" + original).second) {
            m_table[ePrivacy_IPV6].emplace_back(found->second, original);
        }
    }
    Count(ePrivacy_IPV6, fresh);
    out += found->second;
    return stop;
}

const char* CPrivacyCleaner::ReplaceIPv4(const char* p, const char* end, std::string& out)
{
    uint32_t address = 0;
    const char* stop = nullptr;
    if (!ParseIPv4(p, end, address, stop)) {
        return nullptr;
    }
    if (CAddressMapper::IsKeptIPv4(address)) {
        out.append(p, stop);
        return stop;
    }
    auto found = m_ipv4Texts.find(address);
    const bool fresh = found == m_ipv4Texts.end();
    if (fresh) {
        const std::string original = CAddressMapper::IPv4Text(address);
        found = m_ipv4Texts.emplace(address, CAddressMapper::IPv4Text(m_addresses.MapIPv4(address))).first;
        if (m_tabled.insert("4:" + original).second) {
            m_table[ePrivacy_IPV4].emplace_back(found->second, original);
        }
    }
    Count(ePrivacy_IPV4, fresh);
    out += found->second;
    return stop;
}

// p is at a path separator; a profile folder follows "\Users\" or "\Documents and Settings\".
const char* CPrivacyCleaner::ReplaceProfile(const char* p, const char* end, std::string& out)
{
    static const char* const parents[] = {"users", "documents and settings"};
    const char separator = *p;
    for (const char* parent : parents) {
        const size_t length = std::strlen(parent);
        if (static_cast<size_t>(end - p) < length + 3 || p[length + 1] != separator ||
            !std::equal(parent, parent + length, p + 1, [](char a, char b) { return a == Lower(b); })) {
            continue;
        }
        const char* name = p + length + 2;
        // A known name may hold spaces ("John Smith"); an unknown one ends at the first space or dot
        // (a profile "jdoe.CORP" carries the domain after its user).
        const char* spaced = name;
        while (spaced < end && !EndsUserName(static_cast<unsigned char>(*spaced))) {
            ++spaced;
        }
        const char* plain = name;
        while (plain < spaced && *plain != ' ' && *plain != '.') {
            ++plain;
        }
        const std::string* token = nullptr;
        const char* stop = spaced;
        while (stop > name && stop[-1] == ' ') {
            --stop;
        }
        if (stop > plain) {
            const auto found = m_users.find(LowerText(name, static_cast<size_t>(stop - name)));
            if (found != m_users.end()) {
                token = &found->second;
            }
        }
        if (token == nullptr) {
            stop = plain;
            const std::string lower = LowerText(name, static_cast<size_t>(plain - name));
            if (lower.find_first_of("%$") != std::string::npos) {
                return nullptr; // %USERNAME%, a variable, not a name
            }
            token = NameToken(ePrivacy_USER, std::string(name, plain), false);
        }
        if (token == nullptr) {
            return nullptr;
        }
        CountToken(ePrivacy_USER, *token);
        out.append(p, name);
        out += *token;
        return stop;
    }
    return nullptr;
}

// After CORP or a computer name and a backslash: a known user's name.
const char* CPrivacyCleaner::ReplaceUserAfter(const char* p, const char* end, std::string& out)
{
    const char* stop = p;
    while (stop < end && !EndsUserName(static_cast<unsigned char>(*stop)) && *stop != ' ') {
        ++stop;
    }
    if (stop == p) {
        return nullptr;
    }
    const auto found = m_users.find(LowerText(p, static_cast<size_t>(stop - p)));
    if (found == m_users.end()) {
        return nullptr;
    }
    CountToken(ePrivacy_USER, found->second);
    out += found->second;
    return stop;
}

// p is at the start of a run of name characters; every whole word and dotted name that is known is
// replaced, longest first. Returns the end of what was replaced, or nullptr (and in `skip` the end of
// the run) when the run holds no known name.
const char* CPrivacyCleaner::ReplaceNames(const char* p, const char* end, std::string& out, const char*& skip)
{
    // No name holds two dots running: route's "11...00 15 5d" is a number, dots and a MAC.
    const char* runEnd = p;
    bool candidate = false;
    bool labelStart = true;
    while (runEnd < end && IsRunChar(static_cast<unsigned char>(*runEnd)) &&
           !(*runEnd == '.' && runEnd + 1 < end && runEnd[1] == '.')) {
        candidate = candidate || (labelStart && m_firstChar[static_cast<unsigned char>(Lower(*runEnd))]);
        labelStart = *runEnd == '.';
        ++runEnd;
    }
    skip = runEnd;
    if (!candidate) {
        return nullptr; // most words: no known name starts with their letters
    }
    bool replaced = false;
    const char* label = p;
    while (label < runEnd) {
        const std::string* token = nullptr;
        const char* matchEnd = nullptr;
        EPrivacyKind kind = ePrivacy_HOST;
        if (m_firstChar[static_cast<unsigned char>(Lower(*label))] && IsAlnum(static_cast<unsigned char>(*label))) {
            // Label ends, farthest first.
            for (const char* stop = runEnd; stop > label; --stop) {
                if (stop != runEnd && *stop != '.') {
                    continue;
                }
                token = KnownWord(label, static_cast<size_t>(stop - label), kind);
                if (token != nullptr) {
                    matchEnd = stop;
                    break;
                }
            }
        }
        if (token == nullptr) {
            const char* next = label;
            while (next < runEnd && *next != '.') {
                ++next;
            }
            next = next < runEnd ? next + 1 : runEnd;
            out.append(label, next);
            label = next;
            continue;
        }
        replaced = true;
        out += *token;
        label = matchEnd;
        if (label == runEnd && label + 1 < end && *label == '\\' && kind != ePrivacy_HOST) {
            std::string user;
            const char* after = ReplaceUserAfter(label + 1, end, user);
            if (after != nullptr) {
                out += '\\';
                out += user;
                return after;
            }
        }
    }
    return replaced ? runEnd : nullptr;
}

const char* CPrivacyCleaner::ReplaceFieldValue(int field, const char* p, const char* end, std::string& out)
{
    const EFieldKind kind = kFields[field].kind;
    if (kind != eField_USER && kind != eField_OWNER) {
        return nullptr; // the machine's names were learned; the whole-word rule replaces them
    }
    if (end - p >= 4 && LowerText(p, 4) == "s-1-") {
        return nullptr;
    }
    if (kind == eField_OWNER) {
        const auto found = m_users.find(LowerText(p, static_cast<size_t>(end - p)));
        if (found == m_users.end()) {
            return nullptr;
        }
        CountToken(ePrivacy_USER, found->second);
        out += found->second;
        return end;
    }
    const char* slash = end;
    while (slash > p && slash[-1] != '\\') {
        --slash;
    }
    if (slash > p) {
        CleanLine(p, slash, out); // the domain part, as any text
    }
    const auto found = m_users.find(LowerText(slash, static_cast<size_t>(end - slash)));
    if (found == m_users.end()) {
        if (slash > p) {
            return slash;
        }
        return nullptr;
    }
    CountToken(ePrivacy_USER, found->second);
    out += found->second;
    return end;
}

void CPrivacyCleaner::CleanLine(const char* begin, const char* end, std::string& out)
{
    // Text is copied in stretches: only a match flushes what lies before it.
    const char* p = begin;
    const char* copied = begin;
    bool boundary = true;
    while (p < end) {
        const unsigned char c = static_cast<unsigned char>(*p);
        const uint8_t cls = kClasses.of[c];
        const bool word = boundary && (cls & KVX_CLASS_ALNUM) != 0;
        if (!word && c != '\\' && c != '/' && c != ':') {
            boundary = (cls & KVX_CLASS_RUN) == 0 || (boundary && (c == '-' || c == '.' || c == '_'));
            ++p;
            continue;
        }
        std::string& replacement = m_replacement;
        replacement.clear();
        const char* stop = nullptr;
        const char* skip = nullptr;
        if (c == '\\' || c == '/') {
            stop = ReplaceProfile(p, end, replacement);
        } else if (c == ':') {
            if (p + 1 < end && p[1] == ':' &&
                (p == begin || ((kClasses.of[static_cast<unsigned char>(p[-1])] & KVX_CLASS_HEX) == 0 && p[-1] != ':'))) {
                stop = ReplaceIPv6(p, end, replacement);
            }
        } else {
            if (c == 'S' || c == 's') {
                stop = ReplaceSid(p, end, replacement);
            }
            if (stop == nullptr && (cls & KVX_CLASS_HEX) != 0) {
                stop = ReplaceMac(p, end, replacement);
                if (stop == nullptr) {
                    const char* colon = p;
                    while (colon < end && colon - p < 5 && (kClasses.of[static_cast<unsigned char>(*colon)] & KVX_CLASS_HEX)) {
                        ++colon;
                    }
                    if (colon < end && *colon == ':') {
                        stop = ReplaceIPv6(p, end, replacement);
                    }
                }
            }
            if (stop == nullptr && (cls & KVX_CLASS_DIGIT) != 0) {
                stop = ReplaceIPv4(p, end, replacement);
            }
            if (stop == nullptr) {
                replacement.clear(); // what a scanner wrote before it gave up
                stop = ReplaceNames(p, end, replacement, skip);
            }
        }
        if (stop != nullptr) {
            out.append(copied, p);
            out += replacement;
            p = stop;
            copied = p;
            boundary = true;
            continue;
        }
        if (skip != nullptr) {
            p = skip;
            boundary = true;
            continue;
        }
        boundary = (cls & KVX_CLASS_RUN) == 0 || (boundary && (c == '-' || c == '.' || c == '_'));
        ++p;
    }
    out.append(copied, end);
}

std::string CPrivacyCleaner::Clean(const std::string& text)
{
    std::string out;
    Clean(text.data(), text.size(), out);
    return out;
}

void CPrivacyCleaner::Clean(const char* data, size_t size, std::string& out)
{
    out.reserve(out.size() + size + size / 16);
    const char* p = data;
    const char* end = p + size;
    while (p < end) {
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (lineEnd == nullptr) {
            lineEnd = end;
        }
        const char* valueBegin = nullptr;
        const char* valueEnd = nullptr;
        const int field = FindField(p, lineEnd, valueBegin, valueEnd);
        if (field >= 0) {
            LearnField(field, std::string(valueBegin, valueEnd)); // a value met only now
            CleanLine(p, valueBegin, out);
            const char* stop = ReplaceFieldValue(field, valueBegin, valueEnd, out);
            CleanLine(stop != nullptr ? stop : valueBegin, lineEnd, out);
        } else {
            CleanLine(p, lineEnd, out);
        }
        if (lineEnd < end) {
            out += '\n';
        }
        p = lineEnd + (lineEnd < end ? 1 : 0);
    }
}

const char* CPrivacyCleaner::LeftOutReason(const std::string& archiveName, const std::string& head)
{
    const size_t slash = archiveName.find_last_of("\\/");
    const std::string file = LowerText(archiveName.data() + (slash == std::string::npos ? 0 : slash + 1),
                                       archiveName.size() - (slash == std::string::npos ? 0 : slash + 1));
    const size_t dot = file.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : file.substr(dot + 1);
    if (file == "registrysystemkey.reg" || head.compare(0, 4, "regf") == 0) {
        return "registry hive";
    }
    if (extension == "evtx" || extension == "evt" || head.compare(0, 7, "ElfFile") == 0) {
        return "event log";
    }
    if (extension == "dmp" || extension == "mdmp" || extension == "hdmp" || head.compare(0, 4, "MDMP") == 0 ||
        head.compare(0, 8, "PAGEDU64") == 0 || head.compare(0, 8, "PAGEDUMP") == 0) {
        return "memory dump";
    }
    static const char pcap[] = "\xD4\xC3\xB2\xA1";
    static const char pcapBig[] = "\xA1\xB2\xC3\xD4";
    static const char pcapng[] = "\x0A\x0D\x0D\x0A";
    if (extension == "pcap" || extension == "pcapng" || extension == "cap" || extension == "kvxpcaptmp" ||
        file.compare(0, 10, "kvxpcaptmp") == 0 || head.compare(0, 4, pcap) == 0 || head.compare(0, 4, pcapBig) == 0 ||
        head.compare(0, 4, pcapng) == 0) {
        return "packet capture";
    }
    if (extension == "etl") {
        return "trace";
    }
    if (!IsUtf16(head) && std::memchr(head.data(), '\0', head.size()) != nullptr) {
        return "binary file";
    }
    return nullptr;
}

bool CPrivacyCleaner::LearnFile(const std::string& path, const std::string& archiveName)
{
    UniqueFile file(std::fopen(path.c_str(), "rb"));
    std::string head;
    if (!file || !ReadHead(file.get(), head)) {
        return false;
    }
    if (LeftOutReason(archiveName, head) != nullptr) {
        return true;
    }
    return ForEachPiece(file.get(), head, [&](const char* data, size_t size, bool) {
        Learn(archiveName, data, size);
        return true;
    });
}

CPrivacyCleaner::EFileOutcome CPrivacyCleaner::CleanFile(const std::string& path, const std::string& archiveName,
                                                         std::string& reason)
{
    std::string head;
    {
        UniqueFile file(std::fopen(path.c_str(), "rb"));
        if (!file || !ReadHead(file.get(), head)) {
            reason = "could not be read";
            return eFile_FAILED;
        }
        if (const char* why = LeftOutReason(archiveName, head)) {
            reason = why;
            return eFile_LEFT_OUT;
        }
        const std::string temporary = path + ".kvxclean";
        bool changed = false;
        bool written = true;
        {
            UniqueFile out(std::fopen(temporary.c_str(), "wb"));
            if (!out) {
                reason = "could not be rewritten";
                return eFile_FAILED;
            }
            std::string cleaned;
            const bool read = ForEachPiece(file.get(), head, [&](const char* data, size_t size, bool utf16) {
                cleaned.clear();
                Clean(data, size, cleaned);
                if (cleaned.size() == size && std::memcmp(cleaned.data(), data, size) == 0) {
                    if (utf16) {
                        return true; // nothing to write back: the file stays as it is
                    }
                } else {
                    changed = true;
                }
                if (utf16) {
                    cleaned = Utf8ToUtf16(cleaned);
                }
                written = written && std::fwrite(cleaned.data(), 1, cleaned.size(), out.get()) == cleaned.size();
                return written;
            });
            written = std::fflush(out.get()) == 0 && written;
            if (!read || !written) {
                out.reset();
                std::remove(temporary.c_str());
                reason = read ? "could not be rewritten" : "could not be read";
                return eFile_FAILED;
            }
        }
        file.reset();
        if (!changed) {
            std::remove(temporary.c_str());
            return eFile_UNCHANGED;
        }
        // The copy is ours: the original goes first, as a rename does not replace a file on Windows.
        if (std::remove(path.c_str()) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
            std::remove(temporary.c_str());
            reason = "could not be replaced";
            return eFile_FAILED;
        }
    }
    return eFile_CLEANED;
}

std::string CPrivacyCleaner::NoteText(const std::vector<std::pair<std::string, std::string>>& leftOut) const
{
    std::string text = "KVXDiag2 package cleaned of personal data\r\n"
                       "The customer chose to remove personal data from this package. Each value below was replaced "
                       "by a token, the same token in every file; addresses keep their subnets and their kind. The "
                       "table of tokens stays on the customer's computer.\r\n\r\n";
    for (int kind = 0; kind < ePrivacy_KIND_COUNT; ++kind) {
        text += std::string(kKindNames[kind]) + ": " + std::to_string(m_values[kind]) + " values, " +
            std::to_string(m_replacements[kind]) + " replacements\r\n";
    }
    text += "left out: " + std::to_string(leftOut.size()) + " files\r\n";
    for (const auto& file : leftOut) {
        text += "left out: " + file.first + " (" + file.second + ")\r\n";
    }
    return text;
}

std::string CPrivacyCleaner::MapText() const
{
    std::string text = "# KVXDiag2: the tokens of cleaned packages and the values they stand for. This table stays\r\n"
                       "# on this computer and is never packed; with it you can tell support which machine host-3 is.\r\n"
                       "key\t" +
        HexKey(m_key) + "\r\n";
    for (int kind = 0; kind < ePrivacy_KIND_COUNT; ++kind) {
        for (const auto& entry : m_table[kind]) {
            text += std::string(kMapKinds[kind]) + "\t" + entry.first + "\t" + entry.second + "\r\n";
        }
    }
    return text;
}

bool CPrivacyCleaner::LoadMap(const std::string& text)
{
    std::array<uint8_t, 16> key = {};
    const size_t keyLine = text.find("\nkey\t");
    if (keyLine == std::string::npos || text.size() < keyLine + 5 + 32) {
        return false;
    }
    for (size_t i = 0; i < 16; ++i) {
        const int high = HexValue(static_cast<unsigned char>(text[keyLine + 5 + 2 * i]));
        const int low = HexValue(static_cast<unsigned char>(text[keyLine + 6 + 2 * i]));
        if (high < 0 || low < 0) {
            return false;
        }
        key[i] = static_cast<uint8_t>(high << 4 | low);
    }
    m_key = key;
    m_addresses = CAddressMapper(key);
    m_ipv4Texts.clear();
    m_ipv6Texts.clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t stop = text.find('\n', start);
        if (stop == std::string::npos) {
            stop = text.size();
        }
        std::string line = text.substr(start, stop - start);
        start = stop + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const size_t tab1 = line.find('\t');
        const size_t tab2 = tab1 == std::string::npos ? std::string::npos : line.find('\t', tab1 + 1);
        if (tab2 == std::string::npos) {
            continue;
        }
        const std::string kindName = line.substr(0, tab1);
        const std::string token = line.substr(tab1 + 1, tab2 - tab1 - 1);
        const std::string value = line.substr(tab2 + 1);
        const auto kindAt = std::find_if(std::begin(kMapKinds), std::end(kMapKinds),
                                         [&](const char* name) { return kindName == name; });
        if (kindAt == std::end(kMapKinds)) {
            continue;
        }
        const EPrivacyKind kind = static_cast<EPrivacyKind>(kindAt - std::begin(kMapKinds));
        const std::string lower = LowerText(value.data(), value.size());
        const size_t prefix = std::strlen(kPrefixes[kind]);
        if (kind <= ePrivacy_HOST) {
            if (token.compare(0, prefix, kPrefixes[kind]) != 0 || token.size() == prefix || token.size() > prefix + 9 ||
                token.find_first_not_of("0123456789", prefix) != std::string::npos || lower.empty()) {
                continue;
            }
            m_next[kind] = std::max<size_t>(m_next[kind], std::stoul(token.substr(prefix)));
            if (kind == ePrivacy_USER) {
                m_users.emplace(lower, token);
            } else if (m_words.emplace(lower, SName{kind, token}).second) {
                IndexWord(lower);
            }
            m_table[kind].emplace_back(token, value);
        } else if (kind == ePrivacy_SID) {
            const size_t dash = token.rfind('-');
            if (dash != std::string::npos && m_sidDomains.emplace(lower, token.substr(dash + 1)).second) {
                m_table[kind].emplace_back(token, value);
            }
        } else if (kind == ePrivacy_MAC && value.size() == 17 && token.size() == 17) {
            CAddressMapper::SMac mac;
            uint32_t number = 0;
            for (int i = 0; i < 6; ++i) {
                mac[i] = static_cast<uint8_t>(HexValue(static_cast<unsigned char>(value[3 * i])) << 4 |
                                              HexValue(static_cast<unsigned char>(value[3 * i + 1])));
                if (i >= 3) {
                    number = number << 8 |
                        static_cast<uint32_t>(HexValue(static_cast<unsigned char>(token[3 * i])) << 4 |
                                              HexValue(static_cast<unsigned char>(token[3 * i + 1])));
                }
            }
            m_addresses.SeedMac(mac, number);
            m_table[kind].emplace_back(token, value);
        } else if (kind == ePrivacy_IPV4 || kind == ePrivacy_IPV6) {
            if (m_tabled.insert((kind == ePrivacy_IPV4 ? "4:" : "6:") + value).second) {
                m_table[kind].emplace_back(token, value);
            }
        }
    }
    return true;
}
