// In-memory form of the engine double's model (layout in SimNetCfgLayout.h): loaded when a client
// initialises the engine, written back only by Apply, so that changes a client drops are never seen
// by anyone else.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace kvxsim {

struct SSimInterface {
    std::wstring name;
    std::wstring upperId;
    std::wstring lowerId;
};

struct SSimPath {
    std::wstring key;
    std::wstring token;
    bool enabled = true;
    bool dirty = false; // changed since the model was loaded, to be written by Apply
    DWORD direction = 1;
    std::optional<DWORD> depth;
    std::optional<HRESULT> enableResult;
    std::vector<SSimInterface> interfaces;
};

struct SSimComponent {
    std::wstring key;
    GUID classGuid = {};
    GUID instanceGuid = {};
    std::optional<std::wstring> id;
    std::optional<std::wstring> bindName;
    std::optional<std::wstring> displayName;
    std::optional<std::wstring> pnpDevNodeId;
    std::optional<std::wstring> helpText;
    DWORD characteristics = 0;
    DWORD deviceStatus = 0;
    std::optional<HRESULT> enumBindingPathsResult;
    std::optional<DWORD> pathEnumErrorAfter;
    HRESULT pathEnumError = E_FAIL;
    std::vector<SSimPath> paths;
};

struct SSimModel {
    std::vector<SSimComponent> components;
    std::optional<HRESULT> applyResult;
    std::optional<HRESULT> findComponentResult;
    std::optional<HRESULT> initializeResult;
};

// Reads the whole model; a missing root gives an empty model. Answers a Win32 code.
LONG LoadSimModel(SSimModel& model);
// Writes the enable state of every changed path and counts the Apply. Answers a Win32 code.
LONG CommitSimModel(SSimModel& model);

// The holder description that the write lock's current owner left; empty when none.
std::wstring ReadLockHolder();
LONG WriteLockHolder(const wchar_t* holder);
void ClearLockHolder();

// Finds a component by id the way the engine does: ids compare without regard to case.
SSimComponent* FindSimComponent(SSimModel& model, const wchar_t* id);

} // namespace kvxsim
