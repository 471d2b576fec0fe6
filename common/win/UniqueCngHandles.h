// Owners for CNG objects. The core loads bcrypt.dll by its full path at run time instead of importing
// it, so the functions that close these objects are pointers resolved from that module; each owner
// carries the one it needs.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <utility>

namespace kvx {

struct SCngAlgorithmCloser {
    NTSTATUS(WINAPI* m_close)(BCRYPT_ALG_HANDLE, ULONG) = nullptr;
    void Close(BCRYPT_ALG_HANDLE h) const noexcept
    {
        if (m_close != nullptr) {
            m_close(h, 0);
        }
    }
};

struct SCngHashCloser {
    NTSTATUS(WINAPI* m_close)(BCRYPT_HASH_HANDLE) = nullptr;
    void Close(BCRYPT_HASH_HANDLE h) const noexcept
    {
        if (m_close != nullptr) {
            m_close(h);
        }
    }
};

template <typename Closer>
class CUniqueCngHandle {
public:
    CUniqueCngHandle() noexcept = default;
    explicit CUniqueCngHandle(Closer closer) noexcept : m_closer(closer) {}
    ~CUniqueCngHandle() { reset(); }
    CUniqueCngHandle(const CUniqueCngHandle&) = delete;
    CUniqueCngHandle& operator=(const CUniqueCngHandle&) = delete;
    CUniqueCngHandle(CUniqueCngHandle&& other) noexcept
        : m_value(std::exchange(other.m_value, nullptr)), m_closer(other.m_closer)
    {
    }
    CUniqueCngHandle& operator=(CUniqueCngHandle&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_value = std::exchange(other.m_value, nullptr);
            m_closer = other.m_closer;
        }
        return *this;
    }

    void* get() const noexcept { return m_value; }
    bool valid() const noexcept { return m_value != nullptr; }
    void reset() noexcept
    {
        void* old = std::exchange(m_value, nullptr);
        if (old != nullptr) {
            m_closer.Close(old);
        }
    }
    // For out-parameters: the previous object is closed first so that reuse cannot leak.
    void** put() noexcept
    {
        reset();
        return &m_value;
    }

private:
    void* m_value = nullptr;
    Closer m_closer;
};

using UniqueCngAlgorithm = CUniqueCngHandle<SCngAlgorithmCloser>;
using UniqueCngHash = CUniqueCngHandle<SCngHashCloser>;

} // namespace kvx
