#include "core/jobs/UndoRecords.h"

#include "common/log/KVXDiagObject.h"
#include "common/win/RegistryView.h"
#include "common/win/UniqueHandles.h"
#include "core/interface/KVXDiagTypes.h"
#include "core/interface/ResumeState.h"

namespace kvx {

namespace {

std::string RecordKeyPath(const char* pszSubKey) { return std::string(KVXDIAG2_RESUME_KEY) + "\\" + pszSubKey; }

DWORD OpenRecordKey(const char* pszSubKey, bool bCreate, UniqueHkey& key)
{
    const std::string path = RecordKeyPath(pszSubKey);
    const REGSAM access = KEY_ALL_ACCESS | KVX_REGVIEW_VENDOR;
    if (bCreate) {
        return static_cast<DWORD>(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                                    REG_OPTION_NON_VOLATILE, access, nullptr, key.put(), nullptr));
    }
    return static_cast<DWORD>(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, key.put()));
}

// A record key without values is removed, and so is the resume key when the records were all it held:
// a run that ended cleanly leaves the registry as it found it.
void RemoveIfEmpty(const char* pszSubKey)
{
    {
        UniqueHkey key;
        if (OpenRecordKey(pszSubKey, false, key) != ERROR_SUCCESS) {
            return;
        }
        DWORD dwSubKeys = 0;
        DWORD dwValues = 0;
        if (::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &dwSubKeys, nullptr, nullptr, &dwValues, nullptr,
                               nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            dwSubKeys != 0 || dwValues != 0) {
            return;
        }
    }
    ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, RecordKeyPath(pszSubKey).c_str(), KVX_REGVIEW_VENDOR, 0);
    UniqueHkey resume;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, KEY_READ | KVX_REGVIEW_VENDOR, resume.put()) !=
        ERROR_SUCCESS) {
        return;
    }
    DWORD dwSubKeys = 0;
    DWORD dwValues = 0;
    if (::RegQueryInfoKeyA(resume.get(), nullptr, nullptr, nullptr, &dwSubKeys, nullptr, nullptr, &dwValues, nullptr,
                           nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        dwSubKeys == 0 && dwValues == 0) {
        resume.reset();
        ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, KVX_REGVIEW_VENDOR, 0);
    }
}

void LogFailure(const char* pszWhat, const std::string& name, DWORD dwError)
{
    CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, "kvx::UndoRecords",
                             "Error! No se pudo %s el registro de %s. Error devuelto: %lu", pszWhat, name.c_str(),
                             static_cast<unsigned long>(dwError));
}

} // namespace

bool ReadServiceStart(const std::string& service, DWORD& dwStart)
{
    UniqueHkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, (KVXDIAG2_SERVICES_KEY + service).c_str(), 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD dwType = 0;
    DWORD dwValue = 0;
    DWORD dwSize = sizeof dwValue;
    if (::RegQueryValueExA(key.get(), "Start", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue), &dwSize) !=
            ERROR_SUCCESS ||
        dwType != REG_DWORD || dwSize != sizeof dwValue) {
        return false;
    }
    dwStart = dwValue;
    return true;
}

DWORD WriteServiceStart(const std::string& service, DWORD dwStart)
{
    UniqueHkey key;
    DWORD dwResult = static_cast<DWORD>(
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, (KVXDIAG2_SERVICES_KEY + service).c_str(), 0, KEY_SET_VALUE, key.put()));
    if (dwResult == ERROR_SUCCESS) {
        dwResult = static_cast<DWORD>(
            ::RegSetValueExA(key.get(), "Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwStart), sizeof dwStart));
    }
    return dwResult;
}

DWORD RecordDriver(const std::string& service, DWORD dwStart)
{
    UniqueHkey key;
    DWORD dwResult = OpenRecordKey(KVXDIAG2_RECORD_DRIVERS_KEY, true, key);
    if (dwResult == ERROR_SUCCESS) {
        if (::RegQueryValueExA(key.get(), service.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            return ERROR_SUCCESS;
        }
        dwResult = static_cast<DWORD>(::RegSetValueExA(key.get(), service.c_str(), 0, REG_DWORD,
                                                       reinterpret_cast<const BYTE*>(&dwStart), sizeof dwStart));
    }
    if (dwResult != ERROR_SUCCESS) {
        LogFailure("escribir", service, dwResult);
    }
    return dwResult;
}

void ForgetDriver(const std::string& service)
{
    {
        UniqueHkey key;
        if (OpenRecordKey(KVXDIAG2_RECORD_DRIVERS_KEY, false, key) != ERROR_SUCCESS) {
            return;
        }
        ::RegDeleteValueA(key.get(), service.c_str());
    }
    RemoveIfEmpty(KVXDIAG2_RECORD_DRIVERS_KEY);
}

std::vector<SDriverRecord> ReadDriverRecords()
{
    std::vector<SDriverRecord> records;
    UniqueHkey key;
    if (OpenRecordKey(KVXDIAG2_RECORD_DRIVERS_KEY, false, key) != ERROR_SUCCESS) {
        return records;
    }
    for (DWORD index = 0;; ++index) {
        char name[256] = {};
        DWORD dwNameLength = sizeof name;
        DWORD dwType = 0;
        DWORD dwValue = 0;
        DWORD dwSize = sizeof dwValue;
        const LONG rc = ::RegEnumValueA(key.get(), index, name, &dwNameLength, nullptr, &dwType,
                                        reinterpret_cast<BYTE*>(&dwValue), &dwSize);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc != ERROR_SUCCESS || dwType != REG_DWORD || dwSize != sizeof dwValue || name[0] == '\0') {
            CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, "kvx::ReadDriverRecords",
                                     "Registro de driver dañado en la posición %lu, se ignora.",
                                     static_cast<unsigned long>(index));
            continue;
        }
        records.push_back({name, dwValue});
    }
    return records;
}

void ClearDriverRecords()
{
    ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, RecordKeyPath(KVXDIAG2_RECORD_DRIVERS_KEY).c_str(), KVX_REGVIEW_VENDOR, 0);
    RemoveIfEmpty(KVXDIAG2_RECORD_DRIVERS_KEY);
}

DWORD RecordBasicChange(const char* pszValue, const std::string& data)
{
    UniqueHkey key;
    DWORD dwResult = OpenRecordKey(KVXDIAG2_RECORD_BASIC_KEY, true, key);
    if (dwResult == ERROR_SUCCESS) {
        dwResult = static_cast<DWORD>(::RegSetValueExA(key.get(), pszValue, 0, REG_SZ,
                                                       reinterpret_cast<const BYTE*>(data.c_str()),
                                                       static_cast<DWORD>(data.size() + 1)));
    }
    if (dwResult != ERROR_SUCCESS) {
        LogFailure("escribir", pszValue, dwResult);
    }
    return dwResult;
}

bool ReadBasicChange(const char* pszValue, std::string& data)
{
    UniqueHkey key;
    if (OpenRecordKey(KVXDIAG2_RECORD_BASIC_KEY, false, key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD dwType = 0;
    DWORD dwSize = 0;
    if (::RegQueryValueExA(key.get(), pszValue, nullptr, &dwType, nullptr, &dwSize) != ERROR_SUCCESS ||
        dwType != REG_SZ) {
        return false;
    }
    std::string buffer(dwSize + 1, '\0');
    if (::RegQueryValueExA(key.get(), pszValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&buffer[0]), &dwSize) !=
        ERROR_SUCCESS) {
        return false;
    }
    buffer.resize(strnlen(buffer.c_str(), dwSize));
    data = buffer;
    return true;
}

void ForgetBasicChange(const char* pszValue)
{
    {
        UniqueHkey key;
        if (OpenRecordKey(KVXDIAG2_RECORD_BASIC_KEY, false, key) != ERROR_SUCCESS) {
            return;
        }
        ::RegDeleteValueA(key.get(), pszValue);
    }
    RemoveIfEmpty(KVXDIAG2_RECORD_BASIC_KEY);
}

} // namespace kvx
