// Helpers by exact name: each helper class registers its creation function at library start-up.
#pragma once

#include "core/helpers/IHelper.h"
#include "core/tasks/SubscriptionFactory.h"

#include <string>

struct SHelpersFactoryTraits {
    static constexpr const char* SUBSCRIBE_FUNCTION = "CHelpersFactory::Subscribe";
    static constexpr const char* CREATE_FUNCTION = "CHelpersFactory::GetHelper";
    static constexpr const char* DUPLICATE_PREFIX = "El helper ";
    static constexpr const char* DUPLICATE_SUFFIX = ", ya esta registrado.";
    static constexpr const char* UNKNOWN_PREFIX = "No hay ningún helper registrado con el nombre ";
    static constexpr const char* BROKEN_PREFIX = "El helper solicitado(";
    static constexpr const char* BROKEN_SUFFIX = ") no esta correctamente registrado.";
    static std::string KeyText(const std::string& name) { return name; }
};

class CHelpersFactory : public kvx::CSubscriptionFactory<std::string, IHelper, SHelpersFactoryTraits> {
public:
    // The shared instance with one more reference (release it with Destroy), or none.
    static IHelper* GetHelper(const std::string& strName) { return Create(strName); }

    CHelpersFactory() = delete;
};
