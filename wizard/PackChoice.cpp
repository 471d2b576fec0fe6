#include "wizard/PackChoice.h"

#include "common/log/KVXDiagObject.h"
#include "common/win/UniqueHandles.h"
#include "core/interface/ResumeState.h"

DWORD CPackChoice::Record(bool bRemovePersonalData)
{
    KVX_FUNCTION("CPackChoice::Record");
    kvx::UniqueHkey key;
    // The vendor's 32-bit view, where the core of either build reads it.
    LONG rc = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, key.put(), nullptr);
    if (rc == ERROR_SUCCESS) {
        const DWORD dwValue = bRemovePersonalData ? 1 : 0;
        rc = ::RegSetValueExA(key.get(), KVXDIAG2_PACK_REMOVE_PERSONAL_DATA, 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&dwValue), sizeof dwValue);
    }
    KVX_LOG(rc == ERROR_SUCCESS ? eKVXDiagLog_INFO : eKVXDiagLog_ERROR,
            "Quitar los datos personales del paquete: %s (registro 0x%lx)", bRemovePersonalData ? "sí" : "no",
            static_cast<unsigned long>(rc));
    return static_cast<DWORD>(rc);
}

void CPackChoice::Forget()
{
    KVX_FUNCTION("CPackChoice::Forget");
    kvx::UniqueHkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, key.put()) ==
        ERROR_SUCCESS) {
        ::RegDeleteValueA(key.get(), KVXDIAG2_PACK_REMOVE_PERSONAL_DATA);
    }
}
