#!/bin/bash
# The tests that run code on several threads at once, built with
# ThreadSanitizer.
#
# Usage: scripts/test-tsan.sh BUILD_DIR
#
# Configures BUILD_DIR with -DPROVIDER_TSAN=ON, builds it and runs the
# selected tests through CTest (TSAN_TESTS, a CTest -R expression, replaces
# the selection). Every process of the run (the test binaries and the
# provider and helper programs they start) writes its reports to a file of
# its own; the run fails when a test fails or any report was written.
# scripts/tsan.supp holds the suppressions (third-party code only).
set -u

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build-tsan}
JOBS=${JOBS:-$(nproc)}

# Server loop with its session threads and slow clients, worker threads,
# asynchronous records, statistics timings, timers, the diagnostic log from
# many threads, file locks between threads, concurrent inventory queries and
# XPath evaluations, the chassis page's sequence threads, output capture,
# the provider binary itself.
DEFAULT_TESTS='^(ServerLoop|CollectorMessages|CProviderCon|IOSocket|AsyncCookieArchive|AsyncCookiePage|WorkerPage|WorkerServer|StatsPage|FrameworkPages|ExternalAlarmPage|PageSchedule|TimerExport|DiagLogFile|ProviderReadySignal|ProviderSingleInstance|ProviderInstances|ProviderStdio|ConfigurationLock|ConfigFileKill|ConfigFileKillProvider|MasterConfigCache|MonitoringParameters|MonitoringOnTheProvider|InventoryPage|XPathConcurrency|Chassis|CaptureOutput|NamedEvent|SingleInstanceGuard)\.'
TESTS=${TSAN_TESTS:-$DEFAULT_TESTS}

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DPROVIDER_TSAN=ON || exit 2
nice ninja -C "$BUILD" || exit 2

REPORTS=$(mktemp -d /tmp/provider-tsan.XXXXXX)
trap 'rm -rf "$REPORTS"' EXIT

# No second of grace at every exit: the tests start many processes, and
# output flushed at exit would come a second late.
export TSAN_OPTIONS="log_path=$REPORTS/report atexit_sleep_ms=0 second_deadlock_stack=1 history_size=4 suppressions=$ROOT/scripts/tsan.supp ${TSAN_OPTIONS:-}"
start=$SECONDS
(cd "$BUILD" && nice ctest --output-on-failure -j "$JOBS" -R "$TESTS")
rc=$?
elapsed=$((SECONDS - start))

reports=$(grep -l "ThreadSanitizer" "$REPORTS"/report.* 2>/dev/null)
if [ -n "$reports" ]; then
  for r in $reports; do
    echo "==== $r"
    cat "$r"
  done
  echo "ThreadSanitizer reported problems in $(echo "$reports" | wc -l) process(es)" >&2
  rc=1
fi
echo "ThreadSanitizer run: ${elapsed}s for the tests"
exit $rc
