// Placeholders for the three jobs until they are built: each reports that it began and ended, so that
// callers and the job engine can be exercised end to end.
#include "core/jobs/Foreman.h"
