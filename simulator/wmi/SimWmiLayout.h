// What the Security Center double and the test fixtures that register it agree on.
//
// The double is reached through TreatAs: CLSID_WbemLocator is pointed at a class of the double's own,
// so the prefix's WMI server stays registered as it was and one deleted key gives the class back.
#pragma once

namespace kvxsim {

constexpr const char* SIMWMI_LOCATOR_CLSID_TEXT = "{4590F811-1D3A-11D0-891F-00AA004B2E24}";
constexpr const char* SIMWMI_CLSID_TEXT = "{D62615A3-F61A-4904-8F0B-41599EECBC3D}";
constexpr const char* SIMWMI_DLL_NAME = "kvxsimwmi.dll";

} // namespace kvxsim
