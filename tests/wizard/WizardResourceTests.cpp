// What makes the two deliverables Windows products, read back from the built files: the wizard's
// manifest (administrator rights, common controls 6, supported systems, DPI awareness), its icon at
// every size the shell and the window ask for, and the version blocks of both files in both languages.
#include "tests/wizard/WizardFixture.h"

#include <cstring>
#include <string>
#include <vector>

namespace kvxtest {

namespace {

// A deliverable loaded for its resources only: nothing of it runs.
class CResourceModule {
public:
    explicit CResourceModule(const std::wstring& path)
        : m_module(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE))
    {
    }
    HMODULE get() const { return m_module.get(); }

    std::vector<BYTE> Resource(LPCWSTR type, LPCWSTR name) const
    {
        const HRSRC found = ::FindResourceW(m_module.get(), name, type);
        const HGLOBAL loaded = found != nullptr ? ::LoadResource(m_module.get(), found) : nullptr;
        const auto* data = loaded != nullptr ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
        if (data == nullptr) {
            return {};
        }
        return std::vector<BYTE>(data, data + ::SizeofResource(m_module.get(), found));
    }

private:
    kvx::UniqueModule m_module;
};

#pragma pack(push, 2)
struct SGroupIconEntry {
    BYTE width; // 0 means 256
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

std::wstring VersionString(const std::vector<BYTE>& block, const wchar_t* language, const wchar_t* name)
{
    const std::wstring query = std::wstring(L"\\StringFileInfo\\") + language + L"\\" + name;
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), query.c_str(), &value, &length) || value == nullptr || length == 0) {
        return std::wstring();
    }
    return std::wstring(static_cast<const wchar_t*>(value));
}

std::vector<BYTE> VersionBlock(const std::wstring& path)
{
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> block(size);
    if (size == 0 || !::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
        block.clear();
    }
    return block;
}

} // namespace

TEST(WizardResources, ManifestAsksForAdministratorAndDeclaresDpiAwareness)
{
    const CResourceModule wizard(WizardProgramDirectory() + L"KVXDiag2.exe");
    ASSERT_NE(nullptr, wizard.get()) << "KVXDiag2.exe cannot be read: " << ::GetLastError();
    const std::vector<BYTE> data = wizard.Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(data.empty()) << "no manifest with id 1 (the one CreateProcess reads)";
    // The manifest's layout is free: line breaks and runs of blanks count as one blank.
    std::string manifest;
    for (BYTE byte : data) {
        const char c = byte == '\n' || byte == '\r' || byte == '\t' ? ' ' : static_cast<char>(byte);
        if (!(c == ' ' && !manifest.empty() && manifest.back() == ' ')) {
            manifest += c;
        }
    }
    const char* const required[] = {
        "level=\"requireAdministrator\"",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}", // Vista
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // 8
        ">true</dpiAware>",
    };
    for (const char* text : required) {
        EXPECT_NE(std::string::npos, manifest.find(text)) << text;
    }
    // Declaring these would make later systems report their true version, and the core would then
    // switch packet captures on where it always kept them off.
    const char* const undeclared[] = {
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // 10 and 11
    };
    for (const char* text : undeclared) {
        EXPECT_EQ(std::string::npos, manifest.find(text)) << text;
    }
}

TEST(WizardResources, FirstIconHasEverySizeAndLoads)
{
    const CResourceModule wizard(WizardProgramDirectory() + L"KVXDiag2.exe");
    ASSERT_NE(nullptr, wizard.get());
    const std::vector<BYTE> group = wizard.Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(1));
    ASSERT_GE(group.size(), 6u) << "no icon group with id 1, the program's icon";
    WORD count = 0;
    std::memcpy(&count, group.data() + 4, sizeof(count));
    ASSERT_EQ(group.size(), 6u + count * sizeof(SGroupIconEntry));
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        SGroupIconEntry entry;
        std::memcpy(&entry, group.data() + 6 + i * sizeof(SGroupIconEntry), sizeof(entry));
        sizes.push_back(entry.width == 0 ? 256 : entry.width);
        EXPECT_EQ(32, entry.bitCount) << "size " << sizes.back();
        const std::vector<BYTE> image = wizard.Resource(RT_ICON, MAKEINTRESOURCEW(entry.id));
        EXPECT_EQ(entry.bytes, image.size()) << "size " << sizes.back();
        if (sizes.back() == 256) {
            EXPECT_TRUE(image.size() > 8 && std::memcmp(image.data(), "\x89PNG", 4) == 0) << "256 is not a PNG";
        }
    }
    EXPECT_EQ((std::vector<int>{16, 32, 48, 256}), sizes);
    // The sizes the window class asks for must load (a damaged image would give no icon at all).
    for (int size : {16, 32, 48}) {
        SCOPED_TRACE(size);
        const HICON icon = static_cast<HICON>(
            ::LoadImageW(wizard.get(), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        ASSERT_NE(nullptr, icon);
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(icon, &info));
        BITMAP bitmap{};
        ::GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
        EXPECT_EQ(size, bitmap.bmWidth);
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
        ::DestroyIcon(icon);
    }
}

TEST(WizardResources, BothDeliverablesCarryTheSameVersionInSpanishAndEnglish)
{
    struct SDeliverable {
        const wchar_t* file;
    } const deliverables[] = {{L"KVXDiag2.exe"}, {L"KVXDiagCore.dll"}};
    std::wstring firstVersion;
    for (const SDeliverable& deliverable : deliverables) {
        SCOPED_TRACE(Narrow(deliverable.file));
        const std::wstring path = WizardProgramDirectory() + deliverable.file;
        const std::vector<BYTE> block = VersionBlock(path);
        ASSERT_FALSE(block.empty()) << "no version block";

        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
        wchar_t numbers[64];
        swprintf(numbers, 64, L"%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                 HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));

        DWORD* translations = nullptr;
        ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                                     reinterpret_cast<void**>(&translations), &length));
        std::vector<DWORD> languages(translations, translations + length / sizeof(DWORD));
        EXPECT_EQ((std::vector<DWORD>{MAKELONG(0x0c0a, 1200), MAKELONG(0x0409, 1200)}), languages);

        for (const wchar_t* language : {L"0c0a04b0", L"040904b0"}) {
            SCOPED_TRACE(Narrow(language));
            // The texts Explorer shows must agree with the numbers it compares.
            EXPECT_EQ(std::wstring(numbers), VersionString(block, language, L"FileVersion"));
            EXPECT_EQ(std::wstring(numbers), VersionString(block, language, L"ProductVersion"));
            EXPECT_EQ(std::wstring(deliverable.file), VersionString(block, language, L"OriginalFilename"));
            EXPECT_FALSE(VersionString(block, language, L"FileDescription").empty());
        }
        EXPECT_NE(VersionString(block, L"0c0a04b0", L"FileDescription"),
                  VersionString(block, L"040904b0", L"FileDescription"))
            << "the English description is the Spanish one";
        if (firstVersion.empty()) {
            firstVersion = numbers;
        }
        EXPECT_EQ(firstVersion, std::wstring(numbers)) << "the wizard and the core differ in version";
    }
}

} // namespace kvxtest
