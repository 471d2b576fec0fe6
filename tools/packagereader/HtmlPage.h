// --html FILE: one self-contained page (inline style, no scripts, no external resources): the
// verification, the trail as a timeline, the verdict, and each difference with Pre and Post side by side.
#pragma once

#include "tools/packagereader/PackageReaderTypes.h"

#include <string>

class CHtmlPage {
public:
    static std::string Write(const SInspection& inspection, const std::string& version);
    static std::string Escape(const std::string& text);
};
