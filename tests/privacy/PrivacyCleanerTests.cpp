// The cleaner's matching rules as a table of lines and what they become (false positives included),
// the address mapping by its properties (subnets and kinds kept, over many addresses), stable tokens
// across texts and runs, and the files that are left out.
#include "core/privacy/PrivacyCleaner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::array<uint8_t, 16> kKey = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// The machine of the table: its values in the order their tokens are made.
CPrivacyCleaner MakeCleaner()
{
    CPrivacyCleaner cleaner(kKey);
    EXPECT_TRUE(cleaner.AddValue(ePrivacy_USER, "jdoe"));       // user-1
    EXPECT_TRUE(cleaner.AddValue(ePrivacy_USER, "root"));       // user-2
    EXPECT_TRUE(cleaner.AddValue(ePrivacy_USER, "John Smith")); // user-3
    EXPECT_TRUE(cleaner.AddValue(ePrivacy_COMPUTER, "PLANTPC.corp.example.com")); // domain-1, computer-1
    EXPECT_TRUE(cleaner.AddValue(ePrivacy_DOMAIN, "CORP"));                      // domain-2
    EXPECT_TRUE(cleaner.AddValue(ePrivacy_HOST, "www.mybank.example"));          // host-1
    return cleaner;
}

uint32_t V4(const char* text)
{
    unsigned a, b, c, d;
    EXPECT_EQ(std::sscanf(text, "%u.%u.%u.%u", &a, &b, &c, &d), 4) << text;
    return a << 24 | b << 16 | c << 8 | d;
}

int CommonBits(const uint8_t* a, const uint8_t* b, int width)
{
    int bits = 0;
    while (bits < width && ((a[bits / 8] ^ b[bits / 8]) & (0x80 >> (bits % 8))) == 0) {
        ++bits;
    }
    return bits;
}

int CommonBits4(uint32_t a, uint32_t b)
{
    const uint8_t x[4] = {uint8_t(a >> 24), uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)};
    const uint8_t y[4] = {uint8_t(b >> 24), uint8_t(b >> 16), uint8_t(b >> 8), uint8_t(b)};
    return CommonBits(x, y, 32);
}

CAddressMapper::SIPv6 V6(const std::string& text)
{
    // Through the cleaner's own parser would test it against itself; these are written out in full.
    CAddressMapper::SIPv6 address = {};
    std::istringstream in(text);
    std::string group;
    int i = 0;
    while (std::getline(in, group, ':') && i < 8) {
        const unsigned value = static_cast<unsigned>(std::stoul(group, nullptr, 16));
        address[2 * i] = static_cast<uint8_t>(value >> 8);
        address[2 * i + 1] = static_cast<uint8_t>(value);
        ++i;
    }
    EXPECT_EQ(i, 8) << text;
    return address;
}

TEST(PrivacyCleaner, MatchingRules)
{
    CPrivacyCleaner cleaner = MakeCleaner();
    struct SCase {
        const char* line;
        const char* expected; // nullptr: unchanged
    };
    const SCase cases[] = {
        // User names: a profile folder, a field that names a user, DOMAIN\user; nowhere else.
        {"C:\\Users\\jdoe\\AppData\\Local\\Temp", "C:\\Users\\user-1\\AppData\\Local\\Temp"},
        {"c:/users/JDOE/Desktop", "c:/users/user-1/Desktop"},
        {"C:\\users\\root\\Temp\\KVXDIAG2-Results", "C:\\users\\user-2\\Temp\\KVXDIAG2-Results"},
        {"C:\\Users\\John Smith\\Documents", "C:\\Users\\user-3\\Documents"},
        {"C:\\Documents and Settings\\jdoe.CORP\\Desktop", "C:\\Documents and Settings\\user-1.domain-2\\Desktop"},
        {"C:\\Users\\mallory\\x.txt", "C:\\Users\\user-4\\x.txt"}, // a profile met in a path only
        {"  User Name: CORP\\jdoe", "  User Name: domain-2\\user-1"},
        {"Registered Owner:          John Smith", "Registered Owner:          user-3"},
        {"USERNAME=mallory", "USERNAME=user-4"},
        {"Account: PLANTPC\\root", "Account: computer-1\\user-2"},
        {"jdoe logged on; root was not", nullptr},
        {"Antivirus products (root\\SecurityCenter2)", nullptr},
        {"ROOT\\SecurityCenter2", nullptr},
        {"C:\\Users\\Public\\Documents and C:\\Users\\Default\\NTUSER.DAT", nullptr},
        {"   Default Gateway . . . . . . . . . : 0.0.0.0", nullptr},
        {"User: SYSTEM", nullptr},
        {"Owner: KVXFLTA", nullptr},
        {"%USERPROFILE% is C:\\Users\\%USERNAME%", nullptr},
        // Computer, domain and host names: whole words, longest first.
        {"   Host Name . . . . . . . . . . . . : PLANTPC", "   Host Name . . . . . . . . . . . . : computer-1"},
        {"\\\\PLANTPC\\share", "\\\\computer-1\\share"},
        {"plantpc.corp.example.com resolved", "computer-1.domain-1 resolved"},
        {"PLANTPCX, XPLANTPC, PLANTPC-2, PLANTPC_old", nullptr},
        {"Resolving www.mybank.example.", "Resolving host-1."},
        {"mybank.example and example.com", nullptr},
        {"corp.example.org", "domain-2.example.org"}, // CORP is a whole label there
        {"Domain: WORKGROUP", nullptr},
        // The product's names and plain words.
        {"KVXFLTA switched off by KVXDiag2 (Orvex Network Manager), www.orvex.example answered", nullptr},
        // SIDs of users: the domain part becomes a number, the RID stays.
        {"S-1-5-21-1111111111-2222222222-3333333333-1001", "S-1-5-21-0-0-1-1001"},
        {"(A;;FA;;;S-1-5-21-1111111111-2222222222-3333333333-500)", "(A;;FA;;;S-1-5-21-0-0-1-500)"},
        {"S-1-5-21-9-8-7", "S-1-5-21-0-0-2"},
        {"S-1-5-18 S-1-5-32-544 S-1-5-21-1-2", nullptr},
        // MAC addresses: one number per address, whatever its separators.
        {"   Physical Address. . . . . . . . . : 00-15-5D-01-02-03", "   Physical Address. . . . . . . . . : 02-00-00-00-00-01"},
        {" 11...00 15 5d 01 02 03 ......Ethernet Adapter", " 11...02 00 00 00 00 01 ......Ethernet Adapter"},
        {"mac=00:15:5d:01:02:04", "mac=02:00:00:00:00:02"},
        {"ff-ff-ff-ff-ff-ff static 01-00-5e-00-00-16 00-00-00-00-00-00", nullptr},
        {"00 15 5d 01 02 03 04 05 (a dump)", nullptr},
        // Addresses that say nothing, and numbers that are not addresses.
        {"127.0.0.1:445 255.255.255.0 224.0.0.22 0.0.0.0 128.0.0.0 ::1 :: ff02::1:2", nullptr},
        {"Version 10.0.19045.1, build 6.2.9200.16384, at 12:34:56.789, ratio 1.5", nullptr},
        {"Event ID: 4199, std::string, 999.1.1.1", nullptr},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(cleaner.Clean(c.line), c.expected != nullptr ? c.expected : c.line);
    }
    EXPECT_EQ(cleaner.Values(ePrivacy_USER), 4u);
    EXPECT_EQ(cleaner.Values(ePrivacy_SID), 3u);
    EXPECT_EQ(cleaner.Values(ePrivacy_MAC), 2u);
    EXPECT_EQ(cleaner.Replacements(ePrivacy_MAC), 3u);
}

TEST(PrivacyCleaner, RefusesCommonWordsAndTheProductsNames)
{
    CPrivacyCleaner cleaner(kKey);
    const std::pair<EPrivacyKind, const char*> refused[] = {
        {ePrivacy_COMPUTER, "KVXTMGR"}, {ePrivacy_HOST, "www.orvex.example"}, {ePrivacy_DOMAIN, "WORKGROUP"},
        {ePrivacy_HOST, "localhost"},   {ePrivacy_USER, "Default"},           {ePrivacy_USER, "SYSTEM"},
        {ePrivacy_COMPUTER, "Gateway"}, {ePrivacy_USER, "N/A"},               {ePrivacy_COMPUTER, "x"},
        {ePrivacy_USER, "KVXFLTB"},
    };
    for (const auto& value : refused) {
        SCOPED_TRACE(value.second);
        EXPECT_FALSE(cleaner.AddValue(value.first, value.second));
    }
    EXPECT_TRUE(cleaner.AddValue(ePrivacy_USER, "Administrator")) << "a user's name, matched only in its contexts";
}

// Addresses that shared their first k bits still share exactly k, and each keeps its kind; over a
// spread of addresses of every kind, not only the hand-picked pairs.
TEST(AddressMapper, KeepsSubnetsAndKinds)
{
    const CAddressMapper mapper(kKey);
    const char* const pairs[][2] = {
        {"192.168.1.10", "192.168.1.20"}, {"10.0.0.1", "10.0.0.254"},   {"10.1.2.3", "10.200.2.3"},
        {"8.8.8.8", "8.8.4.4"},           {"203.0.113.5", "203.0.113.77"}, {"172.16.5.4", "172.31.0.1"},
        {"169.254.1.1", "169.254.200.3"}, {"100.64.1.1", "100.127.0.1"}, {"192.0.2.20", "192.0.2.1"},
        {"172.15.0.1", "172.32.0.1"},     {"11.0.0.1", "9.255.255.255"},
    };
    for (const auto& pair : pairs) {
        SCOPED_TRACE(std::string(pair[0]) + " " + pair[1]);
        const uint32_t a = V4(pair[0]);
        const uint32_t b = V4(pair[1]);
        EXPECT_EQ(CommonBits4(mapper.MapIPv4(a), mapper.MapIPv4(b)), CommonBits4(a, b));
        EXPECT_STREQ(CAddressMapper::IPv4Kind(mapper.MapIPv4(a)), CAddressMapper::IPv4Kind(a));
        EXPECT_NE(mapper.MapIPv4(a), a);
    }
    uint32_t seed = 7;
    uint32_t previous = 0;
    int changed = 0;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245u + 12345u;
        const uint32_t a = seed ^ (seed >> 13);
        const uint32_t mapped = mapper.MapIPv4(a);
        ASSERT_STREQ(CAddressMapper::IPv4Kind(mapped), CAddressMapper::IPv4Kind(a)) << CAddressMapper::IPv4Text(a);
        ASSERT_EQ(CommonBits4(mapped, mapper.MapIPv4(previous)), CommonBits4(a, previous)) << CAddressMapper::IPv4Text(a);
        changed += mapped != a;
        previous = a;
    }
    EXPECT_GT(changed, 15000) << "only the kept blocks stay as they are";
    EXPECT_NE(CAddressMapper(std::array<uint8_t, 16>{}).MapIPv4(V4("192.168.1.10")), mapper.MapIPv4(V4("192.168.1.10")))
        << "another key, another mapping";

    const char* const pairs6[][2] = {
        {"2001:0db8:0001:0002:0000:0000:0000:0010", "2001:0db8:0001:0002:0000:0000:0000:0020"},
        {"fe80:0000:0000:0000:0215:5dff:fe01:0203", "fe80:0000:0000:0000:0215:5dff:fe01:0204"},
        {"fd12:3456:0000:0001:0000:0000:0000:0001", "fd12:3456:0001:0001:0000:0000:0000:0001"},
        {"2a00:1450:4001:0800:0000:0000:0000:200e", "2001:0db8:0000:0000:0000:0000:0000:0001"},
    };
    for (const auto& pair : pairs6) {
        SCOPED_TRACE(std::string(pair[0]) + " " + pair[1]);
        const auto a = V6(pair[0]);
        const auto b = V6(pair[1]);
        const auto ma = mapper.MapIPv6(a);
        EXPECT_EQ(CommonBits(ma.data(), mapper.MapIPv6(b).data(), 128), CommonBits(a.data(), b.data(), 128));
        EXPECT_STREQ(CAddressMapper::IPv6Kind(ma), CAddressMapper::IPv6Kind(a));
        EXPECT_NE(ma, a);
    }
    EXPECT_EQ(CAddressMapper::IPv6Text(mapper.MapIPv6(V6("fe80:0000:0000:0000:0215:5dff:fe01:0203"))).compare(0, 6, "fe80::"),
              0)
        << "a link-local address still reads fe80::";
    const auto mapped4 = mapper.MapIPv6(V6("0000:0000:0000:0000:0000:ffff:c0a8:010a"));
    EXPECT_EQ(CAddressMapper::IPv6Text(mapped4), "::ffff:" + CAddressMapper::IPv4Text(mapper.MapIPv4(V4("192.168.1.10"))));
}

// One value, one token in every text; names learned from the DNS cache, the hosts file and the
// fields of one file are replaced in the others; a second run that loads the table agrees.
TEST(PrivacyCleaner, TokensAreStableAcrossFilesAndRuns)
{
    CPrivacyCleaner first(kKey);
    first.Learn("DataGathering\\ExtendedData\\dns-cache.txt",
                "    Record Name . . . . . : tracker.shop.example\r\n    A (Host) Record . . . : 198.51.100.7\r\n"
                "    Record Name . . . . . : www.orvex.example\r\n");
    first.Learn("DataGathering\\ExtendedData\\hosts.txt", "# comment names.example\r\n10.9.8.7  nas.home.example nas\r\n");
    first.Learn("systeminfo.txt", "Host Name:                 DESK-42\r\nDomain:                    home.example\r\n");
    const std::string report = "ping tracker.shop.example [198.51.100.7] from DESK-42 (10.9.8.7), nas up; "
                               "www.orvex.example kept\r\n";
    const std::string log = "DESK-42.home.example to nas.home.example: 198.51.100.7 fe80::215:5dff:fe01:203%11\r\n";
    const std::string cleanedReport = first.Clean(report);
    const std::string cleanedLog = first.Clean(log);
    EXPECT_EQ(cleanedReport.find("tracker"), std::string::npos) << cleanedReport;
    EXPECT_EQ(cleanedReport.find("DESK-42"), std::string::npos) << cleanedReport;
    EXPECT_EQ(cleanedReport.find("198.51.100.7"), std::string::npos) << cleanedReport;
    EXPECT_NE(cleanedReport.find("www.orvex.example kept"), std::string::npos) << cleanedReport;
    EXPECT_NE(cleanedReport.find("host-1 ["), std::string::npos) << cleanedReport;
    EXPECT_NE(cleanedLog.find("computer-1.domain-1 to host-2:"), std::string::npos) << cleanedLog;
    EXPECT_NE(cleanedLog.find("%11"), std::string::npos) << "the zone index stays";
    const std::string mapped = CAddressMapper::IPv4Text(CAddressMapper(kKey).MapIPv4(V4("198.51.100.7")));
    EXPECT_NE(cleanedReport.find(mapped), std::string::npos);
    EXPECT_NE(cleanedLog.find(mapped), std::string::npos);

    CPrivacyCleaner second(std::array<uint8_t, 16>{});
    ASSERT_TRUE(second.LoadMap(first.MapText()));
    EXPECT_EQ(second.Clean(log), cleanedLog);
    EXPECT_EQ(second.Clean(report), cleanedReport);
    EXPECT_FALSE(second.LoadMap("not a table"));
}

TEST(PrivacyCleaner, BinaryFilesAreLeftOut)
{
    const std::pair<const char*, std::string> files[] = {
        {"DataGathering\\StaticData\\RegistrySystemKey.reg", "REGEDIT4"}, // whatever its content says
        {"x\\SYSTEM.hiv", std::string("regf\0\0", 6)},
        {"ExtendedData\\System.evtx", "anything"},
        {"Mini120826-01.dmp", "MDMP"},
        {"BasicAnalisys\\KVXFLTA\\Post\\KVXPcapTmp0.cap", "x"},
        {"KVXNDISKrnModules.etl", "x"},
        {"KVXATDI.dat", std::string("\x01\x00\x02", 3)},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.first);
        EXPECT_NE(CPrivacyCleaner::LeftOutReason(file.first, file.second), nullptr);
    }
    EXPECT_EQ(CPrivacyCleaner::LeftOutReason("KVXATDI.dat", "12:00 TDI_CONNECT 10.0.0.1\r\n"), nullptr);
    EXPECT_EQ(CPrivacyCleaner::LeftOutReason("wfpfilters.xml", std::string("\xFF\xFE<\0?\0", 6)), nullptr)
        << "UTF-16 text is cleaned, not left out";
}

// A UTF-16 file is cleaned in its own encoding; a file with nothing to replace is left untouched.
TEST(PrivacyCleaner, CleansFilesInPlace)
{
    CPrivacyCleaner cleaner = MakeCleaner();
    const std::string path = ::testing::TempDir() + "kvx_privacy_utf16.xml";
    const std::string plain = ::testing::TempDir() + "kvx_privacy_plain.txt";
    const auto utf16 = [](const std::string& text) {
        std::string bytes("\xFF\xFE", 2);
        for (char c : text) {
            bytes += c;
            bytes += '\0';
        }
        return bytes;
    };
    std::ofstream(path, std::ios::binary) << utf16("<path>C:\\Users\\jdoe\\é</path>\r\n");
    std::ofstream(plain, std::ios::binary) << "nothing personal\r\n";
    std::string reason;
    EXPECT_EQ(cleaner.CleanFile(path, "wfpstate.xml", reason), CPrivacyCleaner::eFile_CLEANED) << reason;
    EXPECT_EQ(cleaner.CleanFile(plain, "plain.txt", reason), CPrivacyCleaner::eFile_UNCHANGED) << reason;
    std::string back;
    {
        // Closed before the removal, which an open file would refuse on Windows.
        std::ifstream in(path, std::ios::binary);
        back.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    EXPECT_EQ(back, utf16("<path>C:\\Users\\user-1\\é</path>\r\n"));
    std::remove(path.c_str());
    std::remove(plain.c_str());
}

} // namespace
