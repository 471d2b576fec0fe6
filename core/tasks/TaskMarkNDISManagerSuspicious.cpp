#include "core/tasks/TaskMarkNDISManagerSuspicious.h"

const DWORD CTaskMarkNDISManagerSuspicious::s_dwFactoryRegistration =
    CTaskMarkNDISManagerSuspicious::PerformFactoryRegistration();
