// The default output: the package's story for a person, on one screen where possible. Not an
// interface (scripts use --json); it may change.
#pragma once

#include "tools/packagereader/PackageReaderTypes.h"

#include <string>

class CTextSummary {
public:
    static std::string Write(const SInspection& inspection);
    // Words for the verdict, shared with the HTML page.
    static std::string VerdictText(const SVerdict& verdict);
};
