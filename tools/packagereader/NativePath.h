// Windows only: UTF-8 paths (kvxinspect's own form, as its command line arrives converted) turned into
// the extended "\\?\" form, which lifts MAX_PATH and stops Win32 from rewriting names (trailing dots
// and spaces, device names) behind the caller's back.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <string>

class CNativePath {
public:
    // False when the text is not valid UTF-8.
    static bool ToWide(const std::string& utf8, std::wstring& wide);
    static std::string ToUtf8(const std::wstring& wide);
    // The full path of path in "\\?\C:\..." or "\\?\UNC\server\share\..." form.
    static bool Extended(const std::string& path, std::wstring& wide);
    static std::string ErrorText(DWORD error);
};

#endif
