// Removes personal data from the copy of a results directory before it is packed. Each value gets a
// stable token, the same in every file: user names (user-1), the machine's names (computer-1), domains
// (domain-1), host names of the DNS cache and the hosts file (host-1), the domain part of user SIDs
// (S-1-5-21-0-0-1-<RID>), MAC addresses and IPv4/IPv6 addresses (see CAddressMapper).
//
// Matching rules, chosen so that support still reads the evidence:
// - a user name is replaced only as a whole token: as the folder after \Users\ (or \Documents and
//   Settings\) of a path, as the value of a field that names a user ("User Name: ...", "Registered
//   Owner: ..."), or after a replaced computer or domain name and a backslash (CORP\jdoe); elsewhere the
//   word is left alone, so "Default Gateway" and root\SecurityCenter2 survive a user named Default or root;
// - computer, domain and host names are replaced as whole words (a run of letters, digits, '-' and
//   '_', dot-separated labels matched longest first), and as the value of the fields that name them;
// - common words and the product's own driver, service and component names are never learned as
//   names, so they are never replaced outside a field that names the machine.
//
// Use: AddValue for what the machine says about itself, then Learn over every text file (the fields,
// the DNS cache and the hosts file name more), then Clean / CleanFile over every file.
#pragma once

#include "core/privacy/AddressMapper.h"

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

enum EPrivacyKind {
    ePrivacy_USER,
    ePrivacy_COMPUTER,
    ePrivacy_DOMAIN,
    ePrivacy_HOST,
    ePrivacy_SID,
    ePrivacy_MAC,
    ePrivacy_IPV4,
    ePrivacy_IPV6,
    ePrivacy_KIND_COUNT
};

class CPrivacyCleaner {
public:
    // The package's note and the table of tokens that stays behind.
    static constexpr const char* KVX_PRIVACY_NOTE_NAME = "KVXPrivacy.txt";
    static constexpr const char* KVX_PRIVACY_MAP_NAME = "KVXPrivacyMap.txt";

    enum EFileOutcome { eFile_UNCHANGED, eFile_CLEANED, eFile_LEFT_OUT, eFile_FAILED };

    explicit CPrivacyCleaner(const std::array<uint8_t, 16>& key);

    // A value the machine names itself by (profile list, environment, computer name). Common words and
    // the product's names are refused; returns whether the value is now known.
    bool AddValue(EPrivacyKind kind, const std::string& value);
    // A table of an earlier run: its key and tokens are taken over, so a second package names the same
    // machine with the same token. Returns false (and changes nothing) when the text is not such a table.
    bool LoadMap(const std::string& text);

    // First pass: names that the fields of a text, the DNS cache and the hosts file give.
    void Learn(const std::string& archiveName, const std::string& text);
    void Learn(const std::string& archiveName, const char* data, size_t size);
    // Second pass: the text with every known value replaced. Works on whole lines; a text may be fed in
    // pieces that each end at a line end.
    std::string Clean(const std::string& text);
    // The same, appended to `out`, whose memory is reused from piece to piece.
    void Clean(const char* data, size_t size, std::string& out);

    // Why a file cannot be cleaned and must be left out of the package (a hive, an event log, a dump, a
    // capture, a trace or any other binary file), judged by its name and its first bytes; nullptr for a
    // text file. Text in UTF-16 with a byte order mark counts as text.
    static const char* LeftOutReason(const std::string& archiveName, const std::string& head);

    // Both passes on a file of the copy: LearnFile reads it, CleanFile rewrites it in place (or says it
    // must be left out, for the caller to remove). `reason` receives the cause of eFile_LEFT_OUT or the
    // failure of eFile_FAILED.
    bool LearnFile(const std::string& path, const std::string& archiveName);
    EFileOutcome CleanFile(const std::string& path, const std::string& archiveName, std::string& reason);

    // The count of distinct values and of replacements of one kind, for the note.
    size_t Values(EPrivacyKind kind) const { return m_values[kind]; }
    size_t Replacements(EPrivacyKind kind) const { return m_replacements[kind]; }

    // The package's note: what was replaced, how often, and what was left out (archive name, reason).
    std::string NoteText(const std::vector<std::pair<std::string, std::string>>& leftOut) const;
    // The table that stays on the customer's computer: the key and each token with its value.
    std::string MapText() const;

    static const char* KindName(EPrivacyKind kind);

private:
    struct SName {
        EPrivacyKind kind;
        std::string token;
    };

    // The token of a name, made on first use; nullptr for a refused value.
    const std::string* NameToken(EPrivacyKind kind, const std::string& value, bool learnOnly);
    void LearnName(EPrivacyKind kind, const std::string& value) { NameToken(kind, value, true); }
    void LearnField(int field, const std::string& value);
    void LearnHostsLine(const std::string& line);

    void CleanLine(const char* begin, const char* end, std::string& out);
    // Scanners at a position; each appends its replacement and returns the end of what it matched, or
    // nullptr when nothing matched there.
    const char* ReplaceSid(const char* p, const char* end, std::string& out);
    const char* ReplaceMac(const char* p, const char* end, std::string& out);
    const char* ReplaceIPv6(const char* p, const char* end, std::string& out);
    const char* ReplaceIPv4(const char* p, const char* end, std::string& out);
    const char* ReplaceProfile(const char* p, const char* end, std::string& out);
    const char* ReplaceNames(const char* p, const char* end, std::string& out, const char*& skip);
    const char* ReplaceUserAfter(const char* p, const char* end, std::string& out);
    const char* ReplaceFieldValue(int field, const char* p, const char* end, std::string& out);
    const std::string* KnownWord(const char* p, size_t length, EPrivacyKind& kind);

    void Count(EPrivacyKind kind, bool fresh);
    // Counts one replacement by a token, and the value when the token is new to this package.
    void CountToken(EPrivacyKind kind, const std::string& token);

    std::array<uint8_t, 16> m_key;
    CAddressMapper m_addresses;
    // Lower-case value -> token, per kind; users are matched only in their contexts.
    std::unordered_map<std::string, SName> m_words; // computers, domains, hosts: whole words
    std::unordered_map<std::string, std::string> m_users;
    std::map<std::string, std::string> m_sidDomains; // "21-a-b-c" -> token number
    // Tokens met in this package (a value counts once however often it is replaced), and addresses
    // already in the table. Every occurrence passes here, so these are hashed, and the mapped text of
    // each address is kept: a log of 100 MB names the same few addresses over and over.
    std::unordered_set<std::string> m_used;
    std::set<std::string> m_tabled;
    std::unordered_map<uint32_t, std::string> m_ipv4Texts;
    std::unordered_map<std::string, std::string> m_ipv6Texts;
    std::unordered_set<uint64_t> m_macsUsed;
    std::vector<std::pair<std::string, std::string>> m_table[ePrivacy_KIND_COUNT]; // token, value
    size_t m_next[ePrivacy_KIND_COUNT] = {};
    size_t m_values[ePrivacy_KIND_COUNT] = {};
    size_t m_replacements[ePrivacy_KIND_COUNT] = {};
    // Quick rejection of words: the first letters of the known whole-word names, and for each first
    // letter the lengths (bit n: n characters, bit 63: 63 or more).
    void IndexWord(const std::string& lower);
    bool m_firstChar[256] = {};
    uint64_t m_lengths[256] = {};
    size_t m_longest = 0;
    std::string m_scratch;
    std::string m_replacement;
};
