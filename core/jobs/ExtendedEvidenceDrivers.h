// The facts support asks first about the product's drivers and SDK: which file, which version, signed
// by whom, and whether Windows loads it. Gathered through APIs only; the signature check is
// catalog-aware, because drivers installed from a package are signed through its catalog.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct SDriverFacts {
    std::string strName;        // service name, or "SDK"
    bool bInstalled = false;    // the service key (or the SDK file) exists
    std::string strPath;
    std::string strVersion;     // file version, "none" when the file has no version resource
    std::string strSize;
    std::string strTime;
    std::string strSignature;   // "signed (catalog)", "not signed", ...
    std::string strSigner;
    std::string strState;       // running, stopped, ... or "unknown (error n)"
    std::string strStart;       // boot, system, automatic, manual, disabled
};

class CExtendedEvidenceDrivers {
public:
    // One service under root\servicesKey; a 32-bit process reads system files through nativeSystem.
    static SDriverFacts Service(const std::string& strName, HKEY hRoot, const std::wstring& strServicesKey,
                                const std::string& strWindows, const std::string& strNativeSystem);
    static SDriverFacts File(const std::string& strName, const std::string& strPath);

    // The table's text, and the one-line summary of the installed entries.
    static std::string Table(const std::vector<SDriverFacts>& facts);
    static std::string Summary(const std::vector<SDriverFacts>& facts);

    // ImagePath as the loader reads it ("\SystemRoot\...", "System32\...", "\??\C:\...") to a path
    // this process can open.
    static std::string ResolveImagePath(const std::string& strImagePath, const std::string& strWindows,
                                        const std::string& strNativeSystem);

private:
    static void DescribeFile(SDriverFacts& facts);
    static std::string Signature(const std::wstring& path, std::string& signer);
};
