// libFuzzer target for kvxinspect's reader: any bytes as a package, through the directory walk, the
// name checks, the decryption, the bounded inflate, the manifest comparison and the report reading,
// and then through --extract into a fresh folder. It must never crash, read out of bounds or take
// memory beyond its bounds, whatever the input declares; and an extraction that does not succeed must
// leave nothing behind, one that succeeds nothing outside its folder.
#include "tools/packagereader/EntryNames.h"
#include "tools/packagereader/PackageExtractor.h"
#include "tools/packagereader/PackageReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {
size_t Entries(const std::string& folder)
{
    std::error_code ec;
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        ++n;
    }
    return n;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SInspection inspection;
    std::string fatal;
    CPackageReader::Inspect(data, size, KVXINSPECT_DEFAULT_PASSWORD, inspection, fatal, 64ull << 20);
    // The name check on the same bytes taken as a name.
    CEntryNames::UnsafeReason(std::string(reinterpret_cast<const char*>(data), size < 300 ? size : 300));

    const char* base = std::getenv("FUZZ_EXTRACT_DIR");
    std::string folder = std::string(base != nullptr ? base : "/tmp") + "/kvx-fuzz-XXXXXX";
    if (::mkdtemp(&folder[0]) == nullptr) {
        return 0;
    }
    std::string problem;
    size_t files = 0;
    const EExtractResult result =
        CPackageExtractor::Extract(data, size, KVXINSPECT_DEFAULT_PASSWORD, folder + "/out", problem, files);
    const size_t left = Entries(folder);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    if ((result == eExtractResult_EXTRACTED) != (left == 1) || left > 1) {
        __builtin_trap();
    }
    return 0;
}
