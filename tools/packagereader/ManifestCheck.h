// Compares the package's "KVXManifest.sha256" (one "<64 hex>  <path>" line per file, as sha256sum
// writes them, and "UNREADABLE (error N: reason)  <path>" for a file the packer could not read) with
// the files the package holds and the SHA-256 of each as read.
#pragma once

#include "tools/packagereader/MemoryBudget.h"
#include "tools/packagereader/PackageReaderTypes.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

constexpr const char* KVXINSPECT_MANIFEST_NAME = "KVXManifest.sha256";

class CManifestCheck {
public:
    // Path and SHA-256 (lower-case hex) of each file, in package order.
    using CFiles = std::vector<std::pair<std::string, std::string>>;

    // files: every file entry of the package (not the manifest itself) with the SHA-256 of its data.
    static SManifestCheck Compare(std::string_view manifest, const CFiles& files, CMemoryBudget& budget);
};
