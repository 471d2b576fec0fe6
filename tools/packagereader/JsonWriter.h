// The --json document. Field names are an interface: documented in docs/package-summary-json.md and only
// ever added to.
#pragma once

#include "tools/packagereader/PackageReaderTypes.h"

#include <string>

class CJsonWriter {
public:
    static std::string Write(const SInspection& inspection, const std::string& version);
    // The document for a package that could not be read at all (exit code 2).
    static std::string WriteUnreadable(const SInspection& inspection, const std::string& why, const std::string& version);
};
