#include "core/tasks/TaskMarkTDIManagerSuspicious.h"

const DWORD CTaskMarkTDIManagerSuspicious::s_dwFactoryRegistration =
    CTaskMarkTDIManagerSuspicious::PerformFactoryRegistration();
