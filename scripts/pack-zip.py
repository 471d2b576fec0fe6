#!/usr/bin/env python3
"""Packs files of a stage folder into a ZIP that depends on nothing but their bytes.

Two builds of one commit must give the same archive: the entries are written in sorted order, each
with the release's time (SOURCE_DATE_EPOCH, read as UTC, not the build machine's zone), the same
attributes (a plain readable file; Windows ignores the Unix bits) and no owner, size or time extras.

Usage: pack-zip.py --epoch SECONDS --stage DIR --out ZIP FILE...
"""
import argparse
import os
import sys
import time
import zipfile

ZIP_EARLIEST = 315532800  # 1980-01-01, the first moment a ZIP entry's DOS time can hold


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("--stage", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()

    stamp = time.gmtime(max(args.epoch, ZIP_EARLIEST))[:6]
    partial = args.out + ".partial"
    try:
        with zipfile.ZipFile(partial, "w") as archive:
            for name in sorted(args.files):
                entry = zipfile.ZipInfo(name, date_time=stamp)
                entry.compress_type = zipfile.ZIP_DEFLATED
                entry.create_system = 3
                entry.external_attr = 0o100644 << 16
                with open(os.path.join(args.stage, name), "rb") as f:
                    archive.writestr(entry, f.read(), compresslevel=9)
        os.replace(partial, args.out)
    except OSError as error:
        print(f"pack-zip: {error}", file=sys.stderr)
        if os.path.exists(partial):
            os.remove(partial)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
