// One archive being written: local headers and entry data in the order of adding, then the central
// directory and the end record. Plain code without logging; every operation answers a ZRESULT.
#pragma once

#include "core/archive/ByteStreams.h"
#include "core/archive/BlockCompressor.h"
#include "core/archive/ZipCrypto.h"
#include "core/archive/ZipFormat.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class CZipWriter {
public:
    // Creates the output file (replacing an existing one) and a writer for it. An empty password
    // counts as none. KVXZIP_ERR_OPEN when the file cannot be created. A tap, when given, sees the
    // bytes on their way to the file and must outlive the writer. Threads: 0 for
    // CBlockCompressor::DefaultThreads().
    static ZRESULT Create(const char* pszPath, const char* pszPassword, std::unique_ptr<CZipWriter>& writer,
                          IOutputTap* pTap = nullptr, unsigned threads = 0);

    // A writer over any seekable output; the writer owns and closes it. With one thread every addition
    // is complete when it returns. With more, an addition returns once its data is read and handed to
    // the compressing threads; the entries are still written in the order of adding, by the calling
    // thread, and a failure found while writing one is returned by the next addition or by Close (the
    // failed entry is left out, as a failed addition always is). The bytes are the same either way.
    CZipWriter(std::unique_ptr<ISeekableSink> output, const char* pszPassword, unsigned threads = 1);
    ~CZipWriter();
    CZipWriter(const CZipWriter&) = delete;
    CZipWriter& operator=(const CZipWriter&) = delete;

    // Opens the source file and appends one entry with its content.
    ZRESULT AddFileEntry(const char* pszName, const char* pszSourcePath);
    // Appends one entry from a source the caller opened and keeps (read completely before returning).
    ZRESULT AddFileEntry(const char* pszName, IEntrySource& source);
    // Appends one directory entry without data.
    ZRESULT AddFolderEntry(const char* pszName);
    // Writes what is still queued, then the central directory and end record (once) and closes the
    // output. KVXZIP_OK, KVXZIP_ERR_WRITE, or the failure of a queued entry.
    ZRESULT Close();

    // Entries written so far (queued ones are counted once they are written).
    size_t GetEntryCount() const { return m_entries.size(); }
    // The encryption headers' generator from this seed alone, without the clock: archives made twice
    // can then be compared byte for byte.
    void SetRandomSeed(uint64_t seed);

    // Beyond this many bytes of pieces read and not yet written (input and output together), reading
    // waits for the oldest piece to be written: with 1 MiB pieces about 23 in flight.
    static constexpr size_t KVXZIP_PIPELINE_BUDGET = size_t(48) << 20;
    // And beyond this many pieces, for folders of many small files.
    static constexpr size_t KVXZIP_PIPELINE_MAX_BLOCKS = 1024;

private:
    struct SZipEntry {
        uint16_t m_flags = 0;       // as the central record carries them
        uint16_t m_method = 0;
        uint16_t m_dosTime = 0;
        uint16_t m_dosDate = 0;
        uint32_t m_crc = 0;
        uint32_t m_compressedSize = 0;
        uint32_t m_uncompressedSize = 0;
        uint32_t m_externalAttributes = 0;
        uint32_t m_localHeaderOffset = 0;
        uint32_t m_lastWriteUnix = 0;
        std::string m_name;
    };

    // An entry added and not yet completely written.
    struct SPendingEntry {
        SZipEntry m_entry;
        SEntryInfo m_info;
        bool m_isFolder = false;
        bool m_encrypt = false;
        uint16_t m_firstFlags = 0;
        uint32_t m_firstCompressedSize = 0;
        std::deque<std::unique_ptr<SDataBlock>> m_blocks; // queued pieces, oldest first
        std::deque<size_t> m_reservations;                // budget bytes of each queued piece
        bool m_allRead = false;
        bool m_readFailed = false;
        bool m_started = false; // the local header is written
        ZRESULT m_result = KVXZIP_OK;
        uint32_t m_crc = 0;
        uint64_t m_bytesRead = 0;
        uint64_t m_bytesWritten = 0;
    };

    ZRESULT AddEntry(const char* pszName, IEntrySource* pSource, const char* pszSourcePath, bool isFolder);
    ZRESULT ReadEntryData(SPendingEntry& pending, IByteSource& source);
    bool ReadPiece(SDataBlock& block, IByteSource& source, uint64_t declaredLeft, bool& eof);
    void Queue(SPendingEntry& pending, std::unique_ptr<SDataBlock> block, size_t reservation);
    void Reserve(size_t cb);
    // Writes the oldest entry's next piece (or header, or completion); false when nothing could be
    // done without waiting (wait false) or at all (its next piece is not read yet).
    bool EmitStep(bool wait);
    void EmitReady();
    void EmitAll();
    void StartEntry(SPendingEntry& pending);
    void WritePiece(SPendingEntry& pending, SDataBlock& block);
    ZRESULT FinishEntry(SPendingEntry& pending);
    ZRESULT TakeDeferred();
    bool WriteLocalHeader(const SZipEntry& entry, uint16_t flags, uint32_t crc, uint32_t compressedSize,
                          uint32_t uncompressedSize, const SEntryInfo& info);
    bool WriteOut(const void* pData, size_t cb);
    void MakeEncryptionHeader(uint16_t dosTime, uint8_t header[ZIP_ENCRYPTION_HEADER_SIZE]);
    static bool HasStoredSuffix(const std::string& name);
    static bool IsExecutable(IEntrySource& source, uint64_t size);

    std::unique_ptr<ISeekableSink> m_output;
    uint64_t m_bytesWritten = 0;
    ZRESULT m_stickyError = KVXZIP_OK;
    ZRESULT m_deferred = KVXZIP_OK; // the first failure of a queued entry, not yet returned
    bool m_ended = false;
    bool m_hasPassword = false;
    bool m_settleAsWritten = false; // the entry being written is never rewritten
    bool m_clockInRandom = true;
    std::string m_password;
    CZipCrypto m_crypto;
    std::vector<SZipEntry> m_entries;
    std::deque<std::unique_ptr<SPendingEntry>> m_pending;
    size_t m_reserved = 0;     // budget bytes of all queued pieces
    size_t m_queuedBlocks = 0;
    uint64_t m_randomState = 0;
    std::unique_ptr<CBlockCompressor> m_compressor;
};
