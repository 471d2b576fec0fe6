// Resource ids shared by KVXDiag2.rc and the code. Plain #defines: the resource compiler reads this too.
#pragma once

// The application icon. The lowest icon id is the one the shell shows for the program file.
#define KVXDIAG2_IDI_APPLICATION 1
