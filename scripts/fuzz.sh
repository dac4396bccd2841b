#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer
# into build-fuzz/ and runs each for SECONDS on its committed corpus (fuzz/corpus/<target>/)
# and dictionary (fuzz/dict/<target>.dict). New corpus entries are kept in
# build-fuzz/fuzz/new-corpus/<target>/; a crashing input is kept in build-fuzz/fuzz/crashes/
# and named, and the run fails. A summary line per target gives executions, coverage (edges),
# corpus size and the outcome.
# Usage: scripts/fuzz.sh SECONDS [--runs N] [--no-build] [TARGET...]
#   --runs N     also stop a target after N executions
#   --no-build   run the targets as they are built
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?seconds per target}
shift
runs=-1
build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=${2:?executions}; shift 2 ;;
    --no-build) build=0; shift ;;
    *) break ;;
  esac
done
dir="$root/build-fuzz"

if [ $build -eq 1 ]; then
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DPVESTRA_FUZZ=ON >/dev/null
  fi
  cmake --build "$dir" --target fuzz-targets FFT -j "$(nproc)"
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$dir"/fuzz/fuzz_*; do targets+=("$(basename "$t" | sed 's/^fuzz_//')"); done
fi

export QT_QPA_PLATFORM=offscreen PVESTRA_BIN="$dir/bin"
# Allocation stacks are cut to two frames: the fast unwinder, walking on into Debian's Qt
# (built without frame pointers), makes up a new stack for nearly every allocation, and the
# sanitizer's store of stacks then grows by hundreds of megabytes in a few thousand inputs.
# A finding is reproduced with full stacks by running its input through the target alone.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:allocator_may_return_null=1:malloc_context_size=2}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
mkdir -p "$dir/fuzz/crashes"
for t in "${targets[@]}"; do
  new="$dir/fuzz/new-corpus/$t"
  mkdir -p "$new"
  dict=()
  [ -f "$root/fuzz/dict/$t.dict" ] && dict=(-dict="$root/fuzz/dict/$t.dict")
  log="$dir/fuzz/$t.log"
  status=0
  # The target's own output (the program's diagnostics) is closed; libFuzzer's and the
  # sanitizers' reports still reach the log.
  "$dir/fuzz/fuzz_$t" "$new" "$root/fuzz/corpus/$t" "${dict[@]}" -max_total_time="$seconds" -runs="$runs" \
      -artifact_prefix="$dir/fuzz/crashes/$t-" -close_fd_mask=3 -print_final_stats=1 \
      -rss_limit_mb=4096 >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1 || true)
  edges=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2 || true)
  corpus=$(ls "$new" | wc -l)
  if [ $status -ne 0 ]; then
    crash=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    echo "$t: FAILED after ${execs:-?} executions, input: ${crash:-see $log}"
    failed+=("$t")
  else
    echo "$t: ${execs:-?} executions, ${edges:-?} edges, corpus $corpus new + $(ls "$root/fuzz/corpus/$t" | wc -l) committed, no finding"
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "Findings in: ${failed[*]} (logs in $dir/fuzz/)" >&2; exit 1; }
