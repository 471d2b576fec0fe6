// A simulated product in the test prefix: its registry key with MainPath, an SDK double of the chosen
// generation in a fresh product directory, and its driver services; removed again on destruction.
// Also reads the double's journal of SDK calls and sets its injected failures.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kvxtest {

class CScopedTempDir;

// The SDK doubles built with the tests (see simulator/kvxapi).
enum class ESimSdk {
    V3_2,            // 3.2 exports, KVX_GetVersion answers 3.2
    V3_2_NO_VERSION, // 3.2 exports without KVX_GetVersion
    V3_3,
    V4_0,
    V4_1, // 4.0 exports reporting 4.1, a generation the core does not support
};

// Where the double of a generation is built: <dir of the running program>\kvxsim\<variant>\kvxapi.dll.
std::string SimSdkLibraryPath(ESimSdk sdk);

// One journalled SDK call.
struct SSimSdkCall {
    std::string function;   // logical name, e.g. "KVXLogSetConfig"
    std::string exportName; // e.g. "_0100_"
    std::string sdk;        // "3.2", "4.0", ...
    std::map<std::string, std::string> args;
    std::string recordName; // empty when no record was passed
    std::string recordDir;
    std::vector<BYTE> record;
    std::map<std::string, std::string> fields; // the double's own reading of the record
    std::vector<std::string> notes;
    DWORD result = 0;
    DWORD error = 0;

    // Little-endian 32-bit value at an offset of the record (0xDEADBEEF when out of range).
    DWORD U32(size_t offset) const;
    // Text of a fixed-width field (up to its first zero byte).
    std::string Text(size_t offset, size_t width) const;
    // True when every byte of the record in [from, to) is zero.
    bool ZeroRange(size_t from, size_t to) const;
};

struct SSimProductOptions {
    ESimSdk sdk = ESimSdk::V4_0;
    bool ndisManager = true;      // "KVXNMGR"; otherwise the intermediate driver "KVXIMD"
    DWORD managerStart = 1;       // "Start" of the TDI/NDIS managers and the monitor
    DWORD filterStart = 3;        // "Start" of "KVXFLTA" ... "KVXFLTF"
    std::vector<std::string> omitServices; // product drivers left uninstalled
};

class CSimProduct {
public:
    static constexpr const char* PRODUCT_KEY = "Software\\Orvex Software\\Orvex Network Manager";
    static constexpr const char* SERVICES_KEY = "SYSTEM\\CurrentControlSet\\Services\\";

    explicit CSimProduct(const SSimProductOptions& options = SSimProductOptions());
    ~CSimProduct();
    CSimProduct(const CSimProduct&) = delete;
    CSimProduct& operator=(const CSimProduct&) = delete;

    // Empty when the installation succeeded, else what failed.
    const std::string& Error() const { return m_error; }
    const std::string& ProductDir() const; // with a trailing backslash
    std::string LibraryPath() const;
    std::vector<std::string> Services() const { return m_services; }

    // Journal.
    std::string JournalPath() const;
    std::vector<SSimSdkCall> Journal() const;
    std::vector<SSimSdkCall> Calls(const std::string& function) const;
    void ClearJournal();

    // Injected failures, read by the double at every call (Hide: at its next load).
    void FailFunction(const std::string& function, DWORD error);
    void SetInitBusy(DWORD count);
    void HideExports(const std::string& semicolonSeparatedNames);
    void ReportVersion(WORD version);
    void ClearInjections();

    // Filter state as the product keeps it.
    void SetFilter(const std::string& service, bool enabled, bool loaded = true);
    bool FilterEnabled(const std::string& service) const;
    // Whether any module log, the PCap capture or the ATDI capture is switched on in the double.
    static bool LogsOrCapturesOn();
    void RemoveService(const std::string& service);

    // The capture files the double wrote into the native Drivers directory, as full native paths.
    static std::vector<std::string> NativeCaptureFiles(const std::string& extension);
    static std::string NativeDriversDir();
    static void DeleteNativeFile(const std::string& path);
    static bool WriteNativeFile(const std::string& path, const std::string& text);

    // Removes every trace of a simulated product (also one a crashed test left behind).
    static void RemoveAll();

private:
    std::unique_ptr<CScopedTempDir> m_dir;
    std::string m_productDir;
    std::vector<std::string> m_services;
    std::string m_error;
};

// Switches WOW64 file-system redirection off for one scope, so that a 32-bit test sees the native
// system directory as the product's drivers do.
class CNativeFsScope {
public:
    CNativeFsScope();
    ~CNativeFsScope();
    CNativeFsScope(const CNativeFsScope&) = delete;
    CNativeFsScope& operator=(const CNativeFsScope&) = delete;

private:
    PVOID m_old = nullptr;
    bool m_disabled = false;
};

} // namespace kvxtest
