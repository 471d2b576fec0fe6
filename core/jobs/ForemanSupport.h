// Small bridges between the foreman and the report writer, kept apart so that the job engine depends
// only on these three calls.
#pragma once

#include <string>

class IReporter;

namespace kvx {

IReporter* CreatePlainTextReporter();
void DestroyReporter(IReporter* pReporter);
void SetReporterOutputFile(IReporter* pReporter, const std::string& path);

} // namespace kvx
