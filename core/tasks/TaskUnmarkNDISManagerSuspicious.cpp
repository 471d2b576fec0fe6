#include "core/tasks/TaskUnmarkNDISManagerSuspicious.h"

const DWORD CTaskUnmarkNDISManagerSuspicious::s_dwFactoryRegistration =
    CTaskUnmarkNDISManagerSuspicious::PerformFactoryRegistration();
