// Time conversions for the entry records: MS-DOS time and date words and Unix seconds.
#pragma once

#include "core/archive/ByteStreams.h"

#include <cstdint>

class CZipTime {
public:
    // MS-DOS time word (hour << 11 | minute << 5 | second / 2) and date word
    // ((year - 1980) << 9 | month << 5 | day). Years the 7-bit field cannot hold are clamped to
    // 1980-01-01 00:00:00 and 2107-12-31 23:59:58 instead of wrapping into a wrong century.
    static void ToDos(const SEntryInfo& info, uint16_t& dosTime, uint16_t& dosDate);
    // Seconds since 1970-01-01 of a civil date taken as UTC.
    static int64_t UnixFromCivil(int year, int month, int day, int hour, int minute, int second);
    // Fills the civil fields and the three Unix times with the current local time, as folder entries
    // record it (the local wall-clock time, stored as if it were UTC).
    static void SetToLocalNow(SEntryInfo& info);
    // Civil UTC fields from Unix seconds (for sources that only know Unix times).
    static void CivilFromUnix(int64_t seconds, SEntryInfo& info);
};
