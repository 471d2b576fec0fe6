// The archive output file: created (replacing any existing file) for writing, not shared.
#pragma once

#include "core/archive/ByteStreams.h"

#ifdef _WIN32
#include "common/win/UniqueHandles.h"
#endif

class CFileSink : public ISeekableSink {
public:
    CFileSink() = default;
    CFileSink(const CFileSink&) = delete;
    CFileSink& operator=(const CFileSink&) = delete;
    ~CFileSink() override;

    bool Create(const char* pszPath);

    bool Write(const void* pData, size_t cb) override;
    bool Seek(uint64_t offset) override;
    bool Tell(uint64_t& offset) override;
    bool Close() override;

private:
#ifdef _WIN32
    kvx::UniqueFileHandle m_file;
#else
    int m_fd = -1;
#endif
};
