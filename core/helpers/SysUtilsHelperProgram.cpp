// Running a console program with its standard output captured: the calling thread waits with a time
// limit while a reader thread starts the program, drains its pipe and collects the exit code.
#include "core/helpers/SysUtilsHelper.h"

#include "common/log/GuardedOperation.h"
#include "common/win/UniqueHandles.h"
#include "core/interface/KVXDiagTypes.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

// Pipe buffer and read size. A pipe of a hundred bytes makes the program stop after every line and
// costs two thread switches per hundred bytes: 20 MB of output then took 40-50 s under Wine, close to
// the 60-s limit after which the program is killed and its output lost. 64 KB pieces take 1.5 s.
constexpr DWORD KVX_PIPE_BUFFER_SIZE = 65536;
constexpr DWORD KVX_READ_PIECE_SIZE = 65536;

// After a time-out the killed program's pipe normally closes at once; this bounds the wait for the
// reader in case a grandchild that inherited the pipe keeps it open.
constexpr DWORD KVX_READER_DRAIN_MS = 5000;

// Serialises the window in which an inheritable write end exists, so that a program started by a
// concurrent run cannot inherit (and keep open) another run's pipe.
std::mutex& ProcessCreationLock()
{
    static std::mutex* s_pLock = new std::mutex();
    return *s_pLock;
}

std::string BuildCommandLine(const std::string& program, const std::string& arguments)
{
    // Always quoted: without quotes, a program path with spaces ("C:\Program Files\...") would be
    // split by CreateProcessA at the first space, and the first part looked for as a program.
    std::string commandLine = program;
    if (program.empty() || program.front() != '"') {
        commandLine = '"' + program + '"';
    }
    commandLine += ' ';
    commandLine += arguments;
    return commandLine;
}

// The program to start when it is named by a full path, else null: CreateProcessA then searches the
// program's and the current directory and PATH for the first token, which a full path never needs.
const char* FullProgramPath(const std::string& program)
{
    const bool bDrive = program.size() > 2 && program[1] == ':' && program[2] == '\\';
    const bool bUnc = program.size() > 2 && program[0] == '\\' && program[1] == '\\';
    return bDrive || bUnc ? program.c_str() : nullptr;
}

// Appends one piece of output. Zero bytes are dropped, not treated as the end of the piece: a program
// that writes UTF-16 to the pipe would otherwise keep one character per piece, and a NUL in the text
// handed to the report would cut everything after it.
void AppendPiece(std::string& output, const char* piece, DWORD length, size_t cbKeep)
{
    if (output.size() >= cbKeep) {
        return;
    }
    length = static_cast<DWORD>(std::min<size_t>(length, cbKeep - output.size()));
    if (std::memchr(piece, 0, length) == nullptr) {
        output.append(piece, length);
        return;
    }
    for (DWORD i = 0; i < length; ++i) {
        if (piece[i] != '\0') {
            output += piece[i];
        }
    }
}

} // namespace

// Shared by the caller and the reader thread; each holds a reference, so the record outlives whichever
// of the two gives up first.
struct CSysUtilsHelper::SProgramRun {
    std::string strProgram;
    std::string strArguments;
    size_t cbKeep = std::string::npos; // output bytes kept; the rest is drained and dropped
    kvx::UniqueHandle hDoneEvent; // this run's own end-of-reading signal

    std::mutex lock;              // guards the fields below
    kvx::UniqueHandle hProcess;   // the started program; closed with the record
    bool bAbandoned = false;      // the caller timed out: a program started now is killed at once
    std::string strOutput;
    DWORD dwExitCode = 0;
    DWORD dwResult = 0;           // the reader's own result (start failure, exception)
};

DWORD CSysUtilsHelper::ExecuteProgramAndGetOutput(const std::string& strProgram, const std::string& strArguments,
                                                  std::string& strOutput, DWORD& dwExitCode, DWORD dwTimeoutMs,
                                                  size_t cbMaxOutput)
{
    KVX_FUNCTION("CSysUtilsHelper::ExecuteProgramAndGetOutput");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        dwExitCode = 0;
        strOutput.clear();
        auto run = std::make_shared<SProgramRun>();
        run->strProgram = strProgram;
        run->strArguments = strArguments;
        run->cbKeep = cbMaxOutput == std::string::npos ? cbMaxOutput : cbMaxOutput + 1;

        // An unnamed event per run: a shared name would let one run's end release another run's wait.
        run->hDoneEvent.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
        if (!run->hDoneEvent) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "Error! No se pudo crear el evento de fin de hilo 0x%08lx", ::GetLastError());
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        auto threadReference = std::make_unique<std::shared_ptr<SProgramRun>>(run);
        kvx::UniqueHandle thread(
            ::CreateThread(nullptr, 0, &CSysUtilsHelper::ThreadExecuteProgram, threadReference.get(), 0, nullptr));
        if (!thread) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "Error! No se pudo crear el hilo lector 0x%08lx", ::GetLastError());
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        threadReference.release(); // the thread owns it now

        const DWORD dwWait = ::WaitForSingleObject(run->hDoneEvent.get(), dwTimeoutMs);
        if (dwWait == WAIT_OBJECT_0) {
            // The reader has set the event as its last step; its exit follows at once. It is waited
            // for without a limit: no reader may still run once the job, and then the library, ends.
            ::WaitForSingleObject(thread.get(), INFINITE);
            std::lock_guard<std::mutex> guard(run->lock);
            strOutput = std::move(run->strOutput);
            dwExitCode = run->dwExitCode;
            return run->dwResult;
        }

        // Time-out: kill the program, which closes its end of the pipe and so ends the reader's read.
        // A timed-out run always answers non-zero: 259 (STILL_ACTIVE) for a program that was still
        // running, ERROR_TIMEOUT when there was none to kill.
        DWORD dwResult = ERROR_TIMEOUT;
        {
            std::lock_guard<std::mutex> guard(run->lock);
            run->bAbandoned = true;
            if (run->hProcess) {
                KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "ERROR: El proceso lanzado no responde, se procede a matarlo!!");
                DWORD dwCode = 0;
                ::GetExitCodeProcess(run->hProcess.get(), &dwCode);
                ::TerminateProcess(run->hProcess.get(), dwCode);
                if (dwCode == STILL_ACTIVE) {
                    dwResult = dwCode;
                }
            }
        }
        // The reader is waited for, never terminated: TerminateThread could leave the heap or the
        // loader lock held by a thread that no longer exists.
        // Still blocked in ReadFile: a grandchild holds the pipe open. The read is cancelled until
        // the reader gives up; abandoning it would leave a thread of the library running after its end.
        while (::WaitForSingleObject(thread.get(), KVX_READER_DRAIN_MS) != WAIT_OBJECT_0) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "ERROR: El hilo lector no termina; se cancela su lectura.");
            ::CancelSynchronousIo(thread.get());
        }
        return dwResult;
    });
}

DWORD WINAPI CSysUtilsHelper::ThreadExecuteProgram(LPVOID pRecord)
{
    KVX_FUNCTION("CSysUtilsHelper::ThreadExecuteProgram");
    std::unique_ptr<std::shared_ptr<SProgramRun>> reference(static_cast<std::shared_ptr<SProgramRun>*>(pRecord));
    if (!reference || !*reference) {
        return KVXDIAG2_ERR_BAD_PARAMETER;
    }
    SProgramRun& run = **reference;
    DWORD dwResult = KVXDIAG2_ERR_EXCEPTION;
    try {
        dwResult = CaptureProgramOutput(run);
    } catch (...) {
        KVX_LOG(eKVXDiagLog_EXCEPTION, "Excepción no controlada!! LastError: %lu", ::GetLastError());
    }
    {
        std::lock_guard<std::mutex> guard(run.lock);
        run.dwResult = dwResult;
    }
    if (!::SetEvent(run.hDoneEvent.get())) {
        KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "Error al señalar el evento de fin de hilo");
    }
    return dwResult;
}

DWORD CSysUtilsHelper::CaptureProgramOutput(SProgramRun& run)
{
    KVX_FUNCTION("CSysUtilsHelper::CaptureProgramOutput");
    kvx::UniqueHandle readEnd;
    kvx::UniqueHandle writeEnd;
    if (!::CreatePipe(readEnd.put(), writeEnd.put(), nullptr, KVX_PIPE_BUFFER_SIZE)) {
        const DWORD dwError = ::GetLastError();
        KVX_LOG(eKVXDiagLog_SYSTEM, "Error! No se pudo crear la tubería 0x%08lx", dwError);
        return dwError;
    }
    const std::string commandLine = BuildCommandLine(run.strProgram, run.strArguments);
    std::vector<char> commandBuffer(commandLine.begin(), commandLine.end()); // CreateProcessA may write to it
    commandBuffer.push_back('\0');

    PROCESS_INFORMATION processInfo = {};
    BOOL bStarted = FALSE;
    DWORD dwStartError = ERROR_SUCCESS;
    {
        std::lock_guard<std::mutex> creationGuard(ProcessCreationLock());
        kvx::UniqueHandle inheritableWrite;
        if (!::DuplicateHandle(::GetCurrentProcess(), writeEnd.get(), ::GetCurrentProcess(), inheritableWrite.put(), 0,
                               TRUE, DUPLICATE_SAME_ACCESS)) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_SYSTEM, "Error! No se pudo duplicar la tubería 0x%08lx", dwError);
            return dwError;
        }
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
        startup.hStdOutput = inheritableWrite.get();
        startup.wShowWindow = SW_HIDE;
        bStarted = ::CreateProcessA(FullProgramPath(run.strProgram), commandBuffer.data(), nullptr, nullptr, TRUE,
                                    CREATE_NEW_CONSOLE, nullptr, nullptr, &startup, &processInfo);
        dwStartError = bStarted ? ERROR_SUCCESS : ::GetLastError();
    }
    // Only the child may hold a write end now, so the reads below end when the child closes it.
    writeEnd.reset();
    if (!bStarted) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo crear el proceso %s 0x%08lx", commandLine.c_str(), dwStartError);
        return dwStartError;
    }
    KVX_LOG(eKVXDiagLog_INFO, "Creando proceso %s ...", commandLine.c_str());
    kvx::UniqueHandle childThread(processInfo.hThread);
    HANDLE hProcess = processInfo.hProcess;
    {
        std::lock_guard<std::mutex> guard(run.lock);
        run.hProcess.reset(hProcess);
        if (run.bAbandoned) {
            ::TerminateProcess(hProcess, STILL_ACTIVE);
        }
    }

    std::string output;
    std::vector<char> piece(KVX_READ_PIECE_SIZE);
    for (;;) {
        DWORD dwRead = 0;
        if (!::ReadFile(readEnd.get(), piece.data(), static_cast<DWORD>(piece.size()), &dwRead, nullptr)) {
            break; // broken pipe: the program has closed its output
        }
        AppendPiece(output, piece.data(), dwRead, run.cbKeep);
    }
    ::WaitForSingleObject(hProcess, INFINITE);
    DWORD dwExitCode = 0;
    ::GetExitCodeProcess(hProcess, &dwExitCode);

    std::lock_guard<std::mutex> guard(run.lock);
    run.strOutput = std::move(output);
    run.dwExitCode = dwExitCode;
    return KVXDIAG2_OK;
}
