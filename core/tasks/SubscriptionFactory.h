// The one shape behind the task, reporter and helper factories: an ordered map from a key to a static
// creation function, filled by each class's registration during the library's static initialisation
// and only read afterwards. Each factory supplies its key type and its log texts through a traits type.
#pragma once

#include "common/log/KVXDiagObject.h"
#include "core/interface/KVXDiagTypes.h"

#include <map>
#include <string>

namespace kvx {

// Traits requirements (all static): SUBSCRIBE_FUNCTION, CREATE_FUNCTION (qualified names for the log),
// DUPLICATE_PREFIX/SUFFIX, UNKNOWN_PREFIX, BROKEN_PREFIX/SUFFIX, and KeyText(key) for the log lines.
template <typename TKey, typename TProduct, typename TTraits>
class CSubscriptionFactory {
public:
    using PFN_AUTOCREATION = TProduct* (*)();
    using SubscriptionMap = std::map<TKey, PFN_AUTOCREATION>;

    // Made on first use so that registrations running from other translation units' static
    // initialisers never meet an unconstructed map.
    static SubscriptionMap& GetSubscriptionMap()
    {
        static SubscriptionMap s_map;
        return s_map;
    }

    static DWORD Subscribe(const TKey& key, PFN_AUTOCREATION pfnCreate)
    {
        CKVXLogScope scope(KVXDIAG_LOG_MODULE, TTraits::SUBSCRIBE_FUNCTION);
        try {
            if (pfnCreate == nullptr) {
                return KVXDIAG2_ERR_BAD_PARAMETER;
            }
            SubscriptionMap& map = GetSubscriptionMap();
            if (map.find(key) != map.end()) {
                Log(eKVXDiagLog_ERROR, TTraits::SUBSCRIBE_FUNCTION, TTraits::DUPLICATE_PREFIX, key,
                    TTraits::DUPLICATE_SUFFIX);
                return ERROR_ALREADY_EXISTS;
            }
            map.emplace(key, pfnCreate);
            return KVXDIAG2_OK;
        } catch (...) {
            CKVXDiagObject::WriteLog(eKVXDiagLog_EXCEPTION, KVXDIAG_LOG_MODULE, TTraits::SUBSCRIBE_FUNCTION, "%s",
                                     "Excepción no controlada!!");
            return KVXDIAG2_ERR_EXCEPTION;
        }
    }

    // Calls the registered creation function; none for an unknown key, a broken registration, a
    // failed creation or an exception.
    static TProduct* Create(const TKey& key)
    {
        CKVXLogScope scope(KVXDIAG_LOG_MODULE, TTraits::CREATE_FUNCTION);
        try {
            const SubscriptionMap& map = GetSubscriptionMap();
            const auto it = map.find(key);
            if (it == map.end()) {
                Log(eKVXDiagLog_ERROR, TTraits::CREATE_FUNCTION, TTraits::UNKNOWN_PREFIX, key, "");
                return nullptr;
            }
            if (it->second == nullptr) {
                Log(eKVXDiagLog_ERROR, TTraits::CREATE_FUNCTION, TTraits::BROKEN_PREFIX, key, TTraits::BROKEN_SUFFIX);
                return nullptr;
            }
            return it->second();
        } catch (...) {
            CKVXDiagObject::WriteLog(eKVXDiagLog_EXCEPTION, KVXDIAG_LOG_MODULE, TTraits::CREATE_FUNCTION, "%s",
                                     "Excepción no controlada!!");
            return nullptr;
        }
    }

private:
    static void Log(DWORD level, const char* pszFunction, const char* prefix, const TKey& key, const char* suffix)
    {
        const std::string keyText = TTraits::KeyText(key);
        CKVXDiagObject::WriteLog(level, KVXDIAG_LOG_MODULE, pszFunction, "%s%s%s", prefix, keyText.c_str(), suffix);
    }
};

// Numeric keys (task and reporter ids) appear in the log as "0x" and upper-case hexadecimal.
std::string HexKeyText(DWORD key);

} // namespace kvx
