// Reads the directory of a ZIP package held in memory: the end record, every central header and the
// local header each one points at. Every read is bounds-checked first; what the package declares
// (offsets, lengths, counts) is never trusted before it has been checked against the bytes present.
#pragma once

#include "tools/packagereader/PackageReaderTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CZipReader {
public:
    // Reads the directory. False when the bytes are not a readable ZIP package at all (m_fatal says
    // why); true otherwise, with per-entry problems (a local header that disagrees, data running past
    // the directory, a data descriptor that disagrees, a local record shared with another entry) in
    // Problems() and those entries left out of Entries().
    bool Open(const uint8_t* pData, size_t cb);

    const std::vector<SZipEntryRecord>& Entries() const { return m_entries; }
    const std::vector<std::string>& Problems() const { return m_problems; }
    const std::string& FatalProblem() const { return m_fatal; }
    // Entries the central directory lists, good or not.
    size_t DeclaredEntryCount() const { return m_declaredEntries; }

private:
    bool FindEndRecord(size_t& offset) const;
    bool ReadCentralHeader(size_t& pos, size_t end, SZipEntryRecord& entry);
    bool CheckLocalHeader(SZipEntryRecord& entry, uint64_t dataLimit);
    void DropOverlaps();
    bool Fail(const std::string& why);

    const uint8_t* m_pData = nullptr;
    size_t m_cb = 0;
    size_t m_declaredEntries = 0;
    std::vector<SZipEntryRecord> m_entries;
    std::vector<std::string> m_problems;
    std::string m_fatal;
};
