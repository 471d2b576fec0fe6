// Diagnostic trace log: registry-configured, written to a file or to the debugger channel. Its own
// troubles only ever go to the debugger channel; callers never learn whether a line was written.
#include "common/log/KVXDiagObject.h"

#include "common/win/RegistryView.h"
#include "common/win/UniqueHandles.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr size_t KVXLOG_MESSAGE_SIZE = 1024;
constexpr size_t KVXLOG_SMALL_SIZE = 128;
constexpr size_t KVXLOG_PATH_SIZE = 521;
constexpr const char* KVXLOG_DEFAULT_PATH = "c:\\KVXDiagLog.dat";
constexpr DWORD KVXLOG_DEFAULT_LEVEL = 0x80000;
constexpr DWORD KVXLOG_DEFAULT_MAXSIZE_KB = 4096;
constexpr DWORD KVXLOG_DEVICE_FILE = 1;
constexpr DWORD KVXLOG_DEVICE_DEBUGGER = 2;
constexpr const char* KVXLOG_CONFIG_ROOT = "Software\\Orvex Software\\Orvex Network Manager\\KVXDiag2\\Log";

// The lock must exist before any thread can reach it and must never be re-created while held, so it
// lives for the whole process and is built on first use (thread-safe static initialisation).
CRITICAL_SECTION& LogLock()
{
    struct SLock {
        CRITICAL_SECTION cs;
        SLock() { ::InitializeCriticalSection(&cs); }
    };
    static SLock s_lock;
    return s_lock.cs;
}

struct SLogState {
    volatile LONG m_lInitialized = 0;
    DWORD moduleId = KVXDIAG_MODULE_CORE;
    bool configLoaded = false;
    bool enabled = false;
    HANDLE m_hLogFile = INVALID_HANDLE_VALUE;
    DWORD outputDevice = KVXLOG_DEVICE_FILE;
    DWORD levelThreshold = KVXLOG_DEFAULT_LEVEL;
    DWORD maxSizeKB = KVXLOG_DEFAULT_MAXSIZE_KB;
    char _aszFileFullPath[KVXLOG_PATH_SIZE] = {};
};

SLogState g_state;

void Debug(const char* text) { ::OutputDebugStringA(text); }

const char* ModuleName(DWORD moduleId, char* buffer, size_t size)
{
    if (moduleId == KVXDIAG_MODULE_CORE) {
        return "KVXDIAG_CORE";
    }
    if (moduleId == KVXDIAG_MODULE_GUI) {
        return "KVXDIAG_GUI";
    }
    snprintf(buffer, size, "0x%lX", static_cast<unsigned long>(moduleId));
    return buffer;
}

HANDLE OpenShared(const char* path, DWORD shareMode)
{
    return ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, shareMode, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

bool ReadDword(HKEY key, const char* name, DWORD& value)
{
    DWORD type = 0;
    DWORD size = sizeof(value);
    DWORD data = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS) {
        return false;
    }
    if (type != REG_DWORD || size != sizeof(DWORD)) {
        return false;
    }
    value = data;
    return true;
}

} // namespace

CKVXDiagObject::CKVXDiagObject() { Reset(); }

CKVXDiagObject::~CKVXDiagObject() = default;

void CKVXDiagObject::Reset()
{
    kvx::CCriticalSectionLock lock(LogLock());
    // A reset re-opens the file at the next write; closing the old handle here keeps resets from
    // piling up open handles over a long run.
    if (g_state.m_hLogFile != INVALID_HANDLE_VALUE) {
        ::CloseHandle(g_state.m_hLogFile);
        g_state.m_hLogFile = INVALID_HANDLE_VALUE;
    }
    g_state.configLoaded = false;
    g_state.enabled = false;
    g_state.moduleId = KVXDIAG_MODULE_CORE;
    ::InterlockedExchange(&g_state.m_lInitialized, 0);
}

void CKVXDiagObject::WriteLog(DWORD dwLevel, DWORD dwModuleId, const char* pszFunction, const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    WriteLogV(dwLevel, dwModuleId, pszFunction, pszFormat, args);
    va_end(args);
}

void CKVXDiagObject::WriteLogV(DWORD dwLevel, DWORD dwModuleId, const char* pszFunction, const char* pszFormat,
                               va_list args)
{
    try {
        if (pszFunction == nullptr) {
            Debug("CKVXDiagObject::WriteLog()-> Error: no hay nombre de funcion y modulo, salimos.");
            return;
        }
        bool bannerDue = false;
        if (g_state.m_lInitialized == 0) {
            Debug("CKVXDiagObject::WriteLog()-> m_lInitialized es cero");
            if (!Initialize(&bannerDue)) {
                Debug("CKVXDiagObject::WriteLog()-> Error en llamada a Initialize");
                return;
            }
        }
        if (!g_state.enabled) {
            Debug("CKVXDiagObject::WriteLog()-> Warning: Log no activado, salimos.");
            return;
        }
        if (dwLevel > g_state.levelThreshold) {
            Debug("CKVXDiagObject::WriteLog()-> Warning: nivel de log por debajo del umbral, salimos.");
            return;
        }

        std::unique_ptr<char[]> message(new (std::nothrow) char[KVXLOG_MESSAGE_SIZE]());
        std::unique_ptr<char[]> line(new (std::nothrow) char[KVXLOG_MESSAGE_SIZE]());
        std::unique_ptr<char[]> timeText(new (std::nothrow) char[KVXLOG_SMALL_SIZE]());
        std::unique_ptr<char[]> moduleText(new (std::nothrow) char[KVXLOG_SMALL_SIZE]());
        if (!message || !line || !timeText || !moduleText) {
            Debug("CKVXDiagObject::WriteLog()-> Error: No se han podido reservar todos los buffers....se libera lo "
                  "que sí se hayan reservado y salimos.");
            return;
        }

        SYSTEMTIME now;
        ::GetLocalTime(&now);
        snprintf(timeText.get(), KVXLOG_SMALL_SIZE, "%02d:%02d:%02d,%03d", now.wHour, now.wMinute, now.wSecond,
                 now.wMilliseconds);
        if (pszFormat != nullptr) {
            vsnprintf(message.get(), KVXLOG_MESSAGE_SIZE, pszFormat, args);
        }
        char moduleBuffer[KVXLOG_SMALL_SIZE] = {};
        snprintf(moduleText.get(), KVXLOG_SMALL_SIZE, "%s", ModuleName(dwModuleId, moduleBuffer, sizeof moduleBuffer));

        std::unique_ptr<char[]> pcInitMessage;
        if (bannerDue) {
            pcInitMessage.reset(new (std::nothrow) char[KVXLOG_MESSAGE_SIZE]());
            if (!pcInitMessage) {
                Debug("CKVXDiagObject::WriteLog()-> Error: pcInitMessage es NULL.");
                return;
            }
            char exePath[KVXLOG_PATH_SIZE] = {};
            ::GetModuleFileNameA(nullptr, exePath, KVXLOG_PATH_SIZE - 1);
            snprintf(pcInitMessage.get(), KVXLOG_MESSAGE_SIZE, "\n\t[%s]\t[PID=%d]\tInicia ejecución %s",
                     timeText.get(), static_cast<int>(::GetCurrentProcessId()), exePath);
        }
        const std::string stars(124, '*');
        const std::string bannerHead = "\n\n" + stars;
        const std::string bannerTail = "\n" + stars + "\n\n";

        if (g_state.outputDevice == KVXLOG_DEVICE_DEBUGGER) {
            snprintf(line.get(), KVXLOG_MESSAGE_SIZE, "\n[LogLevel=%lX][IdProc=%d][IdHilo=%lX][%s:%s][%s]",
                     static_cast<unsigned long>(dwLevel), static_cast<int>(::GetCurrentProcessId()),
                     static_cast<unsigned long>(::GetCurrentThreadId()), moduleText.get(), pszFunction, message.get());
            if (pcInitMessage) {
                Debug(bannerHead.c_str());
                Debug(pcInitMessage.get());
                Debug(bannerTail.c_str());
            }
            Debug("CKVXDiagObject::WriteLog()-> Escribiendo LOG a consola depuración....");
            Debug(line.get());
            return;
        }

        snprintf(line.get(), KVXLOG_MESSAGE_SIZE, "[LogLevel=%lX][%s][IdProc=%d][IdHilo=%lX][%s:%s][%s]",
                 static_cast<unsigned long>(dwLevel), timeText.get(), static_cast<int>(::GetCurrentProcessId()),
                 static_cast<unsigned long>(::GetCurrentThreadId()), moduleText.get(), pszFunction, message.get());
        kvx::CCriticalSectionLock lock(LogLock());
        if (pcInitMessage) {
            Debug("CKVXDiagObject::WriteLog()-> Escribiendo LOG en fichero...");
            OutputDebugStringToFile(bannerHead.c_str());
            OutputDebugStringToFile(pcInitMessage.get());
            OutputDebugStringToFile(bannerTail.c_str());
        }
        OutputDebugStringToFile(line.get());
    } catch (...) {
        Debug("\nKVXLog: Excepción no controlada en KVXWriteLog!!!");
    }
}

bool CKVXDiagObject::Initialize(bool* pbInitialisedNow)
{
    try {
        Debug("CKVXDiagObject::Initialize()-> Entry function.");
        // Serialised so that threads writing their first line together initialise once per reset and
        // only one of them writes the start banner.
        kvx::CCriticalSectionLock lock(LogLock());
        if (g_state.m_lInitialized != 0) {
            Debug("CKVXDiagObject::Initialize()-> m_lInitialized es mayor que 0. No hacemos nada, salimos");
            Debug("CKVXDiagObject::Initialize()-> Exit function.");
            return true;
        }
        Debug("CKVXDiagObject::Initialize()-> m_lInitialized es 0. Incrementamos a 1");
        if (!g_state.configLoaded) {
            Debug("CKVXDiagObject::Initialize()-> No hay configuración establecida...hay que obtenerla del almacén");
            if (!ReadConfig()) {
                Debug("CKVXDiagObject::Initialize()-> falla la obtención de la configuración...establecemos una por "
                      "defecto");
                SetDefaultConfig();
            }
            Debug("CKVXDiagObject::Initialize()-> Ya tenemos configuracion.");
            g_state.configLoaded = true;
        }
        if (g_state.enabled && g_state.outputDevice == KVXLOG_DEVICE_FILE) {
            Debug("CKVXDiagObject::Initialize()-> El log está activo y la salida es a fichero...hay que obtener un "
                  "handle al mismo.");
            OpenLogFile(g_state._aszFileFullPath);
        }
        // Published last: a thread that sees 1 without the lock also sees the configuration.
        ::InterlockedIncrement(&g_state.m_lInitialized);
        if (pbInitialisedNow != nullptr) {
            *pbInitialisedNow = true;
        }
        Debug("CKVXDiagObject::Initialize()-> Exit function.");
        return true;
    } catch (...) {
        Debug("KVXLog initialize operation raises and exception!");
        return false;
    }
}

bool CKVXDiagObject::OpenLogFile(const char* _aszFileFullPath)
{
    try {
        Debug("El path de fichero es:");
        if (_aszFileFullPath == nullptr) {
            Debug("CKVXDiagObject::OpenLogFile()-> _aszFileFullPath es NULL, salimos!!");
            return false;
        }
        Debug(_aszFileFullPath);
        OSVERSIONINFOA version = {};
        version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        ::GetVersionExA(&version);
#pragma GCC diagnostic pop
        kvx::CCriticalSectionLock lock(LogLock());
        DWORD shareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;
        if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
            Debug("CKVXDiagObject::OpenLogFile()-> Obteniendo handle de fichero m_hLogFile para NT...");
            shareMode |= FILE_SHARE_DELETE;
        } else {
            Debug("CKVXDiagObject::OpenLogFile()-> Obteniendo handle de fichero m_hLogFile para 9x...");
        }
        if (g_state.m_hLogFile != INVALID_HANDLE_VALUE) {
            ::CloseHandle(g_state.m_hLogFile);
        }
        g_state.m_hLogFile = OpenShared(_aszFileFullPath, shareMode);
        if (g_state.m_hLogFile == INVALID_HANDLE_VALUE) {
            char text[KVXLOG_SMALL_SIZE];
            snprintf(text, sizeof text, "Error: %lu obteniendo el handle de fichero de logs",
                     static_cast<unsigned long>(::GetLastError()));
            Debug(text);
            return false;
        }
        Debug("CKVXDiagObject::OpenLogFile()-> Handle de fichero de logs creado OK");
        return true;
    } catch (...) {
        Debug("\nKVXLog: Excepción no controlada en OpenLogFile!!!");
        return false;
    }
}

void CKVXDiagObject::OutputDebugStringToFile(const char* pszText)
{
    try {
        kvx::CCriticalSectionLock lock(LogLock());
        if (g_state.m_hLogFile == INVALID_HANDLE_VALUE) {
            Debug("CKVXDiagObject::OutputDebugStringToFile()-> Error: m_hLogFile es invalido.");
            g_state.m_hLogFile = OpenShared(g_state._aszFileFullPath, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
            if (g_state.m_hLogFile == INVALID_HANDLE_VALUE) {
                char text[KVXLOG_SMALL_SIZE];
                snprintf(text, sizeof text, "Error: %lu obteniendo de nuevo el handle de fichero de logs",
                         static_cast<unsigned long>(::GetLastError()));
                Debug(text);
                return;
            }
            Debug("CKVXDiagObject::OpenLogFile()-> Handle de fichero de logs ahora creado OK");
        }
        const HANDLE file = g_state.m_hLogFile;
        DWORD sizeHigh = 0;
        const DWORD sizeLow = ::GetFileSize(file, &sizeHigh);
        if (!(sizeLow == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR)) {
            const unsigned long long size = (static_cast<unsigned long long>(sizeHigh) << 32) | sizeLow;
            if (size >= static_cast<unsigned long long>(g_state.maxSizeKB) * 1024ull) {
                if (::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
                    Debug("\nKVXLog: Ocurrió un error en operación SetFilePointer");
                    return;
                }
                if (!::SetEndOfFile(file)) {
                    Debug("\nKVXLog: Ocurrió un error al truncar fichero en SetEndOfFile");
                    Debug("CKVXDiagObject::OutputDebugStringToFile()-> Error: Al truncar fichero en SetEndOfFile, "
                          "salimos!!");
                    return;
                }
            }
        }
        char buffer[KVXLOG_MESSAGE_SIZE];
        snprintf(buffer, sizeof buffer, "%s\r\n", pszText != nullptr ? pszText : "");
        LONG high = 0;
        ::SetFilePointer(file, 0, &high, FILE_END);
        DWORD written = 0;
        ::WriteFile(file, buffer, static_cast<DWORD>(strlen(buffer)), &written, nullptr);
    } catch (...) {
        Debug("\nKVXLog: Excepción no controlada en OutputDebugStringToFile!!!");
    }
}

bool CKVXDiagObject::ReadConfig()
{
    try {
        char keyPath[KVXLOG_PATH_SIZE];
        char idText[16];
        snprintf(idText, sizeof idText, "%lX", static_cast<unsigned long>(g_state.moduleId));
        if (strlen(idText) + 60 >= 520) {
            return false;
        }
        snprintf(keyPath, sizeof keyPath, "%s\\%s", KVXLOG_CONFIG_ROOT, idText);
        kvx::UniqueHkey key;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | kvx::KVX_REGVIEW_VENDOR, key.put()) !=
            ERROR_SUCCESS) {
            return false;
        }
        char path[KVXLOG_PATH_SIZE] = {};
        DWORD type = 0;
        DWORD size = sizeof path - 1;
        if (::RegQueryValueExA(key.get(), "LOG_FilePath", nullptr, &type, reinterpret_cast<BYTE*>(path), &size) !=
                ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ)) {
            return false;
        }
        DWORD level = 0;
        DWORD device = 0;
        DWORD maxSize = 0;
        DWORD enabled = 0;
        if (!ReadDword(key.get(), "LOG_Level", level) || !ReadDword(key.get(), "LOG_OutputDevice", device) ||
            !ReadDword(key.get(), "LOG_FileMaxSizeKB", maxSize) || !ReadDword(key.get(), "LOG_Enabled", enabled)) {
            return false;
        }
        if (device != KVXLOG_DEVICE_FILE && device != KVXLOG_DEVICE_DEBUGGER) {
            return false;
        }
        snprintf(g_state._aszFileFullPath, sizeof g_state._aszFileFullPath, "%s", path);
        g_state.levelThreshold = level;
        g_state.outputDevice = device;
        g_state.maxSizeKB = maxSize;
        g_state.enabled = enabled != 0;
        return true;
    } catch (...) {
        Debug("\nKVXLog: Excepción no controlada en ReadConfig!!!");
        return false;
    }
}

void CKVXDiagObject::SetDefaultConfig()
{
    try {
        snprintf(g_state._aszFileFullPath, sizeof g_state._aszFileFullPath, "%s", KVXLOG_DEFAULT_PATH);
        g_state.outputDevice = KVXLOG_DEVICE_FILE;
        g_state.levelThreshold = KVXLOG_DEFAULT_LEVEL;
        g_state.maxSizeKB = KVXLOG_DEFAULT_MAXSIZE_KB;
        g_state.enabled = false;
    } catch (...) {
        Debug("\nKVXLog: Excepción no controlada en SetDefaultConfig!!!");
    }
}
