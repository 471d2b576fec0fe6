// Reads a whole package: the directory, every entry (decrypted, inflated, CRC-checked, hashed), the
// names, the manifest, and the story the report tells. The result feeds every output form.
#pragma once

#include "tools/packagereader/MemoryBudget.h"
#include "tools/packagereader/PackageReaderTypes.h"

#include <cstdint>
#include <string>
#include <vector>

// The package password the core library uses when none is given.
constexpr const char* KVXINSPECT_DEFAULT_PASSWORD = "tarsk-708";

enum EInspectResult {
    eInspectResult_VERIFIED = 0,
    eInspectResult_FAILED = 1,
    eInspectResult_UNREADABLE = 2,
};

class CPackageReader {
public:
    // pData/cb: the package's bytes. On eInspectResult_UNREADABLE, fatal says why in words (also when
    // the reading would need more than maxMemory bytes).
    static EInspectResult Inspect(const uint8_t* pData, size_t cb, const std::string& password, SInspection& inspection,
                                  std::string& fatal, uint64_t maxMemory = CMemoryBudget::DEFAULT_BYTES);
};
