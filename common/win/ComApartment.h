// One COM initialisation per operation, undone by the same operation. A thread that already runs in
// another apartment answers RPC_E_CHANGED_MODE; COM is usable there all the same, and that
// initialisation is not ours to undo.
#pragma once

#include <objbase.h>

namespace kvx {

class CComApartment {
public:
    CComApartment() : m_hr(::CoInitialize(nullptr)) {}
    ~CComApartment()
    {
        if (SUCCEEDED(m_hr)) {
            ::CoUninitialize();
        }
    }
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;
    HRESULT Result() const { return m_hr == RPC_E_CHANGED_MODE ? S_OK : m_hr; }

private:
    HRESULT m_hr;
};

} // namespace kvx
