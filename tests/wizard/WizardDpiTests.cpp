// The form at a higher system DPI. The wizard is started once at 96 and once at 144 DPI: at 144 the
// client area must be 939 x 552 and every control the 96-DPI rectangle times 1.5, so nothing overlaps,
// is cut off or drifts out of place; both starts are photographed so that a person can see that the
// pictures are drawn sharp and the pages look alike.
#include "tests/wizard/WizardFixture.h"

#include <cmath>
#include <cstdlib>
#include <map>

namespace kvxtest {

namespace {

using namespace kvxui;

constexpr DWORD KVX_DPI_PAGE_TIMEOUT_MS = 30000;

// The system DPI that a new process reads: Windows and Wine take it from this value (Wine 8 falls back
// to HKEY_CURRENT_CONFIG\Software\Fonts "LogPixels", which this value overrides). Whatever the
// prefix had, present or absent, is put back.
class CScopedLogPixels {
public:
    static constexpr const char* KEY = "Control Panel\\Desktop";
    static constexpr const char* VALUE = "LogPixels";

    CScopedLogPixels() : m_hadValue(GetDword(HKEY_CURRENT_USER, KEY, VALUE, m_oldValue)) {}
    ~CScopedLogPixels()
    {
        if (m_hadValue) {
            SetDword(HKEY_CURRENT_USER, KEY, VALUE, m_oldValue);
            return;
        }
        kvx::UniqueHkey key;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, KEY, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
            ::RegDeleteValueA(key.get(), VALUE);
        }
    }
    CScopedLogPixels(const CScopedLogPixels&) = delete;
    CScopedLogPixels& operator=(const CScopedLogPixels&) = delete;

    bool Set(DWORD dpi) const { return SetDword(HKEY_CURRENT_USER, KEY, VALUE, dpi); }

private:
    DWORD m_oldValue = 0;
    bool m_hadValue;
};

// The client size and every control's rectangle in the form's client coordinates.
struct SLayout {
    SIZE client{0, 0};
    std::map<int, RECT> controls;
};

SLayout ReadLayout(const CWizardDriver& driver)
{
    SLayout layout;
    RECT client{};
    ::GetClientRect(driver.Window(), &client);
    layout.client = SIZE{client.right - client.left, client.bottom - client.top};
    for (int id = KVXDIAG2_CONTROL_FIRST + 1; id < KVXDIAG2_CONTROL_END; ++id) {
        const HWND control = driver.Control(id);
        RECT rc;
        if (control == nullptr || !::GetWindowRect(control, &rc)) {
            continue;
        }
        ::MapWindowPoints(nullptr, driver.Window(), reinterpret_cast<POINT*>(&rc), 2);
        layout.controls[id] = rc;
    }
    return layout;
}

class WizardDpi : public WizardTest {
protected:
    void Photograph(DWORD dpi, int page)
    {
        const std::wstring directory = ArtifactsDirectory() + L"\\dpi";
        ::CreateDirectoryW(directory.c_str(), nullptr);
        wchar_t name[64];
        swprintf(name, 64, L"\\page-%02d-%03udpi-%ls.bmp", page, static_cast<unsigned>(dpi),
                 m_language == eLanguage_ENGLISH ? L"en" : L"es");
        EXPECT_TRUE(m_driver.Screenshot(directory + name)) << "screenshot of page " << page << " at " << dpi;
    }

    // Starts the wizard at the DPI and reads its layout on the welcome page and on the agreement page
    // (the frame differs: no header and a wide logo on the first, header and steps on the second), and on
// the save page.
    void ReadLayoutsAt(DWORD dpi, const CScopedLogPixels& logPixels, std::vector<SLayout>& layouts)
    {
        ASSERT_TRUE(logPixels.Set(dpi));
        StartWithStandInCore();
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(m_driver.WaitForPage(KVXDIAG2_GUI_PAGE_INITIAL, KVX_DPI_PAGE_TIMEOUT_MS));
        layouts.push_back(ReadLayout(m_driver));
        Photograph(dpi, KVXDIAG2_GUI_PAGE_INITIAL);
        ASSERT_TRUE(m_driver.Click(btNext));
        ASSERT_TRUE(m_driver.WaitForPage(KVXDIAG2_GUI_PAGE_LICENSEAGREEMENT, KVX_DPI_PAGE_TIMEOUT_MS));
        layouts.push_back(ReadLayout(m_driver));
        Photograph(dpi, KVXDIAG2_GUI_PAGE_LICENSEAGREEMENT);
        // The save page holds the longest paragraph and a check box below it.
        m_driver.ShowPageDirectly(KVXDIAG2_GUI_PAGE_SAVETODISK);
        layouts.push_back(ReadLayout(m_driver));
        Photograph(dpi, KVXDIAG2_GUI_PAGE_SAVETODISK);
        m_driver.RestorePage(KVXDIAG2_GUI_PAGE_SAVETODISK);
        ASSERT_TRUE(m_driver.Close(15000)) << "the wizard did not close";
    }
};

bool IsStepLabel(int id)
{
    return id == lbInitialCheck || id == lbDataObtain || id == lbBasicAnalysis || id == lbDeepAnalysis ||
           id == lbSendToOrvex;
}

} // namespace

TEST_F(WizardDpi, LayoutAtHighDpiIsTheDesignLayoutScaled)
{
    const CScopedLogPixels logPixels;
    std::vector<SLayout> at96;
    std::vector<SLayout> at144;
    ReadLayoutsAt(96, logPixels, at96);
    ASSERT_FALSE(HasFatalFailure());
    ReadLayoutsAt(144, logPixels, at144);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(at96.size(), at144.size());

    for (size_t page = 0; page < at96.size(); ++page) {
        SCOPED_TRACE(page == 0 ? "welcome page" : page == 1 ? "agreement page" : "save page");
        const SLayout& small = at96[page];
        const SLayout& large = at144[page];
        EXPECT_EQ(626, small.client.cx);
        EXPECT_EQ(368, small.client.cy);
        EXPECT_EQ(939, large.client.cx);
        EXPECT_EQ(552, large.client.cy);
        ASSERT_EQ(small.controls.size(), large.controls.size()) << "controls missing at one of the DPIs";
        for (const auto& entry : small.controls) {
            const RECT& rc96 = entry.second;
            if (rc96.right <= rc96.left || rc96.bottom <= rc96.top) {
                continue; // not laid out on this page
            }
            SCOPED_TRACE(ControlName(entry.first));
            const auto found = large.controls.find(entry.first);
            ASSERT_NE(large.controls.end(), found);
            const RECT& rc144 = found->second;
            // Edges are scaled and rounded once, so 2 pixels cover rounding at every nesting level. The
            // step labels are as high as their measured text, and a font does not grow exactly by 1.5.
            const double tolerance = IsStepLabel(entry.first) ? 4.0 : 2.0;
            EXPECT_NEAR(rc96.left * 1.5, rc144.left, tolerance);
            EXPECT_NEAR(rc96.top * 1.5, rc144.top, tolerance);
            EXPECT_NEAR(rc96.right * 1.5, rc144.right, tolerance);
            EXPECT_NEAR(rc96.bottom * 1.5, rc144.bottom, tolerance);
        }
    }
}

} // namespace kvxtest
