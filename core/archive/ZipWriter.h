// One archive being written: local headers and entry data in the order of adding, then the central
// directory and the end record. Plain code without logging; every operation answers a ZRESULT.
#pragma once

#include "core/archive/ByteStreams.h"
#include "core/archive/DeflateEncoder.h"
#include "core/archive/ZipCrypto.h"
#include "core/archive/ZipFormat.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CZipWriter {
public:
    // Creates the output file (replacing an existing one) and a writer for it. An empty password
    // counts as none. KVXZIP_ERR_OPEN when the file cannot be created. A tap, when given, sees the
    // bytes on their way to the file and must outlive the writer.
    static ZRESULT Create(const char* pszPath, const char* pszPassword, std::unique_ptr<CZipWriter>& writer,
                          IOutputTap* pTap = nullptr);

    // A writer over any seekable output; the writer owns and closes it.
    CZipWriter(std::unique_ptr<ISeekableSink> output, const char* pszPassword);
    ~CZipWriter();
    CZipWriter(const CZipWriter&) = delete;
    CZipWriter& operator=(const CZipWriter&) = delete;

    // Opens the source file and appends one entry with its content.
    ZRESULT AddFileEntry(const char* pszName, const char* pszSourcePath);
    // Appends one entry from a source the caller opened and keeps.
    ZRESULT AddFileEntry(const char* pszName, IEntrySource& source);
    // Appends one directory entry without data.
    ZRESULT AddFolderEntry(const char* pszName);
    // Writes the central directory and end record (once) and closes the output. KVXZIP_OK or
    // KVXZIP_ERR_WRITE.
    ZRESULT Close();

    size_t GetEntryCount() const { return m_entries.size(); }

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

    class CEntryDataSource;
    class CEntryDataSink;

    ZRESULT AddEntry(const char* pszName, IEntrySource* pSource, const char* pszSourcePath, bool isFolder);
    ZRESULT WriteEntryData(IEntrySource& source, uint16_t method, bool encrypt, uint32_t& crc,
                           uint64_t& bytesRead, uint64_t& bytesWritten);
    bool WriteLocalHeader(const SZipEntry& entry, uint16_t flags, uint32_t crc, uint32_t compressedSize,
                          uint32_t uncompressedSize, const SEntryInfo& info);
    bool WriteOut(const void* pData, size_t cb);
    bool WriteEncrypted(const uint8_t* pData, size_t cb);
    void MakeEncryptionHeader(uint16_t dosTime, uint8_t header[ZIP_ENCRYPTION_HEADER_SIZE]);
    static bool HasStoredSuffix(const std::string& name);
    static bool IsExecutable(IEntrySource& source, uint64_t size);

    std::unique_ptr<ISeekableSink> m_output;
    uint64_t m_bytesWritten = 0;
    ZRESULT m_stickyError = KVXZIP_OK;
    bool m_ended = false;
    bool m_hasPassword = false;
    bool m_settleAsWritten = false; // the entry being written is never rewritten
    std::string m_password;
    CZipCrypto m_crypto;
    std::vector<SZipEntry> m_entries;
    std::unique_ptr<uint8_t[]> m_buffer;
    std::unique_ptr<CDeflateEncoder> m_encoder;
    uint64_t m_randomState = 0;
};
