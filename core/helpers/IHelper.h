// Shared service objects obtained by name from CHelpersFactory and released through Destroy.
#pragma once

#include <windows.h>

#include <string>

// Registration names; the factory compares them exactly (case-sensitive).
constexpr const char* KVXDIAG2_HELPER_SYSUTILS = "SYSUTILS";
constexpr const char* KVXDIAG2_HELPER_NETCFG = "NETCFG";
constexpr const char* KVXDIAG2_HELPER_KVXAPI = "KVXAPI";

class IHelper {
public:
    // Releases the caller's reference; the last release deletes the helper.
    virtual void Destroy() = 0;
    virtual DWORD GetName(std::string& strName) = 0;

protected:
    // Helpers are shared: nobody deletes one through this interface, only the last Destroy does.
    ~IHelper() = default;
};
