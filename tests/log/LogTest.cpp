// The diagnostic log: configuration from the registry, thresholds, banner, emptying and line format.
#include "common/log/KVXDiagObject.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

constexpr const char* LOG_KEY = "Software\\Orvex Software\\Orvex Network Manager\\KVXDiag2\\Log\\DD000001";
#ifdef _WIN64
constexpr REGSAM VENDOR_VIEW = KEY_WOW64_32KEY;
#else
constexpr REGSAM VENDOR_VIEW = 0;
#endif

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { m_file = m_dir.Path() + "\\KVXDiagLog.dat"; }
    void TearDown() override
    {
        // Drop the handle on our file so the directory can go.
        CKVXDiagObject reset;
    }

    void Configure(DWORD level, DWORD device = 1, DWORD maxKB = 65536, DWORD enabled = 1)
    {
        ASSERT_TRUE(kvxtest::SetString(HKEY_LOCAL_MACHINE, LOG_KEY, "LOG_FilePath", m_file, VENDOR_VIEW));
        ASSERT_TRUE(kvxtest::SetDword(HKEY_LOCAL_MACHINE, LOG_KEY, "LOG_Level", level, VENDOR_VIEW));
        ASSERT_TRUE(kvxtest::SetDword(HKEY_LOCAL_MACHINE, LOG_KEY, "LOG_OutputDevice", device, VENDOR_VIEW));
        ASSERT_TRUE(kvxtest::SetDword(HKEY_LOCAL_MACHINE, LOG_KEY, "LOG_FileMaxSizeKB", maxKB, VENDOR_VIEW));
        ASSERT_TRUE(kvxtest::SetDword(HKEY_LOCAL_MACHINE, LOG_KEY, "LOG_Enabled", enabled, VENDOR_VIEW));
    }

    // Each constructed object resets the shared state, so the next line reads the configuration anew.
    static void Reset() { CKVXDiagObject reset; }

    std::string Contents() const { return kvxtest::ReadFileText(m_file); }

    kvxtest::CScopedRegistryTree m_key{HKEY_LOCAL_MACHINE, "Software\\Orvex Software\\Orvex Network Manager\\KVXDiag2",
                                       VENDOR_VIEW};
    kvxtest::CScopedTempDir m_dir{"log"};
    std::string m_file;
};

TEST_F(LogTest, WithoutConfigurationNothingIsWritten)
{
    Reset();
    CKVXDiagObject::WriteLog(1, KVXDIAG_MODULE_CORE, "F", "%s", "x");
    EXPECT_FALSE(kvxtest::FileExists(m_file));
}

TEST_F(LogTest, InvalidOutputDeviceFallsBackToDefaultsAndLogsNothing)
{
    Configure(85000, 3);
    Reset();
    CKVXDiagObject::WriteLog(1, KVXDIAG_MODULE_CORE, "F", "%s", "x");
    EXPECT_FALSE(kvxtest::FileExists(m_file));
}

TEST_F(LogTest, ThresholdIsANumberAndEqualLevelIsWritten)
{
    struct SCase {
        DWORD threshold;
        DWORD level;
        bool written;
    } cases[] = {
        {85000, 1, true}, {85000, 512, true}, {100, 16, true}, {100, 128, false},
        {100, 512, false}, {128, 128, true},  {3, 4, false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "threshold " << c.threshold << " level " << c.level);
        ::DeleteFileA(m_file.c_str());
        Configure(c.threshold);
        Reset();
        CKVXDiagObject::WriteLog(c.level, KVXDIAG_MODULE_CORE, "CTest::Level", "%s", "marker");
        EXPECT_EQ(Contents().find("[marker]") != std::string::npos, c.written);
        Reset();
    }
}

TEST_F(LogTest, LineFormatAndBannerAfterEachReset)
{
    Configure(85000);
    Reset();
    CKVXDiagObject::WriteLog(512, KVXDIAG_MODULE_CORE, "CForeman::Init", "%s", "Inicio función.");
    CKVXDiagObject::WriteLog(16, KVXDIAG_MODULE_GUI, "TMainForm::btNextClick", "valor %d", 42);
    CKVXDiagObject::WriteLog(4, 0x1234, "F", "%s", "otro");
    const std::string text = Contents();
    const std::regex line(R"(\[LogLevel=200\]\[\d\d:\d\d:\d\d,\d\d\d\]\[IdProc=\d+\]\[IdHilo=[0-9A-F]+\])"
                          R"(\[KVXDIAG_CORE:CForeman::Init\]\[Inicio función\.\]\r\n)");
    EXPECT_TRUE(std::regex_search(text, line)) << text;
    EXPECT_NE(text.find("[KVXDIAG_GUI:TMainForm::btNextClick][valor 42]\r\n"), std::string::npos);
    EXPECT_NE(text.find("[LogLevel=4]"), std::string::npos);
    EXPECT_NE(text.find("[0x1234:F][otro]"), std::string::npos);
    EXPECT_NE(text.find("Inicia ejecución "), std::string::npos);
    EXPECT_NE(text.find(std::string(124, '*')), std::string::npos);

    auto banners = [](const std::string& s) {
        size_t count = 0;
        for (size_t at = s.find("Inicia ejecución"); at != std::string::npos; at = s.find("Inicia ejecución", at + 1)) {
            ++count;
        }
        return count;
    };
    EXPECT_EQ(banners(text), 1u);
    Reset();
    CKVXDiagObject::WriteLog(16, KVXDIAG_MODULE_CORE, "F", "%s", "after reset");
    EXPECT_EQ(banners(Contents()), 2u) << "a new object means a new banner";
}

TEST_F(LogTest, LongMessageIsCutAndLosesItsLineEnd)
{
    Configure(85000);
    Reset();
    const std::string longText(3000, 'x');
    CKVXDiagObject::WriteLog(16, KVXDIAG_MODULE_CORE, "F", "%s", longText.c_str());
    CKVXDiagObject::WriteLog(16, KVXDIAG_MODULE_CORE, "F", "%s", "next");
    const std::string text = Contents();
    const size_t start = text.find("[LogLevel=10]");
    ASSERT_NE(start, std::string::npos);
    const size_t next = text.find("[LogLevel=10]", start + 1);
    ASSERT_NE(next, std::string::npos);
    EXPECT_EQ(next - start, 1023u) << "a line is at most 1023 characters and then has no CR LF";
}

TEST_F(LogTest, FileAtMaximumSizeIsEmptiedBeforeTheNextLine)
{
    Configure(85000, 1, 1);
    ASSERT_TRUE(kvxtest::WriteFileText(m_file, std::string(1024, 'o')));
    Reset();
    CKVXDiagObject::WriteLog(16, KVXDIAG_MODULE_CORE, "F", "%s", "first");
    const std::string text = Contents();
    EXPECT_EQ(text.find(std::string(64, 'o')), std::string::npos) << "the old content is gone";
    EXPECT_NE(text.find("[first]"), std::string::npos);
}

TEST_F(LogTest, PercentSignsInArgumentsAreWrittenLiterally)
{
    Configure(85000);
    Reset();
    CKVXDiagObject::WriteLog(16, KVXDIAG_MODULE_CORE, "F", "%s", "100% %s %n");
    EXPECT_NE(Contents().find("[100% %s %n]"), std::string::npos);
}

} // namespace
