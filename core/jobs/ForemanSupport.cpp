#include "core/jobs/ForemanSupport.h"

#include "core/report/ReporterFactory.h"

namespace kvx {

IReporter* CreatePlainTextReporter() { return CReporterFactory::GetReporter(KVXDIAG2_REPORTERID_PLAINTEXT); }

void DestroyReporter(IReporter* pReporter) { delete pReporter; }

void SetReporterOutputFile(IReporter* pReporter, const std::string& path)
{
    if (pReporter != nullptr) {
        pReporter->SetOutputFile(path);
    }
}

} // namespace kvx
