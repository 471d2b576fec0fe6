// The program runner of the "Extended Data" items. The calling thread waits for the program with its
// time limit while a reader thread drains the pipe; at the limit the job object (or, where it could not
// be assigned, the program alone) is ended and what had been printed is kept.
#include "core/jobs/ExtendedEvidenceProgram.h"

#include "common/log/GuardedOperation.h"
#include "common/win/UniqueHandles.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr DWORD KVXEXTENDED_PIPE_BUFFER = 65536;
// After the program is gone its pipe closes at once, unless something outside the job still holds it
// (possible only without the job): the reader's read is then cancelled at this pace.
constexpr DWORD KVXEXTENDED_DRAIN_MS = 2000;

// Without a handle list (Windows before Vista has none, and a failing attribute call leaves none) every
// inheritable handle goes to the child: serialising the creations keeps one run's pipe out of another's
// child.
std::mutex& CreationLock()
{
    static std::mutex* s_pLock = new std::mutex();
    return *s_pLock;
}

// The attribute list's storage and its one obligation, deletion, in one owner.
class CAttributeList {
public:
    explicit CAttributeList(HANDLE* pInherited)
    {
        SIZE_T cbSize = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &cbSize);
        if (cbSize == 0) {
            return;
        }
        m_storage.resize(cbSize);
        auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_storage.data());
        if (!::InitializeProcThreadAttributeList(list, 1, 0, &cbSize)) {
            return;
        }
        m_bInitialised = true;
        if (::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, pInherited, sizeof(HANDLE), nullptr,
                                        nullptr)) {
            m_pList = list;
        }
    }
    ~CAttributeList()
    {
        if (m_bInitialised) {
            ::DeleteProcThreadAttributeList(reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_storage.data()));
        }
    }
    CAttributeList(const CAttributeList&) = delete;
    CAttributeList& operator=(const CAttributeList&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return m_pList; }

private:
    std::vector<unsigned char> m_storage;
    bool m_bInitialised = false;
    LPPROC_THREAD_ATTRIBUTE_LIST m_pList = nullptr;
};

struct SPipeReading {
    kvx::UniqueHandle hRead;
    size_t cbKeep = 0;
    std::mutex lock;
    std::string strOutput;
};

// Zero bytes are dropped: a program writing UTF-16 would otherwise cut the text handed on.
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

DWORD WINAPI ReadPipe(LPVOID pParameter)
{
    std::unique_ptr<std::shared_ptr<SPipeReading>> reference(static_cast<std::shared_ptr<SPipeReading>*>(pParameter));
    return kvx::GuardedCall("CExtendedEvidenceProgram::ReadPipe", kvx::KVX_EXCEPTION_TEXT, DWORD(0), [&]() -> DWORD {
        SPipeReading& reading = **reference;
        std::vector<char> piece(KVXEXTENDED_PIPE_BUFFER);
        for (;;) {
            DWORD dwRead = 0;
            if (!::ReadFile(reading.hRead.get(), piece.data(), static_cast<DWORD>(piece.size()), &dwRead, nullptr)) {
                return 0; // broken pipe (the program and its children are gone) or a cancelled read
            }
            std::lock_guard<std::mutex> guard(reading.lock);
            AppendPiece(reading.strOutput, piece.data(), dwRead, reading.cbKeep);
        }
    });
}

std::string SystemDirectory()
{
    std::vector<char> buffer(MAX_PATH + 1);
    UINT length = ::GetSystemDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = ::GetSystemDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
    }
    return length > 0 && length < buffer.size() ? std::string(buffer.data(), length) : std::string();
}

} // namespace

void CExtendedEvidenceProgram::BuildStart(const std::string& strProgram, const std::string& strArguments,
                                          std::string& strApplication, std::string& strCommandLine)
{
    strApplication = strProgram;
    if (strApplication.size() >= 2 && strApplication.front() == '"' && strApplication.back() == '"') {
        strApplication = strApplication.substr(1, strApplication.size() - 2);
    }
    strCommandLine = '"' + strApplication + '"';
    if (!strArguments.empty()) {
        strCommandLine += ' ' + strArguments;
    }
}

SExtendedProgramResult CExtendedEvidenceProgram::Run(const std::string& strProgram, const std::string& strArguments,
                                                     DWORD dwTimeoutMs, size_t cbKeep,
                                                     const std::string& strWorkingDirectory)
{
    KVX_FUNCTION("CExtendedEvidenceProgram::Run");
    SExtendedProgramResult result;
    auto reading = std::make_shared<SPipeReading>();
    reading->cbKeep = cbKeep == std::string::npos ? cbKeep : cbKeep + 1;

    kvx::UniqueHandle writeEnd;
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    if (!::CreatePipe(reading->hRead.put(), writeEnd.put(), &inheritable, KVXEXTENDED_PIPE_BUFFER)) {
        result.dwStartError = ::GetLastError();
        return result;
    }
    ::SetHandleInformation(reading->hRead.get(), HANDLE_FLAG_INHERIT, 0);

    std::string application;
    std::string commandLine;
    BuildStart(strProgram, strArguments, application, commandLine);
    std::vector<char> commandBuffer(commandLine.begin(), commandLine.end()); // CreateProcessA may write to it
    commandBuffer.push_back('\0');
    const std::string directory = strWorkingDirectory.empty() ? SystemDirectory() : strWorkingDirectory;

    kvx::UniqueHandle job(::CreateJobObjectA(nullptr, nullptr));
    if (job) {
        // Closing the last handle ends whatever is left, also when this thread is torn down.
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        ::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }

    PROCESS_INFORMATION process = {};
    {
        HANDLE inherited = writeEnd.get();
        CAttributeList attributes(&inherited);
        std::unique_lock<std::mutex> creation(CreationLock(), std::defer_lock);
        if (attributes.get() == nullptr) {
            creation.lock();
        }
        STARTUPINFOEXA startup = {};
        startup.StartupInfo.cb = attributes.get() != nullptr ? sizeof startup : sizeof startup.StartupInfo;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
        startup.StartupInfo.hStdOutput = writeEnd.get();
        startup.StartupInfo.hStdError = writeEnd.get();
        startup.StartupInfo.wShowWindow = SW_HIDE;
        startup.lpAttributeList = attributes.get();
        const DWORD flags = CREATE_NEW_CONSOLE | CREATE_SUSPENDED |
                            (attributes.get() != nullptr ? EXTENDED_STARTUPINFO_PRESENT : 0);
        if (!::CreateProcessA(application.c_str(), commandBuffer.data(), nullptr, nullptr, TRUE, flags, nullptr,
                              directory.empty() ? nullptr : directory.c_str(), &startup.StartupInfo, &process)) {
            result.dwStartError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo crear el proceso %s 0x%08lx", commandLine.c_str(),
                    result.dwStartError);
            return result;
        }
    }
    kvx::UniqueHandle hProcess(process.hProcess);
    kvx::UniqueHandle hThread(process.hThread);
    writeEnd.reset(); // only the child holds a write end now, so the reads end with it
    KVX_LOG(eKVXDiagLog_INFO, "Creando proceso %s ...", commandLine.c_str());
    result.bInJob = job && ::AssignProcessToJobObject(job.get(), hProcess.get());
    if (!result.bInJob) {
        KVX_LOG(eKVXDiagLog_SYSTEM, "No se pudo asignar el proceso al objeto job 0x%08lx; se terminará solo el proceso.",
                ::GetLastError());
    }

    auto threadReference = std::make_unique<std::shared_ptr<SPipeReading>>(reading);
    kvx::UniqueHandle reader(::CreateThread(nullptr, 0, &ReadPipe, threadReference.get(), 0, nullptr));
    if (!reader) {
        result.dwStartError = ::GetLastError();
        ::TerminateProcess(hProcess.get(), ERROR_CANCELLED);
        ::ResumeThread(hThread.get());
        return result;
    }
    threadReference.release();
    ::ResumeThread(hThread.get());

    const ULONGLONG started = ::GetTickCount64();
    if (::WaitForSingleObject(hProcess.get(), dwTimeoutMs) != WAIT_OBJECT_0) {
        result.bStopped = true;
        KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "ERROR: El proceso lanzado no responde, se procede a matarlo!!");
        if (result.bInJob) {
            ::TerminateJobObject(job.get(), ERROR_TIMEOUT);
        } else {
            ::TerminateProcess(hProcess.get(), ERROR_TIMEOUT);
        }
        ::WaitForSingleObject(hProcess.get(), KVXEXTENDED_DRAIN_MS);
    }
    // The program has ended; a child of its own may still hold the pipe until the time is up.
    const ULONGLONG spent = ::GetTickCount64() - started;
    const DWORD dwLeft = result.bStopped || spent >= dwTimeoutMs ? 0 : static_cast<DWORD>(dwTimeoutMs - spent);
    if (::WaitForSingleObject(reader.get(), dwLeft) != WAIT_OBJECT_0) {
        if (job) {
            ::TerminateJobObject(job.get(), ERROR_TIMEOUT);
        }
        while (::WaitForSingleObject(reader.get(), KVXEXTENDED_DRAIN_MS) != WAIT_OBJECT_0) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "ERROR: El hilo lector no termina; se cancela su lectura.");
            ::CancelSynchronousIo(reader.get());
        }
    }
    ::GetExitCodeProcess(hProcess.get(), &result.dwExitCode);
    std::lock_guard<std::mutex> guard(reading->lock);
    result.strOutput = std::move(reading->strOutput);
    return result;
}
