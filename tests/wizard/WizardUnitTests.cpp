// Properties of the wizard that need no running window: the choice of language, texts that fit the
// places the layout gives them (none is cut), and the step pictures.
#include "wizard/FormLayout.h"
#include "wizard/FormToolkit.h"
#include "wizard/GuiHandles.h"
#include "wizard/WizardImages.h"
#include "wizard/WizardTexts.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>
#include <vector>

namespace {

using namespace kvxui;

TEST(WizardLanguage, SpanishForTheLanguagesOfSpainEnglishForEveryOther)
{
    struct SCase {
        LANGID id;
        const char* name;
        ELanguage expected;
    };
    const SCase cases[] = {
        {0x0C0A, "Spanish (Spain)", eLanguage_SPANISH},  {0x040A, "Spanish (traditional)", eLanguage_SPANISH},
        {0x080A, "Spanish (Mexico)", eLanguage_SPANISH}, {0x0403, "Catalan", eLanguage_SPANISH},
        {0x042D, "Basque", eLanguage_SPANISH},           {0x0456, "Galician", eLanguage_SPANISH},
        {0x0409, "English (US)", eLanguage_ENGLISH},     {0x040C, "French", eLanguage_ENGLISH},
        {0x0816, "Portuguese", eLanguage_ENGLISH},       {0x0000, "neutral", eLanguage_ENGLISH},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, ChooseLanguage(c.id));
    }
}

TEST(WizardTexts, TheLongExplanationsAreWholeInBothLanguages)
{
    // These four were once cut at a fixed length; each must end as a sentence does.
    for (int id : {Label16, Label17, Label25, Label33}) {
        for (ELanguage language : {eLanguage_SPANISH, eLanguage_ENGLISH}) {
            SCOPED_TRACE(std::string(ControlName(id)) + (language == eLanguage_SPANISH ? " es" : " en"));
            const std::wstring text = ControlText(id, language);
            ASSERT_GT(text.size(), 80u);
            EXPECT_EQ(L'.', text.back());
        }
        EXPECT_NE(ControlText(id, eLanguage_SPANISH), ControlText(id, eLanguage_ENGLISH));
    }
    EXPECT_NE(std::wstring(AgreementText(eLanguage_SPANISH)), std::wstring(AgreementText(eLanguage_ENGLISH)));
}

TEST(WizardTexts, EveryTextFitsItsControlInBothLanguages)
{
    SFonts fonts;
    ASSERT_TRUE(CreateFonts(fonts));
    const kvx::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    ASSERT_TRUE(static_cast<bool>(dc));
    size_t count = 0;
    const SControlLayout* layout = FormLayout(count);
    for (size_t i = 0; i < count; ++i) {
        const SControlLayout& row = layout[i];
        const bool wraps = row.kind == eKind_LABEL || row.kind == eKind_TITLE || row.kind == eKind_BIGTITLE;
        const bool oneLine = row.kind == eKind_CHECK || row.kind == eKind_RADIO || row.kind == eKind_BUTTON;
        if (!wraps && !oneLine) {
            continue;
        }
        const HFONT font = row.kind == eKind_TITLE ? fonts.title.get()
                           : row.kind == eKind_BIGTITLE ? fonts.bigTitle.get()
                                                        : fonts.normal.get();
        kvx::CSelectObject select(dc.get(), font);
        for (ELanguage language : {eLanguage_SPANISH, eLanguage_ENGLISH}) {
            std::wstring text = ControlText(row.id, language);
            if (row.id == btCancel) {
                text = CodeText(eCodeText_CLOSE, language); // the longer of its two captions is checked too
            }
            if (text.empty()) {
                continue;
            }
            SCOPED_TRACE(std::string(ControlName(row.id)) + (language == eLanguage_SPANISH ? " es" : " en"));
            RECT need{0, 0, row.width, 0};
            if (wraps) {
                ::DrawTextW(dc.get(), text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
                EXPECT_LE(need.bottom, row.height) << "the text needs " << need.bottom << " pixels";
                EXPECT_LE(need.right, row.width);
            } else {
                ::DrawTextW(dc.get(), text.c_str(), -1, &need, DT_CALCRECT | DT_SINGLELINE);
                // A check box or radio button spends about 20 pixels on its mark.
                const int mark = oneLine && row.kind != eKind_BUTTON ? 20 : 8;
                EXPECT_LE(need.right + mark, row.width) << "the text needs " << need.right << " pixels";
            }
        }
    }
}

TEST(WizardImages, StepImagesComeInColourAndInGrey)
{
    kvx::UniqueImageList colour;
    kvx::UniqueImageList grey;
    ASSERT_TRUE(CreateStepImageLists(colour, grey));
    ASSERT_EQ(KVXDIAG2_STEP_COUNT, ::ImageList_GetImageCount(colour.get()));
    ASSERT_EQ(KVXDIAG2_STEP_COUNT, ::ImageList_GetImageCount(grey.get()));
    int width = 0, height = 0;
    ASSERT_TRUE(::ImageList_GetIconSize(colour.get(), &width, &height));
    EXPECT_EQ(KVXDIAG2_STEP_IMAGE_SIZE, width);
    EXPECT_EQ(KVXDIAG2_STEP_IMAGE_SIZE, height);

    // Each picture drawn on white: the colour one has coloured pixels, the grey one none, and both
    // leave the corners (outside the disc) white.
    const kvx::CWindowDc screen(nullptr);
    for (int index = 0; index < KVXDIAG2_STEP_COUNT; ++index) {
        SCOPED_TRACE(index);
        for (const bool greyed : {false, true}) {
            const kvx::UniqueMemoryDc dc(::CreateCompatibleDC(screen.get()));
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof(info.bmiHeader);
            info.bmiHeader.biWidth = width;
            info.bmiHeader.biHeight = -height;
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 32;
            void* bits = nullptr;
            const kvx::UniqueBitmap bitmap(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
            ASSERT_NE(nullptr, bits);
            {
                kvx::CSelectObject select(dc.get(), bitmap.get());
                RECT rc{0, 0, width, height};
                ::FillRect(dc.get(), &rc, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
                ::ImageList_Draw(greyed ? grey.get() : colour.get(), index, dc.get(), 0, 0, ILD_TRANSPARENT);
                ::GdiFlush();
            }
            const auto* pixels = static_cast<const BYTE*>(bits);
            int coloured = 0;
            for (int p = 0; p < width * height; ++p) {
                const int b = pixels[p * 4], g = pixels[p * 4 + 1], r = pixels[p * 4 + 2];
                if (std::abs(r - g) > 24 || std::abs(g - b) > 24 || std::abs(r - b) > 24) {
                    ++coloured;
                }
            }
            if (greyed) {
                EXPECT_EQ(0, coloured);
            } else {
                EXPECT_GT(coloured, width * height / 4);
            }
            EXPECT_EQ(0xFFu, pixels[0]) << "top-left corner";
            EXPECT_EQ(0xFFu, pixels[(width * height - 1) * 4]) << "bottom-right corner";
        }
    }
}

} // namespace
