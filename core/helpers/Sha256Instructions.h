// SHA-256 on the processor's SHA extensions. The system's provider uses them only on recent systems;
// on the others (and under Wine) it hashes in plain code at a fifth of the speed, and pack and send
// hashes every file it packs and the package itself. Only for processors where
// CProcessorFeatures::ShaExtensions() holds.
#pragma once

#include <cstddef>
#include <cstdint>

class CSha256Instructions {
public:
    static constexpr size_t DIGEST_SIZE = 32;

    CSha256Instructions() { Begin(); }

    void Begin();
    void Add(const void* pData, size_t cb);
    // The digest of everything added since Begin; Begin must come before the next Add.
    void Finish(unsigned char (&digest)[DIGEST_SIZE]);

private:
    static constexpr size_t BLOCK_SIZE = 64;
    static void Compress(uint32_t (&state)[8], const unsigned char* pBlocks, size_t numBlocks);

    uint32_t m_state[8] = {};
    unsigned char m_pending[BLOCK_SIZE] = {};
    size_t m_cbPending = 0;
    uint64_t m_cbTotal = 0;
};
