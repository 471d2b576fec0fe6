// Compares the package's "KVXManifest.sha256" (one "<64 hex>  <path>" line per file, as sha256sum
// writes them) with the files the package holds and the SHA-256 of each as read.
#pragma once

#include "tools/packagereader/PackageReaderTypes.h"

#include <map>
#include <string>

constexpr const char* KVXINSPECT_MANIFEST_NAME = "KVXManifest.sha256";

class CManifestCheck {
public:
    // files: every file entry of the package (not the manifest itself) with the SHA-256 of its data.
    static SManifestCheck Compare(const std::string& manifest, const std::map<std::string, std::string>& files);
};
