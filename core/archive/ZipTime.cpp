// Calendar arithmetic for ZIP time fields; the proleptic Gregorian conversions count days from
// 1970-01-01 through 400-year eras so that no table and no C library time zone is involved.
#include "core/archive/ZipTime.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

void CZipTime::ToDos(const SEntryInfo& info, uint16_t& dosTime, uint16_t& dosDate)
{
    if (info.m_year < 1980) {
        dosTime = 0;
        dosDate = (1 << 5) | 1;
        return;
    }
    if (info.m_year > 2107) {
        dosTime = static_cast<uint16_t>((23 << 11) | (59 << 5) | (58 / 2));
        dosDate = static_cast<uint16_t>((127 << 9) | (12 << 5) | 31);
        return;
    }
    dosTime = static_cast<uint16_t>((info.m_hour << 11) | (info.m_minute << 5) | (info.m_second / 2));
    dosDate = static_cast<uint16_t>((((info.m_year - 1980) & 0x7F) << 9) | (info.m_month << 5) | info.m_day);
}

int64_t CZipTime::UnixFromCivil(int year, int month, int day, int hour, int minute, int second)
{
    // Years start in March so that the leap day ends a year.
    const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t monthFromMarch = (month + 9) % 12;
    const int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

void CZipTime::CivilFromUnix(int64_t seconds, SEntryInfo& info)
{
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    const int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    info.m_year = static_cast<uint16_t>(year < 0 ? 0 : (year > 65535 ? 65535 : year));
    info.m_month = static_cast<uint16_t>(month);
    info.m_day = static_cast<uint16_t>(day);
    info.m_hour = static_cast<uint16_t>(rest / 3600);
    info.m_minute = static_cast<uint16_t>(rest / 60 % 60);
    info.m_second = static_cast<uint16_t>(rest % 60);
}

void CZipTime::SetToLocalNow(SEntryInfo& info)
{
#ifdef _WIN32
    SYSTEMTIME st = {};
    ::GetLocalTime(&st);
    info.m_year = st.wYear;
    info.m_month = st.wMonth;
    info.m_day = st.wDay;
    info.m_hour = st.wHour;
    info.m_minute = st.wMinute;
    info.m_second = st.wSecond;
#else
    const time_t now = ::time(nullptr);
    struct tm local = {};
    ::localtime_r(&now, &local);
    info.m_year = static_cast<uint16_t>(local.tm_year + 1900);
    info.m_month = static_cast<uint16_t>(local.tm_mon + 1);
    info.m_day = static_cast<uint16_t>(local.tm_mday);
    info.m_hour = static_cast<uint16_t>(local.tm_hour);
    info.m_minute = static_cast<uint16_t>(local.tm_min);
    info.m_second = static_cast<uint16_t>(local.tm_sec);
#endif
    const int64_t unixLocal =
        UnixFromCivil(info.m_year, info.m_month, info.m_day, info.m_hour, info.m_minute, info.m_second);
    info.m_lastWriteUnix = unixLocal;
    info.m_lastAccessUnix = unixLocal;
    info.m_creationUnix = unixLocal;
}
