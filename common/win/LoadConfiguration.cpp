// The load-configuration record of each deliverable. Its one field that matters
// here is DependentLoadFlags: Windows 10 (1607 and later) resolves the module's
// static imports with these flags, so that even a known-DLL-only import list
// never reaches the program's folder. The headers of this tool chain still call
// the field Reserved1, and GNU ld does not point the image's directory at the
// record: scripts/pe-load-config.py does that after linking.
#include "common/win/LibraryLoading.h"

#include <windows.h>

namespace {

constexpr IMAGE_LOAD_CONFIG_DIRECTORY LoadConfigurationRecord()
{
    IMAGE_LOAD_CONFIG_DIRECTORY record{};
    // Up to and with the safe-exception-handler fields, which stay 0 (no table).
    record.Size = sizeof(record);
    record.Reserved1 = static_cast<WORD>(LOAD_LIBRARY_SEARCH_SYSTEM32); // DependentLoadFlags
    return record;
}

} // namespace

extern "C" {
// The loader finds the record through the directory entry; no code refers to
// it, so "used" keeps the compiler and the linker from dropping it.
extern const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used;
__attribute__((used)) const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used = LoadConfigurationRecord();
}
