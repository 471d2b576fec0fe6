// The core library binding. Every method checks its entry point before calling it, because a missing
// or partial library must leave the wizard running (the user can still cancel and close).
#include "wizard/KVXDiagCoreWrapper.h"

#include "common/win/LibraryLoading.h"

#include <cstdio>
#include <string>

namespace {

// The directory of the running program, with a trailing backslash; empty if it cannot be read.
std::wstring ProgramDirectory()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

} // namespace

CKVXDiagCore::CKVXDiagCore()
{
    KVX_FUNCTION("CKVXDiagCore::CKVXDiagCore");
    Load();
}

CKVXDiagCore::~CKVXDiagCore()
{
    KVX_FUNCTION("CKVXDiagCore::~CKVXDiagCore");
    Unload();
}

DWORD CKVXDiagCore::Load()
{
    KVX_FUNCTION("CKVXDiagCore::Load");
    if (m_hLibrary) {
        KVX_LOG(eKVXDiagLog_EVENT, "%s", "La liberia ya fue cargada con anterioridad...");
        return ERROR_ALREADY_INITIALIZED;
    }

    // Only from the program's own directory, by full path: a library of the same name in the current
    // directory, or anywhere else the system's search would look, must never be picked up instead.
    const std::wstring directory = ProgramDirectory();
    if (!directory.empty()) {
        m_hLibrary.reset(kvx::LoadLibraryByFullPath(directory + L"KVXDiagCore.dll"));
    }
    if (!m_hLibrary) {
        KVX_LOG(eKVXDiagLog_EVENT, "No pudo cargarse la libreria %s", KVXDIAG2_CORE_LIBRARY);
        return ERROR_INVALID_LIBRARY;
    }
    KVX_LOG(eKVXDiagLog_INFO, "Librería %s cargada con éxito.", KVXDIAG2_CORE_LIBRARY);

    // The names are looked up in this order, not in numeric order.
    m_pfnInit = kvx::GetProc<PFN_KVXDIAG2_INIT>(m_hLibrary.get(), "_0003_");
    m_pfnEnd = kvx::GetProc<PFN_KVXDIAG2_FINISH>(m_hLibrary.get(), "_0001_");
    m_pfnBasicAnalysis = kvx::GetProc<PFN_KVXDIAG2_BASIC>(m_hLibrary.get(), "_0006_");
    m_pfnDeepAnalysis = kvx::GetProc<PFN_KVXDIAG2_DEEP>(m_hLibrary.get(), "_0004_");
    m_pfnPackAndSendResults = kvx::GetProc<PFN_KVXDIAG2_PACK>(m_hLibrary.get(), "_0008_");
    m_pfnCancelTask = kvx::GetProc<PFN_KVXDIAG2_CANCEL>(m_hLibrary.get(), "_0005_");
    m_pfnRegisterNotifyCallback = kvx::GetProc<PFN_KVXDIAG2_REGISTER>(m_hLibrary.get(), "_0002_");
    m_pfnReserved = kvx::GetProc<PFN_KVXDIAG2_RESERVED>(m_hLibrary.get(), "_0007_");

    if (m_pfnInit == nullptr) {
        return ERROR_INVALID_LIBRARY;
    }
    int pending = 0;
    int step = 0;
    const DWORD rc = m_pfnInit(&pending, &step);
    bPendingDeepAnalysis = pending != 0;
    eStep = step;

    char debug[160];
    snprintf(debug, sizeof(debug),
             "CKVXDiagCore::Load()-> Llamada a KVXDIAGCOREAPI_Init devuelve bPendingDeepAnalysis:%d y eStep:%d",
             bPendingDeepAnalysis ? 1 : 0, eStep);
    ::OutputDebugStringA(debug);
    KVX_LOG(eKVXDiagLog_INFO, "Llamada a Init() realizada. Valor de retorno: 0x%lX", static_cast<unsigned long>(rc));
    return rc;
}

DWORD CKVXDiagCore::BasicAnalysis(int* pJobId)
{
    KVX_FUNCTION("CKVXDiagCore::BasicAnalysis");
    if (m_pfnBasicAnalysis == nullptr) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! El puntero a la función BasicAnalysis no es válido.");
        return ERROR_FUNCTION_NOT_CALLED;
    }
    if (pJobId == nullptr) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! Parámetro incorrecto. El puntero al Job_ID no puede ser NULL.");
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD rc = m_pfnBasicAnalysis(pJobId);
    KVX_LOG(eKVXDiagLog_INFO, "Completada la llamada a la función BasicAnalysis. Valor de retorno: 0x%lX",
            static_cast<unsigned long>(rc));
    return rc;
}

DWORD CKVXDiagCore::DeepAnalysis(int* pJobId)
{
    KVX_FUNCTION("CKVXDiagCore::DeepAnalysis");
    if (m_pfnDeepAnalysis == nullptr) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! El puntero a la función DeepAnalysis no es válido.");
        return ERROR_FUNCTION_NOT_CALLED;
    }
    if (pJobId == nullptr) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! Parámetro incorrecto. El puntero al Job_ID no puede ser NULL.");
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD rc = m_pfnDeepAnalysis(pJobId);
    KVX_LOG(eKVXDiagLog_INFO, "Completada la llamada a la función DeepAnalysis. Valor de retorno: 0x%lX",
            static_cast<unsigned long>(rc));
    return rc;
}

DWORD CKVXDiagCore::PackAndSendResults(const std::string& destination, int* pJobId)
{
    KVX_FUNCTION("CKVXDiagCore::PackAndSendResults");
    if (m_pfnPackAndSendResults == nullptr) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! El puntero a la función PackAndSendResults no es válido.");
        return ERROR_FUNCTION_NOT_CALLED;
    }
    if (pJobId == nullptr) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! Parámetro incorrecto. El puntero al Job_ID no puede ser NULL.");
        return ERROR_INVALID_PARAMETER;
    }
    // An empty destination still travels as an empty text, never as a null pointer.
    const DWORD rc = m_pfnPackAndSendResults(destination.c_str(), pJobId);
    KVX_LOG(eKVXDiagLog_INFO, "Completada la llamada a la función PackAndSendResults. Destination: %s. Valor de retorno: 0x%lX.",
            destination.c_str(), static_cast<unsigned long>(rc));
    return rc;
}

DWORD CKVXDiagCore::CancelTask(int jobId)
{
    KVX_FUNCTION("CKVXDiagCore::CancelTask");
    if (m_pfnCancelTask == nullptr) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! El puntero a la función CancelTask no es válido.");
        return ERROR_FUNCTION_NOT_CALLED;
    }
    const DWORD rc = m_pfnCancelTask(jobId);
    KVX_LOG(eKVXDiagLog_INFO, "Completada la llamada a la función CancelTask. Valor de retorno: 0x%lX",
            static_cast<unsigned long>(rc));
    return rc;
}

DWORD CKVXDiagCore::RegisterNotifyCallback(PFN_KVXDIAG2_NOTIFY pfnCallback, KVXDIAG2_CONTEXT context)
{
    KVX_FUNCTION("CKVXDiagCore::RegisterNotifyCallback");
    if (m_pfnRegisterNotifyCallback == nullptr) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! El puntero a la función RegisterNotifyCallback no es válido.");
        return ERROR_FUNCTION_NOT_CALLED;
    }
    const DWORD rc = m_pfnRegisterNotifyCallback(pfnCallback, context);
    KVX_LOG(eKVXDiagLog_INFO, "Completada la llamada a la función RegisterNotifyCallback. Valor de retorno: 0x%lX",
            static_cast<unsigned long>(rc));
    return rc;
}

bool CKVXDiagCore::IsPendingDeepAnalysis(int* pStep)
{
    KVX_FUNCTION("CKVXDiagCore::IsPendingDeepAnalysis");
    if (bPendingDeepAnalysis) {
        if (pStep != nullptr) {
            *pStep = eStep;
        }
        KVX_LOG(eKVXDiagLog_INFO, "Existe un análisis previo interrumpido en el paso: 0x%X", static_cast<unsigned>(eStep));
        return true;
    }
    if (pStep != nullptr) {
        *pStep = 0;
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "No exiten análisis pendientes.");
    return false;
}

void CKVXDiagCore::Unload()
{
    KVX_FUNCTION("CKVXDiagCore::Unload");
    if (m_pfnEnd != nullptr) {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Realizando llamada a End()...");
        m_pfnEnd();
    }
    if (m_hLibrary) {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Llamando a FreeLibrary...");
        m_hLibrary.reset();
    }
    m_pfnInit = nullptr;
    m_pfnEnd = nullptr;
    m_pfnBasicAnalysis = nullptr;
    m_pfnDeepAnalysis = nullptr;
    m_pfnPackAndSendResults = nullptr;
    m_pfnCancelTask = nullptr;
    m_pfnRegisterNotifyCallback = nullptr;
    m_pfnReserved = nullptr;
}
