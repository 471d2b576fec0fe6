// Charging is a plain sum: the costs are estimates made where data is held, so the budget is a bound
// on what the reader asks for, with the allocator's own slack on top.
#include "tools/packagereader/MemoryBudget.h"

void CMemoryBudget::Charge(uint64_t bytes, const char* pszWhat)
{
    if (bytes > m_limit || m_used > m_limit - bytes) {
        throw SExceeded{pszWhat};
    }
    m_used += bytes;
    if (m_used > m_peak) {
        m_peak = m_used;
    }
}
