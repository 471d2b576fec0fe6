// SHA-256 of files and buffers through the system's CNG provider. bcrypt.dll is loaded from the system
// directory by its full path when Open is called, not imported: a DLL imported by name would be looked
// for first beside the wizard, which runs elevated from wherever the customer unpacked it. Where the
// processor has SHA extensions the digests are computed with them (CSha256Instructions) instead: the
// same digests, several times faster than the provider of the systems that do not use them itself.
#pragma once

#include "common/win/UniqueCngHandles.h"
#include "common/win/UniqueHandles.h"
#include "core/helpers/Sha256Instructions.h"

#include <windows.h>

#include <string>
#include <vector>

class CCngSha256 {
public:
    static constexpr size_t KVX_SHA256_HEX_LENGTH = 64;

    CCngSha256() = default;
    ~CCngSha256();
    CCngSha256(const CCngSha256&) = delete;
    CCngSha256& operator=(const CCngSha256&) = delete;

    // Loads the provider; 0 or a Windows error code. The other operations answer 17 until it succeeded.
    DWORD Open();
    // The digest in lower-case hexadecimal. A file is read in pieces, so its size does not matter.
    DWORD HashFile(const std::string& path, std::string& hexDigest);
    DWORD HashBuffer(const void* data, size_t size, std::string& hexDigest);

    // One digest of data that arrives in pieces. Its owner must be open and outlive it; the hash
    // handle that CNG builds inside its object buffer is destroyed before the buffer.
    class CRunningHash {
    public:
        // With bProcessorInstructions false the provider hashes even where the processor could.
        explicit CRunningHash(const CCngSha256& owner, bool bProcessorInstructions = true);
        CRunningHash(const CRunningHash&) = delete;
        CRunningHash& operator=(const CRunningHash&) = delete;

        DWORD Begin();
        DWORD Add(const void* data, ULONG size);
        DWORD Finish(std::string& hexDigest);

    private:
        const CCngSha256& m_owner;
        const bool m_bInstructions;
        CSha256Instructions m_instructions;
        std::vector<UCHAR> m_object;
        kvx::UniqueCngHash m_hash;
    };

private:

    kvx::UniqueModule m_library;
    kvx::UniqueCngAlgorithm m_algorithm;
    DWORD m_dwObjectLength = 0;
    decltype(&::BCryptCreateHash) m_pfnCreateHash = nullptr;
    decltype(&::BCryptHashData) m_pfnHashData = nullptr;
    decltype(&::BCryptFinishHash) m_pfnFinishHash = nullptr;
    decltype(&::BCryptDestroyHash) m_pfnDestroyHash = nullptr;
};
