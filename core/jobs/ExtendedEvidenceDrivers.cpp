// Driver facts: wintrust, crypt32 and version are loaded from the system directory at run time, as
// every library outside the known DLLs is (common/win/LibraryLoading.h).
#include "core/jobs/ExtendedEvidenceDrivers.h"

#include "common/log/GuardedOperation.h"
#include "common/win/LibraryLoading.h"
#include "common/win/UniqueHandles.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <mscat.h>

#include <cstdio>
#include <vector>

namespace {

std::wstring Wide(const std::string& text)
{
    if (text.empty()) {
        return std::wstring();
    }
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(size > 0 ? size : 0, L'\0');
    if (size > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size);
    }
    return out;
}

std::string Utf8(const wchar_t* text)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 1 ? size : 1, '\0');
    if (size > 1) {
        ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    }
    out.resize(size > 1 ? size - 1 : 0);
    return out;
}

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    const size_t length = strlen(prefix);
    return text.size() >= length && _strnicmp(text.c_str(), prefix, length) == 0;
}

std::string WithBackslash(std::string path)
{
    if (path.empty() || path.back() != '\\') {
        path += '\\';
    }
    return path;
}

std::string Hex(const BYTE* data, DWORD size)
{
    std::string text;
    char pair[3];
    for (DWORD i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", data[i]);
        text += pair;
    }
    return text;
}

const char* StartName(DWORD start)
{
    static const char* const names[] = {"boot", "system", "automatic", "manual", "disabled"};
    return start < 5 ? names[start] : "unknown";
}

const char* StateName(DWORD state)
{
    static const char* const names[] = {"stopped", "start pending", "stop pending", "running", "continue pending",
                                        "pause pending", "paused"};
    return state >= 1 && state <= 7 ? names[state - 1] : "unknown";
}

using PFN_WINVERIFYTRUST = LONG(WINAPI*)(HWND, GUID*, LPVOID);
using PFN_PROVDATA = CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE);
using PFN_PROVSIGNER = CRYPT_PROVIDER_SGNR*(WINAPI*)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
using PFN_CATACQUIRE = BOOL(WINAPI*)(HCATADMIN*, const GUID*, DWORD);
using PFN_CATHASH = BOOL(WINAPI*)(HANDLE, DWORD*, BYTE*, DWORD);
using PFN_CATENUM = HCATINFO(WINAPI*)(HCATADMIN, BYTE*, DWORD, DWORD, HCATINFO*);
using PFN_CATINFO = BOOL(WINAPI*)(HCATINFO, CATALOG_INFO*, DWORD);
using PFN_CATRELEASEINFO = BOOL(WINAPI*)(HCATADMIN, HCATINFO, DWORD);
using PFN_CATRELEASE = BOOL(WINAPI*)(HCATADMIN, DWORD);
using PFN_CERTNAME = DWORD(WINAPI*)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPWSTR, DWORD);

// The catalog that lists a file's hash, if any: its path and the member tag (the hash in hex).
bool FindCatalog(HMODULE wintrust, const std::wstring& path, std::wstring& catalog, std::wstring& tag)
{
    const auto acquire = kvx::GetProc<PFN_CATACQUIRE>(wintrust, "CryptCATAdminAcquireContext");
    const auto hash = kvx::GetProc<PFN_CATHASH>(wintrust, "CryptCATAdminCalcHashFromFileHandle");
    const auto enumerate = kvx::GetProc<PFN_CATENUM>(wintrust, "CryptCATAdminEnumCatalogFromHash");
    const auto info = kvx::GetProc<PFN_CATINFO>(wintrust, "CryptCATCatalogInfoFromContext");
    const auto releaseInfo = kvx::GetProc<PFN_CATRELEASEINFO>(wintrust, "CryptCATAdminReleaseCatalogContext");
    const auto release = kvx::GetProc<PFN_CATRELEASE>(wintrust, "CryptCATAdminReleaseContext");
    if (!acquire || !hash || !enumerate || !info || !releaseInfo || !release) {
        return false;
    }
    kvx::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    std::vector<BYTE> digest(64);
    DWORD size = static_cast<DWORD>(digest.size());
    if (!hash(file.get(), &size, digest.data(), 0)) {
        return false;
    }
    GUID action = DRIVER_ACTION_VERIFY;
    HCATADMIN admin = nullptr;
    if (!acquire(&admin, &action, 0)) {
        return false;
    }
    bool bFound = false;
    HCATINFO catalogInfo = enumerate(admin, digest.data(), size, 0, nullptr);
    if (catalogInfo != nullptr) {
        CATALOG_INFO details = {};
        details.cbStruct = sizeof details;
        if (info(catalogInfo, &details, 0)) {
            catalog = details.wszCatalogFile;
            tag = Wide(Hex(digest.data(), size));
            bFound = true;
        }
        releaseInfo(admin, catalogInfo, 0);
    }
    release(admin, 0);
    return bFound;
}

std::string TrustText(LONG rc)
{
    switch (static_cast<unsigned long>(rc)) {
    case 0: return "signed";
    case 0x800B0100ul: return "not signed"; // TRUST_E_NOSIGNATURE
    case 0x800B0003ul: return "not a signable file"; // TRUST_E_SUBJECT_FORM_UNKNOWN: no PE image
    case 0x800B0109ul: return "signed, root not trusted"; // CERT_E_UNTRUSTEDROOT
    case 0x800B0101ul: return "signed, certificate expired"; // CERT_E_EXPIRED
    case 0x80096010ul: return "signature broken, the file was changed"; // TRUST_E_BAD_DIGEST
    case 0x800B010Cul: return "signed, certificate revoked"; // CERT_E_REVOKED
    case 0x800B0111ul: return "signed, publisher distrusted"; // TRUST_E_EXPLICIT_DISTRUST
    default: {
        char text[48];
        std::snprintf(text, sizeof text, "not verified (0x%08lX)", static_cast<unsigned long>(rc));
        return text;
    }
    }
}

} // namespace

std::string CExtendedEvidenceDrivers::Signature(const std::wstring& path, std::string& signer)
{
    kvx::UniqueModule wintrust(kvx::LoadSystemLibrary(L"wintrust.dll"));
    kvx::UniqueModule crypt32(kvx::LoadSystemLibrary(L"crypt32.dll"));
    const auto verify = kvx::GetProc<PFN_WINVERIFYTRUST>(wintrust.get(), "WinVerifyTrust");
    if (!wintrust || verify == nullptr) {
        return "not verified (no wintrust.dll)";
    }
    std::wstring catalog;
    std::wstring tag;
    const bool bCatalog = FindCatalog(wintrust.get(), path, catalog, tag);

    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path.c_str();
    WINTRUST_CATALOG_INFO catalogInfo = {};
    catalogInfo.cbStruct = sizeof catalogInfo;
    catalogInfo.pcwszCatalogFilePath = catalog.c_str();
    catalogInfo.pcwszMemberFilePath = path.c_str();
    catalogInfo.pcwszMemberTag = tag.c_str();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    // No network: the customer's problem may be the network itself.
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    if (bCatalog) {
        data.dwUnionChoice = WTD_CHOICE_CATALOG;
        data.pCatalog = &catalogInfo;
    } else {
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &fileInfo;
    }
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG rc = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);

    const auto provData = kvx::GetProc<PFN_PROVDATA>(wintrust.get(), "WTHelperProvDataFromStateData");
    const auto provSigner = kvx::GetProc<PFN_PROVSIGNER>(wintrust.get(), "WTHelperGetProvSignerFromChain");
    const auto certName = kvx::GetProc<PFN_CERTNAME>(crypt32.get(), "CertGetNameStringW");
    if (data.hWVTStateData != nullptr && provData && provSigner && certName) {
        CRYPT_PROVIDER_DATA* provider = provData(data.hWVTStateData);
        CRYPT_PROVIDER_SGNR* sgnr = provider != nullptr ? provSigner(provider, 0, FALSE, 0) : nullptr;
        if (sgnr != nullptr && sgnr->csCertChain > 0 && sgnr->pasCertChain != nullptr && sgnr->pasCertChain[0].pCert) {
            wchar_t name[256] = {};
            certName(sgnr->pasCertChain[0].pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
            signer = Utf8(name);
        }
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return TrustText(rc) + (rc == 0 || !signer.empty() ? (bCatalog ? " (catalog)" : " (embedded)") : "");
}

std::string CExtendedEvidenceDrivers::ResolveImagePath(const std::string& strImagePath, const std::string& strWindows,
                                                       const std::string& strNativeSystem)
{
    std::string path = strImagePath;
    if (StartsWithNoCase(path, "\\??\\")) {
        path = path.substr(4);
    } else if (StartsWithNoCase(path, "\\SystemRoot\\")) {
        path = WithBackslash(strWindows) + path.substr(12);
    } else if (StartsWithNoCase(path, "%SystemRoot%\\")) {
        path = WithBackslash(strWindows) + path.substr(13);
    } else if (!path.empty() && path[0] != '\\' && (path.size() < 2 || path[1] != ':')) {
        path = WithBackslash(strWindows) + path; // relative to the Windows directory, as the loader reads it
    }
    // A 32-bit process would be shown the WoW64 view of System32, which holds no drivers.
    const std::string system32 = WithBackslash(strWindows) + "System32\\";
    if (!strNativeSystem.empty() && StartsWithNoCase(path, system32.c_str())) {
        path = WithBackslash(strNativeSystem) + path.substr(system32.size());
    }
    return path;
}

void CExtendedEvidenceDrivers::DescribeFile(SDriverFacts& facts)
{
    const std::wstring path = Wide(facts.strPath);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        char text[48];
        std::snprintf(text, sizeof text, "file missing (error %lu)", ::GetLastError());
        facts.strSize = text;
        return;
    }
    facts.strSize = std::to_string((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    SYSTEMTIME st = {};
    ::FileTimeToSystemTime(&data.ftLastWriteTime, &st);
    char time[40];
    std::snprintf(time, sizeof time, "%04u-%02u-%02u %02u:%02u:%02u UTC", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond);
    facts.strTime = time;

    using PFN_SIZE = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using PFN_INFO = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using PFN_QUERY = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    kvx::UniqueModule version(kvx::LoadSystemLibrary(L"version.dll"));
    const auto infoSize = kvx::GetProc<PFN_SIZE>(version.get(), "GetFileVersionInfoSizeW");
    const auto info = kvx::GetProc<PFN_INFO>(version.get(), "GetFileVersionInfoW");
    const auto query = kvx::GetProc<PFN_QUERY>(version.get(), "VerQueryValueW");
    facts.strVersion = "none";
    DWORD ignored = 0;
    const DWORD size = infoSize && info && query ? infoSize(path.c_str(), &ignored) : 0;
    if (size > 0) {
        std::vector<BYTE> block(size);
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        if (info(path.c_str(), 0, size, block.data()) &&
            query(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr &&
            length >= sizeof(VS_FIXEDFILEINFO)) {
            char text[64];
            std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(HIWORD(fixed->dwFileVersionMS)),
                          static_cast<unsigned long>(LOWORD(fixed->dwFileVersionMS)),
                          static_cast<unsigned long>(HIWORD(fixed->dwFileVersionLS)),
                          static_cast<unsigned long>(LOWORD(fixed->dwFileVersionLS)));
            facts.strVersion = text;
        }
    }
    facts.strSignature = Signature(path, facts.strSigner);
}

SDriverFacts CExtendedEvidenceDrivers::File(const std::string& strName, const std::string& strPath)
{
    SDriverFacts facts;
    facts.strName = strName;
    facts.strPath = strPath;
    facts.bInstalled = !strPath.empty() && ::GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (facts.bInstalled) {
        DescribeFile(facts);
    }
    return facts;
}

SDriverFacts CExtendedEvidenceDrivers::Service(const std::string& strName, HKEY hRoot, const std::wstring& strServicesKey,
                                               const std::string& strWindows, const std::string& strNativeSystem)
{
    KVX_FUNCTION_QUIET("CExtendedEvidenceDrivers::Service");
    SDriverFacts facts;
    facts.strName = strName;
    kvx::UniqueHkey key;
    if (::RegOpenKeyExW(hRoot, (strServicesKey + L"\\" + Wide(strName)).c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                        key.put()) != ERROR_SUCCESS) {
        return facts;
    }
    facts.bInstalled = true;
    DWORD start = 0;
    DWORD size = sizeof start;
    DWORD type = 0;
    facts.strStart = ::RegQueryValueExW(key.get(), L"Start", nullptr, &type, reinterpret_cast<BYTE*>(&start), &size) ==
                                 ERROR_SUCCESS && type == REG_DWORD
                         ? StartName(start)
                         : "not set";
    std::vector<wchar_t> image(MAX_PATH + 1);
    size = static_cast<DWORD>((image.size() - 1) * sizeof(wchar_t));
    std::string imagePath;
    if (::RegQueryValueExW(key.get(), L"ImagePath", nullptr, &type, reinterpret_cast<BYTE*>(image.data()), &size) ==
            ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
        image[std::min<size_t>(size / sizeof(wchar_t), image.size() - 1)] = L'\0';
        const std::string raw = Utf8(image.data());
        std::vector<char> expanded(32768);
        const DWORD length = ::ExpandEnvironmentStringsA(raw.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
        imagePath = length > 0 && length <= expanded.size() ? expanded.data() : raw;
    } else {
        imagePath = "System32\\drivers\\" + strName + ".sys";
    }
    facts.strPath = ResolveImagePath(imagePath, strWindows, strNativeSystem);
    DescribeFile(facts);

    kvx::UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    kvx::UniqueServiceHandle service;
    if (manager) {
        service.reset(::OpenServiceW(manager.get(), Wide(strName).c_str(), SERVICE_QUERY_STATUS));
    }
    SERVICE_STATUS status = {};
    if (service && ::QueryServiceStatus(service.get(), &status)) {
        facts.strState = StateName(status.dwCurrentState);
    } else {
        facts.strState = "unknown (error " + std::to_string(static_cast<unsigned long>(::GetLastError())) + ")";
    }
    return facts;
}

std::string CExtendedEvidenceDrivers::Table(const std::vector<SDriverFacts>& facts)
{
    std::string text = "Name\tPath\tVersion\tSize\tModified\tSignature\tSigner\tState\tStart\r\n";
    for (const SDriverFacts& f : facts) {
        if (!f.bInstalled) {
            text += f.strName + "\tnot installed\r\n";
            continue;
        }
        text += f.strName + "\t" + f.strPath + "\t" + f.strVersion + "\t" + f.strSize + "\t" + f.strTime + "\t" +
                f.strSignature + "\t" + f.strSigner + "\t" + f.strState + "\t" + f.strStart + "\r\n";
    }
    return text;
}

std::string CExtendedEvidenceDrivers::Summary(const std::vector<SDriverFacts>& facts)
{
    std::string summary;
    std::string missing;
    for (const SDriverFacts& f : facts) {
        if (!f.bInstalled) {
            missing += (missing.empty() ? "" : ", ") + f.strName;
            continue;
        }
        summary += "; " + f.strName + " " + (f.strVersion.empty() ? std::string("no file") : f.strVersion) + " " +
                   (f.strSignature.empty() ? std::string("not verified") : f.strSignature) +
                   (f.strSigner.empty() ? std::string() : " by " + f.strSigner) +
                   (f.strState.empty() ? std::string() : ", " + f.strState) +
                   (f.strStart.empty() ? std::string() : ", " + f.strStart);
    }
    if (!missing.empty()) {
        summary += "; not installed: " + missing;
    }
    return summary;
}
