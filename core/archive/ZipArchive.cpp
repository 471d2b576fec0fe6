// Handle checks, the most recent result and the result texts around CZipWriter. Nothing thrown
// inside the writer crosses these functions.
#include "core/archive/ZipArchive.h"

#include "core/archive/ZipWriter.h"

#include <atomic>
#include <cstring>
#include <new>

namespace {

std::atomic<ZRESULT> s_mostRecentResult{KVXZIP_OK};

struct SZipResultText {
    ZRESULT m_code;
    const char* m_pszText;
};

const SZipResultText ZIP_RESULT_TEXTS[] = {
    {KVXZIP_OK, "Success"},
    {KVXZIP_ERR_DUPLICATE_HANDLE, "Culdn't duplicate handle"},
    {KVXZIP_ERR_OPEN, "Couldn't create/open file"},
    {KVXZIP_ERR_ALLOCATE, "Failed to allocate memory"},
    {KVXZIP_ERR_WRITE, "Error writing to file"},
    {KVXZIP_ERR_NOT_IN_ZIP, "File not found in the zipfile"},
    {KVXZIP_ERR_MORE_DATA, "Still more data to unzip"},
    {KVXZIP_ERR_CORRUPT, "Zipfile is corrupt or not a zipfile"},
    {KVXZIP_ERR_READ, "Error reading file"},
    {KVXZIP_ERR_ARGUMENTS, "Caller: faulty arguments"},
    {KVXZIP_ERR_NOT_MEMORY_ZIP, "Caller: can only get memory of a memory zipfile"},
    {KVXZIP_ERR_MEMORY_SIZE, "Caller: not enough space allocated for memory zipfile"},
    {KVXZIP_ERR_PREVIOUS_ERROR, "Caller: there was a previous error"},
    {KVXZIP_ERR_ENDED, "Caller: additions to the zip have already been ended"},
    {KVXZIP_ERR_SIZE_CHANGED, "Zip-bug: the anticipated size turned out wrong"},
    {KVXZIP_ERR_PARTIALLY_UNZIPPED, "Caller: the file had already been partially unzipped"},
    {KVXZIP_ERR_WRONG_MODE, "Caller: mixing creation and opening of zip"},
    {KVXZIP_ERR_NOT_INITIALISED, "Zip-bug: internal initialisation not completed"},
    {KVXZIP_ERR_SEEK, "Zip-bug: trying to seek the unseekable"},
    {KVXZIP_ERR_CHANGED_MIND, "Zip-bug: tried to change mind, but not allowed"},
    {KVXZIP_ERR_FLATE, "Zip-bug: an internal error during flation"},
};
const char* const ZIP_UNKNOWN_RESULT_TEXT = "unknown zip result code";

ZRESULT Remember(ZRESULT result)
{
    s_mostRecentResult.store(result);
    return result;
}

// The checks every handle operation starts with: a handle at all, and one of the writer kind.
ZRESULT CheckHandle(HZIPARCHIVE hZip)
{
    if (hZip == nullptr) {
        return KVXZIP_ERR_ARGUMENTS;
    }
    if (hZip->m_kind != KVXZIP_HANDLE_KIND_FILE_WRITER || hZip->m_pWriter == nullptr) {
        return KVXZIP_ERR_WRONG_MODE;
    }
    return KVXZIP_OK;
}

template <typename F>
ZRESULT Guarded(F&& operation)
{
    try {
        return Remember(operation());
    } catch (const std::bad_alloc&) {
        return Remember(KVXZIP_ERR_ALLOCATE);
    } catch (...) {
        return Remember(KVXZIP_ERR_FLATE);
    }
}

} // namespace

HZIPARCHIVE CreateArchive(const char* pszPath, const char* pszPassword)
{
    return CreateArchive(pszPath, pszPassword, nullptr);
}

HZIPARCHIVE CreateArchive(const char* pszPath, const char* pszPassword, IOutputTap* pTap, unsigned threads)
{
    HZIPARCHIVE hZip = nullptr;
    Guarded([&]() -> ZRESULT {
        std::unique_ptr<CZipWriter> writer;
        const ZRESULT result = CZipWriter::Create(pszPath, pszPassword, writer, pTap, threads);
        if (result != KVXZIP_OK) {
            return result;
        }
        auto handle = std::make_unique<SZipHandle>();
        handle->m_kind = KVXZIP_HANDLE_KIND_FILE_WRITER;
        handle->m_pWriter = writer.release();
        hZip = handle.release();
        return KVXZIP_OK;
    });
    return hZip;
}

ZRESULT AddFileEntry(HZIPARCHIVE hZip, const char* pszName, const char* pszSourcePath)
{
    return Guarded([&]() -> ZRESULT {
        const ZRESULT check = CheckHandle(hZip);
        return check != KVXZIP_OK ? check : hZip->m_pWriter->AddFileEntry(pszName, pszSourcePath);
    });
}

ZRESULT AddFolderEntry(HZIPARCHIVE hZip, const char* pszName)
{
    return Guarded([&]() -> ZRESULT {
        const ZRESULT check = CheckHandle(hZip);
        return check != KVXZIP_OK ? check : hZip->m_pWriter->AddFolderEntry(pszName);
    });
}

ZRESULT CloseArchive(HZIPARCHIVE hZip)
{
    return Guarded([&]() -> ZRESULT {
        const ZRESULT check = CheckHandle(hZip);
        if (check != KVXZIP_OK) {
            return check;
        }
        std::unique_ptr<SZipHandle> handle(hZip);
        std::unique_ptr<CZipWriter> writer(handle->m_pWriter);
        handle->m_kind = 0;
        handle->m_pWriter = nullptr;
        return writer->Close();
    });
}

unsigned DescribeZipResult(ZRESULT code, char* pszBuffer, unsigned cchBuffer)
{
    if (code == KVXZIP_MOST_RECENT_RESULT) {
        code = s_mostRecentResult.load();
    }
    const char* text = ZIP_UNKNOWN_RESULT_TEXT;
    for (const SZipResultText& entry : ZIP_RESULT_TEXTS) {
        if (entry.m_code == code) {
            text = entry.m_pszText;
            break;
        }
    }
    const size_t length = std::strlen(text);
    if (pszBuffer != nullptr && cchBuffer != 0) {
        const size_t n = length < cchBuffer - 1 ? length : cchBuffer - 1;
        std::memcpy(pszBuffer, text, n);
        pszBuffer[n] = '\0';
    }
    return static_cast<unsigned>(length);
}

ZRESULT GetMostRecentZipResult()
{
    return s_mostRecentResult.load();
}
