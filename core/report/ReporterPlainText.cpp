#include "core/report/ReporterPlainText.h"

#include "common/win/UniqueHandles.h"
#include "core/interface/KVXDiagTypes.h"
#include "core/report/ReporterFactory.h"

#include <cstdio>
#include <new>

const DWORD CReporterPlainText::s_dwFactoryRegistration = CReporterPlainText::PerformFactoryRegistration();

namespace {

// The line prefix is built in a buffer of this size; the time stamp and the most tabs fit.
constexpr size_t KVXREPORT_PREFIX_BUFFER_SIZE = 1024;
static_assert(KVXREPORT_MAX_TABS + 32 < KVXREPORT_PREFIX_BUFFER_SIZE, "the longest prefix fits its buffer");

} // namespace

IReporter* CReporterPlainText::AutoCreation()
{
    KVX_FUNCTION("CReporterPlainText::AutoCreation");
    try {
        CReporterPlainText* pReporter = new (std::nothrow) CReporterPlainText();
        if (pReporter == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! No se pudo crear el objeto, fallo en la reserva de memoria.");
        }
        return pReporter;
    } catch (...) {
        KVX_LOG(eKVXDiagLog_EXCEPTION, "%s", "Excepción no controlada!!");
        return nullptr;
    }
}

DWORD CReporterPlainText::PerformFactoryRegistration()
{
    KVX_FUNCTION("CReporterPlainText::PerformFactoryRegistration");
    const DWORD dwResult = CReporterFactory::Subscribe(KVXDIAG2_REPORTERID_PLAINTEXT, &CReporterPlainText::AutoCreation);
    KVX_LOG(eKVXDiagLog_INFO, "Resultado de la subscripción en la factoría de reporters con ID 0x%lX: 0x%lX",
            static_cast<unsigned long>(KVXDIAG2_REPORTERID_PLAINTEXT), static_cast<unsigned long>(dwResult));
    return dwResult;
}

CReporterPlainText::CReporterPlainText()
{
    KVX_FUNCTION("CReporterPlainText::CReporterPlainText");
    ::InitializeCriticalSection(&m_cs);
    m_pFormatBuffer.reset(new (std::nothrow) char[KVXREPORT_FORMAT_BUFFER_SIZE]());
    if (!m_pFormatBuffer) {
        KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "Error, failed to allocate internal format buffer.");
    }
}

CReporterPlainText::~CReporterPlainText() { ::DeleteCriticalSection(&m_cs); }

void CReporterPlainText::SetOutputFile(const std::string& strPath)
{
    KVX_FUNCTION("CReporterPlainText::SetOutputFile");
    try {
        kvx::CCriticalSectionLock lock(m_cs);
        m_strOutputFile = strPath;
    } catch (...) {
        KVX_LOG(eKVXDiagLog_EXCEPTION, "%s", "Excepción no controlada!!");
    }
}

size_t CReporterPlainText::GetDepth() const
{
    kvx::CCriticalSectionLock lock(m_cs);
    return m_sections.size();
}

void CReporterPlainText::BeginSection(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    BeginSectionV(pszFormat, args);
    va_end(args);
}

void CReporterPlainText::EndSection(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    EndSectionV(pszFormat, args);
    va_end(args);
}

void CReporterPlainText::Report(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    ReportV(pszFormat, args);
    va_end(args);
}

bool CReporterPlainText::Format(const char* pszFunction, const char* pszFormat, va_list args, std::string& text)
{
    if (!m_pFormatBuffer) {
        CKVXDiagObject::WriteLog(eKVXDiagLog_SYSTEM, KVXDIAG_LOG_MODULE, pszFunction, "%s",
                                 "Error, internal format buffer is NULL.");
        return false;
    }
    if (pszFormat == nullptr) {
        return false;
    }
    // The buffer's size bounds the text: a longer one is cut to the buffer's size minus the terminator.
    const int written = vsnprintf(m_pFormatBuffer.get(), KVXREPORT_FORMAT_BUFFER_SIZE, pszFormat, args);
    if (written < 0) {
        CKVXDiagObject::WriteLog(eKVXDiagLog_SYSTEM, KVXDIAG_LOG_MODULE, pszFunction, "%s",
                                 "Error, el formato del texto no es válido.");
        return false;
    }
    text.assign(m_pFormatBuffer.get());
    return true;
}

std::string CReporterPlainText::MakeLinePrefix(size_t depth)
{
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    char prefix[KVXREPORT_PREFIX_BUFFER_SIZE];
    int length = snprintf(prefix, sizeof prefix, "%02d-%02d-%04d %02d:%02d:%02d\t", now.wDay, now.wMonth, now.wYear,
                          now.wHour, now.wMinute, now.wSecond);
    if (length < 0) {
        length = 0;
    }
    std::string result(prefix, static_cast<size_t>(length));
    result.append(depth < KVXREPORT_MAX_TABS ? depth : KVXREPORT_MAX_TABS, '\t');
    return result;
}

void CReporterPlainText::BeginSectionV(const char* pszFormat, va_list args)
{
    KVX_FUNCTION("CReporterPlainText::BeginSection");
    try {
        kvx::CCriticalSectionLock lock(m_cs);
        std::string title;
        if (!Format(kvxFunctionName_, pszFormat, args, title)) {
            return;
        }
        // The title line is indented like the lines around the section, not like its content.
        AddStringToReportFile(MakeLinePrefix(m_sections.size()) + "-> " + title + "\n");
        m_sections.push_back(std::move(title));
    } catch (...) {
        KVX_LOG(eKVXDiagLog_EXCEPTION, "%s", "Excepción no controlada!!");
    }
}

void CReporterPlainText::EndSection()
{
    KVX_FUNCTION("CReporterPlainText::EndSection");
    try {
        kvx::CCriticalSectionLock lock(m_cs);
        if (m_sections.empty()) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "Error, unbalanced section found.");
            return;
        }
        const std::string title = std::move(m_sections.back());
        m_sections.pop_back();
        AddStringToReportFile(MakeLinePrefix(m_sections.size()) + "<- " + title + "\n");
    } catch (...) {
        KVX_LOG(eKVXDiagLog_EXCEPTION, "%s", "Excepción no controlada!!");
    }
}

void CReporterPlainText::EndSectionV(const char* pszFormat, va_list args)
{
    KVX_FUNCTION("CReporterPlainText::EndSection");
    try {
        kvx::CCriticalSectionLock lock(m_cs);
        if (m_sections.empty()) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "Error, unbalanced section found.");
            return;
        }
        m_sections.pop_back();
        std::string text;
        if (!Format(kvxFunctionName_, pszFormat, args, text)) {
            return;
        }
        AddStringToReportFile(MakeLinePrefix(m_sections.size()) + "<- " + text + "\n");
    } catch (...) {
        KVX_LOG(eKVXDiagLog_EXCEPTION, "%s", "Excepción no controlada!!");
    }
}

void CReporterPlainText::ReportV(const char* pszFormat, va_list args)
{
    KVX_FUNCTION("CReporterPlainText::Report");
    try {
        kvx::CCriticalSectionLock lock(m_cs);
        std::string text;
        if (!Format(kvxFunctionName_, pszFormat, args, text)) {
            return;
        }
        // One prefix for the whole call; runs of CR and LF separate lines, and empty lines vanish.
        const std::string prefix = MakeLinePrefix(m_sections.size());
        std::string lines;
        size_t pos = 0;
        while (pos < text.size()) {
            const size_t start = text.find_first_not_of("\r\n", pos);
            if (start == std::string::npos) {
                break;
            }
            size_t end = text.find_first_of("\r\n", start);
            if (end == std::string::npos) {
                end = text.size();
            }
            lines += prefix;
            lines.append(text, start, end - start);
            lines += '\n';
            pos = end;
        }
        if (lines.empty()) {
            return;
        }
        // All lines of the call in one append: the file ends up as if written line by line.
        AddStringToReportFile(lines);
    } catch (...) {
        KVX_LOG(eKVXDiagLog_EXCEPTION, "%s", "Excepción no controlada!!");
    }
}

void CReporterPlainText::AddStringToReportFile(const std::string& text)
{
    KVX_FUNCTION("CReporterPlainText::AddStringToReportFile");
    if (m_strOutputFile.empty()) {
        KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "Error. Output file name not set or empty.");
        return;
    }
    kvx::UniqueFileHandle file(::CreateFileA(m_strOutputFile.c_str(), GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        KVX_LOG(eKVXDiagLog_SYSTEM, "Error. Cannot open output file, error code 0x%08lx.", ::GetLastError());
        return;
    }
    // Every write appends: an existing report is never truncated.
    LONG high = 0;
    ::SetFilePointer(file.get(), 0, &high, FILE_END);
    if (text.empty()) {
        return;
    }
    const DWORD dwToWrite = static_cast<DWORD>(text.size());
    DWORD dwWritten = 0;
    if (!::WriteFile(file.get(), text.data(), dwToWrite, &dwWritten, nullptr) || dwWritten != dwToWrite) {
        KVX_LOG(eKVXDiagLog_SYSTEM, "Error. Write to file failed, error code 0x%08lx, bytes written %d of %d.",
                ::GetLastError(), static_cast<int>(dwWritten), static_cast<int>(dwToWrite));
    }
}
