// Test fixture for the Security Center double of simulator/wmi: while it lives, CLSID_WbemLocator
// created in this process is the double, with the antivirus and firewall products of
// root\SecurityCenter2.
#pragma once

#include <windows.h>

#include <string>

namespace kvxtest {

// Points CLSID_WbemLocator at the double (TreatAs to the double's own class) in the registry view of
// the running program, which is the view its COM looks in, and gives the class back afterwards.
class CSimWmiRegistration {
public:
    CSimWmiRegistration();
    ~CSimWmiRegistration();
    CSimWmiRegistration(const CSimWmiRegistration&) = delete;
    CSimWmiRegistration& operator=(const CSimWmiRegistration&) = delete;
    DWORD Result() const { return m_result; }

private:
    DWORD m_result = ERROR_SUCCESS;
    std::string m_previousTreatAs; // empty: the class had none
};

} // namespace kvxtest
