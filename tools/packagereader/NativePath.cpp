// GetFullPathNameW resolves "." and ".." and the current directory before the prefix is added: under
// "\\?\" Windows no longer does it.
#include "tools/packagereader/NativePath.h"

#ifdef _WIN32

#include <vector>

bool CNativePath::ToWide(const std::string& utf8, std::wstring& wide)
{
    wide.clear();
    if (utf8.empty()) {
        return true;
    }
    if (utf8.size() > 0x7FFFFFFF) {
        return false;
    }
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) {
        return false;
    }
    wide.resize(static_cast<size_t>(n));
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n) == n;
}

std::string CNativePath::ToUtf8(const std::wstring& wide)
{
    if (wide.empty() || wide.size() > 0x7FFFFFFF) {
        return std::string();
    }
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        return std::string();
    }
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], n, nullptr, nullptr);
    return out;
}

bool CNativePath::Extended(const std::string& path, std::wstring& wide)
{
    std::wstring given;
    if (!ToWide(path, given) || given.empty()) {
        return false;
    }
    for (wchar_t& c : given) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    if (given.compare(0, 4, L"\\\\?\\") == 0) {
        wide = given;
        return true;
    }
    const DWORD needed = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return false;
    }
    std::vector<wchar_t> full(needed + 1);
    const DWORD got = ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (got == 0 || got >= full.size()) {
        return false;
    }
    const std::wstring absolute(full.data(), got);
    if (absolute.compare(0, 2, L"\\\\") == 0) {
        wide = L"\\\\?\\UNC\\" + absolute.substr(2);
    } else {
        wide = L"\\\\?\\" + absolute;
    }
    return true;
}

std::string CNativePath::ErrorText(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n > 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
    if (text != nullptr) {
        ::LocalFree(text);
    }
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' ||
                                message.back() == L'.')) {
        message.pop_back();
    }
    return "error " + std::to_string(error) + (message.empty() ? "" : ": " + ToUtf8(message));
}

#endif
