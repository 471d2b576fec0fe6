// Codes and enumerations shared by the core's subsystems and by the wizard that drives them.
#pragma once

#include <windows.h>

// Result codes (Windows error codes) with the meaning the core gives them.
// Every driver's service key, the product's and the antivirus's alike, is this path and its name.
constexpr const char* KVXDIAG2_SERVICES_KEY = "SYSTEM\\CurrentControlSet\\Services\\";

constexpr DWORD KVXDIAG2_OK = 0;
constexpr DWORD KVXDIAG2_ERR_NOT_INITIALISED = 17;      // ERROR_NOT_SAME_DEVICE
constexpr DWORD KVXDIAG2_ERR_BAD_PARAMETER = 87;        // ERROR_INVALID_PARAMETER
constexpr DWORD KVXDIAG2_ERR_PARAMS_NOT_READ = 210;     // job thread did not confirm in time
constexpr DWORD KVXDIAG2_ERR_NO_DATA = 232;             // ERROR_NO_DATA
constexpr DWORD KVXDIAG2_ERR_CANTREAD = 1012;           // ERROR_CANTREAD
constexpr DWORD KVXDIAG2_ERR_CANTWRITE = 1013;          // ERROR_CANTWRITE
constexpr DWORD KVXDIAG2_ERR_EXCEPTION = 1064;          // ERROR_EXCEPTION_IN_SERVICE
constexpr DWORD KVXDIAG2_ERR_NOT_FOUND = 1168;          // ERROR_NOT_FOUND
constexpr DWORD KVXDIAG2_ERR_CANCELLED = 1223;          // ERROR_CANCELLED
constexpr DWORD KVXDIAG2_ERR_ALREADY_REGISTERED = 1242; // ERROR_ALREADY_REGISTERED
constexpr DWORD KVXDIAG2_ERR_TIMEOUT = 1460;            // ERROR_TIMEOUT
constexpr DWORD KVXDIAG2_ERR_FAILED = 1627;             // ERROR_FUNCTION_FAILED
constexpr DWORD KVXDIAG2_ERR_TYPE_MISMATCH = 1629;      // ERROR_DATATYPE_MISMATCH
constexpr DWORD KVXDIAG2_ERR_CREATE_FAILED = 1631;      // ERROR_CREATE_FAILED
constexpr DWORD KVXDIAG2_ERR_NO_LIBRARY = 4301;         // ERROR_INVALID_LIBRARY
constexpr DWORD KVXDIAG2_ERR_NO_OBJECT = 4312;          // ERROR_OBJECT_NOT_FOUND
constexpr DWORD KVXDIAG2_ERR_RELEASE_FAILED = 4335;

// Job types.
enum EKVXDiag2JobType : DWORD {
    eKVXDiag2Job_DATA_COLLECTION = 1,
    eKVXDiag2Job_BASIC_ANALYSIS = 2,
    eKVXDiag2Job_DEEP_ANALYSIS = 3,
    eKVXDiag2Job_PACK_RESULTS = 4,
    eKVXDiag2Job_RESULTS_SHIPPING = 5,
};

// Deep-analysis steps, named by what is switched off while the user tests; 7 is not used.
enum EKVXDiag2CoreStep : DWORD {
    eKVXDiag2CoreStep_INITIALIZATIONS_STEP = 1,
    eKVXDiag2CoreStep_FIRST_STEP = 2,
    eKVXDiag2CoreStep_NDIS_MANAGER_DEACTIVATED = 3,
    eKVXDiag2CoreStep_FILTER_E_DEACTIVATED = 4,
    eKVXDiag2CoreStep_FILTER_D_DEACTIVATED = 5,
    eKVXDiag2CoreStep_FILTER_C_DEACTIVATED = 6,
    eKVXDiag2CoreStep_TDI_FILTER_DEACTIVATED = 8,
    eKVXDiag2CoreStep_APP_FILTER_DEACTIVATED = 9,
    eKVXDiag2CoreStep_MONITOR_DEACTIVATED = 10,
    eKVXDiag2CoreStep_FINISHED = 11,
};

// Notification codes sent to the caller's callback.
enum EKVXDiag2Notify : DWORD {
    eKVXDIAG2Notify_FILTER_DISABLED = 1,
    eKVXDIAG2Notify_FILTER_ENABLED = 2,
    eKVXDIAG2Notify_FILTER_ACTIVATED = 3,
    eKVXDIAG2Notify_FILTER_DEACTIVATED = 4,
    eKVXDIAG2Notify_BASICANALYSIS_BEGUN = 5,
    eKVXDIAG2Notify_BASICANALYSIS_IN_PROGRESS = 6,
    eKVXDIAG2Notify_BASICANALYSIS_UNSUCCESS_FINISHED = 7,
    eKVXDIAG2Notify_BASICANALYSIS_SUCCESS_FINISHED = 8,
    eKVXDIAG2Notify_BASICANALYSIS_CANCELLED = 9,
    eKVXDIAG2Notify_BASICANALYSIS_ENDED = 10,
    eKVXDIAG2Notify_DEEPANALYSIS_BEGUN = 11,
    eKVXDIAG2Notify_DEEPANALYSIS_CANCELLED = 12,
    eKVXDIAG2Notify_DEEPANALYSIS_PREPARED_TO_REBOOT = 13,
    eKVXDIAG2Notify_DEEPANALYSIS_USER_ASK = 14,
    eKVXDIAG2Notify_DEEPANALYSIS_SUCCESS_FINISHED = 15,
    eKVXDIAG2Notify_DEEPANALYSIS_UNSUCCESS_FINISHED = 16,
    eKVXDIAG2Notify_PACKANDSEND_BEGUN = 17,
    eKVXDIAG2Notify_PACKANDSEND_CANCEL = 18,
    eKVXDIAG2Notify_PACKANDSEND_IN_PROGRESS = 19,
    eKVXDIAG2Notify_PACKANDSEND_SUCCESS_FINISHED = 20,
    eKVXDIAG2Notify_PACKANDSEND_UNSUCCESS_FINISHED = 21,
    // An extension beyond the documented codes 1 to 21: the "Extended Data" item that has just begun
    // (its label as the text, value 0), sent before code 5. A caller that knows only the documented
    // codes ignores it, as it must ignore any code it does not know.
    eKVXDIAG2Notify_EXTENDEDDATA_ITEM = 100,
};

// Answers a callback gives to the question notifications.
enum EKVXDiag2NotifyRet : int {
    eKVXDIAG2NotifyRet_REBOOT_ACCEPTED = 1,
    eKVXDIAG2NotifyRet_PROBLEM_FIXED = 3,
    eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED = 4,
    eKVXDIAG2NotifyRet_EXITING = 5,
};

// The result of a delivery that could not be made (no callback, bad code or data, exception).
constexpr int KVXDIAG2_NOTIFY_NOT_DELIVERED = 2;

// Progress record handed to the callback with code 6.
struct SKVXDiag2Progress {
    DWORD dwSize; // always 12
    DWORD dwTotal;
    DWORD dwCurrent;
};
static_assert(sizeof(SKVXDiag2Progress) == 12, "the progress record is 12 bytes on every build");

// The callback's context travels as a pointer-sized value: the wizard passes its main form, which a
// 32-bit field would cut in half on a 64-bit build.
using KVXDIAG2_CONTEXT = ULONG_PTR;

// The caller's notification callback: code, context, text, data size, data (value or record pointer).
typedef int(WINAPI* PFN_KVXDIAG2_NOTIFY)(DWORD dwCode, KVXDIAG2_CONTEXT context, const char* pszText, DWORD dwSize,
                                         ULONG_PTR data);

// Exported entry points of the core library.
typedef DWORD(WINAPI* PFN_KVXDIAG2_FINISH)(void);                                  // _0001_
typedef DWORD(WINAPI* PFN_KVXDIAG2_REGISTER)(PFN_KVXDIAG2_NOTIFY, KVXDIAG2_CONTEXT); // _0002_
typedef DWORD(WINAPI* PFN_KVXDIAG2_INIT)(int* pPending, int* pStep);                // _0003_
typedef DWORD(WINAPI* PFN_KVXDIAG2_DEEP)(int* pJobId);                              // _0004_
typedef DWORD(WINAPI* PFN_KVXDIAG2_CANCEL)(int jobId);                              // _0005_
typedef DWORD(WINAPI* PFN_KVXDIAG2_BASIC)(int* pJobId);                             // _0006_
typedef DWORD(WINAPI* PFN_KVXDIAG2_RESERVED)(DWORD);                                // _0007_
typedef DWORD(WINAPI* PFN_KVXDIAG2_PACK)(const char* pszDestination, int* pJobId);  // _0008_
