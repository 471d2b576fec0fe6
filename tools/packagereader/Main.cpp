// kvxinspect: verifies a KVXDiag2 results package and tells its story (see --help and
// docs/reading-packages.md). Results on standard output, diagnostics on standard error.
#include "tools/packagereader/HtmlPage.h"
#include "tools/packagereader/JsonWriter.h"
#include "tools/packagereader/PackageExtractor.h"
#include "tools/packagereader/PackageReader.h"
#include "tools/packagereader/PackageFile.h"
#include "tools/packagereader/Sha256.h"
#include "tools/packagereader/TextSummary.h"

#include <cstdio>
#include <cstring>
#include <string>

#ifndef KVXINSPECT_VERSION
#define KVXINSPECT_VERSION "0.0.0"
#endif

namespace {

constexpr int EXIT_USAGE = 64;

const char* HELP_TEXT =
    "usage: kvxinspect [OPTIONS] PACKAGE.zip\n"
    "\n"
    "Verifies a KVXDiag2 results package (ZIP structure, every entry's CRC-32 after decryption, the\n"
    "KVXManifest.sha256 inside it) and summarises it: incident, machine, isolation trail, verdict,\n"
    "failure lines, Pre/Post differences. Reads the package directly; nothing is extracted unless asked.\n"
    "\n"
    "  --json           print the summary as one JSON document (schema: docs/package-summary-json.md)\n"
    "  --html FILE      also write a self-contained HTML page to FILE\n"
    "  --extract DIR    write the package's files below DIR (only when it verifies; names that would\n"
    "                   leave DIR are refused)\n"
    "  --password TEXT  the package password (default: the one KVXDiag2 uses)\n"
    "  --help           this text\n"
    "  --version        the version\n"
    "\n"
    "Exit codes: 0 verified, 1 verification failed (the problems are named), 2 not a package,\n"
    "unreadable or wrong password, 64 usage error.\n";

int Usage(const char* pszWhy)
{
    std::fprintf(stderr, "kvxinspect: %s\nTry 'kvxinspect --help'.\n", pszWhy);
    return EXIT_USAGE;
}

bool WriteFile(const std::string& path, const std::string& text)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    bool json = false;
    std::string html, extract, package;
    std::string password = KVXINSPECT_DEFAULT_PASSWORD;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                return false;
            }
            out = argv[++i];
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
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage(("unknown option " + arg).c_str());
        } else if (!package.empty()) {
            return Usage("give one package");
        } else {
            package = arg;
        }
    }
    if (package.empty()) {
        return Usage("no package given");
    }

    CPackageFile file;
    std::string why;
    if (!file.Load(package, why)) {
        std::fprintf(stderr, "kvxinspect: %s: %s\n", package.c_str(), why.c_str());
        return eInspectResult_UNREADABLE;
    }
    SInspection inspection;
    inspection.m_file = package;
    const EInspectResult result =
        CPackageReader::Inspect(file.Data(), file.Size(), password, inspection, why);
    if (result == eInspectResult_UNREADABLE) {
        std::fprintf(stderr, "kvxinspect: %s: %s\n", package.c_str(), why.c_str());
        if (json) {
            std::fputs(CJsonWriter::WriteUnreadable(package, file.Size(), inspection.m_sha256, why, KVXINSPECT_VERSION)
                           .c_str(),
                       stdout);
        }
        return eInspectResult_UNREADABLE;
    }
    std::fputs(json ? CJsonWriter::Write(inspection, KVXINSPECT_VERSION).c_str()
                    : CTextSummary::Write(inspection).c_str(),
               stdout);
    for (const std::string& problem : inspection.m_problems) {
        std::fprintf(stderr, "kvxinspect: %s: %s\n", package.c_str(), problem.c_str());
    }
    if (!html.empty() && !WriteFile(html, CHtmlPage::Write(inspection, KVXINSPECT_VERSION))) {
        std::fprintf(stderr, "kvxinspect: cannot write the HTML page %s\n", html.c_str());
        return eInspectResult_UNREADABLE;
    }
    if (!extract.empty()) {
        if (result != eInspectResult_VERIFIED) {
            std::fprintf(stderr, "kvxinspect: %s: not extracted, the package did not verify\n", package.c_str());
            return result;
        }
        size_t files = 0;
        if (!CPackageExtractor::Extract(file.Data(), file.Size(), password, extract, why, files)) {
            std::fprintf(stderr, "kvxinspect: %s: %s\n", package.c_str(), why.c_str());
            return eInspectResult_FAILED;
        }
        std::fprintf(stderr, "kvxinspect: %zu files extracted below %s\n", files, extract.c_str());
    }
    return result;
}
