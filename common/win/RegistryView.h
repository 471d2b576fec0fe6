// Both builds must see one set of vendor and product keys: the product and the 32-bit build live in
// the 32-bit registry view, so the 64-bit build asks for that view explicitly on every such key.
#pragma once

#include <windows.h>

namespace kvx {

#ifdef _WIN64
constexpr REGSAM KVX_REGVIEW_VENDOR = KEY_WOW64_32KEY;
#else
constexpr REGSAM KVX_REGVIEW_VENDOR = 0;
#endif

} // namespace kvx
