// libFuzzer target for kvxinspect's reader: any bytes as a package, through the directory walk, the
// decryption, the bounded inflate, the manifest comparison and the report reading. It must never
// crash, read out of bounds or take memory beyond its bounds, whatever the input declares.
#include "tools/packagereader/PackageExtractor.h"
#include "tools/packagereader/PackageReader.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SInspection inspection;
    std::string fatal;
    CPackageReader::Inspect(data, size, KVXINSPECT_DEFAULT_PASSWORD, inspection, fatal);
    // The name check on the same bytes taken as a name.
    CPackageExtractor::UnsafeReason(std::string(reinterpret_cast<const char*>(data), size < 300 ? size : 300));
    return 0;
}
