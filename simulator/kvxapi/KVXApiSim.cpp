// Test double of the product's SDK library. One source builds every SDK generation: KVXSIM_LAYOUT
// (32, 33, 40) picks the export names, filter numbering and record layouts, KVXSIM_MAJOR/MINOR the
// version it reports. It behaves like the product as its clients observe it: filter states, log and
// capture files and the snapshot appear where the product would put them, and every call is journalled
// with its records so that tests can check what a client sent, byte by byte.
#include "common/win/UniqueHandles.h"
#include "simulator/kvxapi/SimJournal.h"
#include "simulator/kvxapi/SimKeys.h"
#include "simulator/kvxapi/SimRecords.h"
#include "simulator/kvxapi/SimState.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if !defined(KVXSIM_LAYOUT) || !defined(KVXSIM_MAJOR) || !defined(KVXSIM_MINOR)
#error "KVXSIM_LAYOUT, KVXSIM_MAJOR and KVXSIM_MINOR select the SDK generation"
#endif

using namespace kvxsim;

namespace {

// Export names of this generation, for the journal (the .def file maps them to the functions below).
#if KVXSIM_LAYOUT == 32
constexpr bool kSessionRequired = true;
constexpr const char* EXP_INIT = "_0069_";
constexpr const char* EXP_END = "_0029_";
constexpr const char* EXP_GETFILTERSINFO = "_0072_";
constexpr const char* EXP_SNAPSHOT = "_0117_";
constexpr const char* EXP_LOGSTATUS = "_0099_";
constexpr const char* EXP_LOGCONFIG = "_0100_";
constexpr const char* EXP_PCAPSTATUS = "_0105_";
constexpr const char* EXP_PCAPCONFIG = "_0107_";
constexpr const char* EXP_ATDISTATUS = "_0113_";
constexpr const char* EXP_ATDICONFIG = "_0115_";
constexpr SFiltersInfoLayout kFiltersInfo = {2, 156, 6};
#elif KVXSIM_LAYOUT == 33
constexpr bool kSessionRequired = true;
constexpr const char* EXP_INIT = "_0067_";
constexpr const char* EXP_END = "_0027_";
constexpr const char* EXP_GETFILTERSINFO = "_0070_";
constexpr const char* EXP_SNAPSHOT = "_0107_";
constexpr const char* EXP_LOGSTATUS = "_0089_";
constexpr const char* EXP_LOGCONFIG = "_0090_";
constexpr const char* EXP_PCAPSTATUS = "_0095_";
constexpr const char* EXP_PCAPCONFIG = "_0097_";
constexpr const char* EXP_ATDISTATUS = "_0103_";
constexpr const char* EXP_ATDICONFIG = "_0105_";
constexpr SFiltersInfoLayout kFiltersInfo = {3, 160, 5};
#elif KVXSIM_LAYOUT == 40
// From 4.0 on the product opens its client session by itself; the old entry points stay for old clients.
constexpr bool kSessionRequired = false;
constexpr const char* EXP_INIT = "_0069_";
constexpr const char* EXP_END = "_0027_";
constexpr const char* EXP_GETFILTERSINFO = "_0072_";
constexpr const char* EXP_SNAPSHOT = "_0111_";
constexpr const char* EXP_LOGSTATUS = "_0093_";
constexpr const char* EXP_LOGCONFIG = "_0094_";
constexpr const char* EXP_PCAPSTATUS = "_0099_";
constexpr const char* EXP_PCAPCONFIG = "_0101_";
constexpr const char* EXP_ATDISTATUS = "_0107_";
constexpr const char* EXP_ATDICONFIG = "_0109_";
constexpr SFiltersInfoLayout kFiltersInfo = {4, 160, 6};
#else
#error "unknown KVXSIM_LAYOUT"
#endif

#if KVXSIM_LAYOUT == 40
const SRecordDesc& kImCaptureDesc = g_recImCaptureOptions40;
#else
const SRecordDesc& kImCaptureDesc = g_recImCaptureOptions3x;
#endif

struct SSimFilter {
    DWORD sdkId;
    const char* service;
    const char* display;
};

// The product's own numbering of its plug-in filters in this generation.
#if KVXSIM_LAYOUT == 32
constexpr SSimFilter kFilters[] = {
    {1, "KVXFLTF", "Application Filter"}, {2, "KVXFLTE", "Filter E"}, {3, "KVXFLTD", "Filter D"},
    {4, "KVXFLTA", "Filter A"},           {5, "KVXFLTB", "Filter B"}, {6, "KVXFLTC", "Filter C"},
};
#elif KVXSIM_LAYOUT == 33
constexpr SSimFilter kFilters[] = {
    {1, "KVXFLTF", "Application Filter"}, {2, "KVXFLTE", "Filter E"}, {3, "KVXFLTD", "Filter D"},
    {4, "KVXFLTA", "Filter A"},           {5, "KVXFLTC", "Filter C"},
};
#else
// Block 6 is reserved in 4.0: the record keeps its size but no filter answers to it.
constexpr SSimFilter kFilters[] = {
    {1, "KVXFLTF", "Application Filter"}, {2, "KVXFLTE", "Filter E"}, {3, "KVXFLTD", "Filter D"},
    {4, "KVXFLTA", "Filter A"},           {5, "KVXFLTC", "Filter C"},
};
#endif

// Log modules the product knows, with the names it writes into its log headers.
struct SSimModule {
    DWORD id;
    const char* name;
};
constexpr SSimModule kModules[] = {
    {0x01010001, "API"},         {0x01010002, "SERVICE"},      {0x01020004, "KVXNMGR_DLL"},
    {0x01020005, "KVXFLTE_DLL"}, {0x01020006, "KVXFLTD_DLL"},  {0x01020008, "KVXFLTC_DLL"},
    {0x01030009, "KVXFLTFCTL_DLL"}, {0x0103000A, "KVXMONCTL_DLL"}, {0x0202000B, "KVXNMGR_DRI"},
    {0x0202000C, "KVXFLTD_DRI"}, {0x0202000D, "KVXFLTE_DRI"},  {0x0202000F, "KVXFLTC_DRI"},
    {0x020300A0, "KVXTMGR_DRI"}, {0x020300A1, "KVXFLTF_DRI"},  {0x020300A2, "KVXMON_DRI"},
    {0x0101FFFF, "USR_APISRV"},  {0x0102FFFF, "USR_NDIS"},     {0x0103FFFF, "USR_TDI"},
    {0x0202FFFF, "KRN_NDIS"},    {0x0203FFFF, "KRN_TDI"},
};

constexpr DWORD CAPTURE_ENABLE = 1;
constexpr DWORD CAPTURE_DISABLE = 2;
constexpr DWORD CAPTURE_ENABLE_ON_RESTART = 3;
constexpr DWORD CAPTURE_DISABLE_ON_RESTART = 4;

constexpr DWORD KVX_INIT_MODE = 2;
constexpr size_t KVX_APP_ID_SIZE = 16;

thread_local DWORD t_lastError = 0;
std::atomic<LONG> g_sessions{0};

std::string Hex32(DWORD value)
{
    char text[16];
    snprintf(text, sizeof(text), "%08lX", static_cast<unsigned long>(value));
    return text;
}

std::string Decimal(DWORD value) { return std::to_string(static_cast<unsigned long>(value)); }

DWORD Fail(CJournalEntry& entry, DWORD error)
{
    t_lastError = error;
    return entry.Result(FALSE, error);
}

DWORD Succeed(CJournalEntry& entry) { return entry.Result(TRUE, 0); }

// Common preamble: an injected failure wins, then 3.x refuses callers without a session.
bool Refused(CJournalEntry& entry, const char* function, DWORD& result)
{
    if (DWORD injected = InjectedFailure(function)) {
        entry.Note("injected failure");
        result = Fail(entry, injected);
        return true;
    }
    if (kSessionRequired && g_sessions.load() <= 0) {
        entry.Note("no session: KVX_Init was not called");
        result = Fail(entry, KVXSIM_ERR_NOT_INITIALIZED);
        return true;
    }
    return false;
}

[[maybe_unused]] const SSimFilter* FindFilter(DWORD sdkId)
{
    for (const SSimFilter& filter : kFilters) {
        if (filter.sdkId == sdkId) {
            return &filter;
        }
    }
    return nullptr;
}

const SSimModule* FindModule(DWORD id)
{
    for (const SSimModule& module : kModules) {
        if (module.id == id) {
            return &module;
        }
    }
    return nullptr;
}

std::string FilterKey(const char* service) { return std::string(KVXSIM_FILTERS_KEY) + "\\" + service; }
std::string LogKey(DWORD module) { return std::string(KVXSIM_LOGS_KEY) + "\\" + Hex32(module); }

// Writes (or appends) a file and gives the Windows error of the first failing step.
DWORD WriteFileBytes(const std::string& path, const void* data, size_t size, bool append)
{
    kvx::UniqueFileHandle file(::CreateFileA(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return ::GetLastError();
    }
    DWORD written = 0;
    if (!::WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr)) {
        return ::GetLastError();
    }
    return written == size ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

DWORD WriteText(const std::string& path, const std::string& text, bool append)
{
    return WriteFileBytes(path, text.data(), text.size(), append);
}

std::string Timestamp()
{
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char text[32];
    snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

// A libpcap file: global header, then Ethernet frames the IM driver "saw".
std::vector<BYTE> PcapHeader()
{
    std::vector<BYTE> bytes(24, 0);
    WriteU32(bytes.data(), 0, 0xA1B2C3D4);
    bytes[4] = 2; // version 2.4
    bytes[6] = 4;
    WriteU32(bytes.data(), 16, 65535); // snap length
    WriteU32(bytes.data(), 20, 1);     // Ethernet
    return bytes;
}

std::vector<BYTE> PcapFrame(DWORD sequence)
{
    constexpr DWORD FRAME = 60;
    std::vector<BYTE> bytes(16 + FRAME, 0);
    WriteU32(bytes.data(), 0, static_cast<DWORD>(::GetTickCount() / 1000));
    WriteU32(bytes.data(), 4, sequence);
    WriteU32(bytes.data(), 8, FRAME);
    WriteU32(bytes.data(), 12, FRAME);
    BYTE* frame = bytes.data() + 16;
    memset(frame, 0xFF, 6); // broadcast
    frame[6] = 0x02;        // locally administered source
    frame[11] = static_cast<BYTE>(sequence);
    frame[12] = 0x08; // IPv4
    frame[14] = 0x45;
    return bytes;
}

DWORD AppendPcapFrames(const std::string& path, DWORD count)
{
    for (DWORD i = 0; i < count; ++i) {
        std::vector<BYTE> frame = PcapFrame(i);
        if (DWORD error = WriteFileBytes(path, frame.data(), frame.size(), true)) {
            return error;
        }
    }
    return ERROR_SUCCESS;
}

[[maybe_unused]] BOOL SetFilterEnabled(CJournalEntry& entry, DWORD sdkId, bool enable, DWORD& result)
{
    const SSimFilter* filter = FindFilter(sdkId);
    if (!filter) {
        entry.Note("unknown SDK filter id");
        result = Fail(entry, KVXSIM_ERR_UNKNOWN_FILTER);
        return FALSE;
    }
    if (!IsServiceInstalled(filter->service)) {
        entry.Note(std::string("filter not installed: ") + filter->service);
        result = Fail(entry, KVXSIM_ERR_NOT_INSTALLED);
        return FALSE;
    }
    SetDwordValue(FilterKey(filter->service).c_str(), KVXSIM_VALUE_ENABLED, enable ? 1 : 0);
    entry.Note(std::string(filter->service) + (enable ? " started" : " stopped"));
    result = Succeed(entry);
    return TRUE;
}

// A capture status record is the same for both captures; false (with the reason) when malformed.
bool CheckStatusRecord(const BYTE* record, std::string& reason)
{
    if (!CheckUnusedBytesZero(g_recCaptureStatus, record, reason)) {
        return false;
    }
    if (ReadU32(record, 0) != KVXSIM_RECORD_VERSION || ReadU32(record, 8) != 0) {
        reason = "bad version or reserved field";
        return false;
    }
    DWORD status = ReadU32(record, 4);
    if (status < CAPTURE_ENABLE || status > CAPTURE_DISABLE_ON_RESTART) {
        reason = "unknown status " + Decimal(status);
        return false;
    }
    return true;
}

std::string SnapshotText()
{
    std::string text = "Orvex Network Manager - configuration snapshot\r\n";
    text += "Taken: " + Timestamp() + "\r\n";
    text += "SDK version: " + Decimal(KVXSIM_MAJOR) + "." + Decimal(KVXSIM_MINOR) + "\r\n\r\n[Filters]\r\n";
    for (const SSimFilter& filter : kFilters) {
        std::string key = FilterKey(filter.service);
        text += std::string(filter.service) + " (" + filter.display + "): id=" + Decimal(filter.sdkId) +
                " installed=" + (IsServiceInstalled(filter.service) ? "yes" : "no") +
                " enabled=" + Decimal(GetDwordValue(key.c_str(), KVXSIM_VALUE_ENABLED, 1)) + "\r\n";
    }
    text += "\r\n[Logs]\r\n";
    for (const SSimModule& module : kModules) {
        std::string key = LogKey(module.id);
        if (GetDwordValue(key.c_str(), "Enabled", 0) != 0) {
            text += std::string(module.name) + ": " + GetStringValue(key.c_str(), "File") + "\r\n";
        }
    }
    text += "\r\n[Captures]\r\nPCap status: " + Decimal(GetDwordValue(KVXSIM_PCAP_KEY, "Status", CAPTURE_DISABLE)) +
            "\r\nATDI status: " + Decimal(GetDwordValue(KVXSIM_ATDI_KEY, "Status", CAPTURE_DISABLE)) + "\r\n";
    return text;
}

// Removes the named exports from this module's export table, so that GetProcAddress fails for them as
// it would against a build of the SDK that lacks them. Only the last character of each name changes:
// that keeps the name table sorted, which the loader's binary search relies on.
void HideExports(HMODULE module)
{
    std::vector<std::string> hidden = HiddenExports();
    if (hidden.empty()) {
        return;
    }
    BYTE* base = reinterpret_cast<BYTE*>(module);
    auto dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.VirtualAddress == 0) {
        return;
    }
    auto exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    auto names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        char* name = reinterpret_cast<char*>(base + names[i]);
        for (const std::string& wanted : hidden) {
            size_t length = strlen(name);
            if (length == 0 || wanted != name) {
                continue;
            }
            DWORD oldProtect = 0;
            if (::VirtualProtect(name + length - 1, 1, PAGE_READWRITE, &oldProtect)) {
                name[length - 1] = '#';
                ::VirtualProtect(name + length - 1, 1, oldProtect, &oldProtect);
            }
            break;
        }
    }
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        SetModuleHandle(instance);
        HideExports(instance);
    }
    return TRUE;
}

BOOL WINAPI KVXSimGetVersion(DWORD* major, DWORD* minor, DWORD* build, DWORD* revision)
{
    CJournalEntry entry("KVX_GetVersion", "KVX_GetVersion");
    if (DWORD injected = InjectedFailure("KVX_GetVersion")) {
        entry.Note("injected failure");
        return Fail(entry, injected);
    }
    if (!major || !minor || !build || !revision) {
        return Fail(entry, KVXSIM_ERR_BAD_PARAMETER);
    }
    DWORD version = InjectedVersion();
    if (version == 0) {
        version = (KVXSIM_MAJOR << 8) | KVXSIM_MINOR;
    }
    *major = (version >> 8) & 0xFF;
    *minor = version & 0xFF;
    *build = 1200 + KVXSIM_LAYOUT;
    *revision = 7;
    entry.Note("version " + Decimal(*major) + "." + Decimal(*minor) + "." + Decimal(*build) + "." + Decimal(*revision));
    return Succeed(entry);
}

BOOL WINAPI KVXSimInit(DWORD mode, const BYTE* applicationId, DWORD* error, DWORD reserved)
{
    CJournalEntry entry("KVX_Init", EXP_INIT);
    entry.Arg("mode", mode);
    if (applicationId) {
        entry.RawRecord("ApplicationId", applicationId, KVX_APP_ID_SIZE, "in");
    }
    entry.Arg("reserved", reserved);
    auto answer = [&](DWORD code) {
        if (error) {
            *error = code;
        }
        return code == 0 ? Succeed(entry) : Fail(entry, code);
    };
    if (DWORD injected = InjectedFailure("KVX_Init")) {
        entry.Note("injected failure");
        return answer(injected);
    }
    if (ConsumeInitBusy()) {
        entry.Note("service busy");
        return answer(KVXSIM_ERR_SERVICE_BUSY);
    }
    if (mode != KVX_INIT_MODE || !applicationId || !error || reserved != 0) {
        return answer(KVXSIM_ERR_BAD_PARAMETER);
    }
    ++g_sessions;
    return answer(0);
}

BOOL WINAPI KVXSimEnd()
{
    CJournalEntry entry("KVX_End", EXP_END);
    if (DWORD injected = InjectedFailure("KVX_End")) {
        entry.Note("injected failure");
        return Fail(entry, injected);
    }
    LONG sessions = g_sessions.load();
    while (sessions > 0 && !g_sessions.compare_exchange_weak(sessions, sessions - 1)) {
    }
    if (sessions <= 0) {
        return Fail(entry, KVXSIM_ERR_NOT_INITIALIZED);
    }
    return Succeed(entry);
}

DWORD WINAPI KVXSimGetLastError(DWORD reserved)
{
    CJournalEntry entry("KVXGetLastError", "_0008_");
    entry.Arg("reserved", reserved);
    DWORD error = t_lastError;
    return entry.Result(error, error);
}

#if KVXSIM_LAYOUT == 32
BOOL WINAPI KVXSimEnableFilter(DWORD sdkId)
{
    CJournalEntry entry("KVXEnableFilter", "_0070_");
    entry.Arg("filterId", sdkId);
    DWORD result = 0;
    if (Refused(entry, "KVXEnableFilter", result)) {
        return result;
    }
    SetFilterEnabled(entry, sdkId, true, result);
    return result;
}

BOOL WINAPI KVXSimDisableFilter(DWORD sdkId)
{
    CJournalEntry entry("KVXDisableFilter", "_0071_");
    entry.Arg("filterId", sdkId);
    DWORD result = 0;
    if (Refused(entry, "KVXDisableFilter", result)) {
        return result;
    }
    SetFilterEnabled(entry, sdkId, false, result);
    return result;
}
#endif

#if KVXSIM_LAYOUT == 33
BOOL WINAPI KVXSimSetFilterState(DWORD sdkId, DWORD start)
{
    CJournalEntry entry("KVXSetFilterState", "_0071_");
    entry.Arg("filterId", sdkId);
    entry.Arg("start", start);
    DWORD result = 0;
    if (Refused(entry, "KVXSetFilterState", result)) {
        return result;
    }
    if (start > 1) {
        return Fail(entry, KVXSIM_ERR_BAD_PARAMETER);
    }
    SetFilterEnabled(entry, sdkId, start == 1, result);
    return result;
}
#endif

BOOL WINAPI KVXSimGetFiltersInfo(BYTE* record)
{
    CJournalEntry entry("KVXGetFiltersInfo", EXP_GETFILTERSINFO);
    DWORD result = 0;
    if (Refused(entry, "KVXGetFiltersInfo", result)) {
        return result;
    }
    if (!record) {
        return Fail(entry, KVXSIM_ERR_BAD_PARAMETER);
    }
    if (ReadU32(record, 0) != kFiltersInfo.tag) {
        entry.Note("bad version tag " + Decimal(ReadU32(record, 0)));
        return Fail(entry, KVXSIM_ERR_BAD_RECORD);
    }
    memset(record + 4, 0, kFiltersInfo.Size() - 4);
    for (const SSimFilter& filter : kFilters) {
        BYTE* block = record + 4 + (filter.sdkId - 1) * kFiltersInfo.blockSize;
        std::string key = FilterKey(filter.service);
        bool installed = IsServiceInstalled(filter.service);
        WriteU32(block, KVXSIM_BLOCK_INSTALLED, installed ? 1 : 0);
        WriteU32(block, KVXSIM_BLOCK_ENABLED, installed ? GetDwordValue(key.c_str(), KVXSIM_VALUE_ENABLED, 1) : 0);
        WriteU32(block, KVXSIM_BLOCK_LOADED, installed ? GetDwordValue(key.c_str(), KVXSIM_VALUE_LOADED, 1) : 0);
        WriteU32(block, KVXSIM_BLOCK_SDKID, filter.sdkId);
        strncpy(reinterpret_cast<char*>(block + KVXSIM_BLOCK_SERVICE), filter.service, KVXSIM_BLOCK_SERVICE_LEN - 1);
        strncpy(reinterpret_cast<char*>(block + KVXSIM_BLOCK_DISPLAY), filter.display, KVXSIM_BLOCK_DISPLAY_LEN - 1);
    }
    entry.RawRecord("FiltersInfo", record, kFiltersInfo.Size(), "out");
    return Succeed(entry);
}

BOOL WINAPI KVXSimTakeSConfigSnapShot(const char* path)
{
    CJournalEntry entry("KVX_TakeSConfigSnapShot", EXP_SNAPSHOT);
    entry.Arg("path", path ? std::string(path) : std::string("(null)"));
    DWORD result = 0;
    if (Refused(entry, "KVX_TakeSConfigSnapShot", result)) {
        return result;
    }
    if (!path || !*path) {
        return Fail(entry, KVXSIM_ERR_BAD_PARAMETER);
    }
    if (DWORD error = WriteText(path, SnapshotText(), false)) {
        entry.Note("snapshot not written");
        return Fail(entry, error);
    }
    return Succeed(entry);
}

BOOL WINAPI KVXSimLogSetConfig(const BYTE* record, DWORD apply, DWORD* output)
{
    CJournalEntry entry("KVXLogSetConfig", EXP_LOGCONFIG);
    if (record) {
        entry.Record(g_recLogOptions, record, "in");
    }
    entry.Arg("apply", apply);
    DWORD result = 0;
    if (Refused(entry, "KVXLogSetConfig", result)) {
        return result;
    }
    std::string reason;
    if (!record || !output) {
        return Fail(entry, KVXSIM_ERR_BAD_PARAMETER);
    }
    if (!CheckUnusedBytesZero(g_recLogOptions, record, reason) || ReadU32(record, 0) != KVXSIM_RECORD_VERSION ||
        ReadU32(record, 12) != 0 || ReadU32(record, 16) != 1 || ReadU32(record, 8) > 1 || ReadU32(record, 28) > 1) {
        entry.Note("malformed record " + reason);
        return Fail(entry, KVXSIM_ERR_BAD_RECORD);
    }
    const SSimModule* module = FindModule(ReadU32(record, 4));
    if (!module) {
        return Fail(entry, KVXSIM_ERR_UNKNOWN_MODULE);
    }
    std::string key = LogKey(module->id);
    *output = GetDwordValue(key.c_str(), "Enabled", 0);
    std::string file = ReadText(record, 32, 520);
    bool enabled = ReadU32(record, 8) != 0;
    if (!file.empty()) {
        SetStringValue(key.c_str(), "File", file);
    }
    SetDwordValue(key.c_str(), "Level", ReadU32(record, 20));
    SetDwordValue(key.c_str(), "MaxSize", ReadU32(record, 24));
    SetDwordValue(key.c_str(), "Persistent", ReadU32(record, 28));
    SetDwordValue(key.c_str(), "Configured", enabled ? 1 : 0);
    if (enabled && !file.empty()) {
        std::string header = "KVX log " + std::string(module->name) + " level=0x" + Hex32(ReadU32(record, 20)) +
                             " configured " + Timestamp() + "\r\n";
        if (DWORD error = WriteText(file, header, false)) {
            entry.Note("log file not created: " + file);
            return Fail(entry, error);
        }
        entry.Note("log file created: " + file);
    }
    return Succeed(entry);
}

BOOL WINAPI KVXSimLogSetStatus(const BYTE* record, DWORD apply)
{
    CJournalEntry entry("KVXLogSetStatus", EXP_LOGSTATUS);
    if (record) {
        entry.Record(g_recLogStatus, record, "in");
    }
    entry.Arg("apply", apply);
    DWORD result = 0;
    if (Refused(entry, "KVXLogSetStatus", result)) {
        return result;
    }
    std::string reason;
    if (!record) {
        return Fail(entry, KVXSIM_ERR_BAD_PARAMETER);
    }
    if (ReadU32(record, 0) != KVXSIM_RECORD_VERSION || ReadU32(record, 8) > 1 || ReadU32(record, 12) > 1) {
        return Fail(entry, KVXSIM_ERR_BAD_RECORD);
    }
    const SSimModule* module = FindModule(ReadU32(record, 4));
    if (!module) {
        return Fail(entry, KVXSIM_ERR_UNKNOWN_MODULE);
    }
    std::string key = LogKey(module->id);
    bool enable = ReadU32(record, 8) != 0;
    std::string file = GetStringValue(key.c_str(), "File");
    if (enable && file.empty()) {
        return Fail(entry, KVXSIM_ERR_NOT_CONFIGURED);
    }
    SetDwordValue(key.c_str(), "Enabled", enable ? 1 : 0);
    if (!file.empty()) {
        std::string line = Timestamp() + " " + module->name + (enable ? " log started\r\n" : " log stopped\r\n");
        if (enable) {
            line += Timestamp() + " " + module->name + " trace: filter chain idle\r\n";
        }
        if (DWORD error = WriteText(file, line, true)) {
            entry.Note("log file not written: " + file);
            return Fail(entry, error);
        }
    }
    return Succeed(entry);
}

BOOL WINAPI KVXSimPCapSetConfig(const BYTE* record)
{
    CJournalEntry entry("KVXPCapSetConfig", EXP_PCAPCONFIG);
    if (record) {
        entry.Record(kImCaptureDesc, record, "in");
    }
    DWORD result = 0;
    if (Refused(entry, "KVXPCapSetConfig", result)) {
        return result;
    }
    if (!record) {
        return Fail(entry, KVXSIM_ERR_BAD_PARAMETER);
    }
    std::string reason;
    const SFieldDesc* reserved = FindField(kImCaptureDesc, "reserved");
    const SFieldDesc* maxSize = FindField(kImCaptureDesc, "maxSize");
    const SFieldDesc* baseName = FindField(kImCaptureDesc, "baseName");
    if (!CheckUnusedBytesZero(kImCaptureDesc, record, reason) || ReadU32(record, 0) != KVXSIM_RECORD_VERSION ||
        ReadU32(record, reserved->offset) != 0) {
        entry.Note("malformed record " + reason);
        return Fail(entry, KVXSIM_ERR_BAD_RECORD);
    }
    std::string name = ReadText(record, baseName->offset, baseName->width);
    if (name.empty()) {
        return Fail(entry, KVXSIM_ERR_BAD_PARAMETER);
    }
    SetStringValue(KVXSIM_PCAP_KEY, "BaseName", name);
    SetDwordValue(KVXSIM_PCAP_KEY, "MaxSize", ReadU32(record, maxSize->offset));
    return Succeed(entry);
}

BOOL WINAPI KVXSimPCapSetStatus(const BYTE* record)
{
    CJournalEntry entry("KVXPCapSetStatus", EXP_PCAPSTATUS);
    if (record) {
        entry.Record(g_recCaptureStatus, record, "in");
    }
    DWORD result = 0;
    if (Refused(entry, "KVXPCapSetStatus", result)) {
        return result;
    }
    std::string reason;
    if (!record) {
        return Fail(entry, KVXSIM_ERR_BAD_PARAMETER);
    }
    if (!CheckStatusRecord(record, reason)) {
        entry.Note("malformed record " + reason);
        return Fail(entry, KVXSIM_ERR_BAD_RECORD);
    }
    DWORD status = ReadU32(record, 4);
    if (status == CAPTURE_ENABLE_ON_RESTART || status == CAPTURE_DISABLE_ON_RESTART) {
        SetDwordValue(KVXSIM_PCAP_KEY, "Pending", status);
        return Succeed(entry);
    }
    std::string baseName = GetStringValue(KVXSIM_PCAP_KEY, "BaseName");
    if (status == CAPTURE_ENABLE) {
        if (baseName.empty()) {
            return Fail(entry, KVXSIM_ERR_NOT_CONFIGURED);
        }
        DWORD sequence = GetDwordValue(KVXSIM_PCAP_KEY, "Sequence", 0) + 1;
        SetDwordValue(KVXSIM_PCAP_KEY, "Sequence", sequence);
        char name[32];
        snprintf(name, sizeof(name), "KVXIMD_%04lu.", static_cast<unsigned long>(sequence % 10000));
        // The IM driver writes its captures itself, into the native drivers directory.
        CNativeFileSystemScope native;
        std::string file = NativeDriversDirectory() + name + baseName;
        std::vector<BYTE> header = PcapHeader();
        DWORD error = WriteFileBytes(file, header.data(), header.size(), false);
        if (!error) {
            error = AppendPcapFrames(file, 1);
        }
        if (error) {
            entry.Note("capture file not created: " + file);
            return Fail(entry, error);
        }
        SetStringValue(KVXSIM_PCAP_KEY, "File", file);
        SetDwordValue(KVXSIM_PCAP_KEY, "Status", CAPTURE_ENABLE);
        entry.Note("capture file created: " + file);
        return Succeed(entry);
    }
    // Disable: the running capture gets its last frames and is closed.
    std::string file = GetStringValue(KVXSIM_PCAP_KEY, "File");
    if (GetDwordValue(KVXSIM_PCAP_KEY, "Status", CAPTURE_DISABLE) == CAPTURE_ENABLE && !file.empty()) {
        CNativeFileSystemScope native;
        if (::GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES) {
            AppendPcapFrames(file, 3);
            entry.Note("capture file closed: " + file);
        }
    }
    SetDwordValue(KVXSIM_PCAP_KEY, "Status", CAPTURE_DISABLE);
    return Succeed(entry);
}

BOOL WINAPI KVXSimATDICapSetConfig(const BYTE* record)
{
    CJournalEntry entry("KVXATDICapSetConfig", EXP_ATDICONFIG);
    if (record) {
        entry.Record(g_recTdiCaptureOptions, record, "in");
    }
    DWORD result = 0;
    if (Refused(entry, "KVXATDICapSetConfig", result)) {
        return result;
    }
    if (!record) {
        return Fail(entry, KVXSIM_ERR_BAD_PARAMETER);
    }
    std::string reason;
    if (!CheckUnusedBytesZero(g_recTdiCaptureOptions, record, reason) ||
        ReadU32(record, 0) != KVXSIM_RECORD_VERSION || ReadU32(record, 4) != 0) {
        entry.Note("malformed record " + reason);
        return Fail(entry, KVXSIM_ERR_BAD_RECORD);
    }
    std::string file = ReadText(record, 12, 520);
    if (file.empty()) {
        return Fail(entry, KVXSIM_ERR_BAD_PARAMETER);
    }
    SetStringValue(KVXSIM_ATDI_KEY, "File", file);
    SetDwordValue(KVXSIM_ATDI_KEY, "MaxSize", ReadU32(record, 8));
    return Succeed(entry);
}

BOOL WINAPI KVXSimATDICapSetStatus(const BYTE* record)
{
    CJournalEntry entry("KVXATDICapSetStatus", EXP_ATDISTATUS);
    if (record) {
        entry.Record(g_recCaptureStatus, record, "in");
    }
    DWORD result = 0;
    if (Refused(entry, "KVXATDICapSetStatus", result)) {
        return result;
    }
    std::string reason;
    if (!record) {
        return Fail(entry, KVXSIM_ERR_BAD_PARAMETER);
    }
    if (!CheckStatusRecord(record, reason)) {
        entry.Note("malformed record " + reason);
        return Fail(entry, KVXSIM_ERR_BAD_RECORD);
    }
    DWORD status = ReadU32(record, 4);
    if (status == CAPTURE_ENABLE_ON_RESTART || status == CAPTURE_DISABLE_ON_RESTART) {
        SetDwordValue(KVXSIM_ATDI_KEY, "Pending", status);
        return Succeed(entry);
    }
    std::string file = GetStringValue(KVXSIM_ATDI_KEY, "File");
    if (status == CAPTURE_ENABLE) {
        if (file.empty()) {
            return Fail(entry, KVXSIM_ERR_NOT_CONFIGURED);
        }
        std::string header = "KVXATDI capture v1 started " + Timestamp() + "\r\n" + Timestamp() +
                             " TDI_CONNECT 127.0.0.1:445 pid=4\r\n";
        if (DWORD error = WriteText(file, header, false)) {
            entry.Note("capture file not created: " + file);
            return Fail(entry, error);
        }
        SetDwordValue(KVXSIM_ATDI_KEY, "Status", CAPTURE_ENABLE);
        entry.Note("capture file created: " + file);
        return Succeed(entry);
    }
    if (GetDwordValue(KVXSIM_ATDI_KEY, "Status", CAPTURE_DISABLE) == CAPTURE_ENABLE && !file.empty()) {
        WriteText(file, Timestamp() + " TDI_DISCONNECT 127.0.0.1:445 pid=4\r\nKVXATDI capture stopped\r\n", true);
        entry.Note("capture file closed: " + file);
    }
    SetDwordValue(KVXSIM_ATDI_KEY, "Status", CAPTURE_DISABLE);
    return Succeed(entry);
}

// Entry points every generation exports and no client of this test suite calls (error texts, event
// registration); present so that the export table matches the product's.
BOOL WINAPI KVXSimReserved()
{
    CJournalEntry entry("KVXReserved", "reserved");
    return Fail(entry, KVXSIM_ERR_NOT_SUPPORTED);
}

} // extern "C"
