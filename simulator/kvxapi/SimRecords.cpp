#include "simulator/kvxapi/SimRecords.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace kvxsim {

namespace {

constexpr SFieldDesc kImCapture3x[] = {
    {0, 4, EFieldKind::U32, "version"},
    {988, 4, EFieldKind::U32, "reserved"},
    {992, 4, EFieldKind::U32, "maxSize"},
    {996, 64, EFieldKind::TEXT, "baseName"},
};
constexpr SFieldDesc kImCapture40[] = {
    {0, 4, EFieldKind::U32, "version"},
    {1884, 4, EFieldKind::U32, "reserved"},
    {1888, 4, EFieldKind::U32, "maxSize"},
    {1892, 64, EFieldKind::TEXT, "baseName"},
};
constexpr SFieldDesc kTdiCapture[] = {
    {0, 4, EFieldKind::U32, "version"},
    {4, 4, EFieldKind::U32, "reserved"},
    {8, 4, EFieldKind::U32, "maxSize"},
    {12, 520, EFieldKind::TEXT, "fileName"},
};
constexpr SFieldDesc kCaptureStatus[] = {
    {0, 4, EFieldKind::U32, "version"},
    {4, 4, EFieldKind::U32, "status"},
    {8, 4, EFieldKind::U32, "reserved"},
};
constexpr SFieldDesc kLogOptions[] = {
    {0, 4, EFieldKind::U32, "version"},
    {4, 4, EFieldKind::U32, "module"},
    {8, 4, EFieldKind::U32, "enabled"},
    {12, 4, EFieldKind::U32, "reserved"},
    {16, 4, EFieldKind::U32, "output"},
    {20, 4, EFieldKind::U32, "level"},
    {24, 4, EFieldKind::U32, "maxSize"},
    {28, 4, EFieldKind::U32, "persistent"},
    {32, 520, EFieldKind::TEXT, "fileBaseName"},
};
constexpr SFieldDesc kLogStatus[] = {
    {0, 4, EFieldKind::U32, "version"},
    {4, 4, EFieldKind::U32, "module"},
    {8, 4, EFieldKind::U32, "enabled"},
    {12, 4, EFieldKind::U32, "persistent"},
    {16, 4, EFieldKind::U32, "level"},
};

template <size_t N>
constexpr SRecordDesc MakeDesc(const char* name, DWORD size, const SFieldDesc (&fields)[N])
{
    return SRecordDesc{name, size, fields, N};
}

} // namespace

const SRecordDesc g_recImCaptureOptions3x = MakeDesc("IMCaptureOptions", 1062, kImCapture3x);
const SRecordDesc g_recImCaptureOptions40 = MakeDesc("IMCaptureOptions", 1958, kImCapture40);
const SRecordDesc g_recTdiCaptureOptions = MakeDesc("TDICaptureOptions", 534, kTdiCapture);
const SRecordDesc g_recCaptureStatus = MakeDesc("CaptureStatus", 12, kCaptureStatus);
const SRecordDesc g_recLogOptions = MakeDesc("LogOptions", 554, kLogOptions);
const SRecordDesc g_recLogStatus = MakeDesc("LogStatus", 20, kLogStatus);

std::string ReadText(const BYTE* record, DWORD offset, DWORD width)
{
    const char* begin = reinterpret_cast<const char*>(record + offset);
    size_t length = 0;
    while (length < width && begin[length] != '\0') {
        ++length;
    }
    return std::string(begin, length);
}

bool CheckUnusedBytesZero(const SRecordDesc& desc, const BYTE* record, std::string& message)
{
    std::vector<bool> used(desc.size, false);
    for (size_t i = 0; i < desc.fieldCount; ++i) {
        const SFieldDesc& field = desc.fields[i];
        for (DWORD b = 0; b < field.width && field.offset + b < desc.size; ++b) {
            used[field.offset + b] = true;
        }
        // Text past its terminator must be zero as well: the client zero-fills before copying.
        if (field.kind == EFieldKind::TEXT) {
            DWORD b = 0;
            while (b < field.width && record[field.offset + b] != 0) {
                ++b;
            }
            for (; b < field.width; ++b) {
                used[field.offset + b] = false;
            }
        }
    }
    for (DWORD offset = 0; offset < desc.size; ++offset) {
        if (!used[offset] && record[offset] != 0) {
            char text[96];
            snprintf(text, sizeof(text), "nonzero byte 0x%02X at unused offset +%lu", record[offset],
                     static_cast<unsigned long>(offset));
            message = text;
            return false;
        }
    }
    return true;
}

const SFieldDesc* FindField(const SRecordDesc& desc, const char* name)
{
    for (size_t i = 0; i < desc.fieldCount; ++i) {
        if (strcmp(desc.fields[i].name, name) == 0) {
            return &desc.fields[i];
        }
    }
    return nullptr;
}

} // namespace kvxsim
