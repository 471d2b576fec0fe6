#include "core/tasks/TaskDumpNetworkComponents.h"

#include "core/report/IReporter.h"

#include <objbase.h>

namespace {

// The classes in the order the report lists them, with their section titles and failure lines.
struct SComponentClass {
    const GUID* pGuid;
    const char* pszTitle;
    const char* pszFailure;
};

const SComponentClass KVXDUMP_CLASSES[] = {
    {&KVXDIAG2_GUID_DEVCLASS_NET, "Networks", "Failed to get networks, error 0x%08lx."},
    {&KVXDIAG2_GUID_DEVCLASS_NETTRANS, "Transports", "Failed to get transports, error 0x%08lx."},
    {&KVXDIAG2_GUID_DEVCLASS_NETCLIENT, "Clients", "Failed to get clients, error 0x%08lx."},
    {&KVXDIAG2_GUID_DEVCLASS_NETSERVICE, "Services", "Failed to get services, error 0x%08lx."},
};

// The characteristics flags the report spells out, in its order.
struct SCharacteristic {
    DWORD dwFlag;
    const char* pszFormat;
};

const SCharacteristic KVXDUMP_CHARACTERISTICS[] = {
    {0x1, "Virtual :%s"},
    {0x4, "Physical :%s"},
    {0x2, "Software Enumerated :%s"},
    {0x8, "Hidden :%s"},
    {0x10, "No Service :%s"},
    {0x20, "Not User Removable :%s"},
    {0x40, "Multiport Instanced Adapter :%s"},
    {0x80, "Has User Interface :%s"},
    {0x400, "Filter :%s"},
};

const char* YesNo(bool value) { return value ? "Yes" : "No"; }

std::string GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    return ::StringFromGUID2(guid, text, ARRAYSIZE(text)) > 0 ? kvx::NarrowText(text) : std::string();
}

void ReportComponent(const SNetworkComponent& component, IReporter& reporter)
{
    using kvx::NarrowText;
    reporter.BeginSection("%s", NarrowText(component.strDisplayName).c_str());
    // The labels are padded to 17 characters so that the values line up in a column.
    reporter.Report("Component        %s", NarrowText(component.strId).c_str());
    reporter.Report("Instance Id      %s", GuidText(component.instanceGuid).c_str());
    reporter.Report("Bind Name        %s", NarrowText(component.strBindName).c_str());
    reporter.Report("Help Text        %s", NarrowText(component.strHelpText).c_str());
    reporter.Report("Pnp Name         %s", NarrowText(component.strPnpDevNodeId).c_str());
    reporter.Report("Status           0x%08lx", static_cast<unsigned long>(component.dwDeviceStatus));

    const DWORD dwCharacteristics = component.dwCharacteristics;
    reporter.BeginSection("Characteristics  0x%08lx", static_cast<unsigned long>(dwCharacteristics));
    reporter.Report("Raw Value :%ld (0x%lx)", static_cast<long>(dwCharacteristics),
                    static_cast<unsigned long>(dwCharacteristics));
    for (const SCharacteristic& characteristic : KVXDUMP_CHARACTERISTICS) {
        reporter.Report(characteristic.pszFormat, YesNo((dwCharacteristics & characteristic.dwFlag) != 0));
    }
    reporter.EndSection();

    reporter.BeginSection("Binding Paths (%d)", static_cast<int>(component.bindingPaths.size()));
    for (const SBindingPath& path : component.bindingPaths) {
        reporter.BeginSection("Path %s", NarrowText(path.strPathToken).c_str());
        reporter.Report("Enabled %s", YesNo(path.bEnabled));
        reporter.Report("Depth %ld", static_cast<long>(path.dwDepth));
        reporter.Report("Interfaces (%d)", static_cast<int>(path.interfaces.size()));
        for (const SBindingInterface& bindingInterface : path.interfaces) {
            reporter.BeginSection("Interface %s", NarrowText(bindingInterface.strName).c_str());
            reporter.Report("Upper Component %s", NarrowText(bindingInterface.strUpperComponentId).c_str());
            reporter.Report("Lower Component %s", NarrowText(bindingInterface.strLowerComponentId).c_str());
            reporter.EndSection();
        }
        reporter.EndSection();
    }
    reporter.EndSection();

    reporter.EndSection();
}

} // namespace

const DWORD CTaskDumpNetworkComponents::s_dwFactoryRegistration =
    CTaskDumpNetworkComponents::PerformFactoryRegistration();

DWORD CTaskDumpNetworkComponents::SetConfig(const TaskDataList&)
{
    KVX_FUNCTION("CTaskDumpNetworkComponents::SetConfig");
    return KVXDIAG2_OK;
}

DWORD CTaskDumpNetworkComponents::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskDumpNetworkComponents::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (pReporter == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error. El reporter no es valido, no se hace nada.");
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        if (NetCfgMissing(kvxFunctionName_)) {
            return KVXDIAG2_ERR_NO_LIBRARY;
        }
        DWORD dwResult = KVXDIAG2_OK;
        pReporter->BeginSection("%s", "Getting Network Components.");
        for (const SComponentClass& componentClass : KVXDUMP_CLASSES) {
            pReporter->BeginSection("%s", componentClass.pszTitle);
            dwResult = DumpComponentClass(*componentClass.pGuid, *pReporter);
            if (dwResult != KVXDIAG2_OK) {
                KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudieron obtener los componentes de %s. Error: 0x%08lX",
                        componentClass.pszTitle, static_cast<unsigned long>(dwResult));
                pReporter->Report(componentClass.pszFailure, static_cast<unsigned long>(dwResult));
            }
            pReporter->EndSection();
            if (dwResult != KVXDIAG2_OK) {
                break;
            }
        }
        pReporter->EndSection();
        return dwResult;
    });
}

DWORD CTaskDumpNetworkComponents::DumpComponentClass(const GUID& classGuid, IReporter& reporter)
{
    KVX_FUNCTION("CTaskDumpNetworkComponents::DumpComponentClass");
    std::vector<SNetworkComponent> components;
    const DWORD dwResult = m_netCfg->GetComponents(classGuid, components);
    if (dwResult != KVXDIAG2_OK) {
        return dwResult;
    }
    for (const SNetworkComponent& component : components) {
        ReportComponent(component, reporter);
    }
    return KVXDIAG2_OK;
}
