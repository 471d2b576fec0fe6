// Names of the registry state that lets a deep analysis survive a reboot.
#pragma once

constexpr const char* KVXDIAG2_RESUME_KEY = "SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2";
constexpr const char* KVXDIAG2_RESUME_CURRENT_STEP = "CurrentStep";
constexpr const char* KVXDIAG2_RESUME_RESULTS_DIR = "ResultsDir";
constexpr const char* KVXDIAG2_RESUME_TDI_SUSPICIOUS = "TDIManSuspicious";
constexpr const char* KVXDIAG2_RESUME_NDIS_SUSPICIOUS = "NDISManSuspicious";
// Not resume state, but under the same key: the wizard's save page writes it just before _0008_ and
// removes it when the wizard ends; pack and send reads it (REG_DWORD, 1: remove personal data).
constexpr const char* KVXDIAG2_PACK_REMOVE_PERSONAL_DATA = "RemovePersonalData";
// The switches a step makes after its step is stored, until both are done: a start that finds them
// for the stored step completes them before asking that step's question.
constexpr const char* KVXDIAG2_RESUME_PENDING_STEP = "PendingStep";
constexpr const char* KVXDIAG2_RESUME_PENDING_REACTIVATE = "PendingReactivate";
constexpr const char* KVXDIAG2_RESUME_PENDING_DEACTIVATE = "PendingDeactivate";
