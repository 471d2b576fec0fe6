// --extract DIR: writes a package's files to DIR, all or nothing. Every name is judged before anything
// touches the disk (a name that could leave DIR, or collide with another, refuses the whole
// extraction); entries stream from the package into exclusively created files of a temporary folder
// beside DIR, which becomes DIR only once every entry was written and checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum EExtractResult {
    eExtractResult_EXTRACTED = 0,
    eExtractResult_REFUSED = 1, // nothing was written: a name, the package or DIR itself
    eExtractResult_FAILED = 2,  // stopped midway (damaged entry, disk full); what was written is gone
};

class CPackageExtractor {
public:
    static EExtractResult Extract(const uint8_t* pData, size_t cb, const std::string& password,
                                  const std::string& directory, std::string& problem, size_t& files);
};
