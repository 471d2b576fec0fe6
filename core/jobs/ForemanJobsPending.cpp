// Placeholders for the three jobs until they are built: each reports that it began and ended, so that
// callers and the job engine can be exercised end to end.
#include "core/jobs/Foreman.h"

DWORD CForeman::RunDeepAnalysis(DWORD, DWORD, bool)
{
    KVX_FUNCTION("CForeman::RunDeepAnalysis");
    NotifyValue(eKVXDIAG2Notify_DEEPANALYSIS_BEGUN, "Job started", 0);
    return 0;
}

DWORD CForeman::PackAndSendResults(DWORD, const std::string&)
{
    KVX_FUNCTION("CForeman::PackAndSendResults");
    NotifyValue(eKVXDIAG2Notify_PACKANDSEND_BEGUN, "Job started", 0);
    return 0;
}
