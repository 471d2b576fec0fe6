#include "core/tasks/TaskUnmarkTDIManagerSuspicious.h"

const DWORD CTaskUnmarkTDIManagerSuspicious::s_dwFactoryRegistration =
    CTaskUnmarkTDIManagerSuspicious::PerformFactoryRegistration();
