// A file opened for adding to an archive: read-only, shared for reading, existing files only.
#pragma once

#include "core/archive/ByteStreams.h"

#ifdef _WIN32
#include "common/win/UniqueHandles.h"
#endif

class CFileSource : public IEntrySource {
public:
    CFileSource() = default;
    CFileSource(const CFileSource&) = delete;
    CFileSource& operator=(const CFileSource&) = delete;
    ~CFileSource() override;

    bool Open(const char* pszPath);
    void Close();

    bool Read(void* pBuffer, size_t cb, size_t& cbRead) override;
    bool GetInfo(SEntryInfo& info) override;
    bool ReadAt(uint64_t offset, void* pBuffer, size_t cb, size_t& cbRead) override;

private:
#ifdef _WIN32
    kvx::UniqueFileHandle m_file;
#else
    int m_fd = -1;
#endif
};
