// The eight exported entry points. Each is thin: it checks that the coordinator exists, calls one
// coordinator operation and returns its code unchanged.
#include "core/interface/Exports.h"

#include "core/interface/Coordinator.h"

#include <string>

namespace {

CCoordinator* g_pCoordinator = nullptr;

constexpr const char* KVXDIAG2_NO_COORDINATOR = "Error! El objeto Coordinator no está disponible o no fue creado.";

} // namespace

extern "C" {

DWORD WINAPI _0003_(int* pPending, int* pStep)
{
    KVX_FUNCTION("_0003_");
    try {
        g_pCoordinator = CCoordinator::CreateSingletonObject();
        if (g_pCoordinator == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! No fue posible crear el Objeto Coordinator.");
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        return g_pCoordinator->Init(pPending, pStep);
    } catch (...) {
        return KVXDIAG2_ERR_EXCEPTION;
    }
}

DWORD WINAPI _0001_(void)
{
    KVX_FUNCTION("_0001_");
    try {
        if (g_pCoordinator == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! El Objeto Coordinator no ha sido creado.");
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        const DWORD rc = g_pCoordinator->Finish();
        if (rc != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! Fallo la operación End del objeto Coordinator. Error devuelto: %lu",
                    static_cast<unsigned long>(rc));
            return rc;
        }
        CCoordinator::DestroySingletonObject();
        g_pCoordinator = nullptr;
        return KVXDIAG2_OK;
    } catch (...) {
        return KVXDIAG2_ERR_EXCEPTION;
    }
}

DWORD WINAPI _0002_(PFN_KVXDIAG2_NOTIFY pfnCallback, KVXDIAG2_CONTEXT context)
{
    KVX_FUNCTION("_0002_");
    try {
        if (g_pCoordinator == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", KVXDIAG2_NO_COORDINATOR);
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        return g_pCoordinator->RegisterNotificationsCallback(pfnCallback, context);
    } catch (...) {
        return KVXDIAG2_ERR_EXCEPTION;
    }
}

DWORD WINAPI _0006_(int* pJobId)
{
    KVX_FUNCTION("_0006_");
    try {
        if (g_pCoordinator == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", KVXDIAG2_NO_COORDINATOR);
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        return g_pCoordinator->ManageThisJob(eKVXDiag2Job_BASIC_ANALYSIS, pJobId);
    } catch (...) {
        return KVXDIAG2_ERR_EXCEPTION;
    }
}

DWORD WINAPI _0004_(int* pJobId)
{
    KVX_FUNCTION("_0004_");
    try {
        if (g_pCoordinator == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", KVXDIAG2_NO_COORDINATOR);
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        return g_pCoordinator->ManageThisJob(eKVXDiag2Job_DEEP_ANALYSIS, pJobId);
    } catch (...) {
        return KVXDIAG2_ERR_EXCEPTION;
    }
}

DWORD WINAPI _0008_(const char* pszDestination, int* pJobId)
{
    KVX_FUNCTION("_0008_");
    try {
        if (g_pCoordinator == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", KVXDIAG2_NO_COORDINATOR);
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        g_pCoordinator->SetResultsPackageDestinationFile(pszDestination != nullptr ? pszDestination : "");
        return g_pCoordinator->ManageThisJob(eKVXDiag2Job_PACK_RESULTS, pJobId);
    } catch (...) {
        return KVXDIAG2_ERR_EXCEPTION;
    }
}

DWORD WINAPI _0005_(int jobId)
{
    KVX_FUNCTION("_0005_");
    try {
        if (g_pCoordinator == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", KVXDIAG2_NO_COORDINATOR);
            return KVXDIAG2_ERR_NO_OBJECT;
        }
        return g_pCoordinator->CancelJob(static_cast<DWORD>(jobId));
    } catch (...) {
        return KVXDIAG2_ERR_EXCEPTION;
    }
}

DWORD WINAPI _0007_(DWORD)
{
    KVX_FUNCTION("_0007_");
    return 0xFFFFFFFFu;
}

} // extern "C"
