// Reporters by 32-bit id; the plain-text writer registers itself as id 1 at library start-up.
#pragma once

#include "core/report/IReporter.h"
#include "core/tasks/SubscriptionFactory.h"

#include <string>

struct SReporterFactoryTraits {
    static constexpr const char* SUBSCRIBE_FUNCTION = "CReporterFactory::Subscribe";
    static constexpr const char* CREATE_FUNCTION = "CReporterFactory::GetReporter";
    static constexpr const char* DUPLICATE_PREFIX = "El Reporter ";
    static constexpr const char* DUPLICATE_SUFFIX = ", ya esta registrado.";
    static constexpr const char* UNKNOWN_PREFIX = "No hay ningún reporter registrado con el ID ";
    static constexpr const char* BROKEN_PREFIX = "El reporter solicitado(";
    static constexpr const char* BROKEN_SUFFIX = ") no esta correctamente registrado.";
    static std::string KeyText(DWORD dwId) { return kvx::HexKeyText(dwId); }
};

class CReporterFactory : public kvx::CSubscriptionFactory<DWORD, IReporter, SReporterFactoryTraits> {
public:
    // A new reporter that the caller owns and deletes, or none.
    static IReporter* GetReporter(DWORD dwReporterId) { return Create(dwReporterId); }

    CReporterFactory() = delete;
};
