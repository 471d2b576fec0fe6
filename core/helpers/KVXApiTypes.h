// Our own declarations of the product SDK (kvxapi.dll): its function signatures, the records it
// exchanges and the values in them. The SDK ships no header we may use, so every layout here is pinned
// byte for byte with static assertions; the SDK reads these records by offset.
#pragma once

#include <windows.h>

#include <cstddef>

// SDK versions as (major << 8) | minor.
constexpr WORD KVXAPI_VERSION_3_2 = 0x0302;
constexpr WORD KVXAPI_VERSION_3_3 = 0x0303;
constexpr WORD KVXAPI_VERSION_4_0 = 0x0400;

constexpr const char* KVXAPI_LIBRARY_NAME = "kvxapi.dll";
constexpr const char* KVXAPI_PRODUCT_KEY = "Software\\Orvex Software\\Orvex Network Manager";
constexpr const char* KVXAPI_PRODUCT_PATH_VALUE = "MainPath";

// The SDK's answer while its service is still starting; clients retry.
constexpr DWORD KVXAPI_ERROR_SERVICE_BUSY = 13050; // 0x32FA

// KVX_Init's mode argument and the size of the application identifier it takes.
constexpr DWORD KVXAPI_INIT_MODE = 2;
constexpr size_t KVXAPI_APP_ID_SIZE = 16;

// Value of the version field of every options and status record.
constexpr DWORD KVXAPI_RECORD_VERSION = 1;

// Capture status values of the IM-driver packet capture and of the TDI capture.
enum ETKVXPCAPStatus : DWORD {
    eTKVXPCAPStatus_Enable = 1,
    eTKVXPCAPStatus_Disable = 2,
    eTKVXPCAPStatus_EnableOnRestart = 3,
    eTKVXPCAPStatus_DisableOnRestart = 4,
};
enum ETKVXATDIStatus : DWORD {
    eTKVXATDIStatus_Enable = 1,
    eTKVXATDIStatus_Disable = 2,
    eTKVXATDIStatus_EnableOnRestart = 3,
    eTKVXATDIStatus_DisableOnRestart = 4,
};

// The SDK's log modules.
enum ETKVXLogModuleId : DWORD {
    eTKVXLogModuleId_API = 0x01010001,
    eTKVXLogModuleId_SERVICE = 0x01010002,
    eTKVXLogModuleId_KVXNMGR_DLL = 0x01020004,
    eTKVXLogModuleId_KVXFLTE_DLL = 0x01020005,
    eTKVXLogModuleId_KVXFLTD_DLL = 0x01020006,
    eTKVXLogModuleId_KVXFLTC_DLL = 0x01020008,
    eTKVXLogModuleId_KVXFLTFCTL_DLL = 0x01030009,
    eTKVXLogModuleId_KVXMONCTL_DLL = 0x0103000A,
    eTKVXLogModuleId_KVXNMGR_DRI = 0x0202000B,
    eTKVXLogModuleId_KVXFLTD_DRI = 0x0202000C,
    eTKVXLogModuleId_KVXFLTE_DRI = 0x0202000D,
    eKVXDiagLogModuleId_KVXFLTC_DRI = 0x0202000F,
    eTKVXLogModuleId_KVXTMGR_DRI = 0x020300A0,
    eTKVXLogModuleId_KVXFLTF_DRI = 0x020300A1,
    eTKVXLogModuleId_KVXMON_DRI = 0x020300A2,
    eTKVXLogModuleId_USR_APISRV = 0x0101FFFF,
    eTKVXLogModuleId_USR_NDIS = 0x0102FFFF,
    eTKVXLogModuleId_USR_TDI = 0x0103FFFF,
    eTKVXLogModuleId_KRN_NDIS = 0x0202FFFF,
    eTKVXLogModuleId_KRN_TDI = 0x0203FFFF,
};

// Log levels the tool asks for: everything for the user-mode service modules, level 5 elsewhere.
constexpr DWORD KVXAPI_LOG_LEVEL_ALL = 0x80000000;
constexpr DWORD KVXAPI_LOG_LEVEL_DEFAULT = 5;

// Filter states the adapters report.
constexpr DWORD KVXAPI_FILTER_STATE_STOPPED = 1;
constexpr DWORD KVXAPI_FILTER_STATE_STARTED = 2;
constexpr DWORD KVXAPI_FILTER_STATE_NOT_LOADED = 3;
constexpr DWORD KVXAPI_FILTER_STATE_NOT_INSTALLED = 4;

// Filter actions of SetFilterState.
constexpr DWORD KVXAPI_FILTER_ACTION_STOP = 1;
constexpr DWORD KVXAPI_FILTER_ACTION_START = 2;

// Field widths of the text fields. The last byte of each is kept for the terminator, so a name that
// fills the field is refused instead of being cut (a cut name would make the product write its files
// somewhere the collector never looks).
constexpr size_t KVXAPI_IM_BASENAME_SIZE = 64;
constexpr size_t KVXAPI_PATH_FIELD_SIZE = 520;

#pragma pack(push, 1)

// IM-driver packet-capture options, SDK 3.2 and 3.3.
struct SKVXIMCaptureOptions32 {
    DWORD dwVersion;                          // 1
    BYTE abReserved1[984];                    // 0
    DWORD dwReserved2;                        // 0
    DWORD dwMaxSize;
    char szBaseName[KVXAPI_IM_BASENAME_SIZE]; // capture file extension
    BYTE abReserved3[2];                      // 0
};
static_assert(sizeof(SKVXIMCaptureOptions32) == 1062, "IM capture options (3.x) are 1062 bytes");
static_assert(offsetof(SKVXIMCaptureOptions32, dwReserved2) == 988, "IM capture options (3.x) layout");
static_assert(offsetof(SKVXIMCaptureOptions32, dwMaxSize) == 992, "IM capture options (3.x) layout");
static_assert(offsetof(SKVXIMCaptureOptions32, szBaseName) == 996, "IM capture options (3.x) layout");

// IM-driver packet-capture options, SDK 4.0.
struct SKVXIMCaptureOptions40 {
    DWORD dwVersion;
    BYTE abReserved1[1880];
    DWORD dwReserved2;
    DWORD dwMaxSize;
    char szBaseName[KVXAPI_IM_BASENAME_SIZE];
    BYTE abReserved3[2];
};
static_assert(sizeof(SKVXIMCaptureOptions40) == 1958, "IM capture options (4.0) are 1958 bytes");
static_assert(offsetof(SKVXIMCaptureOptions40, dwReserved2) == 1884, "IM capture options (4.0) layout");
static_assert(offsetof(SKVXIMCaptureOptions40, dwMaxSize) == 1888, "IM capture options (4.0) layout");
static_assert(offsetof(SKVXIMCaptureOptions40, szBaseName) == 1892, "IM capture options (4.0) layout");

// TDI capture options, every SDK.
struct SKVXATDICaptureOptions {
    DWORD dwVersion;
    DWORD dwReserved1;
    DWORD dwMaxSize;
    char szFileName[KVXAPI_PATH_FIELD_SIZE];
    BYTE abReserved2[2];
};
static_assert(sizeof(SKVXATDICaptureOptions) == 534, "TDI capture options are 534 bytes");
static_assert(offsetof(SKVXATDICaptureOptions, dwMaxSize) == 8, "TDI capture options layout");
static_assert(offsetof(SKVXATDICaptureOptions, szFileName) == 12, "TDI capture options layout");

// Capture status (both captures).
struct SKVXCaptureStatus {
    DWORD dwVersion;
    DWORD dwStatus;
    DWORD dwReserved;
};
static_assert(sizeof(SKVXCaptureStatus) == 12, "capture status is 12 bytes");
static_assert(offsetof(SKVXCaptureStatus, dwStatus) == 4, "capture status layout");

// Module-log options.
struct SKVXLogOptions {
    DWORD dwVersion;
    DWORD dwModuleId;
    DWORD dwEnabled;
    DWORD dwReserved1; // 0
    DWORD dwReserved2; // 1
    DWORD dwLevel;
    DWORD dwMaxSize;
    DWORD dwPersistent;
    char szFileBaseName[KVXAPI_PATH_FIELD_SIZE];
    BYTE abReserved3[2];
};
static_assert(sizeof(SKVXLogOptions) == 554, "log options are 554 bytes");
static_assert(offsetof(SKVXLogOptions, dwModuleId) == 4, "log options layout");
static_assert(offsetof(SKVXLogOptions, dwEnabled) == 8, "log options layout");
static_assert(offsetof(SKVXLogOptions, dwReserved2) == 16, "log options layout");
static_assert(offsetof(SKVXLogOptions, dwLevel) == 20, "log options layout");
static_assert(offsetof(SKVXLogOptions, dwMaxSize) == 24, "log options layout");
static_assert(offsetof(SKVXLogOptions, dwPersistent) == 28, "log options layout");
static_assert(offsetof(SKVXLogOptions, szFileBaseName) == 32, "log options layout");

// Module-log status.
struct SKVXLogStatus {
    DWORD dwVersion;
    DWORD dwModuleId;
    DWORD dwEnabled;
    DWORD dwPersistent;
    DWORD dwLevel;
};
static_assert(sizeof(SKVXLogStatus) == 20, "log status is 20 bytes");
static_assert(offsetof(SKVXLogStatus, dwLevel) == 16, "log status layout");

// Head of one filter's block in the filters-information record; the rest of the block is the SDK's.
struct SKVXFilterBlockHead {
    DWORD dwPresent; // 0: the SDK does not know the filter
    DWORD dwRunning; // nonzero: started
    DWORD dwBound;   // 0: not attached to the stack
};
static_assert(sizeof(SKVXFilterBlockHead) == 12, "filter block head is three 32-bit fields");

// Filters-information record: a version tag, then one block per SDK filter id (id k at 4 + (k-1) * size).
template <DWORD TTag, DWORD TBlockSize, DWORD TBlockCount>
struct SKVXFiltersInfo {
    static constexpr DWORD TAG = TTag;
    static constexpr DWORD BLOCK_SIZE = TBlockSize;
    static constexpr DWORD BLOCK_COUNT = TBlockCount;
    DWORD dwVersion;
    BYTE abBlocks[TBlockCount][TBlockSize];
};
using SKVXFiltersInfo32 = SKVXFiltersInfo<2, 156, 6>;
using SKVXFiltersInfo33 = SKVXFiltersInfo<3, 160, 5>;
using SKVXFiltersInfo40 = SKVXFiltersInfo<4, 160, 6>;
static_assert(sizeof(SKVXFiltersInfo32) == 940, "filters information (3.2) is 940 bytes");
static_assert(sizeof(SKVXFiltersInfo33) == 804, "filters information (3.3) is 804 bytes");
static_assert(sizeof(SKVXFiltersInfo40) == 964, "filters information (4.0) is 964 bytes");
static_assert(offsetof(SKVXFiltersInfo32, abBlocks) == 4, "filter blocks follow the tag");

#pragma pack(pop)

// SDK functions. All are stdcall and answer nonzero for success, except KVXGetLastError, which
// returns the code of the last failed call.
typedef BOOL(WINAPI* PFN_KVX_GETVERSION)(DWORD* pdwMajor, DWORD* pdwMinor, DWORD* pdwBuild, DWORD* pdwRevision);
typedef BOOL(WINAPI* PFN_KVX_INIT)(DWORD dwMode, const BYTE* pbApplicationId, DWORD* pdwError, DWORD dwReserved);
typedef BOOL(WINAPI* PFN_KVX_END)();
typedef DWORD(WINAPI* PFN_KVXGETLASTERROR)(DWORD dwReserved);
typedef BOOL(WINAPI* PFN_KVXENABLEFILTER)(DWORD dwFilterId);
typedef BOOL(WINAPI* PFN_KVXDISABLEFILTER)(DWORD dwFilterId);
typedef BOOL(WINAPI* PFN_KVXSETFILTERSTATE)(DWORD dwFilterId, DWORD dwStart);
typedef BOOL(WINAPI* PFN_KVXGETFILTERSINFO)(void* pFiltersInfo);
typedef BOOL(WINAPI* PFN_KVX_TAKESCONFIGSNAPSHOT)(const char* pszPath);
typedef BOOL(WINAPI* PFN_KVXLOGSETSTATUS)(const SKVXLogStatus* pStatus, DWORD dwApply);
typedef BOOL(WINAPI* PFN_KVXLOGSETCONFIG)(const SKVXLogOptions* pOptions, DWORD dwApply, DWORD* pdwOutput);
typedef BOOL(WINAPI* PFN_KVXPCAPSETSTATUS)(const SKVXCaptureStatus* pStatus);
typedef BOOL(WINAPI* PFN_KVXPCAPSETCONFIG)(const void* pOptions); // SKVXIMCaptureOptions32 or 40
typedef BOOL(WINAPI* PFN_KVXATDICAPSETSTATUS)(const SKVXCaptureStatus* pStatus);
typedef BOOL(WINAPI* PFN_KVXATDICAPSETCONFIG)(const SKVXATDICaptureOptions* pOptions);
// Entry points that are resolved with the others but never called.
typedef BOOL(WINAPI* PFN_KVXRESERVED)();

// One adapter class's resolved SDK functions; an entry is null when its export is missing.
struct SKVXApiFunctions {
    PFN_KVX_INIT KVX_Init;
    PFN_KVX_END KVX_End;
    PFN_KVX_TAKESCONFIGSNAPSHOT KVX_TakeSConfigSnapShot;
    PFN_KVXPCAPSETCONFIG KVXPCapSetConfig;
    PFN_KVX_GETVERSION KVX_GetVersion;
    PFN_KVXENABLEFILTER g_lpfnKVXEnableFilter;
    PFN_KVXDISABLEFILTER g_lpfnKVXDisableFilter;
    PFN_KVXSETFILTERSTATE g_lpfnKVXSetFilterState;
    PFN_KVXGETFILTERSINFO g_lpfnKVXGetFiltersInfo;
    PFN_KVXGETLASTERROR g_lpfnKVXGetLastError;
    PFN_KVXLOGSETCONFIG g_lpfnKVXLogSetConfig;
    PFN_KVXLOGSETSTATUS g_lpfnKVXLogSetStatus;
    PFN_KVXPCAPSETSTATUS g_lpfnKVXPCapSetStatus;
    PFN_KVXATDICAPSETSTATUS g_lpfnKVXATDICapSetStatus;
    PFN_KVXATDICAPSETCONFIG g_lpfnKVXATDICapSetConfig;
    PFN_KVXRESERVED g_lpfnKVXReserved1;
    PFN_KVXRESERVED g_lpfnKVXReserved2;
    PFN_KVXRESERVED g_lpfnKVXReserved3;
};
