// The "Extended Data" items read through APIs rather than programs: the real version (the program's
// manifest makes the version APIs answer 6.2 on every later system, RtlGetVersion does not), the
// architecture, the boot time, registry keys as text and the Security Center's products over WMI.
#include "core/jobs/ExtendedEvidence.h"

#include "common/log/GuardedOperation.h"
#include "common/win/ProcAddress.h"
#include "common/win/UniqueHandles.h"
#include "core/report/IReporter.h"

#include <oleauto.h>
#include <wbemcli.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* text, size_t length)
{
    if (length == 0) {
        return std::string();
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], size, nullptr, nullptr);
    }
    return out;
}

std::string Utf8(const std::wstring& text) { return Utf8(text.data(), text.size()); }

std::wstring ReadString(HKEY key, const wchar_t* name)
{
    wchar_t value[512] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::wstring();
    }
    return std::wstring(value, wcsnlen(value, size / sizeof(wchar_t)));
}

// Appends one key's values and then its subkeys, up to cbLimit bytes of text.
void KeyText(HKEY key, const std::wstring& path, std::string& text, size_t cbLimit)
{
    text += "[" + Utf8(path) + "]\r\n";
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(65536);
    for (DWORD index = 0; text.size() <= cbLimit; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG rc = ::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc != ERROR_SUCCESS) {
            continue; // a value larger than the buffer is left out
        }
        std::string line = "  " + (nameLength == 0 ? std::string("(default)") : Utf8(name.data(), nameLength)) + " = ";
        const wchar_t* chars = reinterpret_cast<const wchar_t*>(data.data());
        const size_t count = dataSize / sizeof(wchar_t);
        char number[64];
        if ((type == REG_SZ || type == REG_EXPAND_SZ) && count > 0) {
            line += Utf8(chars, wcsnlen(chars, count));
        } else if (type == REG_MULTI_SZ) {
            for (size_t at = 0; at < count && chars[at] != L'\0';) {
                const size_t length = wcsnlen(chars + at, count - at);
                line += (at == 0 ? "" : " | ") + Utf8(chars + at, length);
                at += length + 1;
            }
        } else if (type == REG_DWORD && dataSize == 4) {
            DWORD value = 0;
            memcpy(&value, data.data(), 4);
            std::snprintf(number, sizeof number, "dword 0x%08lx (%lu)", static_cast<unsigned long>(value),
                          static_cast<unsigned long>(value));
            line += number;
        } else {
            std::snprintf(number, sizeof number, "type %lu, hex:", static_cast<unsigned long>(type));
            line += number;
            for (DWORD i = 0; i < dataSize; ++i) {
                std::snprintf(number, sizeof number, " %02x", data[i]);
                line += number;
            }
        }
        text += line + "\r\n";
    }
    for (DWORD index = 0; text.size() <= cbLimit; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (::RegEnumKeyExW(key, index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        HKEY child = nullptr;
        if (::RegOpenKeyExW(key, name.data(), 0, KEY_READ | KEY_WOW64_64KEY, &child) == ERROR_SUCCESS) {
            kvx::UniqueHkey owner(child);
            KeyText(child, path + L"\\" + std::wstring(name.data(), nameLength), text, cbLimit);
        }
    }
}

class CBstr {
public:
    explicit CBstr(const wchar_t* text) : m_value(::SysAllocString(text)) {}
    ~CBstr() { ::SysFreeString(m_value); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    BSTR get() const { return m_value; }

private:
    BSTR m_value;
};

class CVariant {
public:
    CVariant() { ::VariantInit(&m_value); }
    ~CVariant() { ::VariantClear(&m_value); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;
    VARIANT* get() { return &m_value; }
    std::string Text() const { return m_value.vt == VT_BSTR && m_value.bstrVal ? Utf8(m_value.bstrVal, ::SysStringLen(m_value.bstrVal)) : ""; }
    DWORD Number() const
    {
        return m_value.vt == VT_I4 || m_value.vt == VT_UI4 ? static_cast<DWORD>(m_value.lVal) : 0;
    }

private:
    VARIANT m_value;
};

constexpr LONG KVXEXTENDED_WMI_NEXT_MS = 10000;

// The items run on the section's worker threads, several at once: in the multithreaded apartment no
// call waits for a message loop that such a thread does not run.
class CMultithreadedApartment {
public:
    CMultithreadedApartment() : m_hr(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~CMultithreadedApartment()
    {
        if (SUCCEEDED(m_hr)) {
            ::CoUninitialize();
        }
    }
    CMultithreadedApartment(const CMultithreadedApartment&) = delete;
    CMultithreadedApartment& operator=(const CMultithreadedApartment&) = delete;
    HRESULT Result() const { return m_hr == RPC_E_CHANGED_MODE ? S_OK : m_hr; }

private:
    HRESULT m_hr;
};

} // namespace

std::vector<SExtendedItem> CExtendedEvidence::SystemItems()
{
    return {
        {"Windows version", [this](IReporter& out) { ReportVersion(out); }},
        {"Processor architecture", [this](IReporter& out) { ReportArchitecture(out); }},
        {"Boot time", [this](IReporter& out) { ReportBootTime(out); }},
        {"System information (systeminfo)",
         [this](IReporter& out) { RunToFile(out, "System information (systeminfo)", "systeminfo.exe", "", "systeminfo.txt"); }},
    };
}

std::string CExtendedEvidence::WindowsName(DWORD dwMajor, DWORD dwBuild, bool bWorkstation)
{
    if (dwMajor != 10) {
        return std::string();
    }
    if (bWorkstation) {
        return dwBuild >= 22000 ? " (Windows 11)" : std::string();
    }
    // Servers share the major version 10 and tell themselves apart by build alone.
    static const struct {
        DWORD build;
        const char* name;
    } servers[] = {{26100, " (Windows Server 2025)"}, {20348, " (Windows Server 2022)"}, {17763, " (Windows Server 2019)"},
                   {14393, " (Windows Server 2016)"}};
    for (const auto& server : servers) {
        if (dwBuild >= server.build) {
            return server.name;
        }
    }
    return std::string();
}

std::string CExtendedEvidence::DescribeCurrentVersion(const std::string& product, const std::string& edition,
                                                      const std::string& display, const std::string& build,
                                                      const std::string& ubr)
{
    std::string text;
    auto add = [&](const char* name, const std::string& value) {
        if (!value.empty()) {
            text += (text.empty() ? "" : ", ") + std::string(name) + value;
        }
    };
    add("", product);
    add("edition ", edition);
    add("display version ", display);
    add("build ", build.empty() || ubr.empty() ? build : build + "." + ubr);
    return text.empty() ? std::string("no fields") : text;
}

void CExtendedEvidence::ReportVersion(IReporter& out)
{
    const char* label = "Windows version";
    using PFN_RTLGETVERSION = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    const auto rtlGetVersion = kvx::GetProc<PFN_RTLGETVERSION>(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    std::string line;
    char text[256];
    if (rtlGetVersion == nullptr || rtlGetVersion(&version) != 0) {
        line = std::string("RtlGetVersion ") + "not available on this system";
    } else {
        const bool bWorkstation = version.wProductType == VER_NT_WORKSTATION;
        std::snprintf(text, sizeof text, "%lu.%lu.%lu%s, %s (RtlGetVersion)", static_cast<unsigned long>(version.dwMajorVersion),
                      static_cast<unsigned long>(version.dwMinorVersion), static_cast<unsigned long>(version.dwBuildNumber),
                      WindowsName(version.dwMajorVersion, version.dwBuildNumber, bWorkstation).c_str(),
                      bWorkstation ? "workstation" : "server");
        line = text;
    }
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        kvx::UniqueHkey owner(key);
        std::wstring display = ReadString(key, L"DisplayVersion");
        if (display.empty()) {
            display = ReadString(key, L"ReleaseId");
        }
        DWORD ubr = 0;
        DWORD size = sizeof ubr;
        DWORD type = 0;
        const bool bUbr = ::RegQueryValueExW(key, L"UBR", nullptr, &type, reinterpret_cast<BYTE*>(&ubr), &size) ==
                              ERROR_SUCCESS && type == REG_DWORD;
        line += "; CurrentVersion: " +
                DescribeCurrentVersion(Utf8(ReadString(key, L"ProductName")), Utf8(ReadString(key, L"EditionID")),
                                       Utf8(display), Utf8(ReadString(key, L"CurrentBuild")),
                                       bUbr ? std::to_string(static_cast<unsigned long>(ubr)) : std::string());
    } else {
        line += "; CurrentVersion key not readable";
    }
    out.Report("%s: %s", label, line.c_str());
}

namespace {

const char* MachineName(USHORT machine)
{
    switch (machine) {
    case IMAGE_FILE_MACHINE_I386: return "x86";
    case IMAGE_FILE_MACHINE_AMD64: return "x64";
    case 0x01c4: return "ARM";   // IMAGE_FILE_MACHINE_ARMNT
    case 0xAA64: return "ARM64"; // IMAGE_FILE_MACHINE_ARM64
    case IMAGE_FILE_MACHINE_IA64: return "IA64";
    default: return "unknown";
    }
}

} // namespace

std::string CExtendedEvidence::DescribeArchitecture(USHORT processMachine, USHORT nativeMachine, DWORD dwProcessors)
{
    // Process machine "unknown" means the process runs natively.
    const USHORT own = processMachine != 0 ? processMachine : nativeMachine;
    char text[160];
    std::snprintf(text, sizeof text, "%s, %lu logical processors; this program runs as %s%s", MachineName(nativeMachine),
                  static_cast<unsigned long>(dwProcessors), MachineName(own), processMachine != 0 ? " under WoW64" : "");
    return text;
}

void CExtendedEvidence::ReportArchitecture(IReporter& out)
{
    const char* label = "Processor architecture";
    SYSTEM_INFO info = {};
    ::GetSystemInfo(&info);
    // On ARM64 the older calls describe the emulated x86 machine to an x86 process; IsWow64Process2
    // (Windows 10 1511 and later) names both machines.
    using PFN_ISWOW64PROCESS2 = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const auto isWow64Process2 =
        kvx::GetProc<PFN_ISWOW64PROCESS2>(::GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2");
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    if (isWow64Process2 == nullptr || !isWow64Process2(::GetCurrentProcess(), &processMachine, &nativeMachine)) {
        using PFN_GETNATIVESYSTEMINFO = void(WINAPI*)(SYSTEM_INFO*);
        const auto getNative =
            kvx::GetProc<PFN_GETNATIVESYSTEMINFO>(::GetModuleHandleW(L"kernel32.dll"), "GetNativeSystemInfo");
        SYSTEM_INFO native = info;
        if (getNative != nullptr) {
            getNative(&native);
        }
        switch (native.wProcessorArchitecture) {
        case PROCESSOR_ARCHITECTURE_INTEL: nativeMachine = IMAGE_FILE_MACHINE_I386; break;
        case PROCESSOR_ARCHITECTURE_AMD64: nativeMachine = IMAGE_FILE_MACHINE_AMD64; break;
        case PROCESSOR_ARCHITECTURE_ARM: nativeMachine = 0x01c4; break;
        case 12: nativeMachine = 0xAA64; break;
        case PROCESSOR_ARCHITECTURE_IA64: nativeMachine = IMAGE_FILE_MACHINE_IA64; break;
        default: break;
        }
        BOOL bWow64 = FALSE;
        ::IsWow64Process(::GetCurrentProcess(), &bWow64);
        processMachine = bWow64 ? static_cast<USHORT>(sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386) : 0;
    }
    out.Report("%s: %s", label, DescribeArchitecture(processMachine, nativeMachine, info.dwNumberOfProcessors).c_str());
}

void CExtendedEvidence::ReportBootTime(IReporter& out)
{
    const char* label = "Boot time";
    const ULONGLONG uptimeMs = ::GetTickCount64();
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER boot;
    boot.LowPart = now.dwLowDateTime;
    boot.HighPart = now.dwHighDateTime;
    boot.QuadPart -= uptimeMs * 10000ull;
    FILETIME bootUtc = {boot.LowPart, boot.HighPart};
    FILETIME local;
    SYSTEMTIME st = {};
    ::FileTimeToLocalFileTime(&bootUtc, &local);
    ::FileTimeToSystemTime(&local, &st);
    const ULONGLONG seconds = uptimeMs / 1000;
    out.Report("%s: %04u-%02u-%02u %02u:%02u:%02u local time (up %llu d %02llu:%02llu:%02llu)", label, st.wYear,
                        st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                        static_cast<unsigned long long>(seconds / 86400),
                        static_cast<unsigned long long>(seconds / 3600 % 24),
                        static_cast<unsigned long long>(seconds / 60 % 60), static_cast<unsigned long long>(seconds % 60));
}

void CExtendedEvidence::ExportKeyText(IReporter& out, const char* pszLabel, const wchar_t* pszSubKey, const char* pszFile)
{
    KVX_FUNCTION("CExtendedEvidence::ExportKeyText");
    if (!Proceed(out, pszLabel)) {
        return;
    }
    HKEY key = nullptr;
    const LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, pszSubKey, 0, KEY_READ | KEY_WOW64_64KEY, &key);
    if (rc != ERROR_SUCCESS) {
        out.Report("%s: not read (error %ld)", pszLabel, static_cast<long>(rc));
        return;
    }
    kvx::UniqueHkey owner(key);
    const ULONGLONG cbLimit = Left(m_settings.cbTextLimit);
    std::string text;
    KeyText(key, std::wstring(L"HKEY_LOCAL_MACHINE\\") + pszSubKey, text, static_cast<size_t>(cbLimit));
    WriteText(out, pszLabel, pszFile, std::move(text), m_settings.cbTextLimit, false, "", "");
}

std::string CExtendedEvidence::DescribeProductState(DWORD dwState, bool bWithSignatures)
{
    // The Security Center's undocumented layout as vendors read it: bits 12-13 the product's state
    // (0 off, 1 on, 2 snoozed, 3 expired), bits 4-7 its signatures (0 up to date).
    static const char* const states[] = {"off", "on", "snoozed", "expired"};
    char text[96];
    std::snprintf(text, sizeof text, "0x%05lx: %s%s", static_cast<unsigned long>(dwState), states[(dwState >> 12) & 3],
                  !bWithSignatures ? "" : ((dwState >> 4) & 0xF) == 0 ? ", up to date" : ", out of date");
    return text;
}

namespace {

// The proxy gets what WMI needs, whatever COM security the caller's process set. An object that is no
// proxy (an in-process server) has no blanket to set, which is not a failure.
HRESULT SetBlanket(IUnknown* pProxy)
{
    const HRESULT hr = ::CoSetProxyBlanket(pProxy, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    return hr == E_NOINTERFACE ? S_OK : hr;
}

} // namespace

void CExtendedEvidence::ReportSecurityProducts(IReporter& out, const char* pszLabel, const wchar_t* pszClass,
                                               const char* pszFile, bool bWithSignatures)
{
    KVX_FUNCTION("CExtendedEvidence::ReportSecurityProducts");
    if (!Proceed(out, pszLabel)) {
        return;
    }
    CMultithreadedApartment apartment;
    kvx::UniqueComPtr<IWbemLocator> locator;
    kvx::UniqueComPtr<IWbemServices> services;
    kvx::UniqueComPtr<IEnumWbemClassObject> results;
    const char* step = "COM";
    HRESULT hr = apartment.Result();
    if (SUCCEEDED(hr)) {
        step = "locator";
        hr = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator, locator.put_void());
    }
    if (SUCCEEDED(hr)) {
        // Without this flag a connection to a WMI service that does not answer waits without end;
        // with it the wait is bounded (two minutes at most).
        step = "connection";
        CBstr space(L"ROOT\\SecurityCenter2");
        hr = locator->ConnectServer(space.get(), nullptr, nullptr, nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT, nullptr,
                                    nullptr, services.put());
    }
    if (SUCCEEDED(hr)) {
        step = "security blanket";
        hr = SetBlanket(services.get());
    }
    if (SUCCEEDED(hr)) {
        // Semisynchronous: the call returns at once and every Next below has its own time limit.
        step = "query";
        CBstr language(L"WQL");
        CBstr query((std::wstring(L"SELECT * FROM ") + pszClass).c_str());
        hr = services->ExecQuery(language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                 nullptr, results.put());
    }
    if (SUCCEEDED(hr)) {
        step = "security blanket";
        hr = SetBlanket(results.get());
    }
    if (FAILED(hr)) {
        const bool bMissing = hr == static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE) ||
                              hr == static_cast<HRESULT>(WBEM_E_INVALID_CLASS) || hr == REGDB_E_CLASSNOTREG ||
                              hr == E_NOTIMPL;
        if (bMissing) {
            out.Report("%s: %s", pszLabel, "not available on this system");
        } else {
            out.Report("%s: not read (WMI error 0x%08lx at the %s)", pszLabel, static_cast<unsigned long>(hr), step);
        }
        return;
    }
    std::string text;
    std::string summary;
    unsigned count = 0;
    for (;;) {
        kvx::UniqueComPtr<IWbemClassObject> product;
        ULONG returned = 0;
        const LONG timeoutMs = static_cast<LONG>(std::min<DWORD>(KVXEXTENDED_WMI_NEXT_MS, ProgramTimeLimit()));
        hr = results->Next(timeoutMs, 1, product.put(), &returned);
        if (hr == WBEM_S_TIMEDOUT) {
            out.Report("%s: not read, WMI gave no answer within %ld s after %u products", pszLabel,
                       static_cast<long>((timeoutMs + 999) / 1000), count);
            return;
        }
        if (FAILED(hr)) {
            out.Report("%s: not read (WMI error 0x%08lx after %u products)", pszLabel, static_cast<unsigned long>(hr), count);
            return;
        }
        if (returned == 0) {
            break; // WBEM_S_FALSE: the end of the list
        }
        CVariant name;
        CVariant state;
        CVariant path;
        product->Get(L"displayName", 0, name.get(), nullptr, nullptr);
        product->Get(L"productState", 0, state.get(), nullptr, nullptr);
        product->Get(L"pathToSignedProductExe", 0, path.get(), nullptr, nullptr);
        const std::string described = DescribeProductState(state.Number(), bWithSignatures);
        summary += (count == 0 ? "" : "; ") + name.Text() + " (state " + described + ")";
        text += name.Text() + "\r\n  productState = " + described + "\r\n  pathToSignedProductExe = " + path.Text() +
                "\r\n";
        ++count;
    }
    if (count == 0) {
        out.Report("%s: none registered", pszLabel);
        return;
    }
    WriteText(out, pszLabel, pszFile, std::move(text), m_settings.cbTextLimit, false, "; " + summary, "");
}
