#include "tests/support/SimProduct.h"

#include "tests/support/CoreDriver.h"

#include "common/win/UniqueHandles.h"
#include "simulator/kvxapi/SimKeys.h"
#include "tests/support/TestSupport.h"

#include <cctype>
#include <sstream>

namespace kvxtest {

namespace {

constexpr const char* kProductServices[] = {"KVXTMGR", "KVXNMGR", "KVXIMD",  "KVXMON",  "KVXFLTA",
                                            "KVXFLTB", "KVXFLTC", "KVXFLTD", "KVXFLTE", "KVXFLTF"};
// Capture files the IM-driver double writes: KVXIMD_<n>.<base name>.
constexpr const char* kCapturePrefix = "KVXIMD_";

std::string ProgramDir()
{
    char path[MAX_PATH * 2] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text(path, length);
    size_t slash = text.find_last_of('\\');
    return slash == std::string::npos ? std::string() : text.substr(0, slash + 1);
}

const char* Variant(ESimSdk sdk)
{
    switch (sdk) {
    case ESimSdk::V3_2: return "sdk32";
    case ESimSdk::V3_2_NO_VERSION: return "sdk32nover";
    case ESimSdk::V3_3: return "sdk33";
    case ESimSdk::V4_0: return "sdk40";
    case ESimSdk::V4_1: return "sdk41";
    }
    return "sdk40";
}

void DeleteValue(HKEY root, const std::string& subKey, const std::string& name, REGSAM view)
{
    kvx::UniqueHkey key;
    if (::RegOpenKeyExA(root, subKey.c_str(), 0, KEY_SET_VALUE | view, key.put()) == ERROR_SUCCESS) {
        ::RegDeleteValueA(key.get(), name.c_str());
    }
}

std::string AfterEquals(const std::string& text, size_t from)
{
    size_t equals = text.find('=', from);
    return equals == std::string::npos ? std::string() : text.substr(equals + 1);
}

std::string Unquote(const std::string& text)
{
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

// "key=value key2=value2" (values without spaces).
std::map<std::string, std::string> Pairs(const std::string& text)
{
    std::map<std::string, std::string> pairs;
    std::istringstream in(text);
    std::string token;
    while (in >> token) {
        size_t equals = token.find('=');
        if (equals != std::string::npos) {
            pairs[token.substr(0, equals)] = token.substr(equals + 1);
        }
    }
    return pairs;
}

} // namespace

std::string SimSdkLibraryPath(ESimSdk sdk) { return ProgramDir() + "kvxsim\\" + Variant(sdk) + "\\kvxapi.dll"; }

DWORD SSimSdkCall::U32(size_t offset) const
{
    if (offset + 4 > record.size()) {
        return 0xDEADBEEF;
    }
    return static_cast<DWORD>(record[offset]) | (static_cast<DWORD>(record[offset + 1]) << 8) |
           (static_cast<DWORD>(record[offset + 2]) << 16) | (static_cast<DWORD>(record[offset + 3]) << 24);
}

std::string SSimSdkCall::Text(size_t offset, size_t width) const
{
    std::string text;
    for (size_t i = offset; i < offset + width && i < record.size() && record[i] != 0; ++i) {
        text += static_cast<char>(record[i]);
    }
    return text;
}

bool SSimSdkCall::ZeroRange(size_t from, size_t to) const
{
    for (size_t i = from; i < to && i < record.size(); ++i) {
        if (record[i] != 0) {
            return false;
        }
    }
    return to <= record.size();
}

CNativeFsScope::CNativeFsScope()
{
    using PFN_DISABLE = BOOL(WINAPI*)(PVOID*);
    auto disable = reinterpret_cast<PFN_DISABLE>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "Wow64DisableWow64FsRedirection")));
    BOOL wow64 = FALSE;
    if (disable && ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64) {
        m_disabled = disable(&m_old) != FALSE;
    }
}

CNativeFsScope::~CNativeFsScope()
{
    if (!m_disabled) {
        return;
    }
    using PFN_REVERT = BOOL(WINAPI*)(PVOID);
    auto revert = reinterpret_cast<PFN_REVERT>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "Wow64RevertWow64FsRedirection")));
    if (revert) {
        revert(m_old);
    }
}

CSimProduct::CSimProduct(const SSimProductOptions& options)
{
    RemoveAll();
    m_dir = std::make_unique<CScopedTempDir>("kvxsim-product");
    m_productDir = m_dir->Path() + "\\";
    const std::string source = SimSdkLibraryPath(options.sdk);
    if (!::CopyFileA(source.c_str(), LibraryPath().c_str(), FALSE)) {
        m_error = "cannot copy " + source + ": error " + std::to_string(::GetLastError());
        return;
    }
    // The product and its SDK register in the 32-bit view; the 64-bit core reads that view too.
    if (!SetString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, "MainPath", m_productDir, KEY_WOW64_32KEY) ||
        !SetString(HKEY_LOCAL_MACHINE, kvxsim::KVXSIM_ROOT_KEY, kvxsim::KVXSIM_VALUE_PRODUCT_DIR, m_productDir,
                   kvxsim::KVXSIM_VIEW)) {
        m_error = "cannot write the product keys";
        return;
    }
    for (const char* service : kProductServices) {
        const std::string name = service;
        const bool isManagerChoice = name == "KVXNMGR" || name == "KVXIMD";
        if (isManagerChoice && (name == "KVXNMGR") != options.ndisManager) {
            continue;
        }
        bool omitted = false;
        for (const std::string& omit : options.omitServices) {
            omitted = omitted || omit == name;
        }
        if (omitted) {
            continue;
        }
        const bool isFilter = name.compare(0, 6, "KVXFLT") == 0;
        const std::string key = std::string(SERVICES_KEY) + name;
        std::string lower = name;
        for (char& c : lower) {
            c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
        }
        if (!SetDword(HKEY_LOCAL_MACHINE, key, "Type", SERVICE_KERNEL_DRIVER) ||
            !SetDword(HKEY_LOCAL_MACHINE, key, "Start", isFilter ? options.filterStart : options.managerStart) ||
            !SetDword(HKEY_LOCAL_MACHINE, key, "ErrorControl", SERVICE_ERROR_NORMAL) ||
            !SetString(HKEY_LOCAL_MACHINE, key, "ImagePath", "System32\\drivers\\" + lower + ".sys") ||
            !SetString(HKEY_LOCAL_MACHINE, key, "DisplayName", "Orvex " + name)) {
            m_error = "cannot create the service " + name;
            return;
        }
        m_services.push_back(name);
    }
}

CSimProduct::~CSimProduct()
{
    RemoveAll();
    m_dir.reset();
}

void CSimProduct::RemoveAll()
{
    // What the tool journaled about this machine goes with it.
    kvxtest::ClearJournal();
    CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, kvxsim::KVXSIM_ROOT_KEY, kvxsim::KVXSIM_VIEW);
    DeleteValue(HKEY_LOCAL_MACHINE, PRODUCT_KEY, "MainPath", KEY_WOW64_32KEY);
    DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, PRODUCT_KEY, KEY_WOW64_32KEY);
    DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, "Software\\Orvex Software", KEY_WOW64_32KEY);
    for (const char* service : kProductServices) {
        CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, std::string(SERVICES_KEY) + service);
    }
    for (const std::string& file : NativeCaptureFiles("*")) {
        DeleteNativeFile(file);
    }
}

const std::string& CSimProduct::ProductDir() const { return m_productDir; }

std::string CSimProduct::LibraryPath() const { return m_productDir + "kvxapi.dll"; }

std::string CSimProduct::JournalPath() const { return m_productDir + kvxsim::KVXSIM_JOURNAL_FILE; }

std::vector<SSimSdkCall> CSimProduct::Journal() const
{
    std::vector<SSimSdkCall> calls;
    std::istringstream in(ReadFileText(JournalPath()));
    std::string line;
    SSimSdkCall current;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::string tag = line.substr(0, line.find(' '));
        const std::string rest = line.size() > tag.size() ? line.substr(tag.size() + 1) : std::string();
        if (tag == "CALL") {
            current = SSimSdkCall();
            auto pairs = Pairs(rest);
            current.function = pairs["func"];
            current.exportName = pairs["export"];
            current.sdk = pairs["sdk"];
        } else if (tag == "ARG") {
            size_t equals = rest.find('=');
            current.args[rest.substr(0, equals)] = Unquote(AfterEquals(rest, 0));
        } else if (tag == "REC") {
            auto pairs = Pairs(rest);
            current.recordName = pairs["name"];
            current.recordDir = pairs["dir"];
            current.record.clear();
        } else if (tag == "FLD") {
            // FLD +<offset> <type> <name>=<value>
            std::istringstream fields(rest);
            std::string offset;
            std::string type;
            std::string nameValue;
            fields >> offset >> type;
            std::getline(fields, nameValue);
            nameValue.erase(0, nameValue.find_first_not_of(' '));
            size_t equals = nameValue.find('=');
            current.fields[nameValue.substr(0, equals)] = Unquote(nameValue.substr(equals + 1));
        } else if (tag == "HEX") {
            std::istringstream bytes(rest);
            std::string offset;
            std::string byte;
            bytes >> offset;
            while (bytes >> byte) {
                current.record.push_back(static_cast<BYTE>(std::stoul(byte, nullptr, 16)));
            }
        } else if (tag == "NOTE") {
            current.notes.push_back(rest);
        } else if (tag == "RET") {
            auto pairs = Pairs(rest);
            current.result = static_cast<DWORD>(std::stoul(pairs["result"]));
            current.error = static_cast<DWORD>(std::stoul(pairs["error"], nullptr, 16));
        } else if (tag == "END") {
            calls.push_back(current);
        }
    }
    return calls;
}

std::vector<SSimSdkCall> CSimProduct::Calls(const std::string& function) const
{
    std::vector<SSimSdkCall> matching;
    for (const SSimSdkCall& call : Journal()) {
        if (call.function == function) {
            matching.push_back(call);
        }
    }
    return matching;
}

void CSimProduct::ClearJournal() { ::DeleteFileA(JournalPath().c_str()); }

void CSimProduct::FailFunction(const std::string& function, DWORD error)
{
    SetDword(HKEY_LOCAL_MACHINE, kvxsim::KVXSIM_INJECT_KEY, kvxsim::KVXSIM_INJECT_FAIL_PREFIX + function, error,
             kvxsim::KVXSIM_VIEW);
}

void CSimProduct::SetInitBusy(DWORD count)
{
    SetDword(HKEY_LOCAL_MACHINE, kvxsim::KVXSIM_INJECT_KEY, kvxsim::KVXSIM_INJECT_INIT_BUSY, count,
             kvxsim::KVXSIM_VIEW);
}

void CSimProduct::HideExports(const std::string& semicolonSeparatedNames)
{
    SetString(HKEY_LOCAL_MACHINE, kvxsim::KVXSIM_INJECT_KEY, kvxsim::KVXSIM_INJECT_HIDE, semicolonSeparatedNames,
              kvxsim::KVXSIM_VIEW);
}

void CSimProduct::ReportVersion(WORD version)
{
    SetDword(HKEY_LOCAL_MACHINE, kvxsim::KVXSIM_INJECT_KEY, kvxsim::KVXSIM_INJECT_VERSION, version,
             kvxsim::KVXSIM_VIEW);
}

void CSimProduct::ClearInjections()
{
    CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, kvxsim::KVXSIM_INJECT_KEY, kvxsim::KVXSIM_VIEW);
}

void CSimProduct::SetFilter(const std::string& service, bool enabled, bool loaded)
{
    const std::string key = std::string(kvxsim::KVXSIM_FILTERS_KEY) + "\\" + service;
    SetDword(HKEY_LOCAL_MACHINE, key, kvxsim::KVXSIM_VALUE_ENABLED, enabled ? 1 : 0, kvxsim::KVXSIM_VIEW);
    SetDword(HKEY_LOCAL_MACHINE, key, kvxsim::KVXSIM_VALUE_LOADED, loaded ? 1 : 0, kvxsim::KVXSIM_VIEW);
}

bool CSimProduct::FilterEnabled(const std::string& service) const
{
    DWORD value = 1;
    GetDword(HKEY_LOCAL_MACHINE, std::string(kvxsim::KVXSIM_FILTERS_KEY) + "\\" + service,
             kvxsim::KVXSIM_VALUE_ENABLED, value, kvxsim::KVXSIM_VIEW);
    return value != 0;
}

bool CSimProduct::LogsOrCapturesOn()
{
    for (const char* key : {kvxsim::KVXSIM_PCAP_KEY, kvxsim::KVXSIM_ATDI_KEY}) {
        DWORD status = 0;
        if (GetDword(HKEY_LOCAL_MACHINE, key, "Status", status, kvxsim::KVXSIM_VIEW) && status == 1) {
            return true;
        }
    }
    HKEY logs = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kvxsim::KVXSIM_LOGS_KEY, 0, KEY_READ | kvxsim::KVXSIM_VIEW, &logs) !=
        ERROR_SUCCESS) {
        return false;
    }
    bool on = false;
    char name[64];
    for (DWORD index = 0; !on; ++index) {
        DWORD length = sizeof name;
        if (::RegEnumKeyExA(logs, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        DWORD enabled = 0;
        on = GetDword(HKEY_LOCAL_MACHINE, std::string(kvxsim::KVXSIM_LOGS_KEY) + "\\" + name, "Enabled", enabled,
                      kvxsim::KVXSIM_VIEW) &&
             enabled != 0;
    }
    ::RegCloseKey(logs);
    return on;
}

void CSimProduct::RemoveService(const std::string& service)
{
    CScopedRegistryTree::Delete(HKEY_LOCAL_MACHINE, std::string(SERVICES_KEY) + service);
}

std::string CSimProduct::NativeDriversDir()
{
    char path[MAX_PATH + 1] = {};
    ::GetSystemDirectoryA(path, sizeof path);
    return std::string(path) + "\\Drivers\\";
}

std::vector<std::string> CSimProduct::NativeCaptureFiles(const std::string& extension)
{
    std::vector<std::string> files;
    CNativeFsScope native;
    const std::string dir = NativeDriversDir();
    WIN32_FIND_DATAA data;
    kvx::UniqueFindHandle find(::FindFirstFileA((dir + kCapturePrefix + "*." + extension).c_str(), &data));
    if (!find) {
        return files;
    }
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            files.push_back(dir + data.cFileName);
        }
    } while (::FindNextFileA(find.get(), &data));
    return files;
}

void CSimProduct::DeleteNativeFile(const std::string& path)
{
    CNativeFsScope native;
    ::DeleteFileA(path.c_str());
}

bool CSimProduct::WriteNativeFile(const std::string& path, const std::string& text)
{
    CNativeFsScope native;
    return WriteFileText(path, text);
}

} // namespace kvxtest
