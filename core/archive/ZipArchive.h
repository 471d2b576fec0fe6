// The handle-based interface of the archive writer, as the system-utilities helper uses it. Every
// operation stores its result as the process's most recent result, which DescribeZipResult can name
// with the code KVXZIP_MOST_RECENT_RESULT.
#pragma once

#include "core/archive/ZipFormat.h"

#include <cstdint>

class CZipWriter;
class IOutputTap;

// Handle kinds of the archive-handle family; this code base only makes file writers.
constexpr uint32_t KVXZIP_HANDLE_KIND_FILE_WRITER = 1;
constexpr uint32_t KVXZIP_HANDLE_KIND_FILE_READER = 2;
constexpr uint32_t KVXZIP_HANDLE_KIND_MEMORY_WRITER = 3;

struct SZipHandle {
    uint32_t m_kind = 0;
    CZipWriter* m_pWriter = nullptr;
};
using HZIPARCHIVE = SZipHandle*;

// Creates the archive file (CREATE_ALWAYS, not shared) and returns its handle, or nullptr with the
// reason in the most recent result (KVXZIP_ERR_OPEN when the file cannot be created). A null or empty
// password means none.
HZIPARCHIVE CreateArchive(const char* pszPath, const char* pszPassword);
// The same, with a tap that sees the archive's bytes as they are written (see IOutputTap); the tap
// must outlive the handle. Threads compress the entries (see CZipWriter); 0 takes the default,
// min(processors, 4).
HZIPARCHIVE CreateArchive(const char* pszPath, const char* pszPassword, IOutputTap* pTap, unsigned threads = 0);
ZRESULT AddFileEntry(HZIPARCHIVE hZip, const char* pszName, const char* pszSourcePath);
ZRESULT AddFolderEntry(HZIPARCHIVE hZip, const char* pszName);
// Writes the central directory (unless already written), closes the file and releases the handle.
ZRESULT CloseArchive(HZIPARCHIVE hZip);
// Length of the code's text; copies at most cchBuffer - 1 characters and a terminating zero when a
// buffer and a non-zero length are given.
unsigned DescribeZipResult(ZRESULT code, char* pszBuffer, unsigned cchBuffer);
ZRESULT GetMostRecentZipResult();
