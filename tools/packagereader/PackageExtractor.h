// --extract DIR: writes a verified package's files below DIR. Every name is checked before anything
// touches the disk; a name that could leave DIR refuses the whole extraction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CPackageExtractor {
public:
    // Empty when the name is safe to join to DIR; otherwise why it is not.
    static std::string UnsafeReason(const std::string& name);
    // Extracts every entry; false with the reason in problem on the first failure.
    static bool Extract(const uint8_t* pData, size_t cb, const std::string& password, const std::string& directory,
                        std::string& problem, size_t& files);
};
