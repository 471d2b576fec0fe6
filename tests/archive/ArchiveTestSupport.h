// Test-only helpers for the archive tests: an independent inflater (so that Windows builds, which have
// no zlib, still check round trips), a reader of the ZIP records the writer produces, the traditional
// decryption written from the application note, and temporary-directory handling.
#pragma once

#include "core/archive/ByteStreams.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kvxtest {

// Decodes one raw deflate stream. False on any malformed input; consumed gets the bytes used.
bool Inflate(const uint8_t* pData, size_t cb, std::vector<uint8_t>& out, size_t* pConsumed = nullptr);

// Bit-by-bit CRC-32, as the application note defines it.
uint32_t ReferenceCrc32(const uint8_t* p, size_t cb);

// Reverses the traditional encryption of pData (the 12-byte header included) with the password.
std::vector<uint8_t> ReferenceDecrypt(const std::string& password, const uint8_t* pData, size_t cb);

struct SLocalRecord {
    uint16_t m_versionNeeded = 0;
    uint16_t m_flags = 0;
    uint16_t m_method = 0;
    uint16_t m_time = 0;
    uint16_t m_date = 0;
    uint32_t m_crc = 0;
    uint32_t m_compressedSize = 0;
    uint32_t m_uncompressedSize = 0;
    std::string m_name;
    std::vector<uint8_t> m_extra;
    size_t m_dataOffset = 0;
};

struct SCentralRecord {
    uint16_t m_versionMadeBy = 0;
    uint16_t m_versionNeeded = 0;
    uint16_t m_flags = 0;
    uint16_t m_method = 0;
    uint16_t m_time = 0;
    uint16_t m_date = 0;
    uint32_t m_crc = 0;
    uint32_t m_compressedSize = 0;
    uint32_t m_uncompressedSize = 0;
    uint16_t m_commentLength = 0;
    uint16_t m_diskStart = 0;
    uint16_t m_internalAttributes = 0;
    uint32_t m_externalAttributes = 0;
    uint32_t m_localOffset = 0;
    std::string m_name;
    std::vector<uint8_t> m_extra;
    SLocalRecord m_local;
    bool m_hasDescriptor = false; // a data descriptor follows the data
    uint32_t m_descriptorCrc = 0;
    uint32_t m_descriptorCompressed = 0;
    uint32_t m_descriptorUncompressed = 0;
};

struct SArchive {
    std::vector<SCentralRecord> m_entries;
    uint16_t m_entriesOnDisk = 0;
    uint16_t m_entriesTotal = 0;
    uint32_t m_directorySize = 0;
    uint32_t m_directoryOffset = 0;
    std::vector<uint8_t> m_bytes;
};

// Parses the end record, the central directory and every local header; on failure returns false
// and says why in error.
bool ParseArchive(const std::vector<uint8_t>& bytes, SArchive& archive, std::string& error);
// The entry's data decrypted (if flagged) and decompressed (if deflated).
bool ExtractEntry(const SArchive& archive, const SCentralRecord& entry, const std::string& password,
                  std::vector<uint8_t>& data, std::string& error);

uint16_t LoadLe16(const uint8_t* p);
uint32_t LoadLe32(const uint8_t* p);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> PseudoRandomBytes(size_t n, uint32_t seed);
std::vector<uint8_t> TextLikeBytes(size_t n, uint32_t seed);

// A fresh directory under the system temporary directory, removed with everything in it on
// destruction.
class CTempDirectory {
public:
    CTempDirectory();
    ~CTempDirectory();
    CTempDirectory(const CTempDirectory&) = delete;
    CTempDirectory& operator=(const CTempDirectory&) = delete;
    const std::string& Path() const { return m_path; }
    // path joined with the platform separator
    std::string Join(const std::string& name) const;

private:
    std::string m_path;
};

// An in-memory entry source with chosen information; can be told to fail reads or to deliver more
// or fewer bytes than it declares.
class CMemoryEntrySource : public IEntrySource {
public:
    CMemoryEntrySource(std::vector<uint8_t> data, const SEntryInfo& info) : m_data(std::move(data)), m_info(info) {}
    bool Read(void* pBuffer, size_t cb, size_t& cbRead) override;
    bool GetInfo(SEntryInfo& info) override
    {
        info = m_info;
        return true;
    }
    bool ReadAt(uint64_t offset, void* pBuffer, size_t cb, size_t& cbRead) override;
    size_t m_failReadAt = SIZE_MAX; // a Read that would pass this offset fails
    size_t m_pieceLimit = SIZE_MAX; // at most this many bytes per Read

private:
    std::vector<uint8_t> m_data;
    SEntryInfo m_info;
    size_t m_offset = 0;
};

// What an in-memory archive output received. It outlives the writer, which owns the sink itself.
struct SMemoryOutput {
    std::vector<uint8_t> m_bytes;
    size_t m_position = 0;
    size_t m_budget = SIZE_MAX; // bytes past this are refused, the part that fits goes in (full volume)
    size_t m_largestWrite = 0;
    size_t m_writes = 0;
    bool m_failSeek = false;
    size_t m_seeks = 0;
    size_t m_failSeekFrom = SIZE_MAX; // seeks from this one on (0-based) fail
    bool m_failClose = false;
    bool m_closed = false;
};

class CMemorySink : public ISeekableSink {
public:
    explicit CMemorySink(SMemoryOutput& output) : m_output(output) {}
    bool Write(const void* pData, size_t cb) override;
    bool Seek(uint64_t offset) override;
    bool Tell(uint64_t& offset) override
    {
        offset = m_output.m_position;
        return true;
    }
    bool Close() override
    {
        m_output.m_closed = true;
        return !m_output.m_failClose;
    }

private:
    SMemoryOutput& m_output;
};

} // namespace kvxtest
