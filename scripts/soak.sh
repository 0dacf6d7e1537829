#!/usr/bin/env bash
# Soak and fault runs of a production through the player (tests/soak/soak_main.cpp), offline
# and headless:
#  1. memory: the production looped LOOPS times at 160 x 120 without writing frames; prints
#     the resident memory growth from the end of loop 2 to the end of the last loop and checks
#     that the device's live objects and every pool's entries are back to their loop-1 counts;
#  2. device losses: the production played with the device lost after every LOSE_EVERY-th
#     frame, for FRAMES frames (looping as needed), and the same run without losses; every
#     frame must be the same picture.
# Exits non-zero when a check fails.
#
# Usage: scripts/soak.sh [PRODUCTION (default build/demo)] [LOOPS (default 100)]
# Environment: FRAMES (default 1000), LOSE_EVERY (default 1), FPS (default 10), SIZE (160x120),
#              BUILD (default build), GROWTH_KB (allowed growth, default 1024).
set -euo pipefail
cd "$(dirname "$0")/.."
production=$(realpath "${1:-build/demo}")
loops=${2:-100}
frames=${FRAMES:-1000}
loseEvery=${LOSE_EVERY:-1}
fps=${FPS:-10}
size=${SIZE:-160x120}
build=${BUILD:-build}
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen}
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

cmake --build "$build" -j2 --target lux_soak demo_archive >/dev/null
soak=$(realpath "$build/tests/soak/lux_soak")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

echo "== memory: $loops loops of $production at $size, $fps frames per second"
# Frames and audio are written only from --from on: nothing, so that only playing counts.
start=$(date +%s)
(cd "$work" && "$soak" --loops "$loops" -C "$production" --no-dialog --windowed "$size" \
  --loop --render "$work/memory" --fps "$fps" --from 60000) >"$work/memory.txt"
grep '^loop ' "$work/memory.txt" | sed -n '1,2p;$p'
echo "($(($(date +%s) - start)) s)"
awk -v limit="${GROWTH_KB:-1024}" '
  /^loop / {
    n = $2 + 0
    counts = ""
    for (i = 6; i <= NF; i += 2) counts = counts " " $(i - 1) "=" $i
    rss[n] = $4; count[n] = counts; last = n
  }
  END {
    if (last < 2) { print "memory: fewer than 2 loops ran"; exit 1 }
    growth = rss[last] - rss[2]
    printf "memory: resident growth from loop 2 to loop %d: %d kB (limit %d kB)\n", last, growth, limit
    bad = growth >= limit
    for (n = 2; n <= last; ++n)
      if (count[n] != count[1]) { printf "memory: loop %d counts%s\n  loop 1 counts%s\n", n, count[n], count[1]; bad = 1; break }
    if (!bad) print "memory: every loop ends with the live objects and pool entries of loop 1"
    exit bad
  }' "$work/memory.txt" || status=1

echo "== device losses: $frames frames at $size, $fps frames per second, lost after every $loseEvery"
to=$(awk -v f="$frames" -v r="$fps" 'BEGIN { printf "%.6f", (f - 0.5) / r }')
for run in reference lost; do
  every=0
  [ "$run" = lost ] && every=$loseEvery
  (cd "$work" && "$soak" --lose-every "$every" -C "$production" --no-dialog --windowed "$size" \
    --loop --render "$work/$run" --fps "$fps" --to "$to") >"$work/$run.txt"
done
written=$(find "$work/reference" -name 'frame*.png' | wc -l)
losses=$(awk '/^losses / { print $2 }' "$work/lost.txt")
differing=0
for frame in "$work"/reference/frame*.png; do
  cmp -s "$frame" "$work/lost/${frame##*/}" || differing=$((differing + 1))
done
echo "device losses: $losses losses over $written frames; $differing frames differ from the run without losses"
[ "$written" -gt 0 ] && [ "$differing" -eq 0 ] || status=1
exit $status
