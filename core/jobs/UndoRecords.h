// What the jobs switch off on a customer's machine is written down in the registry, beside the resume
// state, before it is switched, so that whichever way a run ends (a verdict, a cancel, a crash or a
// kill of the process) the next one can put it back.
//
//   <resume key>\SwitchedDrivers      one REG_DWORD per driver the deep analysis switched: the driver's
//                                      "Start" value before the first switch; "KVXIMD" (data 1) instead
//                                      means that the intermediate driver's bindings were on and are off
//   <resume key>\BasicAnalysisChanges "DisabledFilter" (REG_SZ): the plug-in filter switched off through
//                                      the SDK; "LogsAndCapturesDir" (REG_SZ): the module logs and driver
//                                      captures are on and write into that directory
#pragma once

#include <windows.h>

#include <string>
#include <vector>

constexpr const char* KVXDIAG2_RECORD_DRIVERS_KEY = "SwitchedDrivers";
constexpr const char* KVXDIAG2_RECORD_BASIC_KEY = "BasicAnalysisChanges";
constexpr const char* KVXDIAG2_RECORD_DISABLED_FILTER = "DisabledFilter";
constexpr const char* KVXDIAG2_RECORD_LOGS_AND_CAPTURES = "LogsAndCapturesDir";
constexpr const char* KVXDIAG2_RECORD_INTERMEDIATE = "KVXIMD";

namespace kvx {

struct SDriverRecord {
    std::string service;
    DWORD dwStart = 0; // for the intermediate driver: 1, its bindings were on
};

// The "Start" value of a driver service; false when the key or the value is missing.
bool ReadServiceStart(const std::string& service, DWORD& dwStart);
DWORD WriteServiceStart(const std::string& service, DWORD dwStart);

// Keeps the first record of a driver: a later switch would otherwise record the analysis's own value.
DWORD RecordDriver(const std::string& service, DWORD dwStart);
void ForgetDriver(const std::string& service);
// Every record that can be read; a damaged value is skipped.
std::vector<SDriverRecord> ReadDriverRecords();
void ClearDriverRecords();

DWORD RecordBasicChange(const char* pszValue, const std::string& data);
bool ReadBasicChange(const char* pszValue, std::string& data);
void ForgetBasicChange(const char* pszValue);

} // namespace kvx
