#include "simulator/kvxapi/SimJournal.h"

#include "common/win/UniqueHandles.h"
#include "simulator/kvxapi/SimKeys.h"
#include "simulator/kvxapi/SimState.h"

#include <cstdarg>
#include <cstdio>

#ifndef KVXSIM_MAJOR
#error "KVXSIM_MAJOR and KVXSIM_MINOR name the SDK version this double is built as"
#endif

namespace kvxsim {

namespace {

std::string Format(const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));

std::string Format(const char* format, ...)
{
    char buffer[640];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return buffer;
}

void Append(const std::string& text)
{
    // Several processes (a test and the program it drives) may share one journal.
    kvx::UniqueHandle mutex(::CreateMutexA(nullptr, FALSE, "Global\\KVXSimulatorJournal"));
    bool locked = mutex && ::WaitForSingleObject(mutex.get(), 5000) != WAIT_TIMEOUT;
    std::string path = JournalPath();
    kvx::UniqueFileHandle file(::CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        DWORD written = 0;
        ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    if (locked) {
        ::ReleaseMutex(mutex.get());
    }
}

bool NativeProbeVisible()
{
    char directory[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryA(directory, sizeof directory);
    if (length == 0 || length >= sizeof directory) {
        return false;
    }
    const std::string probe = std::string(directory) + "\\Drivers\\" + KVXSIM_NATIVE_PROBE;
    return ::GetFileAttributesA(probe.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

CJournalEntry::CJournalEntry(const char* function, const char* exportName)
{
    m_text = Format("CALL func=%s export=%s sdk=%d.%d pid=%lu tid=%lu\r\n", function, exportName, KVXSIM_MAJOR,
                    KVXSIM_MINOR, static_cast<unsigned long>(::GetCurrentProcessId()),
                    static_cast<unsigned long>(::GetCurrentThreadId()));
    if (NativeProbeVisible()) {
        Note(KVXSIM_NOTE_REDIRECTION_OFF);
    }
}

CJournalEntry::~CJournalEntry()
{
    try {
        m_text += Format("RET result=%lu error=0x%08lX\r\nEND\r\n", static_cast<unsigned long>(m_result),
                         static_cast<unsigned long>(m_error));
        Append(m_text);
    } catch (...) {
        // A journal that cannot be written must not take the caller down with it.
    }
}

void CJournalEntry::Arg(const char* name, DWORD value)
{
    m_text += Format("ARG %s=0x%08lX\r\n", name, static_cast<unsigned long>(value));
}

void CJournalEntry::Arg(const char* name, const std::string& value)
{
    m_text += "ARG ";
    m_text += name;
    m_text += "=\"" + value + "\"\r\n";
}

void CJournalEntry::Record(const SRecordDesc& desc, const void* record, const char* direction)
{
    const BYTE* bytes = static_cast<const BYTE*>(record);
    m_text += Format("REC name=%s size=%lu dir=%s\r\n", desc.name, static_cast<unsigned long>(desc.size), direction);
    for (size_t i = 0; i < desc.fieldCount; ++i) {
        const SFieldDesc& field = desc.fields[i];
        if (field.kind == EFieldKind::U32) {
            m_text += Format("FLD +%lu u32 %s=0x%08lX\r\n", static_cast<unsigned long>(field.offset), field.name,
                             static_cast<unsigned long>(ReadU32(bytes, field.offset)));
        } else {
            m_text += Format("FLD +%lu char[%lu] %s=\"", static_cast<unsigned long>(field.offset),
                             static_cast<unsigned long>(field.width), field.name);
            m_text += ReadText(bytes, field.offset, field.width) + "\"\r\n";
        }
    }
    Hex(bytes, desc.size);
}

void CJournalEntry::RawRecord(const char* name, const void* record, DWORD size, const char* direction)
{
    m_text += Format("REC name=%s size=%lu dir=%s\r\n", name, static_cast<unsigned long>(size), direction);
    Hex(static_cast<const BYTE*>(record), size);
}

void CJournalEntry::Note(const std::string& text) { m_text += "NOTE " + text + "\r\n"; }

DWORD CJournalEntry::Result(DWORD result, DWORD error)
{
    m_result = result;
    m_error = error;
    return result;
}

void CJournalEntry::Hex(const BYTE* bytes, DWORD size)
{
    for (DWORD line = 0; line < size; line += 16) {
        std::string text = Format("HEX +%04lX", static_cast<unsigned long>(line));
        for (DWORD i = line; i < line + 16 && i < size; ++i) {
            text += Format(" %02X", bytes[i]);
        }
        m_text += text + "\r\n";
    }
}

} // namespace kvxsim
