// Move-only owners for every Windows resource the code base holds. Each close function appears here
// and nowhere else, so that an early return can never leak a handle, key, module or COM reference.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <utility>

namespace kvx {

// Traits give each resource kind its own "empty" value, because the APIs disagree: CreateFile and
// FindFirstFile fail with INVALID_HANDLE_VALUE, everything else with NULL.
template <typename T, T EmptyValue, typename Closer>
class CUniqueResource {
public:
    CUniqueResource() noexcept = default;
    explicit CUniqueResource(T value) noexcept : m_value(value) {}
    ~CUniqueResource() { reset(); }

    CUniqueResource(const CUniqueResource&) = delete;
    CUniqueResource& operator=(const CUniqueResource&) = delete;
    CUniqueResource(CUniqueResource&& other) noexcept : m_value(other.release()) {}
    CUniqueResource& operator=(CUniqueResource&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    T get() const noexcept { return m_value; }
    bool valid() const noexcept { return m_value != EmptyValue; }
    explicit operator bool() const noexcept { return valid(); }

    T release() noexcept { return std::exchange(m_value, EmptyValue); }

    void reset(T value = EmptyValue) noexcept
    {
        T old = std::exchange(m_value, value);
        if (old != EmptyValue) {
            Closer::Close(old);
        }
    }

    // For out-parameters: the previous value is freed first so that reuse cannot leak.
    T* put() noexcept
    {
        reset();
        return &m_value;
    }

private:
    T m_value = EmptyValue;
};

struct SHandleCloser {
    static void Close(HANDLE h) noexcept { ::CloseHandle(h); }
};
struct SKeyCloser {
    static void Close(HKEY h) noexcept { ::RegCloseKey(h); }
};
struct SModuleCloser {
    static void Close(HMODULE h) noexcept { ::FreeLibrary(h); }
};
struct SServiceCloser {
    static void Close(SC_HANDLE h) noexcept { ::CloseServiceHandle(h); }
};
struct SFindCloser {
    static void Close(HANDLE h) noexcept { ::FindClose(h); }
};

// Events, threads, processes, mutexes, pipes: NULL on failure.
using UniqueHandle = CUniqueResource<HANDLE, nullptr, SHandleCloser>;
using UniqueHkey = CUniqueResource<HKEY, nullptr, SKeyCloser>;
using UniqueModule = CUniqueResource<HMODULE, nullptr, SModuleCloser>;
using UniqueServiceHandle = CUniqueResource<SC_HANDLE, nullptr, SServiceCloser>;

// File and find handles fail with INVALID_HANDLE_VALUE; its value is not a constant expression for a
// template argument, hence these two small classes instead of aliases.
class UniqueFileHandle {
public:
    UniqueFileHandle() noexcept = default;
    explicit UniqueFileHandle(HANDLE h) noexcept : m_value(h) {}
    ~UniqueFileHandle() { reset(); }
    UniqueFileHandle(const UniqueFileHandle&) = delete;
    UniqueFileHandle& operator=(const UniqueFileHandle&) = delete;
    UniqueFileHandle(UniqueFileHandle&& o) noexcept : m_value(o.release()) {}
    UniqueFileHandle& operator=(UniqueFileHandle&& o) noexcept
    {
        if (this != &o) {
            reset(o.release());
        }
        return *this;
    }
    HANDLE get() const noexcept { return m_value; }
    bool valid() const noexcept { return m_value != INVALID_HANDLE_VALUE && m_value != nullptr; }
    explicit operator bool() const noexcept { return valid(); }
    HANDLE release() noexcept { return std::exchange(m_value, INVALID_HANDLE_VALUE); }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) noexcept
    {
        HANDLE old = std::exchange(m_value, h);
        if (old != INVALID_HANDLE_VALUE && old != nullptr) {
            ::CloseHandle(old);
        }
    }
    HANDLE* put() noexcept
    {
        reset();
        return &m_value;
    }

private:
    HANDLE m_value = INVALID_HANDLE_VALUE;
};

class UniqueFindHandle {
public:
    UniqueFindHandle() noexcept = default;
    explicit UniqueFindHandle(HANDLE h) noexcept : m_value(h) {}
    ~UniqueFindHandle() { reset(); }
    UniqueFindHandle(const UniqueFindHandle&) = delete;
    UniqueFindHandle& operator=(const UniqueFindHandle&) = delete;
    UniqueFindHandle(UniqueFindHandle&& o) noexcept : m_value(o.release()) {}
    UniqueFindHandle& operator=(UniqueFindHandle&& o) noexcept
    {
        if (this != &o) {
            reset(o.release());
        }
        return *this;
    }
    HANDLE get() const noexcept { return m_value; }
    bool valid() const noexcept { return m_value != INVALID_HANDLE_VALUE; }
    explicit operator bool() const noexcept { return valid(); }
    HANDLE release() noexcept { return std::exchange(m_value, INVALID_HANDLE_VALUE); }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) noexcept
    {
        HANDLE old = std::exchange(m_value, h);
        if (old != INVALID_HANDLE_VALUE) {
            ::FindClose(old);
        }
    }

private:
    HANDLE m_value = INVALID_HANDLE_VALUE;
};

// COM reference owner. put() hands out the address for CoCreateInstance-style out-parameters.
template <typename T>
class UniqueComPtr {
public:
    UniqueComPtr() noexcept = default;
    explicit UniqueComPtr(T* p) noexcept : m_p(p) {}
    ~UniqueComPtr() { reset(); }
    UniqueComPtr(const UniqueComPtr&) = delete;
    UniqueComPtr& operator=(const UniqueComPtr&) = delete;
    UniqueComPtr(UniqueComPtr&& o) noexcept : m_p(o.release()) {}
    UniqueComPtr& operator=(UniqueComPtr&& o) noexcept
    {
        if (this != &o) {
            reset(o.release());
        }
        return *this;
    }
    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    T* release() noexcept { return std::exchange(m_p, nullptr); }
    void reset(T* p = nullptr) noexcept
    {
        T* old = std::exchange(m_p, p);
        if (old) {
            old->Release();
        }
    }
    T** put() noexcept
    {
        reset();
        return &m_p;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

private:
    T* m_p = nullptr;
};

// Holds a critical section for one scope.
class CCriticalSectionLock {
public:
    explicit CCriticalSectionLock(CRITICAL_SECTION& cs) noexcept : m_cs(cs) { ::EnterCriticalSection(&m_cs); }
    ~CCriticalSectionLock() { ::LeaveCriticalSection(&m_cs); }
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};

// Holds a slim reader/writer lock exclusively for one scope.
class CSrwExclusiveLock {
public:
    explicit CSrwExclusiveLock(SRWLOCK& lock) noexcept : m_lock(lock) { ::AcquireSRWLockExclusive(&m_lock); }
    ~CSrwExclusiveLock() { ::ReleaseSRWLockExclusive(&m_lock); }
    CSrwExclusiveLock(const CSrwExclusiveLock&) = delete;
    CSrwExclusiveLock& operator=(const CSrwExclusiveLock&) = delete;

private:
    SRWLOCK& m_lock;
};

} // namespace kvx
