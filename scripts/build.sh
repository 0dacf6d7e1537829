#!/usr/bin/env bash
# Configures and builds lux32 into build/ (Release with debug info, warnings as errors, two
# jobs).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUX_WERROR=ON "$@" >/dev/null
cmake --build build -j2
