// The directory walk. The package writer never emits ZIP64 records, disk spanning or comments, so a
// package that needs them was not made by KVXDiag2 and is refused with a reason rather than guessed at.
#include "tools/packagereader/ZipReader.h"

#include "core/archive/ZipFormat.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
        (static_cast<uint32_t>(p[3]) << 24);
}

constexpr uint32_t ZIP_SIG_ZIP64_END_LOCATOR = 0x07064B50;
constexpr size_t ZIP_MAX_COMMENT = 0xFFFF;
constexpr size_t ZIP64_LOCATOR_SIZE = 20;

std::string Quote(const std::string& name)
{
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

bool CZipReader::Fail(const std::string& why)
{
    m_fatal = why;
    return false;
}

bool CZipReader::FindEndRecord(size_t& offset) const
{
    if (m_cb < ZIP_END_OF_CENTRAL_DIR_SIZE) {
        return false;
    }
    const size_t lowest = m_cb - ZIP_END_OF_CENTRAL_DIR_SIZE > ZIP_MAX_COMMENT ? m_cb - ZIP_END_OF_CENTRAL_DIR_SIZE - ZIP_MAX_COMMENT : 0;
    for (size_t pos = m_cb - ZIP_END_OF_CENTRAL_DIR_SIZE + 1; pos-- > lowest;) {
        if (Le32(m_pData + pos) == ZIP_SIG_END_OF_CENTRAL_DIR &&
            pos + ZIP_END_OF_CENTRAL_DIR_SIZE + Le16(m_pData + pos + 20) == m_cb) {
            offset = pos;
            return true;
        }
    }
    return false;
}

bool CZipReader::Open(const uint8_t* pData, size_t cb)
{
    m_pData = pData;
    m_cb = cb;
    m_entries.clear();
    m_problems.clear();
    m_fatal.clear();
    m_declaredEntries = 0;

    if (cb == 0) {
        return Fail("the file is empty (0 bytes): not a package");
    }
    const bool startsLikeZip = cb >= 4 && Le32(pData) == ZIP_SIG_LOCAL_FILE_HEADER;
    size_t end = 0;
    if (!FindEndRecord(end)) {
        char text[200];
        if (startsLikeZip) {
            std::snprintf(text, sizeof text,
                          "it starts like a ZIP package but has no end record: the file was cut short (%zu bytes)", cb);
        } else {
            std::snprintf(text, sizeof text, "not a ZIP package (no ZIP end record in its %zu bytes)", cb);
        }
        return Fail(text);
    }
    const uint8_t* e = pData + end;
    const uint16_t disk = Le16(e + 4), cdDisk = Le16(e + 6);
    const uint16_t onDisk = Le16(e + 8), total = Le16(e + 10);
    const uint32_t cdSize = Le32(e + 12), cdOffset = Le32(e + 16);
    if (end >= ZIP64_LOCATOR_SIZE && Le32(pData + end - ZIP64_LOCATOR_SIZE) == ZIP_SIG_ZIP64_END_LOCATOR) {
        return Fail("the package uses ZIP64 records, which KVXDiag2 never writes: not a KVXDiag2 package");
    }
    if (disk != 0 || cdDisk != 0 || onDisk != total) {
        return Fail("the package is split over several disks, which KVXDiag2 never does: not a KVXDiag2 package");
    }
    if (static_cast<uint64_t>(cdOffset) + cdSize > end) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "the end record places the central directory at %u..%llu, past its own position %zu: the "
                      "directory is damaged",
                      cdOffset, static_cast<unsigned long long>(cdOffset) + cdSize, end);
        return Fail(text);
    }
    m_declaredEntries = total;
    size_t pos = cdOffset;
    const size_t cdEnd = static_cast<size_t>(cdOffset) + cdSize;
    for (uint32_t i = 0; i < total; ++i) {
        SZipEntryRecord entry;
        if (!ReadCentralHeader(pos, cdEnd, entry)) {
            char text[160];
            std::snprintf(text, sizeof text, " (central header %u of %u at offset %zu)", i + 1, total, pos);
            m_fatal += text;
            return false;
        }
        if (CheckLocalHeader(entry, cdOffset)) {
            m_entries.push_back(entry);
        }
    }
    DropOverlaps();
    if (pos != cdEnd) {
        char text[160];
        std::snprintf(text, sizeof text, "the central directory holds %zu bytes more than its %u entries use",
                      cdEnd - pos, total);
        m_problems.push_back(text);
    }
    return true;
}

void CZipReader::DropOverlaps()
{
    // Each local record belongs to one entry: entries sharing bytes would be inflated once each (a small
    // package could then cost terabytes of work) and could hide one file inside another.
    std::vector<size_t> order(m_entries.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return m_entries[a].m_localHeaderOffset < m_entries[b].m_localHeaderOffset ||
            (m_entries[a].m_localHeaderOffset == m_entries[b].m_localHeaderOffset && a < b);
    });
    std::vector<bool> dropped(m_entries.size(), false);
    size_t owner = SIZE_MAX;
    for (size_t i : order) {
        const SZipEntryRecord& e = m_entries[i];
        if (owner != SIZE_MAX && e.m_localHeaderOffset < m_entries[owner].m_recordEnd) {
            m_problems.push_back("entry " + Quote(e.m_name) + ": its local record overlaps that of " +
                                 Quote(m_entries[owner].m_name));
            dropped[i] = true;
            continue;
        }
        owner = i;
    }
    std::vector<SZipEntryRecord> kept;
    kept.reserve(m_entries.size());
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (!dropped[i]) {
            kept.push_back(std::move(m_entries[i]));
        }
    }
    m_entries.swap(kept);
}

bool CZipReader::ReadCentralHeader(size_t& pos, size_t end, SZipEntryRecord& entry)
{
    if (pos > end || end - pos < ZIP_CENTRAL_FILE_HEADER_SIZE) {
        return Fail("the central directory ends in the middle of a header");
    }
    const uint8_t* p = m_pData + pos;
    if (Le32(p) != ZIP_SIG_CENTRAL_FILE_HEADER) {
        return Fail("the central directory is damaged: a header has the wrong signature");
    }
    entry.m_flags = Le16(p + 8);
    entry.m_method = Le16(p + 10);
    entry.m_dosTime = Le16(p + 12);
    entry.m_crc = Le32(p + 16);
    entry.m_compressedSize = Le32(p + 20);
    entry.m_uncompressedSize = Le32(p + 24);
    const size_t nameLength = Le16(p + 28), extraLength = Le16(p + 30), commentLength = Le16(p + 32);
    entry.m_localHeaderOffset = Le32(p + 42);
    const size_t recordSize = ZIP_CENTRAL_FILE_HEADER_SIZE + nameLength + extraLength + commentLength;
    if (end - pos < recordSize) {
        return Fail("the central directory is damaged: a header's name or extra field runs past its end");
    }
    entry.m_name.assign(reinterpret_cast<const char*>(p + ZIP_CENTRAL_FILE_HEADER_SIZE), nameLength);
    entry.m_isFolder = !entry.m_name.empty() && entry.m_name.back() == '/';
    entry.m_encrypted = (entry.m_flags & ZIP_FLAG_ENCRYPTED) != 0;
    pos += recordSize;
    return true;
}

bool CZipReader::CheckLocalHeader(SZipEntryRecord& entry, uint64_t dataLimit)
{
    const std::string who = "entry " + Quote(entry.m_name) + ": ";
    const uint64_t lho = entry.m_localHeaderOffset;
    if (lho > dataLimit || dataLimit - lho < ZIP_LOCAL_FILE_HEADER_SIZE) {
        m_problems.push_back(who + "its local header offset " + std::to_string(lho) +
                             " lies outside the entry data");
        return false;
    }
    const uint8_t* p = m_pData + lho;
    if (Le32(p) != ZIP_SIG_LOCAL_FILE_HEADER) {
        m_problems.push_back(who + "no local header at offset " + std::to_string(lho));
        return false;
    }
    const size_t nameLength = Le16(p + 26), extraLength = Le16(p + 28);
    const uint64_t dataOffset = lho + ZIP_LOCAL_FILE_HEADER_SIZE + nameLength + extraLength;
    if (dataOffset > dataLimit) {
        m_problems.push_back(who + "its local header runs into the central directory");
        return false;
    }
    const std::string localName(reinterpret_cast<const char*>(p + ZIP_LOCAL_FILE_HEADER_SIZE), nameLength);
    if (localName != entry.m_name) {
        m_problems.push_back(who + "the local header names it \"" + Quote(localName) + "\"");
        return false;
    }
    const uint16_t localFlags = Le16(p + 6);
    const uint16_t checkedFlags = ZIP_FLAG_ENCRYPTED | ZIP_FLAG_DATA_DESCRIPTOR;
    if (Le16(p + 8) != entry.m_method || (localFlags & checkedFlags) != (entry.m_flags & checkedFlags)) {
        m_problems.push_back(who + "the local header's method, encryption or data-descriptor flag differs from the directory's");
        return false;
    }
    if (entry.m_compressedSize > dataLimit - dataOffset) {
        m_problems.push_back(who + "its " + std::to_string(entry.m_compressedSize) + " bytes of data at offset " +
                             std::to_string(dataOffset) + " run past the start of the central directory");
        return false;
    }
    // Without a data descriptor the local header carries the final CRC and sizes; with one (the writer
    // uses it for encrypted entries) it may carry zeros, and the descriptor after the data the values.
    const uint32_t localCrc = Le32(p + 14), localCompressed = Le32(p + 18), localSize = Le32(p + 22);
    const bool descriptor = (entry.m_flags & ZIP_FLAG_DATA_DESCRIPTOR) != 0;
    auto agrees = [&](uint64_t local, uint64_t central) { return local == central || (descriptor && local == 0); };
    if (!agrees(localCrc, entry.m_crc) || !agrees(localCompressed, entry.m_compressedSize) ||
        !agrees(localSize, entry.m_uncompressedSize)) {
        m_problems.push_back(who + "the local header's CRC or sizes differ from the directory's");
        return false;
    }
    uint64_t recordEnd = dataOffset + entry.m_compressedSize;
    if (descriptor) {
        const uint64_t left = dataLimit - recordEnd;
        const uint8_t* d = m_pData + recordEnd;
        size_t at = 0;
        if (left >= 4 && Le32(d) == ZIP_SIG_DATA_DESCRIPTOR) {
            at = 4;
        }
        if (left < at + 12) {
            m_problems.push_back(who + "its data descriptor is missing (the data runs into the central directory)");
            return false;
        }
        if (Le32(d + at) != entry.m_crc || Le32(d + at + 4) != entry.m_compressedSize ||
            Le32(d + at + 8) != entry.m_uncompressedSize) {
            m_problems.push_back(who + "its data descriptor's CRC or sizes differ from the directory's");
            return false;
        }
        recordEnd += at + 12;
    }
    entry.m_recordEnd = recordEnd;
    entry.m_dataOffset = dataOffset;
    return true;
}
