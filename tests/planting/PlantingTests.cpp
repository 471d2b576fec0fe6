// Library planting: the wizard unpacked into a folder that also holds libraries
// named like the ones it and the system load must reach its first page without
// loading any of them, whether it starts in that folder or in another one that
// holds the same libraries.
#include "tests/wizard/WizardFixture.h"

#include <windows.h>

#include <string>
#include <vector>

namespace kvxtest {
namespace {

const wchar_t* const KVX_PLANTED_NAMES[] = {L"msftedit.dll", L"riched20.dll",  L"UxTheme.dll", L"version.dll",
                                            L"dwmapi.dll",   L"cryptbase.dll", L"kvxapi.dll"};
// Wine prefers its own builtin copy of riched20 even to a native one beside the
// program (msftedit and dwmapi it leaves to the native one; cryptbase and
// kvxapi it does not have), so the test runs with those names overridden to
// native first (WINEDLLOVERRIDES in its CMakeLists.txt; Wine reads it once per
// session from the environment it was started with). The probe's run shows that
// the override took effect. UxTheme.dll and version.dll stay builtin first:
// Wine's own comctl32 delay-loads UxTheme and its user32 imports version
// (Windows' user32 does not), and Wine resolves both from the program's folder
// whatever the process's default directories and the image's DependentLoadFlags
// say, so a native-first override of those would measure Wine's loader, not the
// wizard. Neither is loaded by bare name anywhere in the wizard.
const size_t KVX_PROBE_TAKES = 5;

// Runs the probe with the names as arguments and waits for it.
bool RunProbe(const std::wstring& exe, const std::wstring& current)
{
    std::wstring commandLine = L"\"" + exe + L"\"";
    for (const wchar_t* name : KVX_PLANTED_NAMES) {
        commandLine += L" " + std::wstring(name);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const BOOL started = ::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                          current.c_str(), &startup, &info);
    if (!started) {
        return false;
    }
    kvx::UniqueHandle thread(info.hThread);
    kvx::UniqueHandle process(info.hProcess);
    return ::WaitForSingleObject(process.get(), 30000) == WAIT_OBJECT_0;
}

bool CopyInto(const std::wstring& from, const std::wstring& directory, const std::wstring& name)
{
    return ::CopyFileW(from.c_str(), (directory + L"\\" + name).c_str(), FALSE) != FALSE;
}

std::vector<std::wstring> Markers(const std::wstring& directory)
{
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    kvx::UniqueFindHandle find(::FindFirstFileW((directory + L"\\*.loaded").c_str(), &data));
    if (find) {
        do {
            found.push_back(data.cFileName);
        } while (::FindNextFileW(find.get(), &data));
    }
    return found;
}

void RemoveMarkers(const std::wstring& directory)
{
    for (const std::wstring& name : Markers(directory)) {
        ::DeleteFileW((directory + L"\\" + name).c_str());
    }
}

std::string Joined(const std::vector<std::wstring>& names)
{
    std::string text;
    for (const std::wstring& name : names) {
        text += (text.empty() ? "" : ", ") + Narrow(name);
    }
    return text;
}

} // namespace

class WizardPlanting : public WizardTest {};

TEST_F(WizardPlanting, LoadsNoLibraryBesideItOrFromTheCurrentDirectory)
{
    const std::wstring root = Widen(m_temp->Path());
    const std::wstring downloads = root + L"\\Mis descargas";
    const std::wstring other = root + L"\\otra carpeta";
    ASSERT_TRUE(::CreateDirectoryW(downloads.c_str(), nullptr) && ::CreateDirectoryW(other.c_str(), nullptr));
    const std::wstring standIn = StandInWizardPath();
    const std::wstring standInDir = standIn.substr(0, standIn.find_last_of(L'\\'));
    const std::wstring planted = WizardProgramDirectory() + L"planted";
    ASSERT_TRUE(CopyInto(standIn, downloads, L"KVXDiag2.exe"));
    ASSERT_TRUE(CopyInto(standInDir + L"\\KVXDiagCore.dll", downloads, L"KVXDiagCore.dll"));
    for (const wchar_t* name : KVX_PLANTED_NAMES) {
        ASSERT_TRUE(CopyInto(planted + L"\\" + name, downloads, name)) << Narrow(name);
        ASSERT_TRUE(CopyInto(planted + L"\\" + name, other, name)) << Narrow(name);
    }

    // The counter-check: loaded by bare name, with nothing restricted, every
    // planted library beside the program but UxTheme.dll and version.dll is
    // taken, so the runs below would see each one the wizard took.
    {
        ASSERT_TRUE(CopyInto(planted + L"\\kvxplantedprobe.exe", downloads, L"kvxplantedprobe.exe"));
        ASSERT_TRUE(RunProbe(downloads + L"\\kvxplantedprobe.exe", other));
        EXPECT_EQ(Markers(downloads).size(), KVX_PROBE_TAKES) << "taken by the probe: " << Joined(Markers(downloads));
        RemoveMarkers(downloads);
        RemoveMarkers(other);
    }

    const std::wstring journal = L"KVXFAKE_JOURNAL=" + Widen(m_journalPath);
    for (const std::wstring& current : {downloads, other}) {
        SCOPED_TRACE("current directory " + Narrow(current));
        ASSERT_TRUE(m_driver.Launch(downloads + L"\\KVXDiag2.exe", {journal}, current));
        ASSERT_TRUE(m_driver.WaitForWindow(30000)) << "exit code " << m_driver.ExitCode();
        EXPECT_TRUE(m_driver.WaitForPage(0, 10000));
        EXPECT_TRUE(m_driver.Close(15000));
        EXPECT_TRUE(Markers(downloads).empty()) << "loaded beside the program: " << Joined(Markers(downloads));
        EXPECT_TRUE(Markers(other).empty()) << "loaded from the other folder: " << Joined(Markers(other));
        RemoveMarkers(downloads);
        RemoveMarkers(other);
    }
}

} // namespace kvxtest
