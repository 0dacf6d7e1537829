#!/usr/bin/env bash
# Runs every libFuzzer target for SECONDS each (default 60), one after the other.
#
# Builds the targets with clang into build-fuzz/ (LUX_FUZZ=ON), then fuzzes each over its
# corpus in tests/fuzz/corpus/<target>/: new inputs are written there, and at the end of the
# target's run only those new inputs that add coverage to the files already there are kept
# (libFuzzer's merge), so that the corpus stays small enough to replay as an ordinary test and
# its named inputs stay as they are. Crashes, leaks, time-outs and out-of-memory
# inputs are saved as tests/fuzz/crashes/<target>-crash-<sha1> (and -leak-, -timeout-, -oom-).
# A summary line per target gives its executions, corpus size and findings.
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (targets without the "fuzz_" prefix)
# Environment: FUZZ_BUILD (build folder, default build-fuzz), FUZZ_JOBS (build jobs, 2).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
all=(script archive depack_method1 depack_method2 dds picture fn2 object_scene flat_scene gltf)
targets=("${@:-${all[@]}}")
build=${FUZZ_BUILD:-build-fuzz}
root=$PWD
crashes=$root/tests/fuzz/crashes
mkdir -p "$crashes"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DLUX_FUZZ=ON -DLUX_WERROR=ON -DLUX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"${FUZZ_JOBS:-2}" --target "${targets[@]/#/fuzz_}"

# The corpus folder of a target (the depackers' folders carry the method's name only).
corpus_of() {
  case $1 in
    depack_method1) echo tests/fuzz/corpus/method1 ;;
    depack_method2) echo tests/fuzz/corpus/method2 ;;
    *) echo "tests/fuzz/corpus/$1" ;;
  esac
}

# Extra options of a target: the script target uses the keyword dictionary.
options_of() {
  case $1 in
    script) echo "-dict=$root/tests/fuzz/script.dict" ;;
    *) echo "" ;;
  esac
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
summary=()
for t in "${targets[@]}"; do
  corpus=$(realpath "$(corpus_of "$t")")
  bin=$(realpath "$build/tests/fuzz/fuzz_$t")
  log=$(realpath "$build")/fuzz_$t.log
  work=$(mktemp -d)
  fresh=$(mktemp -d)
  before=$(find "$crashes" -name "$t-*" | wc -l)
  find "$corpus" -maxdepth 1 -type f -printf '%f\n' | sort >"$fresh.list"
  echo "== fuzz_$t for $seconds s over $corpus"
  # Each target runs from an empty folder of its own (the script target writes files there).
  # shellcheck disable=SC2046
  (cd "$work" && "$bin" $(options_of "$t") -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="$crashes/$t-" -print_final_stats=1 \
    "$corpus" >"$log" 2>&1) || true
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  # The run's new inputs go back only where they add coverage.
  find "$corpus" -maxdepth 1 -type f -printf '%f\n' | sort | comm -13 "$fresh.list" - |
    while read -r name; do mv "$corpus/$name" "$fresh/"; done
  (cd "$work" && "$bin" $(options_of "$t") -merge=1 -timeout=10 -rss_limit_mb=2048 \
    "$corpus" "$fresh" >>"$log" 2>&1) || echo "fuzz_$t: merge failed (see $log)"
  rm -rf "$work" "$fresh" "$fresh.list"
  after=$(find "$crashes" -name "$t-*" | wc -l)
  line="fuzz_$t: ${execs:-?} executions in $seconds s, corpus $(find "$corpus" -type f | wc -l) files, $((after - before)) new findings"
  echo "$line"
  summary+=("$line")
done
echo "== summary"
printf '%s\n' "${summary[@]}"
