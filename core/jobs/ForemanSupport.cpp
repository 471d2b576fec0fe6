#include "core/jobs/ForemanSupport.h"

// The report writer is not part of the build yet; until it is, the foreman runs without one, which
// it already has to tolerate when the factory cannot make one.
namespace kvx {

IReporter* CreatePlainTextReporter() { return nullptr; }
void DestroyReporter(IReporter*) {}
void SetReporterOutputFile(IReporter*, const std::string&) {}

} // namespace kvx
