// Holds the job store's mutex for one store operation; before the foreman's Init there is no mutex and
// the store is used unlocked. A mutex left behind by a thread that ended while holding it is still
// ours once the wait returns: it is owned and released like any other.
#pragma once

#include <windows.h>

class CStoreMutexLock {
public:
    CStoreMutexLock(HANDLE hMutex, const char* pszFunction, DWORD dwTimeoutMs);
    ~CStoreMutexLock();
    CStoreMutexLock(const CStoreMutexLock&) = delete;
    CStoreMutexLock& operator=(const CStoreMutexLock&) = delete;

    // 0, or 1460 when the mutex could not be taken in time.
    DWORD Result() const { return m_dwResult; }

private:
    HANDLE m_hMutex;
    DWORD m_dwResult = 0;
};
