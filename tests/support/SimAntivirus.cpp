#include "tests/support/SimAntivirus.h"

#include "common/win/UniqueHandles.h"

namespace kvxtest {

namespace {

constexpr const char* kShieldKeys[] = {"SYSTEM\\CurrentControlSet\\Services\\AVGUARD1",
                                       "SYSTEM\\CurrentControlSet\\Services\\AVGUARD2"};
// The setup key is the vendor's, in the 32-bit view like every vendor key; the service keys are the
// system's own.
constexpr REGSAM kVendorView = KEY_WOW64_32KEY;
constexpr const char* kVendorKey = "SOFTWARE\\Orvex Software";

} // namespace

CSimAntivirus::CSimAntivirus(const SSimAntivirusOptions& options)
{
    RemoveAll();
    m_dir.reset(new CScopedTempDir("kvxav"));
    m_directory = m_dir->Path() + "\\";
    if (options.shield != EShieldKey::NONE) {
        const char* key = kShieldKeys[options.shield == EShieldKey::AVGUARD1 ? 0 : 1];
        if (!SetDword(HKEY_LOCAL_MACHINE, key, "Start", options.shieldStart)) {
            m_error = std::string("cannot write Start of ") + key;
        }
    }
    const std::string& path = options.path.empty() ? m_directory : options.path;
    if (options.setupKey && !SetString(HKEY_LOCAL_MACHINE, SETUP_KEY, "PATH", path, kVendorView)) {
        m_error = "cannot write the antivirus's PATH";
    }
    if (options.module != EModuleFile::NONE) {
        const std::string file = m_directory + (options.module == EModuleFile::IN_PLACE ? MODULE : MODULE_ASIDE);
        if (!WriteFileText(file, "MZ simulated antivirus host guard\r\n")) {
            m_error = "cannot create " + file;
        }
    }
}

CSimAntivirus::~CSimAntivirus()
{
    RemoveAll();
    m_dir.reset();
}

std::optional<DWORD> CSimAntivirus::ShieldStart()
{
    for (const char* key : kShieldKeys) {
        DWORD value = 0;
        if (KeyExists(HKEY_LOCAL_MACHINE, key)) {
            return GetDword(HKEY_LOCAL_MACHINE, key, "Start", value) ? std::optional<DWORD>(value) : std::nullopt;
        }
    }
    return std::nullopt;
}

bool CSimAntivirus::ModuleInPlace() const
{
    return FileExists(m_directory + MODULE) && !FileExists(m_directory + MODULE_ASIDE);
}

bool CSimAntivirus::ModuleAside() const
{
    return !FileExists(m_directory + MODULE) && FileExists(m_directory + MODULE_ASIDE);
}

void CSimAntivirus::RemoveAll()
{
    for (const char* key : kShieldKeys) {
        CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, key);
    }
    CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, SETUP_KEY, kVendorView);
    // The vendor key stays while the product's keys still live under it.
    DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, kVendorKey, kVendorView);
}

} // namespace kvxtest
