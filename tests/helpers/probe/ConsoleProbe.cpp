// A console program with known behaviour for the program-runner tests: what it prints, how long it
// runs and how it exits are chosen on its command line.
//   lines CODE          two lines, then exit with CODE
//   text TEXT           TEXT as given, then exit 0
//   nul                 bytes with zeros in them (ASCII with NULs, then UTF-16LE text)
//   bytes COUNT         COUNT bytes of numbered 100-byte lines (the last one may be short)
//   hang MS             print one line, then stay alive MS milliseconds
//   spawn-hang MS       start "hang MS" as a child that inherits standard output, then exit 7
//   silent CODE         print nothing, exit with CODE
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Write(const void* data, DWORD size)
{
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(out, p, size, &written, nullptr) || written == 0) {
            return;
        }
        p += written;
        size -= written;
    }
}

void Write(const std::string& text) { Write(text.data(), static_cast<DWORD>(text.size())); }

// Line n of the "bytes" output: 100 bytes, the number and padding, then CR LF. The tests rebuild the
// same text to compare.
std::string NumberedLines(unsigned long count)
{
    std::string all;
    all.reserve(count);
    char line[101];
    for (unsigned long n = 0; all.size() < count; ++n) {
        snprintf(line, sizeof line, "%010lu %-87s\r\n", n, "abcdefghijklmnopqrstuvwxyz0123456789");
        all.append(line, 100);
    }
    all.resize(count);
    return all;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    const char* arg = argc > 2 ? argv[2] : "0";
    if (mode == "lines") {
        Write("first line\r\nsecond line\r\n");
        return std::atoi(arg);
    }
    if (mode == "text") {
        Write(arg);
        return 0;
    }
    if (mode == "nul") {
        static const char bytes[] = {'A', '\0', 'B', '\r', '\n', 'H', 0, 'i', 0, '\r', 0, '\n', 0};
        Write(bytes, sizeof bytes);
        return 0;
    }
    if (mode == "bytes") {
        const std::string all = NumberedLines(std::strtoul(arg, nullptr, 10));
        // In pieces, as a console program writes, rather than in one call.
        for (size_t pos = 0; pos < all.size(); pos += 4096) {
            Write(all.data() + pos, static_cast<DWORD>(all.size() - pos < 4096 ? all.size() - pos : 4096));
        }
        return 0;
    }
    if (mode == "hang") {
        Write("started\r\n");
        ::Sleep(static_cast<DWORD>(std::strtoul(arg, nullptr, 10)));
        return 0;
    }
    if (mode == "spawn-hang") {
        char self[MAX_PATH];
        ::GetModuleFileNameA(nullptr, self, sizeof self);
        std::string commandLine = std::string("\"") + self + "\" hang " + arg;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
        PROCESS_INFORMATION info = {};
        if (::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
            ::CloseHandle(info.hThread);
            ::CloseHandle(info.hProcess);
        }
        return 7;
    }
    if (mode == "silent") {
        return std::atoi(arg);
    }
    return 100;
}
