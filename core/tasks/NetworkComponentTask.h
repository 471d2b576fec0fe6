// What the activate and deactivate network-component tasks share: each switches every binding of one
// network component through the network configuration helper, which takes effect at once.
#pragma once

#include "core/report/IReporter.h"
#include "core/tasks/NetCfgTask.h"
#include "core/tasks/TaskConfigReader.h"

#include <algorithm>
#include <string>
#include <vector>

namespace kvx {

// TDerived provides, besides what CTaskImpl asks for,
//   static constexpr bool KVXTASK_ENABLE   (true enables the bindings, false disables them)
//   static void ReportOutcome(IReporter&, const std::string& componentId, bool bSucceeded)
template <typename TDerived>
class CNetworkComponentTask : public CNetCfgTask<TDerived> {
public:
    // Parameter: the network component's id (one text).
    DWORD SetConfig(const TaskDataList& params) override
    {
        const std::string function = std::string(TDerived::KVXTASK_CLASS) + "::SetConfig";
        CKVXLogScope scope(KVXDIAG_LOG_MODULE, function.c_str());
        return GuardedOperation(function.c_str(), [&]() -> DWORD {
            const DWORD dwResult = CTaskConfigReader(function.c_str()).ReadOneText(params, m_strComponentId);
            m_onlyPaths.clear();
            m_bOnlyPaths = false;
            // An optional second text names the binding paths to switch, one token a line: putting back
            // what was on must not switch on what the customer had off.
            if (dwResult == KVXDIAG2_OK && params.size() >= 2 && params[1] != nullptr &&
                params[1]->GetType() == eKVXDiagTLVType_CHARSTRING) {
                std::string tokens;
                params[1]->GetDataAsString(tokens);
                m_bOnlyPaths = true;
                size_t start = 0;
                while (start <= tokens.size()) {
                    const size_t end = std::min(tokens.find('\n', start), tokens.size());
                    if (end > start) {
                        m_onlyPaths.emplace_back(tokens.begin() + start, tokens.begin() + end);
                    }
                    start = end + 1;
                }
            }
            return dwResult;
        });
    }

    // Answers 0, 1168 when the component is not installed, 0x8004A024 when another program holds the
    // network configuration's lock, or the engine's failing HRESULT.
    DWORD Execute(IReporter* pReporter) override
    {
        const std::string function = std::string(TDerived::KVXTASK_CLASS) + "::Execute";
        CKVXLogScope scope(KVXDIAG_LOG_MODULE, function.c_str());
        return GuardedOperation(function.c_str(), [&]() -> DWORD {
            const DWORD dwResult = this->NetCfgMissing(function.c_str())
                                       ? KVXDIAG2_ERR_NO_LIBRARY
                                       : this->m_netCfg->EnableComponent(m_strComponentId, TDerived::KVXTASK_ENABLE,
                                                                         m_bOnlyPaths ? &m_onlyPaths : nullptr,
                                                                         nullptr);
            if (dwResult != KVXDIAG2_OK) {
                CKVXDiagObject::WriteLog(eKVXDiagLog_ERROR, KVXDIAG_LOG_MODULE, function.c_str(),
                                         "Error! No se pudo cambiar el componente de red %s. Error: 0x%08lX",
                                         m_strComponentId.c_str(), static_cast<unsigned long>(dwResult));
            }
            if (pReporter != nullptr) {
                TDerived::ReportOutcome(*pReporter, m_strComponentId, dwResult == KVXDIAG2_OK);
            }
            return dwResult;
        });
    }

private:
    std::string m_strComponentId;
    bool m_bOnlyPaths = false;
    std::vector<std::wstring> m_onlyPaths;
};

} // namespace kvx
