// One run of the tool at a time on a machine: a second wizard, or a second process's core, would
// undo the first one's live journal entries and both would resume a pending analysis. The mutex is
// global to the machine and held from before the first change until the program ends; a holder that
// died leaves it abandoned, which counts as free.
#pragma once

#include "common/win/UniqueHandles.h"

#include <windows.h>

namespace kvx {

constexpr const wchar_t* KVXDIAG2_INSTANCE_MUTEX = L"Global\\KVXDiag2.Instance";
// What the core answers when another process holds the mutex.
constexpr DWORD KVXDIAG2_ERR_ANOTHER_INSTANCE = ERROR_SINGLE_INSTANCE_APP; // 1152

class CInstanceMutex {
public:
    // True when this thread now holds the mutex (again: a mutex counts its owner's waits).
    bool Acquire()
    {
        if (!m_mutex) {
            m_mutex.reset(::CreateMutexW(nullptr, FALSE, KVXDIAG2_INSTANCE_MUTEX));
        }
        if (!m_mutex) {
            return false;
        }
        const DWORD dwWait = ::WaitForSingleObject(m_mutex.get(), 0);
        if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED) {
            ++m_lHeld;
            return true;
        }
        return false;
    }
    void Release()
    {
        while (m_lHeld > 0) {
            ::ReleaseMutex(m_mutex.get());
            --m_lHeld;
        }
    }
    bool Held() const { return m_lHeld > 0; }
    ~CInstanceMutex() { Release(); }

private:
    UniqueHandle m_mutex;
    long m_lHeld = 0;
};

} // namespace kvx
