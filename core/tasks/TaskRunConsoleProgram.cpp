#include "core/tasks/TaskRunConsoleProgram.h"

#include "core/report/IReporter.h"
#include "core/report/ReporterPlainText.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskRunConsoleProgram::s_dwFactoryRegistration = CTaskRunConsoleProgram::PerformFactoryRegistration();

namespace {

// Closes the program's section on every way out of Execute, so that an exception cannot leave the
// rest of the report indented one level too deep.
class CSectionCloser {
public:
    explicit CSectionCloser(IReporter* pReporter) : m_pReporter(pReporter) {}
    ~CSectionCloser()
    {
        if (m_pReporter != nullptr) {
            m_pReporter->EndSection();
        }
    }
    CSectionCloser(const CSectionCloser&) = delete;
    CSectionCloser& operator=(const CSectionCloser&) = delete;

private:
    IReporter* m_pReporter;
};

// The reporter cuts a text at its format buffer's size. The output goes in pieces that fit, each
// ending at a line break where there is one, so that a long output reaches the report whole. The
// output is passed as an argument ("%.*s"), never as the format, so a "%" in it stays as it is.
void ReportOutput(IReporter& reporter, const std::string& output)
{
    constexpr size_t maxPiece = KVXREPORT_FORMAT_BUFFER_SIZE - 1;
    size_t pos = 0;
    while (pos < output.size()) {
        size_t length = output.size() - pos;
        if (length > maxPiece) {
            const size_t lastBreak = output.find_last_of("\r\n", pos + maxPiece - 1);
            length = lastBreak != std::string::npos && lastBreak >= pos ? lastBreak - pos + 1 : maxPiece;
        }
        reporter.Report("%.*s", static_cast<int>(length), output.data() + pos);
        pos += length;
    }
}

} // namespace

DWORD CTaskRunConsoleProgram::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskRunConsoleProgram::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        return kvx::CTaskConfigReader(kvxFunctionName_).ReadTexts(params, {&m_strProgram, &m_strArguments, &m_strSection});
    });
}

DWORD CTaskRunConsoleProgram::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskRunConsoleProgram::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        m_bHasExitCode = false;
        if (SysUtilsMissing(kvxFunctionName_)) {
            return KVXDIAG2_ERR_NO_LIBRARY;
        }
        if (pReporter != nullptr) {
            const std::string title = m_strSection + " (" + m_strProgram + " " + m_strArguments + ")";
            pReporter->BeginSection("%s", title.c_str());
        }
        CSectionCloser closer(pReporter);

        std::string output;
        DWORD dwExitCode = 0;
        const DWORD dwResult = m_sysUtils->ExecuteProgramAndGetOutput(m_strProgram, m_strArguments, output, dwExitCode);
        if (dwResult != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo ejecutar el programa %s 0x%08lx", m_strProgram.c_str(),
                    dwResult);
            if (pReporter != nullptr) {
                pReporter->Report("Failed to execute program, error 0x%08lx", dwResult);
            }
            return dwResult;
        }
        if (pReporter != nullptr) {
            ReportOutput(*pReporter, output);
        }
        m_exitCode.SetData(dwExitCode);
        m_bHasExitCode = true;
        KVX_LOG(eKVXDiagLog_INFO, "El programa se ha ejecutado correctamente y ha devuelto el valor %d: ",
                static_cast<int>(dwExitCode));
        return KVXDIAG2_OK;
    });
}

DWORD CTaskRunConsoleProgram::GetResults(ITaskData** ppResult)
{
    KVX_FUNCTION("CTaskRunConsoleProgram::GetResults");
    return m_bHasExitCode ? HandOut(m_exitCode, ppResult) : NoResult(ppResult);
}
