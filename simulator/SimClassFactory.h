// The class object of an in-process double. It is static: its lifetime is the module's, and the
// server locks it hands out count as live objects for DllCanUnloadNow.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace kvxsim {

class CSimClassFactory final : public IClassFactory {
public:
    using CreateFn = HRESULT (*)(REFIID riid, void** ppv);
    using LockFn = void (*)(bool lock);

    CSimClassFactory(CreateFn create, LockFn lock) : m_create(create), m_lock(lock) {}
    CSimClassFactory(const CSimClassFactory&) = delete;
    CSimClassFactory& operator=(const CSimClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return m_create(riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        m_lock(lock != FALSE);
        return S_OK;
    }

private:
    CreateFn m_create;
    LockFn m_lock;
};

} // namespace kvxsim
