#!/bin/bash
# Load on the real provider with the demo data, every answer checked.
#
# Usage: scripts/load-test.sh BUILD_DIR
#
# Starts BUILD_DIR/inventory-provider in demo/ on a free port, notes its
# descriptor and thread counts after a warm-up, then puts two loads on it
# with the load-client helper (one connection per request, as the provider
# closes every connection after its answer; LOAD_CONNECTIONS at once):
# LOAD_REQUESTS requests of /status, then as many inventory queries (node
# sets, paging, count()). Every answer must be a 200 whose Content-Length
# matches its body and whose body is that of the first answer to the same
# request. After each load the counts must come back to where they were and
# the provider must still answer. wrk then runs LOAD_WRK_SECONDS against
# each (0 skips it) as a cross-check of the rate: wrk expects kept-alive
# connections, so it counts every close after an answer as a read error;
# its answers are checked by a Lua script, but a connection closed without
# any answer cannot be told from the normal close there, which is why the
# counted loads are load-client's.
#
# Prints a table of the figures; exit code 1 on any failure.
set -u

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_ARG=${1:-build}
[ -d "$BUILD_ARG" ] || { echo "no build folder $BUILD_ARG" >&2; exit 2; }
BUILD=$(cd "$BUILD_ARG" && pwd)
PROVIDER=$BUILD/inventory-provider
CLIENT=$BUILD/helpers/load-client
REQUESTS=${LOAD_REQUESTS:-100000}
CONNECTIONS=${LOAD_CONNECTIONS:-64}
WRK_SECONDS=${LOAD_WRK_SECONDS:-10}
SETTLE_SECONDS=${LOAD_SETTLE_SECONDS:-15}

QUERIES=(
  "/lvl1inventory?command=query&data=/inventory/software/product"
  "/lvl1inventory?command=query&data=/inventory/software/product&start=2&number=2"
  "/lvl1inventory?command=query&data=/inventory/software/product&start=7&number=5"
  "/lvl1inventory?command=query&data=count(//product)"
  "/lvl1inventory?command=query&data=//product%5B@vendor=%27Mozilla%27%5D"
  "/lvl1inventory?command=query&data=count(//file)"
)

"$ROOT/scripts/install-deps.sh" wrk || { echo "wrk could not be installed" >&2; exit 2; }
if [ ! -x "$CLIENT" ] || [ ! -x "$PROVIDER" ]; then
  ninja -C "$BUILD" inventory-provider load-client || exit 2
fi

WORK=$(mktemp -d /tmp/provider-load.XXXXXX)
PID=""
stop_provider() {
  [ -n "$PID" ] || return 0
  if kill -0 "$PID" 2>/dev/null; then
    curl -s -m 5 -X POST "http://127.0.0.1:$PORT/shutdown" >/dev/null 2>&1
    for _ in $(seq 50); do kill -0 "$PID" 2>/dev/null || break; sleep 0.2; done
    kill -0 "$PID" 2>/dev/null && kill -TERM "$PID" 2>/dev/null && sleep 1
    kill -0 "$PID" 2>/dev/null && kill -KILL "$PID" 2>/dev/null
  fi
  wait "$PID" 2>/dev/null
  PID=""
}
cleanup() {
  stop_provider
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A port nothing listens on; the provider may still lose it to someone
# else before it binds, so the start is tried a few times.
free_port() {
  local p
  for _ in $(seq 100); do
    p=$((20000 + RANDOM % 30000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return 0; fi
  done
  return 1
}

PORT=""
for attempt in 1 2 3 4 5; do
  PORT=$(free_port) || { echo "no free port" >&2; exit 1; }
  (cd "$ROOT/demo" && exec env INVENTORY_PROVIDER_REGISTRY="$ROOT/demo/registry.reg" \
     INVENTORY_PROVIDER_LOCK_DIR="$WORK" \
     "$PROVIDER" -c -z -u -p "$PORT" -V 0x11 -l"$WORK/provider.log") &
  PID=$!
  for _ in $(seq 100); do
    if ! kill -0 "$PID" 2>/dev/null; then break; fi
    if "$CLIENT" "$PORT" 1 1 /status >/dev/null 2>&1; then break 2; fi
    sleep 0.1
  done
  stop_provider
  echo "provider did not come up on port $PORT (attempt $attempt)" >&2
done
if [ -z "$PID" ]; then
  echo "the provider does not start; its log:" >&2
  cat "$WORK/provider.log" >&2 2>/dev/null
  exit 1
fi

count_fds() { ls "/proc/$PID/fd" 2>/dev/null | wc -l; }
count_threads() { ls "/proc/$PID/task" 2>/dev/null | wc -l; }

# Waits until both counts are back to the starting ones, or the time is up.
settle() {
  local until=$((SECONDS + SETTLE_SECONDS))
  while [ $SECONDS -lt $until ]; do
    [ "$(count_fds)" = "$FDS0" ] && [ "$(count_threads)" = "$THREADS0" ] && return 0
    sleep 0.2
  done
  return 1
}

FAILED=0
ROWS=()
fail() { echo "FAILED: $*" >&2; FAILED=1; }

# Warm-up: every request once or more, then let the session threads go.
"$CLIENT" "$PORT" 500 "$CONNECTIONS" /status "${QUERIES[@]}" >"$WORK/warmup.out" ||
  { cat "$WORK/warmup.out" >&2; fail "warm-up"; }
sleep 1
FDS0=$(count_fds)
THREADS0=$(count_threads)

field() { sed -n "s/^$1 //p" "$2" | head -n 1; }

# check_after NAME REQUESTS ANSWERED FAILURES SECONDS RATE: after a load, the
# counts back to the starting ones and the provider still answering; one row.
check_after() {
  local name=$1 fds threads settled=yes
  settle || settled=no
  fds=$(count_fds)
  threads=$(count_threads)
  [ $settled = yes ] || fail "$name: descriptors $FDS0 -> $fds, threads $THREADS0 -> $threads"
  kill -0 "$PID" 2>/dev/null || fail "$name: the provider is gone"
  "$CLIENT" "$PORT" 1 1 /status >/dev/null || fail "$name: the provider no longer answers"
  ROWS+=("$(printf '%-24s %9s %9s %9s %9s %9s %13s %15s' "$@" "$FDS0/$fds" "$THREADS0/$threads")")
}

# run_load NAME TARGET... : one counted load and the checks after it.
run_load() {
  local name=$1
  shift
  local out="$WORK/load.$RANDOM.out" rc
  echo "load: $name, $REQUESTS requests at $CONNECTIONS connections" >&2
  nice -n 5 "$CLIENT" "$PORT" "$REQUESTS" "$CONNECTIONS" "$@" >"$out"
  rc=$?
  grep '^failure:' "$out" >&2
  [ $rc -eq 0 ] || fail "$name: failed or malformed answers"
  check_after "$name" "$(field requests "$out")" "$(field answered "$out")" "$(field failures "$out")" \
    "$(field seconds "$out")" "$(field per-second "$out")"
}

run_load "/status" /status
run_load "inventory queries" "${QUERIES[@]}"

# wrk: answers checked in Lua; the rate for comparison.
cat >"$WORK/check.lua" <<'EOF'
threads = {}
function setup(thread) table.insert(threads, thread) end
function init(args)
  good, bad, sent = 0, 0, 0
  paths = #args > 0 and args or { wrk.path }
end
function request()
  sent = sent + 1
  return wrk.format("GET", paths[(sent - 1) % #paths + 1])
end
function response(status, headers, body)
  local length = tonumber(headers["Content-Length"])
  if status == 200 and length ~= nil and length == #body then good = good + 1 else bad = bad + 1 end
end
function done(summary, latency, requests)
  local g, b = 0, 0
  for _, t in ipairs(threads) do g = g + t:get("good"); b = b + t:get("bad") end
  io.write(string.format("wrk-answers %d\nwrk-bad %d\nwrk-seconds %.2f\n", g, b, summary.duration / 1e6))
end
EOF

run_wrk() {
  local name=$1
  shift
  local out="$WORK/wrk.$RANDOM.out"
  echo "wrk: $name, $WRK_SECONDS s at $CONNECTIONS connections" >&2
  nice -n 5 wrk -t2 -c"$CONNECTIONS" -d"${WRK_SECONDS}s" -s "$WORK/check.lua" \
    "http://127.0.0.1:$PORT/status" -- "$@" >"$out" 2>&1 || fail "$name: wrk failed"
  local good bad secs rate
  good=$(field wrk-answers "$out")
  bad=$(field wrk-bad "$out")
  secs=$(field wrk-seconds "$out")
  [ -n "$good" ] && [ "$good" -gt 0 ] || { cat "$out" >&2; fail "$name: wrk got no answers"; good=0; }
  [ "${bad:-1}" = 0 ] || fail "$name: wrk saw $bad bad answers"
  rate=$(awk -v n="$good" -v s="${secs:-0}" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print 0 }')
  check_after "$name" "-" "$good" "${bad:-?}" "${secs:-?}" "$rate"
}

if [ "$WRK_SECONDS" -gt 0 ]; then
  run_wrk "wrk /status" /status
  run_wrk "wrk inventory queries" "${QUERIES[@]}"
fi

echo
printf '%-24s %9s %9s %9s %9s %9s %13s %15s\n' load requests answered failures seconds "req/s" \
  "fds bef/aft" "threads bef/aft"
for row in "${ROWS[@]}"; do echo "$row"; done
echo

stop_provider
if [ $FAILED -ne 0 ]; then
  echo "load test FAILED" >&2
  exit 1
fi
echo "load test passed"
