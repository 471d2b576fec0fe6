// Tasks by 32-bit id: each task class registers its creation function at library start-up.
#pragma once

#include "core/tasks/ITask.h"
#include "core/tasks/SubscriptionFactory.h"

#include <string>

struct STasksFactoryTraits {
    static constexpr const char* SUBSCRIBE_FUNCTION = "CTasksFactory::Subscribe";
    static constexpr const char* CREATE_FUNCTION = "CTasksFactory::GetTask";
    static constexpr const char* DUPLICATE_PREFIX = "El Tasks ";
    static constexpr const char* DUPLICATE_SUFFIX = ", ya esta registrado.";
    static constexpr const char* UNKNOWN_PREFIX = "No hay ningún task registrado con el ID ";
    static constexpr const char* BROKEN_PREFIX = "El task solicitado(";
    static constexpr const char* BROKEN_SUFFIX = ") no esta correctamente registrado.";
    static std::string KeyText(DWORD dwId) { return kvx::HexKeyText(dwId); }
};

class CTasksFactory : public kvx::CSubscriptionFactory<DWORD, ITask, STasksFactoryTraits> {
public:
    // A new task that the caller owns and deletes, or none.
    static ITask* GetTask(DWORD dwTaskId) { return Create(dwTaskId); }

    CTasksFactory() = delete;
};
