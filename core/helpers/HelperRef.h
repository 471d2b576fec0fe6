// A task's hold on a helper: acquired by name, released through Destroy when the holder goes away, so
// that no early return can keep a reference.
#pragma once

#include "core/helpers/HelpersFactory.h"

#include <string>

namespace kvx {

// THelper is the class registered under the name; the factory hands out its IHelper base.
template <typename THelper>
class CHelperRef {
public:
    CHelperRef() noexcept = default;
    explicit CHelperRef(const std::string& strName) : m_pHelper(static_cast<THelper*>(CHelpersFactory::GetHelper(strName))) {}
    ~CHelperRef() { reset(); }
    CHelperRef(const CHelperRef&) = delete;
    CHelperRef& operator=(const CHelperRef&) = delete;
    CHelperRef(CHelperRef&& other) noexcept : m_pHelper(other.m_pHelper) { other.m_pHelper = nullptr; }
    CHelperRef& operator=(CHelperRef&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_pHelper = other.m_pHelper;
            other.m_pHelper = nullptr;
        }
        return *this;
    }

    THelper* get() const noexcept { return m_pHelper; }
    THelper* operator->() const noexcept { return m_pHelper; }
    explicit operator bool() const noexcept { return m_pHelper != nullptr; }

    void reset() noexcept
    {
        if (m_pHelper != nullptr) {
            THelper* pHelper = m_pHelper;
            m_pHelper = nullptr;
            pHelper->Destroy();
        }
    }

private:
    THelper* m_pHelper = nullptr;
};

} // namespace kvx
