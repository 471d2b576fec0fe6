// The small byte-stream layer under the archive writer: the encoder, the CRC and the encryption only
// ever see these interfaces, so they build and run the same on Windows and on the Linux host.
#pragma once

#include <cstddef>
#include <cstdint>

class IByteSource {
public:
    virtual ~IByteSource() = default;
    // Reads up to cb bytes. Returns false on a read error; cbRead == 0 with true means end of data.
    virtual bool Read(void* pBuffer, size_t cb, size_t& cbRead) = 0;
};

class IByteSink {
public:
    virtual ~IByteSink() = default;
    // Writes all cb bytes; anything less is a failure (a full volume shows up as a short write).
    virtual bool Write(const void* pData, size_t cb) = 0;
};

// The archive output: the writer goes back to rewrite local headers once the sizes are known.
class ISeekableSink : public IByteSink {
public:
    virtual bool Seek(uint64_t offset) = 0;
    // Where the next byte would go; after a failed write it tells how much actually went out.
    virtual bool Tell(uint64_t& offset) = 0;
    // Releases the output; false when the system reports a failure while doing so.
    virtual bool Close() = 0;
    // The writer's promise that no byte below the offset will be written again.
    virtual void Settled(uint64_t offset) { (void)offset; }
};

// What the writer needs to know about an entry's source before and after reading its data.
struct SEntryInfo {
    uint32_t m_attributes = 0;      // MS-DOS / Windows attribute bits (read-only 0x01 ... archive 0x20)
    bool m_isDirectory = false;
    uint64_t m_size = 0;            // size declared before reading
    // Last-write time as a civil UTC date, for the MS-DOS time and date words.
    uint16_t m_year = 1980, m_month = 1, m_day = 1, m_hour = 0, m_minute = 0, m_second = 0;
    // Seconds since 1970 for the extended-timestamp extra field.
    int64_t m_lastWriteUnix = 0;
    int64_t m_lastAccessUnix = 0;
    int64_t m_creationUnix = 0;
};

// A file (or test stand-in) being added to an archive.
class IEntrySource : public IByteSource {
public:
    virtual bool GetInfo(SEntryInfo& info) = 0;
    // Reads at an absolute offset without disturbing the sequential position that Read uses.
    virtual bool ReadAt(uint64_t offset, void* pBuffer, size_t cb, size_t& cbRead) = 0;
};

// Sees an archive's bytes once they are final, in file order, each byte once: what it saw is then the
// file byte for byte, so a digest of it needs no second read. When that can no longer be promised (a
// write failed, or more bytes waited to be settled than are kept back), the tap is told that its view
// is not the file and gets nothing more.
class IOutputTap {
public:
    virtual ~IOutputTap() = default;
    // Must not fail or throw: the archive does not depend on its tap.
    virtual void Appended(const void* pData, size_t cb) = 0;
    virtual void Diverged() = 0;
};
