// Layouts of the records the product SDK accepts, as the test double reads them. They are written
// independently of the core's own declarations on purpose: a test that compares the double's reading
// with the bytes the core sent catches a field the core put at the wrong offset.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace kvxsim {

enum class EFieldKind { U32, TEXT };

struct SFieldDesc {
    DWORD offset;
    DWORD width;
    EFieldKind kind;
    const char* name;
};

struct SRecordDesc {
    const char* name;
    DWORD size;
    const SFieldDesc* fields;
    size_t fieldCount;
};

// IM-driver packet capture options: one layout for SDK 3.x, a longer one for 4.0.
extern const SRecordDesc g_recImCaptureOptions3x;
extern const SRecordDesc g_recImCaptureOptions40;
extern const SRecordDesc g_recTdiCaptureOptions;
extern const SRecordDesc g_recCaptureStatus;
extern const SRecordDesc g_recLogOptions;
extern const SRecordDesc g_recLogStatus;

// Filters-information record: a version tag and one block per SDK filter id.
struct SFiltersInfoLayout {
    DWORD tag;
    DWORD blockSize;
    DWORD blockCount;
    DWORD Size() const { return 4 + blockSize * blockCount; }
};

// Offsets inside a filter block. The first three fields are what the product's clients interpret;
// the names after them are only there to make the record look like the real thing.
constexpr DWORD KVXSIM_BLOCK_INSTALLED = 0;
constexpr DWORD KVXSIM_BLOCK_ENABLED = 4;
constexpr DWORD KVXSIM_BLOCK_LOADED = 8;
constexpr DWORD KVXSIM_BLOCK_SDKID = 12;
constexpr DWORD KVXSIM_BLOCK_SERVICE = 16;      // 32 bytes
constexpr DWORD KVXSIM_BLOCK_DISPLAY = 48;      // 64 bytes
constexpr DWORD KVXSIM_BLOCK_SERVICE_LEN = 32;
constexpr DWORD KVXSIM_BLOCK_DISPLAY_LEN = 64;

// Field values the SDK checks.
constexpr DWORD KVXSIM_RECORD_VERSION = 1;

inline DWORD ReadU32(const BYTE* record, DWORD offset)
{
    return static_cast<DWORD>(record[offset]) | (static_cast<DWORD>(record[offset + 1]) << 8) |
           (static_cast<DWORD>(record[offset + 2]) << 16) | (static_cast<DWORD>(record[offset + 3]) << 24);
}

inline void WriteU32(BYTE* record, DWORD offset, DWORD value)
{
    record[offset] = static_cast<BYTE>(value);
    record[offset + 1] = static_cast<BYTE>(value >> 8);
    record[offset + 2] = static_cast<BYTE>(value >> 16);
    record[offset + 3] = static_cast<BYTE>(value >> 24);
}

// The text of a fixed-width field: up to its first zero byte or the end of the field.
std::string ReadText(const BYTE* record, DWORD offset, DWORD width);

// Every byte that belongs to no field must be zero; a client that puts a field at the wrong place
// shows up here. On failure the message names the first offending offset.
bool CheckUnusedBytesZero(const SRecordDesc& desc, const BYTE* record, std::string& message);

const SFieldDesc* FindField(const SRecordDesc& desc, const char* name);

} // namespace kvxsim
