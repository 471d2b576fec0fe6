// Entry point of the core library: the library's own log object lives from attach to detach.
#include "common/log/KVXDiagObject.h"

#include <new>

namespace {
CKVXDiagObject* g_pLogObject = nullptr;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        if (g_pLogObject == nullptr) {
            g_pLogObject = new (std::nothrow) CKVXDiagObject();
        }
        break;
    case DLL_PROCESS_DETACH:
        delete g_pLogObject;
        g_pLogObject = nullptr;
        break;
    default:
        break;
    }
    return TRUE;
}
