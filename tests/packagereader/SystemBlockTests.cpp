// kvxinspect's "System" block from the report lines of the "Extended Data" section, as the wizard
// writes them (time stamp, indentation, the item's time at the end).
#include "tools/packagereader/SystemBlock.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ReportLine(const std::string& text) { return "09-12-2026 17:05:42\t\t" + text + " [0.4 s]\r\n"; }

std::string ExtendedReport(const std::string& auditSetting)
{
    const std::string out = "C:\\Users\\a (b)\\Temp\\KVXDIAG2-Results\\DataGathering\\ExtendedData\\";
    return "09-12-2026 17:05:40\tExtended Data\r\n" +
           ReportLine("Windows version: 10.0.26100, server (RtlGetVersion); CurrentVersion: Windows Server <2025>") +
           ReportLine("Filtering Platform audit policy (auditpol): written to " + out +
                      "auditpol-wfp.csv (301 bytes); Filtering Platform Packet Drop: " + auditSetting +
                      ", Filtering Platform Connection: No Auditing") +
           ReportLine("Antivirus products (root\\SecurityCenter2): written to " + out +
                      "antivirus-products.txt (231 bytes); Windows Defender (state 0x60100: off, up to date); Orvex "
                      "HostGuard (state 0x41000: on, up to date)") +
           ReportLine("Firewall products (root\\SecurityCenter2): not available on this system") +
           ReportLine("Product drivers: written to " + out +
                      "product-drivers.txt (612 bytes); KVXTMGR 5.2.0.1 signed (catalog) by Orvex Software, running, "
                      "system; SDK 4.0.0.0 not signed; not installed: KVXNMGR, KVXIMD") +
           ReportLine("Service, bugcheck and power-loss events, last 30 days (wevtutil qe): written to " + out +
                      "FailureEvents.txt (835 bytes); 4 events: 41 x1, 1001 x2, 7000 x1") +
           ReportLine("Minidump bugcheck codes: written to " + out +
                      "minidump-bugchecks.txt (120 bytes); Mini120926-01.dmp 0x000000D1; Mini110926-01.dmp 0x0000009F") +
           "09-12-2026 17:06:40\tExtended data gathering, finished.\r\n";
}

TEST(SystemBlock, ReadsTheExtendedDataLines)
{
    const SSystemFacts f = CSystemBlock::Read(ExtendedReport("No Auditing"));
    ASSERT_TRUE(f.m_present);
    EXPECT_EQ(f.m_windows, "10.0.26100, server (RtlGetVersion); CurrentVersion: Windows Server <2025>");
    EXPECT_EQ(f.m_securityProducts, (std::vector<std::string>{"Windows Defender (state 0x60100: off, up to date)",
                                                              "Orvex HostGuard (state 0x41000: on, up to date)"}));
    EXPECT_EQ(f.m_drivers, (std::vector<std::string>{"KVXTMGR 5.2.0.1 signed (catalog) by Orvex Software, running, system",
                                                     "SDK 4.0.0.0 not signed", "not installed: KVXNMGR, KVXIMD"}));
    EXPECT_EQ(f.m_bugchecks, (std::vector<std::string>{"Mini120926-01.dmp 0x000000D1", "Mini110926-01.dmp 0x0000009F"}));
    EXPECT_EQ(f.m_bugcheckEvents, 2u);
    EXPECT_EQ(f.m_powerLossEvents, 1u);
    EXPECT_EQ(f.m_serviceFailures, 1u);

    const std::string text = CSystemBlock::Text(f);
    EXPECT_NE(text.find("\nSystem\n"), std::string::npos);
    EXPECT_NE(text.find("  WFP drops  auditing off (Filtering Platform Packet Drop: No Auditing"), std::string::npos) << text;
    const nlohmann::ordered_json json = CSystemBlock::Json(f);
    EXPECT_EQ(json["wfp_drop_auditing"], "off");
    EXPECT_EQ(json["bugcheck_events"], 2);
    EXPECT_EQ(json["product_drivers"].size(), 3u);
    const std::string html = CSystemBlock::Html(f, [](const std::string& s) {
        std::string e;
        for (char c : s) {
            e += c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
        }
        return e;
    });
    EXPECT_NE(html.find("Windows Server &lt;2025&gt;"), std::string::npos);
    EXPECT_EQ(html.find("<2025>"), std::string::npos);
}

TEST(SystemBlock, DropAuditingAndOlderReports)
{
    const struct {
        const char* setting;
        const char* expected;
    } cases[] = {{"No Auditing", "off"}, {"Failure", "on"}, {"Success and Failure", "on"}, {"Keine Überwachung", "unknown"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        EXPECT_EQ(CSystemBlock::Read(ExtendedReport(c.setting)).m_dropAuditing, c.expected);
    }
    // A report from before the section: no block at all, JSON null.
    const SSystemFacts old = CSystemBlock::Read("09-12-2026 17:05:40\tStatic Data\r\n");
    EXPECT_FALSE(old.m_present);
    EXPECT_EQ(CSystemBlock::Text(old), "");
    EXPECT_TRUE(CSystemBlock::Json(old).is_null());
}

} // namespace
