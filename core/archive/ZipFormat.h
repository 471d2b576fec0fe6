// Constants of the PKZIP records this writer produces, named after PKWARE's application note, and the
// writer's result codes (system failures in 0x0000FF00, caller mistakes in 0x00FF0000, internal faults
// in 0xFF000000).
#pragma once

#include <cstdint>

using ZRESULT = uint32_t;

constexpr ZRESULT KVXZIP_OK = 0x00000000;
constexpr ZRESULT KVXZIP_ERR_DUPLICATE_HANDLE = 0x00000100;
constexpr ZRESULT KVXZIP_ERR_OPEN = 0x00000200;
constexpr ZRESULT KVXZIP_ERR_ALLOCATE = 0x00000300;
constexpr ZRESULT KVXZIP_ERR_WRITE = 0x00000400;
constexpr ZRESULT KVXZIP_ERR_NOT_IN_ZIP = 0x00000500;
constexpr ZRESULT KVXZIP_ERR_MORE_DATA = 0x00000600;
constexpr ZRESULT KVXZIP_ERR_CORRUPT = 0x00000700;
constexpr ZRESULT KVXZIP_ERR_READ = 0x00000800;
constexpr ZRESULT KVXZIP_ERR_ARGUMENTS = 0x00010000;
constexpr ZRESULT KVXZIP_ERR_NOT_MEMORY_ZIP = 0x00020000;
constexpr ZRESULT KVXZIP_ERR_MEMORY_SIZE = 0x00030000;
constexpr ZRESULT KVXZIP_ERR_PREVIOUS_ERROR = 0x00040000;
constexpr ZRESULT KVXZIP_ERR_ENDED = 0x00050000;
constexpr ZRESULT KVXZIP_ERR_SIZE_CHANGED = 0x00060000;
constexpr ZRESULT KVXZIP_ERR_PARTIALLY_UNZIPPED = 0x00070000;
constexpr ZRESULT KVXZIP_ERR_WRONG_MODE = 0x00080000;
constexpr ZRESULT KVXZIP_ERR_NOT_INITIALISED = 0x01000000;
constexpr ZRESULT KVXZIP_ERR_SEEK = 0x02000000;
constexpr ZRESULT KVXZIP_ERR_CHANGED_MIND = 0x04000000;
constexpr ZRESULT KVXZIP_ERR_FLATE = 0x05000000;
// Passed to DescribeZipResult in place of a code: "the most recent result".
constexpr ZRESULT KVXZIP_MOST_RECENT_RESULT = 1;

// Record signatures ("PK" followed by two bytes), read as little-endian 32-bit values.
constexpr uint32_t ZIP_SIG_LOCAL_FILE_HEADER = 0x04034B50;
constexpr uint32_t ZIP_SIG_DATA_DESCRIPTOR = 0x08074B50;
constexpr uint32_t ZIP_SIG_CENTRAL_FILE_HEADER = 0x02014B50;
constexpr uint32_t ZIP_SIG_END_OF_CENTRAL_DIR = 0x06054B50;

constexpr uint32_t ZIP_LOCAL_FILE_HEADER_SIZE = 30;
constexpr uint32_t ZIP_DATA_DESCRIPTOR_SIZE = 16;
constexpr uint32_t ZIP_CENTRAL_FILE_HEADER_SIZE = 46;
constexpr uint32_t ZIP_END_OF_CENTRAL_DIR_SIZE = 22;
constexpr uint32_t ZIP_ENCRYPTION_HEADER_SIZE = 12;

// "Version made by": high byte 11 (the host system code this package has always written), low byte 23
// (version 2.3 of the application note).
constexpr uint16_t ZIP_VERSION_MADE_BY = 0x0B17;
constexpr uint16_t ZIP_VERSION_NEEDED = 20;

constexpr uint16_t ZIP_METHOD_STORED = 0;
constexpr uint16_t ZIP_METHOD_DEFLATED = 8;

// General-purpose bit flags.
constexpr uint16_t ZIP_FLAG_ENCRYPTED = 0x0001;
constexpr uint16_t ZIP_FLAG_DEFLATE_MAXIMUM = 0x0002; // level 8 and above
constexpr uint16_t ZIP_FLAG_DEFLATE_FAST = 0x0004;    // level 2 and below
constexpr uint16_t ZIP_FLAG_DATA_DESCRIPTOR = 0x0008;

// Extended-timestamp extra field ("UT"): local copy with three times, central copy with one.
constexpr uint16_t ZIP_EXTRA_EXTENDED_TIMESTAMP = 0x5455;
constexpr uint8_t ZIP_EXTTIME_FLAGS_ALL = 0x07; // modification, access and creation present
constexpr uint16_t ZIP_LOCAL_EXTRA_SIZE = 17;
constexpr uint16_t ZIP_CENTRAL_EXTRA_SIZE = 9;

// External attributes: Unix mode in the high half, MS-DOS attributes in the low byte.
constexpr uint32_t ZIP_DOS_ATTRIBUTE_MASK = 0x37; // read-only, hidden, system, directory, archive
constexpr uint32_t ZIP_DOS_READONLY = 0x01;
constexpr uint32_t ZIP_DOS_DIRECTORY = 0x10;
constexpr uint32_t ZIP_DOS_ARCHIVE = 0x20;
constexpr uint32_t ZIP_UNIX_REGULAR_FILE = 0x80000000; // S_IFREG << 16
constexpr uint32_t ZIP_UNIX_DIRECTORY = 0x40000000;    // S_IFDIR << 16
constexpr uint32_t ZIP_UNIX_OWNER_READ = 0x01000000;
constexpr uint32_t ZIP_UNIX_OWNER_READ_WRITE = 0x01800000;
constexpr uint32_t ZIP_UNIX_OWNER_EXECUTE = 0x00400000;
constexpr uint32_t ZIP_FOLDER_EXTERNAL_ATTRIBUTES = 0x41C00010;

// The name fields hold at most this many bytes; 65535 entries is what the end record can count.
constexpr uint32_t ZIP_MAX_NAME_LENGTH = 259;
constexpr uint32_t ZIP_MAX_ENTRIES = 65535;
constexpr uint64_t ZIP_MAX_32BIT_VALUE = 0xFFFFFFFFu;

// The largest write of entry data to the archive output.
constexpr uint32_t ZIP_DATA_BUFFER_SIZE = 16384;
