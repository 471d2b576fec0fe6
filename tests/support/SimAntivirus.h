// The maker's antivirus as the wizard meets it on a machine: the shield driver's service key with its
// "Start", the setup key with the installation directory ("PATH", ending in a backslash), and the
// conflicting service executable in that directory. Everything is removed again on destruction.
#pragma once

#include "tests/support/TestSupport.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

namespace kvxtest {

enum class EShieldKey {
    AVGUARD1,
    AVGUARD2, // installations where only the second key exists
    NONE,
};

enum class EModuleFile {
    IN_PLACE, // "HOSTGUARD.exe", as installed
    ASIDE,    // "HOSTGUARD.exe.kvxdiag2", as an earlier start of the wizard left it
    NONE,
};

struct SSimAntivirusOptions {
    EShieldKey shield = EShieldKey::AVGUARD1;
    DWORD shieldStart = 1;
    bool setupKey = true; // the vendor's "\Setup" key with "PATH"
    std::string path;     // "PATH" as written, when it is not to name the installation directory
    EModuleFile module = EModuleFile::IN_PLACE;
};

class CSimAntivirus {
public:
    static constexpr const char* MODULE = "HOSTGUARD.exe";
    static constexpr const char* MODULE_ASIDE = "HOSTGUARD.exe.kvxdiag2";
    static constexpr const char* SETUP_KEY = "SOFTWARE\\Orvex Software\\Setup";

    explicit CSimAntivirus(const SSimAntivirusOptions& options = SSimAntivirusOptions());
    ~CSimAntivirus();
    CSimAntivirus(const CSimAntivirus&) = delete;
    CSimAntivirus& operator=(const CSimAntivirus&) = delete;

    // Empty when the installation succeeded, else what failed.
    const std::string& Error() const { return m_error; }
    // The installation directory, with a trailing backslash.
    const std::string& Directory() const { return m_directory; }

    // "Start" of whichever shield key exists, or none.
    static std::optional<DWORD> ShieldStart();
    bool ModuleInPlace() const;
    bool ModuleAside() const;

    // Removes every trace of a simulated antivirus (also one a crashed test left behind).
    static void RemoveAll();

private:
    std::unique_ptr<CScopedTempDir> m_dir;
    std::string m_directory;
    std::string m_error;
};

} // namespace kvxtest
