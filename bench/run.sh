#!/bin/bash
# The provider side by side with nginx, ab and xmllint, and the XPath
# evaluator against libxml2. Prints one table; the raw outputs stay in
# $BUILD/bench-results/.
#
# Usage: bench/run.sh
# Environment:
#   BUILD              build folder (default build-bench: Release, benchmarks on, tests off)
#   DATA               inventory documents (default $BUILD/bench-data)
#   ROUNDS             interleaved rounds of every ab measurement; medians are shown (5)
#   REQUESTS, CONCURRENCY          the connection-per-request runs (50000, 64)
#   QUERY_REQUESTS, QUERY_CONCURRENCY  the inventory query runs (2000, 16)
#   ONESHOT_RUNS       interleaved runs per size of the one-shot comparison (5)
#   ONESHOT_QUERY      the expression of the one-shot comparison (count(//file))
#   ONESHOT_SIZES      (10k 100k 1M); EVAL_SIZES (100k 1M) for the evaluation benchmark
#   PARALLEL_QUERY     the heavy query of the parallel section (count(//file[@size > 100000000]))
#   PARALLEL_REQUESTS  requests per throughput run (300); STATUS_REQUESTS per /status latency run (2000)
#   SKIP_HTTP, SKIP_QUERIES, SKIP_PARALLEL, SKIP_ONESHOT, SKIP_EVAL   set to 1 to leave a section out
#   KEEP_WORK          set to 1 to keep the temporary folder (configurations, logs)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build-bench}
DATA=${DATA:-$BUILD/bench-data}
RESULTS=$BUILD/bench-results
ROUNDS=${ROUNDS:-5}
REQUESTS=${REQUESTS:-50000}
CONCURRENCY=${CONCURRENCY:-64}
QUERY_REQUESTS=${QUERY_REQUESTS:-2000}
QUERY_CONCURRENCY=${QUERY_CONCURRENCY:-16}
ONESHOT_RUNS=${ONESHOT_RUNS:-5}
ONESHOT_QUERY=${ONESHOT_QUERY:-count(//file)}
ONESHOT_SIZES=${ONESHOT_SIZES:-10k 100k 1M}
EVAL_SIZES=${EVAL_SIZES:-100k 1M}
PARALLEL_QUERY=${PARALLEL_QUERY:-count(//file[@size > 100000000])}
PARALLEL_REQUESTS=${PARALLEL_REQUESTS:-300}
STATUS_REQUESTS=${STATUS_REQUESTS:-2000}
LOAD_SIZE=100k

say() { echo "$*" >&2; }

"$ROOT/scripts/install-deps.sh" apache2-utils nginx-light libxml2-utils time >&2

say "building $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPROVIDER_BUILD_BENCH=ON \
  -DPROVIDER_BUILD_TESTS=OFF >/dev/null
ninja -C "$BUILD" inventory-provider xpath-bench xpath-inventory-gen >/dev/null
PROVIDER=$BUILD/inventory-provider

count_of() {
  case $1 in
    *k) echo $((${1%k} * 1000)) ;;
    *M) echo $((${1%M} * 1000000)) ;;
    *) echo "$1" ;;
  esac
}

mkdir -p "$DATA" "$RESULTS"
for size in $ONESHOT_SIZES $EVAL_SIZES $LOAD_SIZE; do
  file=$DATA/inventory-$size.xml
  [ -f "$file" ] || "$BUILD/bench/xpath-inventory-gen" "$(count_of "$size")" "$file" >&2
done

WORK=$(mktemp -d /tmp/provider-bench.XXXXXX)
chmod 755 "$WORK"  # nginx's workers run as another user
PROVIDER_PID=""
NGINX_PID=""
LOAD_PID=""

stop_pid() {
  local pid=$1 signal=$2 i
  kill -0 "$pid" 2>/dev/null || return 0
  kill "-$signal" "$pid" 2>/dev/null || true
  for i in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

cleanup() {
  [ -z "$LOAD_PID" ] || stop_pid "$LOAD_PID" TERM
  if [ -n "$PROVIDER_PID" ]; then
    curl -s -m 2 -X POST "http://127.0.0.1:$PROVIDER_PORT/shutdown" >/dev/null 2>&1 || true
    stop_pid "$PROVIDER_PID" TERM
  fi
  [ -z "$NGINX_PID" ] || stop_pid "$NGINX_PID" QUIT
  if [ "${KEEP_WORK:-0}" = 1 ]; then say "kept $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A TCP port nothing on this machine uses at the moment.
free_port() {
  local used port i
  used=$(ss -Htan | awk '{ n = split($4, a, ":"); print a[n] }' | sort -u)
  for i in $(seq 200); do
    port=$((20000 + RANDOM % 40000))
    grep -qx "$port" <<<"$used" || { echo "$port"; return 0; }
  done
  return 1
}

wait_for_http() {
  local url=$1 pid=$2 i
  for i in $(seq 100); do
    curl -s -m 1 -o /dev/null "$url" && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# A folder holding the inventory of one size as "inventory.xml" and a
# registry file naming it as the client folder.
client_folder() {
  local size=$1 folder=$WORK/client-$1
  if [ ! -d "$folder" ]; then
    mkdir -p "$folder"
    ln -s "$DATA/inventory-$size.xml" "$folder/inventory.xml"
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
      '[HKEY_LOCAL_MACHINE\SOFTWARE\Corvane\Fleetwarden\WinClient]' \
      "\"Path\"=\"$folder\"" '"HPSM"=dword:00000000' >"$folder/registry.reg"
  fi
  echo "$folder"
}

# Nothing listens there: the provider's messages to the collector fail at once.
COLLECTOR_PORT=$(free_port)

start_provider() {
  local folder attempt
  folder=$(client_folder "$LOAD_SIZE")
  for attempt in 1 2 3; do
    PROVIDER_PORT=$(free_port)
    (cd "$folder" && exec env INVENTORY_PROVIDER_REGISTRY="$folder/registry.reg" \
      INVENTORY_PROVIDER_LOCK_DIR="$WORK" INVENTORY_PROVIDER_COLLECTOR_PORT="$COLLECTOR_PORT" \
      "$PROVIDER" -c -z -u -p "$PROVIDER_PORT" "-l$WORK/provider.log" </dev/null >/dev/null 2>&1) &
    PROVIDER_PID=$!
    wait_for_http "http://127.0.0.1:$PROVIDER_PORT/status" "$PROVIDER_PID" && return 0
    stop_pid "$PROVIDER_PID" KILL
    PROVIDER_PID=""
  done
  say "the provider does not start"
  exit 1
}

start_nginx() {
  local body=$1 attempt dir=$WORK/nginx
  mkdir -p "$dir/www" "$dir/temp"
  printf '%s' "$body" >"$dir/www/status"
  chmod -R a+rX "$dir"
  for attempt in 1 2 3; do
    NGINX_PORT=$(free_port)
    cat >"$dir/nginx.conf" <<EOF
worker_processes $(nproc);
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  keepalive_timeout 0;
  default_type text/html;
  client_body_temp_path $dir/temp;
  proxy_temp_path $dir/temp;
  fastcgi_temp_path $dir/temp;
  uwsgi_temp_path $dir/temp;
  scgi_temp_path $dir/temp;
  server {
    listen 127.0.0.1:$NGINX_PORT;
    root $dir/www;
  }
}
EOF
    nginx -p "$dir" -e "$dir/error.log" -c "$dir/nginx.conf" -g 'daemon off;' </dev/null >/dev/null 2>&1 &
    NGINX_PID=$!
    wait_for_http "http://127.0.0.1:$NGINX_PORT/status" "$NGINX_PID" && return 0
    stop_pid "$NGINX_PID" KILL
    NGINX_PID=""
  done
  say "nginx does not start"
  exit 1
}

# ab's figures: requests/s, mean latency (ms), 99th percentile (ms), failures.
run_ab() {
  local out=$1 requests=$2 concurrency=$3 url=$4
  ab -r -n "$requests" -c "$concurrency" "$url" >"$out" 2>&1 || true
  awk '
    /^Requests per second:/ { rps = $4 }
    /^Time per request:/ && !mean { mean = $4 }
    /^Failed requests:/ { failed += $3 }
    /^Non-2xx responses:/ { failed += $3 }
    /^Complete requests:/ { done = $3 }
    $1 == "99%" { p99 = $2 }
    END { printf "%s %s %s %d %s\n", rps ? rps : 0, mean ? mean : 0, p99 ? p99 : 0, failed, done ? done : 0 }
  ' "$out"
}

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }

TABLE=$WORK/table
row() { printf '%-40s %-24s %12s %12s %8s\n' "$@" >>"$TABLE"; }
: >"$TABLE"

LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)

# Connection per request: /status against the same body from nginx.
if [ "${SKIP_HTTP:-0}" != 1 ]; then
  start_provider
  STATUS_BODY=$(curl -s "http://127.0.0.1:$PROVIDER_PORT/status")
  start_nginx "$STATUS_BODY"
  say "ab -n $REQUESTS -c $CONCURRENCY: provider :$PROVIDER_PORT/status, nginx :$NGINX_PORT/status, $ROUNDS rounds"
  # The machine's speed can change between rounds (other guests of the
  # host); the two servers alternate, so each round's ratio is fair and the
  # requests/s ratio is their median, not the ratio of the two medians.
  p_rps="" p_mean="" p_p99="" p_failed=0 n_rps="" n_mean="" n_p99="" n_failed=0 round_ratios=""
  for round in $(seq "$ROUNDS"); do
    read -r rps mean p99 failed _ < <(run_ab "$RESULTS/ab-status-provider-$round.txt" "$REQUESTS" "$CONCURRENCY" \
      "http://127.0.0.1:$PROVIDER_PORT/status")
    p_rps="$p_rps $rps" p_mean="$p_mean $mean" p_p99="$p_p99 $p99" p_failed=$((p_failed + failed))
    say "  round $round provider $rps/s mean $mean ms p99 $p99 ms failed $failed"
    read -r rps mean p99 failed _ < <(run_ab "$RESULTS/ab-status-nginx-$round.txt" "$REQUESTS" "$CONCURRENCY" \
      "http://127.0.0.1:$NGINX_PORT/status")
    n_rps="$n_rps $rps" n_mean="$n_mean $mean" n_p99="$n_p99 $p99" n_failed=$((n_failed + failed))
    say "  round $round nginx    $rps/s mean $mean ms p99 $p99 ms failed $failed"
    round_ratios="$round_ratios $(ratio "${p_rps##* }" "$rps")"
  done
  stop_pid "$NGINX_PID" QUIT
  NGINX_PID=""
  a=$(median <<<"$p_rps") b=$(median <<<"$n_rps")
  row "/status, ab -c $CONCURRENCY, no keep-alive" "requests/s" "$a" "$b" "$(median <<<"$round_ratios")"
  row "" "requests/s ratio by round" "" "" "$(tr ' ' '\n' <<<"$round_ratios" | grep -v '^$' | paste -sd/)"
  a=$(median <<<"$p_mean") b=$(median <<<"$n_mean")
  row "" "mean latency ms" "$a" "$b" "$(ratio "$a" "$b")"
  a=$(median <<<"$p_p99") b=$(median <<<"$n_p99")
  row "" "99th percentile ms" "$a" "$b" "$(ratio "$a" "$b")"
  row "" "failed requests" "$p_failed" "$n_failed" ""
fi

# Inventory queries under load on the 100k document.
if [ "${SKIP_QUERIES:-0}" != 1 ]; then
  [ -n "$PROVIDER_PID" ] || start_provider
  QUERIES=(
    "list, paged|/inventory/software/product&start=100&number=10"
    "count|count(//file)"
    "attribute predicate, paged|//product%5B@vendor%3D%27Microsoft%20Corporation%27%5D&start=0&number=10"
  )
  base="http://127.0.0.1:$PROVIDER_PORT/lvl1inventory?command=query&data="
  for q in "${QUERIES[@]}"; do
    # The first query loads the document; every answer must be there.
    curl -s -f -o /dev/null "$base${q#*|}" || { say "query ${q#*|} fails"; exit 1; }
  done
  say "ab -n $QUERY_REQUESTS -c $QUERY_CONCURRENCY on /lvl1inventory ($LOAD_SIZE nodes), $ROUNDS rounds"
  declare -A q_rps q_p99 q_failed
  for round in $(seq "$ROUNDS"); do
    i=0
    for q in "${QUERIES[@]}"; do
      i=$((i + 1))
      read -r rps _ p99 failed _ < <(run_ab "$RESULTS/ab-query-$i-$round.txt" "$QUERY_REQUESTS" "$QUERY_CONCURRENCY" \
        "$base${q#*|}")
      q_rps[$i]="${q_rps[$i]:-} $rps" q_p99[$i]="${q_p99[$i]:-} $p99" q_failed[$i]=$((${q_failed[$i]:-0} + failed))
      say "  round $round ${q%%|*}: $rps/s p99 $p99 ms failed $failed"
    done
  done
  i=0
  for q in "${QUERIES[@]}"; do
    i=$((i + 1))
    row "query $LOAD_SIZE, ab -c $QUERY_CONCURRENCY, ${q%%|*}" "requests/s" "$(median <<<"${q_rps[$i]}")" "" ""
    row "" "99th percentile ms" "$(median <<<"${q_p99[$i]}")" "" ""
    row "" "failed requests" "${q_failed[$i]}" "" ""
  done
fi
# Queries in parallel on the 100k document: throughput of 2 concurrent
# clients against 1 (evaluations that take turns give 1.0; 2 cores allow
# up to 2), and the 99th percentile of /status latency (one client, one
# request at a time) while 8 clients run the heavy query, against the same
# figure on an idle provider. Loaded and idle runs alternate by round.
if [ "${SKIP_PARALLEL:-0}" != 1 ]; then
  [ -n "$PROVIDER_PID" ] || start_provider
  encoded=$(sed 's/ /%20/g; s/\[/%5B/g; s/\]/%5D/g; s/>/%3E/g; s/</%3C/g; s/=/%3D/g; s/'"'"'/%27/g' <<<"$PARALLEL_QUERY")
  heavy="http://127.0.0.1:$PROVIDER_PORT/lvl1inventory?command=query&data=$encoded"
  curl -s -f -o /dev/null "$heavy" || { say "query $PARALLEL_QUERY fails"; exit 1; }
  status_p99() {
    ab -r -n "$STATUS_REQUESTS" -c 1 -e "$1.csv" "http://127.0.0.1:$PROVIDER_PORT/status" >"$1" 2>&1 || true
    awk -F, '$1 == 99 { print $2 }' "$1.csv"
  }
  say "'$PARALLEL_QUERY' on $LOAD_SIZE nodes: 1 and 2 clients, /status idle and beside 8 clients, $ROUNDS rounds"
  one="" two="" throughput="" idle="" loaded="" latency="" p_failed=0
  for round in $(seq "$ROUNDS"); do
    read -r rps1 _ _ failed1 _ < <(run_ab "$RESULTS/ab-parallel-1-$round.txt" "$PARALLEL_REQUESTS" 1 "$heavy")
    read -r rps2 _ _ failed2 _ < <(run_ab "$RESULTS/ab-parallel-2-$round.txt" "$PARALLEL_REQUESTS" 2 "$heavy")
    one="$one $rps1" two="$two $rps2" throughput="$throughput $(ratio "$rps2" "$rps1")"
    p_failed=$((p_failed + failed1 + failed2))
    quiet=$(status_p99 "$RESULTS/ab-status-idle-$round.txt")
    ab -r -t 600 -n 10000000 -c 8 "$heavy" >"$RESULTS/ab-parallel-8-$round.txt" 2>&1 &
    LOAD_PID=$!
    sleep 1
    busy=$(status_p99 "$RESULTS/ab-status-loaded-$round.txt")
    stop_pid "$LOAD_PID" INT
    LOAD_PID=""
    idle="$idle $quiet" loaded="$loaded $busy" latency="$latency $(awk -v a="$busy" -v b="$quiet" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }')"
    say "  round $round: $rps1/s with 1 client, $rps2/s with 2; /status p99 $quiet ms idle, $busy ms beside 8 clients"
  done
  row "parallel query $LOAD_SIZE, 2 clients vs 1" "requests/s" "$(median <<<"$two")" "$(median <<<"$one")" \
    "$(median <<<"$throughput")"
  row "" "failed requests" "$p_failed" "" ""
  row "/status p99, 8 query clients vs idle" "99th percentile ms" "$(median <<<"$loaded")" "$(median <<<"$idle")" \
    "$(median <<<"$latency")"
fi
if [ -n "$PROVIDER_PID" ]; then
  curl -s -m 2 -X POST "http://127.0.0.1:$PROVIDER_PORT/shutdown" >/dev/null 2>&1 || true
  stop_pid "$PROVIDER_PID" TERM
  PROVIDER_PID=""
fi

# Whole process, one query: the provider's one-shot mode against xmllint.
# Wall time from the shell (ms), peak resident memory from GNU time.
measure() {
  local out=$1
  shift
  local TIMEFORMAT=%R seconds
  seconds=$( { time /usr/bin/time -f %M -o "$WORK/rss" "$@" >"$out" 2>/dev/null; } 2>&1)
  echo "$seconds $(tail -n 1 "$WORK/rss")"
}

if [ "${SKIP_ONESHOT:-0}" != 1 ]; then
  say "one-shot '$ONESHOT_QUERY' against xmllint --xpath, $ONESHOT_RUNS runs per size"
  for size in $ONESHOT_SIZES; do
    folder=$(client_folder "$size")
    p_wall="" p_rss="" x_wall="" x_rss=""
    for run in $(seq "$ONESHOT_RUNS"); do
      read -r wall rss < <(cd "$folder" && measure "$WORK/provider.out" env INVENTORY_PROVIDER_REGISTRY="$folder/registry.reg" \
        INVENTORY_PROVIDER_LOCK_DIR="$WORK" INVENTORY_PROVIDER_COLLECTOR_PORT="$COLLECTOR_PORT" \
        "$PROVIDER" -u -o "GET /lvl1inventory?command=query&data=$ONESHOT_QUERY")
      p_wall="$p_wall $wall" p_rss="$p_rss $rss"
      read -r wall rss < <(measure "$WORK/xmllint.out" xmllint --xpath "$ONESHOT_QUERY" "$DATA/inventory-$size.xml")
      x_wall="$x_wall $wall" x_rss="$x_rss $rss"
    done
    ours=$(tail -n 1 "$WORK/provider.out") theirs=$(tail -n 1 "$WORK/xmllint.out")
    [ "$ours" = "$theirs" ] || { say "$size: provider says '$ours', xmllint '$theirs'"; exit 1; }
    say "  $size: provider$p_wall s /$p_rss KB; xmllint$x_wall s /$x_rss KB"
    a=$(median <<<"$p_wall") b=$(median <<<"$x_wall")
    row "one-shot $size, $ONESHOT_QUERY" "wall s (vs xmllint)" "$a" "$b" "$(ratio "$a" "$b")"
    a=$(median <<<"$p_rss") b=$(median <<<"$x_rss")
    row "" "peak memory KB" "$a" "$b" "$(ratio "$a" "$b")"
  done
fi

# Evaluation alone: the Google Benchmark comparison with libxml2.
if [ "${SKIP_EVAL:-0}" != 1 ]; then
  say "XPath evaluation benchmark at $EVAL_SIZES"
  # shellcheck disable=SC2086
  BUILD=$BUILD DATA=$DATA "$ROOT/bench/run-xpath-bench.sh" $EVAL_SIZES >"$RESULTS/xpath-bench.txt"
  for size in $EVAL_SIZES; do
    line=$(grep "^$size *median ratio" "$RESULTS/xpath-bench.txt" || true)
    med=$(sed -n 's/.*median ratio \([0-9.]*\).*/\1/p' <<<"$line")
    high=$(sed -n 's/.*highest \([0-9.]*\) (\(.*\))/\1 \2/p' <<<"$line")
    row "evaluation $size, ours / libxml2" "median ratio, highest" "$med" "${high%% *}" "${high#* }"
  done
  set -- $EVAL_SIZES
  if [ $# -ge 2 ]; then
    # The query whose time grows most from the first size to the last.
    awk '/^growth/ { on = 1; next } on && NF == 3 { sub(/x$/, "", $2); sub(/x$/, "", $3); print $2, $3, $1 }' \
      "$RESULTS/xpath-bench.txt" | sort -g -r | head -n 1 | {
      read -r ours theirs query
      row "evaluation growth $1 -> ${!#}" "highest (ours, libxml2)" "${ours}x" "${theirs}x" "$query"
    }
  fi
  cp "$BUILD/xpath-bench.csv" "$RESULTS/" 2>/dev/null || true
fi

LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)
{
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GB", $2 / 1048576 }' /proc/meminfo)," \
    "load average before $LOAD_BEFORE, after $LOAD_AFTER"
  printf '%-40s %-24s %12s %12s %8s\n' "measurement" "figure" "provider" "reference" "ratio"
  cat "$TABLE"
} | tee "$RESULTS/table.txt"
