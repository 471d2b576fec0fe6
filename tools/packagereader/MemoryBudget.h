// The one memory budget of a reading: what kvxinspect holds beyond the package file itself (kept
// entries, report lines, failure lines, differences, the directory's records). Whatever holds data
// charges it first; going over the budget throws CMemoryBudget::SExceeded, which the reading's
// boundary turns into "unreadable within the budget" (exit 2) instead of letting the allocator abort.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CMemoryBudget {
public:
    struct SExceeded {
        std::string m_what; // what was being held when the budget ran out
    };

    static constexpr uint64_t DEFAULT_BYTES = 256ull * 1024 * 1024;
    // What one held record costs beyond its text: string and container bookkeeping, rounded up.
    static constexpr uint64_t RECORD_OVERHEAD = 64;

    explicit CMemoryBudget(uint64_t limit = DEFAULT_BYTES) : m_limit(limit) {}

    void Charge(uint64_t bytes, const char* pszWhat);
    void Release(uint64_t bytes) { m_used = bytes > m_used ? 0 : m_used - bytes; }
    // Bytes still free (0 when spent).
    uint64_t Left() const { return m_used >= m_limit ? 0 : m_limit - m_used; }
    uint64_t Limit() const { return m_limit; }
    uint64_t Peak() const { return m_peak; }

private:
    uint64_t m_limit;
    uint64_t m_used = 0;
    uint64_t m_peak = 0;
};
