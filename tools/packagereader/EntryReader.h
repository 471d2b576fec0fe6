// Reads one entry's data: decrypts it with the traditional encryption, inflates it with zlib, and checks
// what came out against the directory (CRC-32 and size). Memory stays bounded whatever the entry
// declares: data passes through fixed pieces, and an entry that inflates to more than it declares is
// cut at the declared size and reported.
#pragma once

#include "tools/packagereader/PackageReaderTypes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class CEntryReader {
public:
    // Receives the content piece by piece as it is inflated; false stops the reading (the sink keeps
    // its own reason).
    using CSink = std::function<bool(const uint8_t* p, size_t cb)>;

    // pData/cb: the whole package. pKeep, when given, receives the entry's content up to cbKeepLimit
    // bytes (the rest is still checked, not kept); the caller has reserved that much in it. sink, when
    // given, receives all of it (never more than the directory declares).
    static SEntryCheck Read(const uint8_t* pData, size_t cb, const SZipEntryRecord& entry, const std::string& password,
                            std::string* pKeep, size_t cbKeepLimit, const CSink& sink = CSink());

    // The check byte of the encryption header (the last of its 12 bytes): true when the password opens
    // the entry. Entries that are not encrypted pass.
    static bool PasswordOpens(const uint8_t* pData, size_t cb, const SZipEntryRecord& entry, const std::string& password);
};
