#!/bin/sh
# Builds the libFuzzer targets (clang, ASan + UBSan) in build-fuzz and runs
# each one for the given number of seconds, one after another, on a copy of
# its seed corpus (fuzz/corpus/<target>) so that the repository is left
# alone. Exits non-zero when any target found a crash, leak, time-out or
# out-of-memory; prints per target the executions, exec/s, cov and ft.
#
# Usage: scripts/fuzz.sh [seconds-per-target] [target ...]
# Environment: FUZZ_BUILD (build folder, default build-fuzz), FUZZ_JOBS
# (ninja jobs), FUZZ_NICE (niceness, default 10).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_PER_TARGET=${1:-60}
[ $# -gt 0 ] && shift
BUILD=${FUZZ_BUILD:-$ROOT/build-fuzz}
NICE=${FUZZ_NICE:-10}
JOBS=${FUZZ_JOBS:-$(nproc)}

"$ROOT/scripts/install-deps.sh" clang libclang-rt-14-dev

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DPROVIDER_BUILD_FUZZ=ON \
  -DPROVIDER_BUILD_TESTS=OFF -DPROVIDER_BUILD_BENCH=OFF >"$BUILD.cmake.log" 2>&1 ||
  { cat "$BUILD.cmake.log"; exit 1; }
rm -f "$BUILD.cmake.log"

if [ $# -gt 0 ]; then
  TARGETS="$*"
else
  TARGETS=$(cd "$ROOT/fuzz" && ls fuzz_*.cpp | sed 's/\.cpp$//')
fi
nice -n "$NICE" ninja -C "$BUILD" -j "$JOBS" $TARGETS

# The longest input each target is given.
max_len() {
  case "$1" in
    fuzz_http_request) echo 24576 ;;
    fuzz_url) echo 12288 ;;
    fuzz_xpath) echo 1024 ;;
    fuzz_collector_reply) echo 8192 ;;
    *) echo 8192 ;;
  esac
}

# Configuration files are written on every run: on a memory file system
# when there is one.
SCRATCH_BASE=/dev/shm
[ -d "$SCRATCH_BASE" ] && [ -w "$SCRATCH_BASE" ] || SCRATCH_BASE=${TMPDIR:-/tmp}
SCRATCH=$(mktemp -d "$SCRATCH_BASE/provider-fuzz.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT INT TERM

failed=""
summary=""
for target in $TARGETS; do
  work="$BUILD/fuzz-work/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  if [ -d "$ROOT/fuzz/corpus/$target" ]; then
    cp "$ROOT/fuzz/corpus/$target"/* "$work/corpus/" 2>/dev/null || true
  fi
  set -- -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 \
    -max_len="$(max_len "$target")" -print_final_stats=1 -artifact_prefix="$work/artifacts/"
  [ -f "$ROOT/fuzz/dict/$target.dict" ] && set -- "$@" -dict="$ROOT/fuzz/dict/$target.dict"
  echo "== $target: $SECONDS_PER_TARGET s"
  rc=0
  started=$(date +%s)
  FUZZ_SCRATCH_DIR="$SCRATCH" ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    nice -n "$NICE" "$BUILD/fuzz/$target" "$@" "$work/corpus" >"$work/log" 2>&1 || rc=$?

  ran=$(( $(date +%s) - started ))
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log" | tail -n 1)
  last=$(grep -E '^#[0-9]+.*cov: ' "$work/log" | tail -n 1 || true)
  cov=$(echo "$last" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
  ft=$(echo "$last" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
  # Units and size of the corpus libFuzzer holds at the end.
  corpus=$(echo "$last" | sed -n 's/.* corp: \([0-9]*\/[0-9A-Za-z]*\).*/\1/p')
  findings=$(ls "$work/artifacts" | grep -E '^(crash|leak|timeout|oom)-' || true)
  line="$target: seconds=$ran executions=${executions:-?} exec/s=${speed:-?} cov=${cov:-?} ft=${ft:-?} corpus=${corpus:-?} exit=$rc"
  echo "$line"
  summary="$summary$line
"
  if [ "$rc" -ne 0 ] || [ -n "$findings" ]; then
    echo "   FAILED; log: $work/log"
    for f in $findings; do echo "   finding: $work/artifacts/$f"; done
    grep -E 'ERROR: |FUZZ_CHECK failed|runtime error|SUMMARY' "$work/log" | head -n 5 | sed 's/^/   /'
    failed="$failed $target"
  fi
done

echo "== summary"
printf '%s' "$summary"
if [ -n "$failed" ]; then
  echo "failed:$failed"
  exit 1
fi
echo "all targets clean"
