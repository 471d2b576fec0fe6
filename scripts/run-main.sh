#!/usr/bin/env bash
# Sets up the machine, builds the 32-bit deliverables and runs them in a private Wine prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$(nproc)"
prefix=$(pwd)/build/main-prefix
bash scripts/wine-run.sh "$prefix" build/win32/bin/kvxhost.exe
