// Judges the entries' names as both Windows and POSIX would read them, one name at a time and as a
// set, before anything is written: the same rules make a package fail verification and refuse an
// extraction, so a package that verifies always extracts.
#pragma once

#include "tools/packagereader/MemoryBudget.h"
#include "tools/packagereader/PackageReaderTypes.h"

#include <string>
#include <vector>

class CEntryNames {
public:
    // Longest name a package may carry; an extraction target adds its own length to it.
    static constexpr size_t MAX_NAME_BYTES = 1024;
    // Longest component on the file systems the tool runs on (255 bytes or UTF-16 units).
    static constexpr size_t MAX_COMPONENT = 255;

    // Empty when the name is safe to join to a folder on either system; otherwise why it is not.
    static std::string UnsafeReason(const std::string& name);
    // One line per refused name or pair of names: unsafe names, exact duplicates, names that collide
    // once case and Windows' trailing dots and spaces are ignored, a file that is also a folder.
    // Each line starts "entry <name>: ". Every folder met is held once, charged to budget.
    static std::vector<std::string> Problems(const std::vector<SZipEntryRecord>& entries, CMemoryBudget& budget);
};
