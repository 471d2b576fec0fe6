// Record writing for CZipWriter: entry policy (store or deflate, encrypt or not), local headers that are
// rewritten in place once CRC and sizes are known, data descriptors for encrypted entries, and the
// central directory. An entry's data is read into pieces that CBlockCompressor compresses; the oldest
// entry's pieces are written as they are done (EmitStep), so that reading, compressing and writing
// overlap within the memory budget.
#include "core/archive/ZipWriter.h"

#include "core/archive/Crc32.h"
#include "core/archive/FileSink.h"
#include "core/archive/FileSource.h"
#include "core/archive/TappedSink.h"
#include "core/archive/ZipTime.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

// Names whose data is taken to be compressed already, compared without regard to case against
// everything from the last "." of the whole name.
const char* const STORED_SUFFIXES[] = {".Z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz"};

// Little-endian record assembly.
class CRecordBuilder {
public:
    void U8(uint8_t v) { m_bytes.push_back(v); }
    void U16(uint16_t v)
    {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v)
    {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void Bytes(const std::string& s) { m_bytes.insert(m_bytes.end(), s.begin(), s.end()); }
    const uint8_t* Data() const { return m_bytes.data(); }
    size_t Size() const { return m_bytes.size(); }

private:
    std::vector<uint8_t> m_bytes;
};

uint32_t LoadLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t SplitMix64(uint64_t& state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

ZRESULT CZipWriter::Create(const char* pszPath, const char* pszPassword, std::unique_ptr<CZipWriter>& writer,
                           IOutputTap* pTap, unsigned threads)
{
    writer.reset();
    if (pszPath == nullptr || *pszPath == '\0') {
        return KVXZIP_ERR_ARGUMENTS;
    }
    auto file = std::make_unique<CFileSink>();
    if (!file->Create(pszPath)) {
        return KVXZIP_ERR_OPEN;
    }
    std::unique_ptr<ISeekableSink> output = std::move(file);
    if (pTap != nullptr) {
        output = std::make_unique<CTappedSink>(std::move(output), *pTap);
    }
    writer = std::make_unique<CZipWriter>(std::move(output), pszPassword,
                                          threads == 0 ? CBlockCompressor::DefaultThreads() : threads);
    return KVXZIP_OK;
}

CZipWriter::CZipWriter(std::unique_ptr<ISeekableSink> output, const char* pszPassword, unsigned threads)
    : m_output(std::move(output)), m_compressor(std::make_unique<CBlockCompressor>(threads))
{
    if (pszPassword != nullptr && *pszPassword != '\0') {
        m_hasPassword = true;
        m_password = pszPassword;
    }
    // Seeds the generator of the encryption headers; each entry mixes in the clock again.
    m_randomState = static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count()) ^
                    reinterpret_cast<uintptr_t>(this);
}

CZipWriter::~CZipWriter()
{
    // The workers finish what is queued before they end; only then may the pieces go.
    m_compressor.reset();
    if (m_output) {
        m_output->Close();
    }
}

bool CZipWriter::WriteOut(const void* pData, size_t cb)
{
    if (!m_output) {
        m_stickyError = KVXZIP_ERR_NOT_INITIALISED;
        return false;
    }
    if (m_output->Write(pData, cb)) {
        m_bytesWritten += cb;
        if (m_settleAsWritten) {
            m_output->Settled(m_bytesWritten);
        }
        return true;
    }
    // Part of the data may have gone out; later offsets must count it.
    uint64_t position = 0;
    if (m_output->Tell(position)) {
        m_bytesWritten = position;
    }
    return false;
}

bool CZipWriter::HasStoredSuffix(const std::string& name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        return false;
    }
    const std::string suffix = name.substr(dot);
    for (const char* candidate : STORED_SUFFIXES) {
        const size_t n = std::strlen(candidate);
        if (suffix.size() != n) {
            continue;
        }
        bool same = true;
        for (size_t i = 0; i < n && same; ++i) {
            const unsigned char a = static_cast<unsigned char>(suffix[i]);
            const unsigned char b = static_cast<unsigned char>(candidate[i]);
            same = (a >= 'A' && a <= 'Z' ? a + 32 : a) == (b >= 'A' && b <= 'Z' ? b + 32 : b);
        }
        if (same) {
            return true;
        }
    }
    return false;
}

bool CZipWriter::IsExecutable(IEntrySource& source, uint64_t size)
{
    constexpr uint64_t MIN_EXECUTABLE_SIZE = 40;
    constexpr uint32_t NEW_HEADER_OFFSET_FIELD = 60;
    constexpr uint32_t NEW_HEADER_MIN_SPAN = 52;
    if (size <= MIN_EXECUTABLE_SIZE) {
        return false;
    }
    uint8_t dosHeader[64];
    size_t got = 0;
    if (!source.ReadAt(0, dosHeader, sizeof(dosHeader), got) || got < sizeof(dosHeader)) {
        return false;
    }
    if (dosHeader[0] != 'M' || dosHeader[1] != 'Z') {
        return false;
    }
    const uint32_t offset = LoadLe32(dosHeader + NEW_HEADER_OFFSET_FIELD);
    if (static_cast<uint64_t>(offset) + NEW_HEADER_MIN_SPAN >= size) {
        return false;
    }
    uint8_t sig[4];
    if (!source.ReadAt(offset, sig, sizeof(sig), got) || got < sizeof(sig)) {
        return false;
    }
    if (sig[0] == 'P' && sig[1] == 'E' && sig[2] == 0 && sig[3] == 0) {
        return true;
    }
    return (sig[0] == 'N' && sig[1] == 'E') || (sig[0] == 'L' && sig[1] == 'E') || (sig[0] == 'M' && sig[1] == 'Z');
}

void CZipWriter::SetRandomSeed(uint64_t seed)
{
    m_randomState = seed;
    m_clockInRandom = false;
}

void CZipWriter::MakeEncryptionHeader(uint16_t dosTime, uint8_t header[ZIP_ENCRYPTION_HEADER_SIZE])
{
    if (m_clockInRandom) {
        m_randomState ^= static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    }
    uint64_t bits = SplitMix64(m_randomState);
    for (unsigned i = 0; i < ZIP_ENCRYPTION_HEADER_SIZE - 1; ++i) {
        if (i == 8) {
            bits = SplitMix64(m_randomState);
        }
        header[i] = static_cast<uint8_t>(bits);
        bits >>= 8;
    }
    // With a data descriptor the check byte is the high byte of the MS-DOS time word.
    header[ZIP_ENCRYPTION_HEADER_SIZE - 1] = static_cast<uint8_t>(dosTime >> 8);
}

bool CZipWriter::WriteLocalHeader(const SZipEntry& entry, uint16_t flags, uint32_t crc, uint32_t compressedSize,
                                  uint32_t uncompressedSize, const SEntryInfo& info)
{
    CRecordBuilder r;
    r.U32(ZIP_SIG_LOCAL_FILE_HEADER);
    r.U16(ZIP_VERSION_NEEDED);
    r.U16(flags);
    r.U16(entry.m_method);
    r.U16(entry.m_dosTime);
    r.U16(entry.m_dosDate);
    r.U32(crc);
    r.U32(compressedSize);
    r.U32(uncompressedSize);
    r.U16(static_cast<uint16_t>(entry.m_name.size()));
    r.U16(ZIP_LOCAL_EXTRA_SIZE);
    r.Bytes(entry.m_name);
    r.U16(ZIP_EXTRA_EXTENDED_TIMESTAMP);
    r.U16(ZIP_LOCAL_EXTRA_SIZE - 4);
    r.U8(ZIP_EXTTIME_FLAGS_ALL);
    r.U32(static_cast<uint32_t>(info.m_lastWriteUnix));
    r.U32(static_cast<uint32_t>(info.m_lastAccessUnix));
    r.U32(static_cast<uint32_t>(info.m_creationUnix));
    return WriteOut(r.Data(), r.Size());
}

ZRESULT CZipWriter::AddFileEntry(const char* pszName, const char* pszSourcePath)
{
    return AddEntry(pszName, nullptr, pszSourcePath, false);
}

ZRESULT CZipWriter::AddFileEntry(const char* pszName, IEntrySource& source)
{
    return AddEntry(pszName, &source, nullptr, false);
}

ZRESULT CZipWriter::AddFolderEntry(const char* pszName)
{
    return AddEntry(pszName, nullptr, nullptr, true);
}

ZRESULT CZipWriter::AddEntry(const char* pszName, IEntrySource* pSource, const char* pszSourcePath, bool isFolder)
{
    const ZRESULT deferred = TakeDeferred();
    if (deferred != KVXZIP_OK) {
        return deferred;
    }
    if (m_stickyError != KVXZIP_OK) {
        return KVXZIP_ERR_PREVIOUS_ERROR;
    }
    if (m_ended) {
        return KVXZIP_ERR_ENDED;
    }
    if (pszName == nullptr || *pszName == '\0') {
        return KVXZIP_ERR_ARGUMENTS;
    }
    auto pending = std::make_unique<SPendingEntry>();
    SZipEntry& entry = pending->m_entry;
    SEntryInfo& info = pending->m_info;
    entry.m_name = pszName;
    std::replace(entry.m_name.begin(), entry.m_name.end(), '\\', '/');
    if (isFolder && entry.m_name.back() != '/') {
        entry.m_name += '/';
    }
    // Refused rather than cut: a name that does not fit the name fields, or an entry the end record
    // cannot count, would make an archive that lies (a header offset beyond 32 bits is refused when
    // the entry is written).
    if (entry.m_name.size() > ZIP_MAX_NAME_LENGTH || m_entries.size() + m_pending.size() >= ZIP_MAX_ENTRIES) {
        return KVXZIP_ERR_ARGUMENTS;
    }
    entry.m_method = (isFolder || HasStoredSuffix(entry.m_name)) ? ZIP_METHOD_STORED : ZIP_METHOD_DEFLATED;

    CFileSource file;
    if (isFolder) {
        CZipTime::SetToLocalNow(info);
        entry.m_externalAttributes = ZIP_FOLDER_EXTERNAL_ATTRIBUTES;
    } else {
        if (pSource == nullptr) {
            if (pszSourcePath == nullptr || !file.Open(pszSourcePath)) {
                return KVXZIP_ERR_OPEN;
            }
            pSource = &file;
        }
        if (!pSource->GetInfo(info)) {
            return KVXZIP_ERR_OPEN;
        }
        if (info.m_size > ZIP_MAX_32BIT_VALUE - ZIP_ENCRYPTION_HEADER_SIZE) {
            return KVXZIP_ERR_ARGUMENTS;
        }
        const bool readOnly = (info.m_attributes & ZIP_DOS_READONLY) != 0;
        entry.m_externalAttributes = (info.m_attributes & ZIP_DOS_ATTRIBUTE_MASK) |
                                     (info.m_isDirectory ? ZIP_UNIX_DIRECTORY : ZIP_UNIX_REGULAR_FILE) |
                                     (readOnly ? ZIP_UNIX_OWNER_READ : ZIP_UNIX_OWNER_READ_WRITE) |
                                     (IsExecutable(*pSource, info.m_size) ? ZIP_UNIX_OWNER_EXECUTE : 0);
    }
    CZipTime::ToDos(info, entry.m_dosTime, entry.m_dosDate);
    entry.m_lastWriteUnix = static_cast<uint32_t>(info.m_lastWriteUnix);

    pending->m_isFolder = isFolder;
    pending->m_encrypt = m_hasPassword && !isFolder;
    const uint32_t declaredSize = static_cast<uint32_t>(info.m_size);
    pending->m_firstFlags =
        pending->m_encrypt ? (ZIP_FLAG_DATA_DESCRIPTOR | ZIP_FLAG_ENCRYPTED) : ZIP_FLAG_DATA_DESCRIPTOR;
    pending->m_firstCompressedSize = entry.m_method == ZIP_METHOD_STORED
                                         ? declaredSize + (pending->m_encrypt ? ZIP_ENCRYPTION_HEADER_SIZE : 0)
                                         : 0;

    SPendingEntry& queued = *pending;
    m_pending.push_back(std::move(pending));
    ZRESULT readResult = KVXZIP_OK;
    if (!isFolder) {
        try {
            readResult = ReadEntryData(queued, *pSource);
        } catch (...) {
            // Out of memory: the entry fails, and what is queued before it is still written.
            queued.m_allRead = true;
            queued.m_readFailed = true;
            EmitAll();
            TakeDeferred();
            throw;
        }
    }
    queued.m_allRead = true;
    queued.m_readFailed = readResult != KVXZIP_OK;
    file.Close();
    if (m_compressor->Workers() == 0 || readResult != KVXZIP_OK) {
        // Nothing runs alongside: the entry is written now and its own result returned. A read failure
        // is returned by the addition that met it, as it would be without the threads.
        EmitAll();
        return TakeDeferred();
    }
    EmitReady();
    return KVXZIP_OK;
}

bool CZipWriter::ReadPiece(SDataBlock& block, IByteSource& source, uint64_t declaredLeft, bool& eof)
{
    // Reads of the encoder's old input size; the piece ends at KVXZIP_BLOCK_SIZE or at the end of data.
    constexpr size_t READ_SIZE = CDeflateEncoder::INPUT_PIECE_SIZE;
    block.m_input.reserve(block.m_dictionary +
                          static_cast<size_t>(std::min<uint64_t>(KVXZIP_BLOCK_SIZE, declaredLeft + 1)));
    while (block.Length() < KVXZIP_BLOCK_SIZE) {
        const size_t before = block.m_input.size();
        const size_t want = std::min(READ_SIZE, KVXZIP_BLOCK_SIZE - block.Length());
        block.m_input.resize(before + want);
        size_t got = 0;
        if (!source.Read(block.m_input.data() + before, want, got)) {
            block.m_input.resize(before);
            return false;
        }
        got = std::min(got, want);
        block.m_input.resize(before + got);
        if (got == 0) {
            eof = true;
            break;
        }
    }
    return true;
}

ZRESULT CZipWriter::ReadEntryData(SPendingEntry& pending, IByteSource& source)
{
    const bool deflate = pending.m_entry.m_method == ZIP_METHOD_DEFLATED;
    const uint64_t declared = pending.m_info.m_size;
    uint64_t readSoFar = 0;
    // What a piece of this size will hold at most while it waits: its input, and its output, which
    // for incompressible data is a little larger than the input.
    auto budgetOf = [](size_t dictionary, size_t length) { return dictionary + 2 * length + length / 64 + 64; };
    auto newPiece = [&](const SDataBlock* previous, size_t& reservation) {
        auto block = std::make_unique<SDataBlock>();
        block->m_deflate = deflate;
        size_t dictionary = 0;
        if (deflate && previous != nullptr) {
            dictionary = std::min(CDeflateEncoder::MAX_DICTIONARY, previous->m_input.size());
        }
        const uint64_t left = declared > readSoFar ? declared - readSoFar : 0;
        const size_t length = static_cast<size_t>(std::min<uint64_t>(KVXZIP_BLOCK_SIZE, left));
        reservation = budgetOf(dictionary, length);
        Reserve(reservation);
        block->m_input = m_compressor->Buffers().Take(dictionary + length);
        if (dictionary > 0) {
            block->m_input.assign(previous->m_input.end() - static_cast<ptrdiff_t>(dictionary), previous->m_input.end());
            block->m_dictionary = dictionary;
        }
        return block;
    };
    size_t reservation = 0;
    std::unique_ptr<SDataBlock> current = newPiece(nullptr, reservation);
    bool eof = false;
    if (!ReadPiece(*current, source, declared, eof)) {
        m_reserved -= reservation;
        return KVXZIP_ERR_READ;
    }
    readSoFar += current->Length();
    for (;;) {
        if (eof || current->Length() < KVXZIP_BLOCK_SIZE) {
            current->m_final = true;
            Queue(pending, std::move(current), reservation);
            return KVXZIP_OK;
        }
        // A full piece is the last one only if nothing follows it, which only the next read can tell.
        size_t nextReservation = 0;
        std::unique_ptr<SDataBlock> next = newPiece(current.get(), nextReservation);
        const uint64_t left = declared > readSoFar ? declared - readSoFar : 0;
        if (!ReadPiece(*next, source, left, eof)) {
            m_reserved -= reservation + nextReservation;
            return KVXZIP_ERR_READ;
        }
        if (next->Length() == 0) {
            m_reserved -= nextReservation;
            current->m_final = true;
            Queue(pending, std::move(current), reservation);
            return KVXZIP_OK;
        }
        readSoFar += next->Length();
        current->m_final = false;
        Queue(pending, std::move(current), reservation);
        current = std::move(next);
        reservation = nextReservation;
    }
}

void CZipWriter::Queue(SPendingEntry& pending, std::unique_ptr<SDataBlock> block, size_t reservation)
{
    SDataBlock& submitted = *block;
    pending.m_blocks.push_back(std::move(block));
    pending.m_reservations.push_back(reservation);
    ++m_queuedBlocks;
    m_compressor->Submit(submitted);
}

void CZipWriter::Reserve(size_t cb)
{
    // The oldest piece is always queued or done, so waiting for it ends.
    while ((m_reserved + cb > KVXZIP_PIPELINE_BUDGET || m_queuedBlocks >= KVXZIP_PIPELINE_MAX_BLOCKS) &&
           EmitStep(true)) {
    }
    m_reserved += cb;
}

bool CZipWriter::EmitStep(bool wait)
{
    if (m_pending.empty()) {
        return false;
    }
    SPendingEntry& pending = *m_pending.front();
    if (!pending.m_started) {
        StartEntry(pending);
        return true;
    }
    if (!pending.m_blocks.empty()) {
        SDataBlock& block = *pending.m_blocks.front();
        if (wait) {
            m_compressor->Wait(block);
        } else if (!m_compressor->IsDone(block)) {
            return false;
        }
        if (pending.m_result == KVXZIP_OK) {
            WritePiece(pending, block);
        }
        m_reserved -= pending.m_reservations.front();
        --m_queuedBlocks;
        pending.m_reservations.pop_front();
        pending.m_blocks.pop_front();
        return true;
    }
    if (!pending.m_allRead) {
        return false;
    }
    const ZRESULT result = FinishEntry(pending);
    if (result != KVXZIP_OK && m_deferred == KVXZIP_OK) {
        m_deferred = result;
    }
    m_pending.pop_front();
    return true;
}

void CZipWriter::EmitReady()
{
    while (EmitStep(false)) {
    }
}

void CZipWriter::EmitAll()
{
    while (EmitStep(true)) {
    }
}

ZRESULT CZipWriter::TakeDeferred()
{
    const ZRESULT result = m_deferred;
    m_deferred = KVXZIP_OK;
    return result;
}

void CZipWriter::StartEntry(SPendingEntry& pending)
{
    pending.m_started = true;
    if (m_stickyError != KVXZIP_OK) {
        pending.m_result = m_stickyError;
        return;
    }
    if (m_bytesWritten > ZIP_MAX_32BIT_VALUE) {
        pending.m_result = KVXZIP_ERR_ARGUMENTS;
        return;
    }
    SZipEntry& entry = pending.m_entry;
    entry.m_localHeaderOffset = static_cast<uint32_t>(m_bytesWritten);
    // What earlier entries wrote is final. An encrypted entry's header is never rewritten (its sizes
    // follow in a data descriptor), so it and all its data are final as soon as they are written;
    // any other entry's header waits for the rewrite.
    m_settleAsWritten = false;
    m_output->Settled(m_bytesWritten);
    if (!WriteLocalHeader(entry, pending.m_firstFlags, 0, pending.m_firstCompressedSize,
                          static_cast<uint32_t>(pending.m_info.m_size), pending.m_info)) {
        pending.m_result = KVXZIP_ERR_WRITE;
        return;
    }
    if (pending.m_encrypt) {
        m_settleAsWritten = true;
        m_output->Settled(m_bytesWritten);
        m_crypto.Init(m_password.data(), m_password.size());
        uint8_t header[ZIP_ENCRYPTION_HEADER_SIZE];
        MakeEncryptionHeader(entry.m_dosTime, header);
        m_crypto.Encrypt(header, sizeof(header));
        if (!WriteOut(header, sizeof(header))) {
            pending.m_result = KVXZIP_ERR_WRITE;
        }
    }
}

void CZipWriter::WritePiece(SPendingEntry& pending, SDataBlock& block)
{
    switch (block.m_status) {
    case eDeflateStatus_OK:
        break;
    case eDeflateStatus_READ_FAILED:
        pending.m_result = KVXZIP_ERR_READ;
        return;
    default:
        pending.m_result = KVXZIP_ERR_WRITE;
        return;
    }
    if (pending.m_encrypt) {
        // The piece's output is the writer's own: it is encrypted where it lies.
        m_crypto.Encrypt(block.m_output.data(), block.m_output.size());
    }
    // The output still goes out in the pieces it always did: a sink sees the same writes as before.
    for (size_t done = 0; done < block.m_output.size();) {
        const size_t piece = std::min<size_t>(block.m_output.size() - done, ZIP_DATA_BUFFER_SIZE);
        if (!WriteOut(block.m_output.data() + done, piece)) {
            pending.m_result = m_stickyError != KVXZIP_OK ? m_stickyError : KVXZIP_ERR_WRITE;
            return;
        }
        done += piece;
    }
    pending.m_bytesWritten += block.m_output.size();
    pending.m_crc = CCrc32::Combine(pending.m_crc, block.m_crc, block.m_length);
    pending.m_bytesRead += block.m_length;
    // A stored piece's output was its input.
    m_compressor->Buffers().Give(block.m_output);
}

ZRESULT CZipWriter::FinishEntry(SPendingEntry& pending)
{
    if (m_stickyError != KVXZIP_OK) {
        return m_stickyError;
    }
    if (pending.m_result != KVXZIP_OK) {
        return pending.m_result;
    }
    if (pending.m_readFailed) {
        return KVXZIP_ERR_READ; // what was read is in the file, as far as it went, but no entry
    }
    SZipEntry& entry = pending.m_entry;
    const bool encrypt = pending.m_encrypt;
    const uint64_t compressedSize = pending.m_bytesWritten + (encrypt ? ZIP_ENCRYPTION_HEADER_SIZE : 0);
    if (pending.m_bytesRead > ZIP_MAX_32BIT_VALUE || compressedSize > ZIP_MAX_32BIT_VALUE ||
        m_bytesWritten > ZIP_MAX_32BIT_VALUE) {
        return KVXZIP_ERR_SIZE_CHANGED;
    }
    entry.m_crc = pending.m_crc;
    entry.m_compressedSize = static_cast<uint32_t>(compressedSize);
    entry.m_uncompressedSize = static_cast<uint32_t>(pending.m_bytesRead);

    if (!encrypt) {
        // The output can seek: the local header gets the final values and bit 3 goes.
        uint16_t flags = pending.m_firstFlags;
        if (entry.m_method == ZIP_METHOD_DEFLATED) {
            flags |= ZIP_FLAG_DEFLATE_MAXIMUM;
        }
        if ((flags & ZIP_FLAG_ENCRYPTED) == 0) {
            flags &= static_cast<uint16_t>(~ZIP_FLAG_DATA_DESCRIPTOR);
        }
        entry.m_flags = flags;
        const uint64_t endOffset = m_bytesWritten;
        if (!m_output->Seek(entry.m_localHeaderOffset)) {
            return KVXZIP_ERR_SEEK;
        }
        m_bytesWritten = entry.m_localHeaderOffset;
        const bool rewritten = WriteLocalHeader(entry, flags, entry.m_crc, entry.m_compressedSize,
                                                entry.m_uncompressedSize, pending.m_info);
        const bool back = m_output->Seek(endOffset);
        m_bytesWritten = endOffset;
        if (!back) {
            // The output now stands inside this entry: whatever came next would overwrite its data,
            // so no further entry and no directory may be written.
            m_stickyError = KVXZIP_ERR_SEEK;
            return KVXZIP_ERR_SEEK;
        }
        if (!rewritten) {
            return KVXZIP_ERR_WRITE;
        }
    } else {
        if (entry.m_method == ZIP_METHOD_STORED && entry.m_compressedSize != pending.m_firstCompressedSize) {
            return KVXZIP_ERR_CHANGED_MIND;
        }
        entry.m_flags = pending.m_firstFlags;
        CRecordBuilder r;
        r.U32(ZIP_SIG_DATA_DESCRIPTOR);
        r.U32(entry.m_crc);
        r.U32(entry.m_compressedSize);
        r.U32(entry.m_uncompressedSize);
        if (!WriteOut(r.Data(), r.Size())) {
            return KVXZIP_ERR_WRITE;
        }
    }
    m_entries.push_back(std::move(entry));
    return KVXZIP_OK;
}

ZRESULT CZipWriter::Close()
{
    EmitAll();
    ZRESULT result = TakeDeferred();
    if (!m_ended) {
        m_ended = true;
        const uint64_t directoryOffset = m_bytesWritten;
        uint64_t directorySize = 0;
        bool ok = m_output != nullptr && m_stickyError == KVXZIP_OK;
        if (ok) {
            m_settleAsWritten = true; // the directory and the end record are written once
            m_output->Settled(m_bytesWritten);
        }
        for (const SZipEntry& e : m_entries) {
            directorySize += ZIP_CENTRAL_FILE_HEADER_SIZE + e.m_name.size() + ZIP_CENTRAL_EXTRA_SIZE;
            if (!ok) {
                continue;
            }
            CRecordBuilder r;
            r.U32(ZIP_SIG_CENTRAL_FILE_HEADER);
            r.U16(ZIP_VERSION_MADE_BY);
            r.U16(ZIP_VERSION_NEEDED);
            r.U16(e.m_flags);
            r.U16(e.m_method);
            r.U16(e.m_dosTime);
            r.U16(e.m_dosDate);
            r.U32(e.m_crc);
            r.U32(e.m_compressedSize);
            r.U32(e.m_uncompressedSize);
            r.U16(static_cast<uint16_t>(e.m_name.size()));
            r.U16(ZIP_CENTRAL_EXTRA_SIZE);
            r.U16(0); // comment length
            r.U16(0); // disk number start
            r.U16(0); // internal attributes
            r.U32(e.m_externalAttributes);
            r.U32(e.m_localHeaderOffset);
            r.Bytes(e.m_name);
            r.U16(ZIP_EXTRA_EXTENDED_TIMESTAMP);
            r.U16(ZIP_CENTRAL_EXTRA_SIZE - 4);
            r.U8(ZIP_EXTTIME_FLAGS_ALL);
            r.U32(e.m_lastWriteUnix);
            ok = WriteOut(r.Data(), r.Size());
        }
        // An end record that cannot point at the directory would describe a different archive.
        if (ok && (directoryOffset > ZIP_MAX_32BIT_VALUE || directorySize > ZIP_MAX_32BIT_VALUE)) {
            ok = false;
        }
        if (ok) {
            CRecordBuilder r;
            r.U32(ZIP_SIG_END_OF_CENTRAL_DIR);
            r.U16(0); // number of this disk
            r.U16(0); // disk where the central directory starts
            r.U16(static_cast<uint16_t>(m_entries.size()));
            r.U16(static_cast<uint16_t>(m_entries.size()));
            r.U32(static_cast<uint32_t>(directorySize));
            r.U32(static_cast<uint32_t>(directoryOffset));
            r.U16(0); // comment length
            ok = WriteOut(r.Data(), r.Size());
        }
        if (!ok && result == KVXZIP_OK) {
            result = m_stickyError == KVXZIP_ERR_SEEK ? KVXZIP_ERR_SEEK : KVXZIP_ERR_WRITE;
        }
    }
    if (m_output) {
        if (!m_output->Close()) {
            result = KVXZIP_ERR_WRITE;
        }
        m_output.reset();
    }
    return result;
}
