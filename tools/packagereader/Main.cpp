// kvxinspect: verifies a KVXDiag2 results package and tells its story (see --help and
// docs/reading-packages.md). Results on standard output, diagnostics on standard error; every text
// that comes from the package is escaped on its way to either.
#include "tools/packagereader/HtmlPage.h"
#include "tools/packagereader/JsonWriter.h"
#include "tools/packagereader/PackageExtractor.h"
#include "tools/packagereader/PackageFile.h"
#include "tools/packagereader/PackageReader.h"
#include "tools/packagereader/TerminalText.h"
#include "tools/packagereader/TextSummary.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include "tools/packagereader/NativePath.h"
#include <shellapi.h>
#include <windows.h>
#endif

#ifndef KVXINSPECT_VERSION
#define KVXINSPECT_VERSION "0.0.0"
#endif

namespace {

constexpr int EXIT_OUTPUT_FAILED = 3;
constexpr int EXIT_USAGE = 64;
constexpr uint64_t MAX_MEMORY_MB = 1024 * 1024;

const char* HELP_TEXT =
    "usage: kvxinspect [OPTIONS] PACKAGE.zip\n"
    "\n"
    "Verifies a KVXDiag2 results package (ZIP structure, every entry's CRC-32 after decryption, the\n"
    "entries' names, the KVXManifest.sha256 inside it) and summarises it: incident, machine, isolation\n"
    "trail, verdict, failure lines, Pre/Post differences. Reads the package directly; nothing is\n"
    "extracted unless asked.\n"
    "\n"
    "  --json            print the summary as one JSON document (schema: docs/package-summary-json.md)\n"
    "  --html FILE       also write a self-contained HTML page to FILE\n"
    "  --extract DIR     write the package's files to DIR, which must not exist or be empty (only when\n"
    "                    the package verifies; all or nothing)\n"
    "  --password TEXT   the package password (default: the one KVXDiag2 uses)\n"
    "  --max-memory MB   memory the reading may hold beyond the package file (default 256)\n"
    "  --help            this text\n"
    "  --version         the version\n"
    "\n"
    "Exit codes: 0 verified and every requested output done, 1 verification failed (the problems are\n"
    "named), 2 not a package, unreadable, wrong password or over the memory budget, 3 verified but\n"
    "--extract or --html failed, 64 usage error.\n";

int Usage(const std::string& why)
{
    std::fprintf(stderr, "kvxinspect: %s\nTry 'kvxinspect --help'.\n", CTerminalText::Escape(why).c_str());
    return EXIT_USAGE;
}

void Diagnostic(const std::string& package, const std::string& text)
{
    std::fprintf(stderr, "kvxinspect: %s: %s\n", CTerminalText::Escape(package).c_str(), CTerminalText::Escape(text).c_str());
}

std::FILE* OpenForWriting(const std::string& path)
{
#ifdef _WIN32
    std::wstring wide;
    return CNativePath::ToWide(path, wide) ? _wfopen(wide.c_str(), L"wb") : nullptr;
#else
    return std::fopen(path.c_str(), "wb");
#endif
}

bool WriteFile(const std::string& path, const std::string& text)
{
    std::FILE* f = OpenForWriting(path);
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

// The arguments in UTF-8: on Windows from the UTF-16 command line, so that any path can be named.
std::vector<std::string> Arguments(int argc, char** argv)
{
    std::vector<std::string> args;
#ifdef _WIN32
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    for (int i = 1; wide != nullptr && i < count; ++i) {
        args.push_back(CNativePath::ToUtf8(wide[i]));
    }
    if (wide != nullptr) {
        ::LocalFree(wide);
    }
#else
    for (int i = 1; i < argc; ++i) {
        args.push_back(argv[i]);
    }
#endif
    return args;
}

bool ParseMegabytes(const std::string& text, uint64_t& bytes)
{
    if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const uint64_t mb = std::strtoull(text.c_str(), nullptr, 10);
    if (mb == 0 || mb > MAX_MEMORY_MB) {
        return false;
    }
    bytes = mb * 1024 * 1024;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    bool json = false;
    std::string html, extract, package, memory;
    std::string password = KVXINSPECT_DEFAULT_PASSWORD;
    uint64_t maxMemory = CMemoryBudget::DEFAULT_BYTES;
    const std::vector<std::string> args = Arguments(argc, argv);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                return false;
            }
            out = args[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(HELP_TEXT, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("kvxinspect %s\n", KVXINSPECT_VERSION);
            return 0;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--html") {
            if (!value(html)) {
                return Usage("--html needs a file name");
            }
        } else if (arg == "--extract") {
            if (!value(extract)) {
                return Usage("--extract needs a directory");
            }
        } else if (arg == "--password") {
            if (!value(password)) {
                return Usage("--password needs the password");
            }
        } else if (arg == "--max-memory") {
            if (!value(memory) || !ParseMegabytes(memory, maxMemory)) {
                return Usage("--max-memory needs a number of megabytes (1 to 1048576)");
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option " + arg);
        } else if (!package.empty()) {
            return Usage("give one package");
        } else {
            package = arg;
        }
    }
    if (package.empty()) {
        return Usage("no package given");
    }

    SInspection inspection;
    inspection.m_file = package;
    inspection.m_extraction.m_requested = !extract.empty();
    inspection.m_extraction.m_target = extract;
    inspection.m_html.m_requested = !html.empty();
    inspection.m_html.m_target = html;

    CPackageFile file;
    std::string why;
    if (!file.Load(package, why)) {
        Diagnostic(package, why);
        if (json) {
            std::fputs(CJsonWriter::WriteUnreadable(inspection, why, KVXINSPECT_VERSION).c_str(), stdout);
        }
        return eInspectResult_UNREADABLE;
    }
    const EInspectResult result =
        CPackageReader::Inspect(file.Data(), file.Size(), password, inspection, why, maxMemory);
    if (result == eInspectResult_UNREADABLE) {
        Diagnostic(package, why);
        if (json) {
            std::fputs(CJsonWriter::WriteUnreadable(inspection, why, KVXINSPECT_VERSION).c_str(), stdout);
        }
        return eInspectResult_UNREADABLE;
    }

    // The outputs come first, so that the summary can say how they went.
    bool outputFailed = false;
    SOutputOutcome& x = inspection.m_extraction;
    if (x.m_requested) {
        if (result != eInspectResult_VERIFIED) {
            x.m_status = "not_attempted";
            x.m_problem = "the package did not verify";
        } else {
            size_t files = 0;
            const EExtractResult extracted =
                CPackageExtractor::Extract(file.Data(), file.Size(), password, extract, x.m_problem, files);
            x.m_status = extracted == eExtractResult_EXTRACTED ? "extracted"
                : extracted == eExtractResult_REFUSED          ? "refused"
                                                               : "failed";
            x.m_files = extracted == eExtractResult_EXTRACTED ? files : 0;
            outputFailed = outputFailed || extracted != eExtractResult_EXTRACTED;
        }
    }
    SOutputOutcome& h = inspection.m_html;
    if (h.m_requested) {
        if (WriteFile(html, CHtmlPage::Write(inspection, KVXINSPECT_VERSION))) {
            h.m_status = "written";
        } else {
            h.m_status = "failed";
            h.m_problem = "cannot write the HTML page " + html;
            outputFailed = true;
        }
    }

    std::fputs(json ? CJsonWriter::Write(inspection, KVXINSPECT_VERSION).c_str() : CTextSummary::Write(inspection).c_str(),
               stdout);
    for (const std::string& problem : inspection.m_problems) {
        Diagnostic(package, problem);
    }
    if (inspection.m_problemsNotKept > 0) {
        Diagnostic(package, std::to_string(inspection.m_problemsNotKept) + " more problems");
    }
    if (x.m_requested && x.m_status != "extracted") {
        Diagnostic(package, "not extracted to " + extract + ": " + x.m_problem);
    } else if (x.m_requested) {
        Diagnostic(package, std::to_string(x.m_files) + " files extracted to " + extract);
    }
    if (h.m_requested && h.m_status != "written") {
        Diagnostic(package, h.m_problem);
    }
    if (result == eInspectResult_FAILED) {
        return eInspectResult_FAILED;
    }
    return outputFailed ? EXIT_OUTPUT_FAILED : eInspectResult_VERIFIED;
}
