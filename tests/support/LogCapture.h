// The core's diagnostic log routed into a file of its own for one test.
#pragma once

#include "common/log/KVXDiagObject.h"
#include "tests/support/TestSupport.h"

#include <memory>
#include <string>

namespace kvxtest {

// Routes the core's diagnostic log into a file of its own for one test.
class CLogCapture {
public:
    CLogCapture()
    {
#ifdef _WIN64
        const REGSAM view = KEY_WOW64_32KEY;
#else
        const REGSAM view = 0;
#endif
        const std::string key = std::string(LOG_ROOT) + "\\Log\\DD000001";
        m_file = m_dir.Path() + "\\KVXDiagLog.dat";
        m_ok = SetString(HKEY_LOCAL_MACHINE, key, "LOG_FilePath", m_file, view) &&
               SetDword(HKEY_LOCAL_MACHINE, key, "LOG_Level", 0xFFFFFFFF, view) &&
               SetDword(HKEY_LOCAL_MACHINE, key, "LOG_OutputDevice", 1, view) &&
               SetDword(HKEY_LOCAL_MACHINE, key, "LOG_FileMaxSizeKB", 65536, view) &&
               SetDword(HKEY_LOCAL_MACHINE, key, "LOG_Enabled", 1, view);
        CKVXDiagObject reset; // the next line reads the configuration anew
    }
    ~CLogCapture()
    {
        m_key.reset();
        CKVXDiagObject reset; // drops the handle on the file so that the directory can go
    }
    bool Ok() const { return m_ok; }
    std::string Contents() const { return ReadFileText(m_file); }

private:
    static constexpr const char* LOG_ROOT = "Software\\Orvex Software\\Orvex Network Manager\\KVXDiag2";
#ifdef _WIN64
    std::unique_ptr<CScopedRegistryTree> m_key{new CScopedRegistryTree(HKEY_LOCAL_MACHINE, LOG_ROOT, KEY_WOW64_32KEY)};
#else
    std::unique_ptr<CScopedRegistryTree> m_key{new CScopedRegistryTree(HKEY_LOCAL_MACHINE, LOG_ROOT, 0)};
#endif
    CScopedTempDir m_dir{"kvxlog"};
    std::string m_file;
    bool m_ok = false;
};

} // namespace kvxtest
