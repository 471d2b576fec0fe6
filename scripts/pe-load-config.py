#!/usr/bin/env python3
"""Points a PE image's load-configuration directory at its _load_config_used record.

GNU ld (binutils 2.40) links the record that common/win/LoadConfiguration.cpp defines but, unlike
Microsoft's linker, leaves data directory 10 empty, so Windows would never read the record's
DependentLoadFlags. This fills the entry from the symbol's address after linking, and with --check
only reads the image and verifies that the entry is there and restricts the search of the static
imports to the system directory. A stripped image (as shipped, perhaps signed) has no symbols left;
--check without --nm then verifies the record that the entry points at.

Usage: pe-load-config.py [--check] [--nm NM] IMAGE
Exit codes: 0 done (or verified), 1 the image is not as expected, 2 the image could not be read.
"""
import argparse
import struct
import subprocess
import sys

LOAD_CONFIG_INDEX = 10
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
# Offset of DependentLoadFlags (the WORD after CSDVersion) in the 32-bit and 64-bit record.
DEPENDENT_LOAD_FLAGS_OFFSET = {0x10B: 54, 0x20B: 78}


class ImageError(Exception):
    pass


def symbol_address(nm, image):
    out = subprocess.run([nm, image], check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        parts = line.split()
        # i686 symbols carry the extra leading underscore.
        if len(parts) == 3 and parts[2] in ("_load_config_used", "__load_config_used"):
            return int(parts[0], 16)
    raise ImageError(f"{image}: no _load_config_used symbol")


def read_layout(data, image):
    if data[:2] != b"MZ":
        raise ImageError(f"{image}: not an MZ image")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ImageError(f"{image}: no PE signature")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    if magic == 0x10B:
        image_base = struct.unpack_from("<I", data, opt + 28)[0]
        count_offset = opt + 92
    elif magic == 0x20B:
        image_base = struct.unpack_from("<Q", data, opt + 24)[0]
        count_offset = opt + 108
    else:
        raise ImageError(f"{image}: unknown optional header 0x{magic:x}")
    if struct.unpack_from("<I", data, count_offset)[0] <= LOAD_CONFIG_INDEX:
        raise ImageError(f"{image}: too few data directories")
    entry = count_offset + 4 + 8 * LOAD_CONFIG_INDEX
    table = []
    first = opt + optional_size
    for i in range(sections):
        vsize, rva, raw_size, raw = struct.unpack_from("<IIII", data, first + 40 * i + 8)
        table.append((rva, max(vsize, raw_size), raw))
    return magic, image_base, entry, table


def file_offset(table, rva, image):
    for start, size, raw in table:
        if start <= rva < start + size:
            return raw + rva - start
    raise ImageError(f"{image}: RVA 0x{rva:x} is in no section")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--nm")
    parser.add_argument("image")
    args = parser.parse_args()
    if not args.nm and not args.check:
        parser.error("--nm is needed to fill the entry")
    try:
        with open(args.image, "rb") as f:
            data = bytearray(f.read())
        magic, image_base, entry, table = read_layout(data, args.image)
        current = struct.unpack_from("<II", data, entry)
        if args.nm:
            rva = symbol_address(args.nm, args.image) - image_base
        elif current[0] == 0:
            raise ImageError(f"{args.image}: no load configuration entry")
        else:
            rva = current[0]
        record = file_offset(table, rva, args.image)
        size = struct.unpack_from("<I", data, record)[0]
        flags = struct.unpack_from("<H", data, record + DEPENDENT_LOAD_FLAGS_OFFSET[magic])[0]
        if size <= DEPENDENT_LOAD_FLAGS_OFFSET[magic] + 2 or flags != LOAD_LIBRARY_SEARCH_SYSTEM32:
            raise ImageError(f"{args.image}: record size {size}, DependentLoadFlags 0x{flags:x}")
        if args.check:
            if current != (rva, size):
                raise ImageError(f"{args.image}: load configuration entry is {current}, expected {(rva, size)}")
        elif current != (rva, size):
            struct.pack_into("<II", data, entry, rva, size)
            with open(args.image, "r+b") as f:
                f.write(data)
        print(f"{args.image}: load configuration at RVA 0x{rva:x}, {size} bytes, DependentLoadFlags 0x{flags:x}")
        return 0
    except ImageError as error:
        print(f"pe-load-config: {error}", file=sys.stderr)
        return 1
    except (OSError, subprocess.CalledProcessError, struct.error) as error:
        print(f"pe-load-config: {args.image}: {error}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
