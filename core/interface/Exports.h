// Declarations of the exported entry points, for the test programs that link the core objects directly.
#pragma once

#include "core/interface/KVXDiagTypes.h"

extern "C" {
DWORD WINAPI _0001_(void);
DWORD WINAPI _0002_(PFN_KVXDIAG2_NOTIFY pfnCallback, KVXDIAG2_CONTEXT context);
DWORD WINAPI _0003_(int* pPending, int* pStep);
DWORD WINAPI _0004_(int* pJobId);
DWORD WINAPI _0005_(int jobId);
DWORD WINAPI _0006_(int* pJobId);
DWORD WINAPI _0007_(DWORD);
DWORD WINAPI _0008_(const char* pszDestination, int* pJobId);
}
