#!/usr/bin/env bash
# Installs dependencies, builds, and plays the default production.
# Extra arguments go to the player (for example: --no-dialog --windowed 1280x720).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
exec build/lux32 -C build/demo "$@"
