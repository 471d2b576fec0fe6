// Names of the registry state that lets a deep analysis survive a reboot.
#pragma once

constexpr const char* KVXDIAG2_RESUME_KEY = "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2";
constexpr const char* KVXDIAG2_RESUME_CURRENT_STEP = "CurrentStep";
constexpr const char* KVXDIAG2_RESUME_RESULTS_DIR = "ResultsDir";
constexpr const char* KVXDIAG2_RESUME_TDI_SUSPICIOUS = "TDIManSuspicious";
constexpr const char* KVXDIAG2_RESUME_NDIS_SUSPICIOUS = "NDISManSuspicious";
