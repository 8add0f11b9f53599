#!/bin/sh
# Builds the XPath benchmark, generates the inventory documents and prints,
# per query and size, our time, libxml2's time and their ratio (medians of
# randomly interleaved repetitions, CPU time).
#
# Usage: bench/run-xpath-bench.sh [size ...]      sizes like 10k 100k 1M (the default)
# Environment: BUILD (build folder, default build-bench), DATA (documents,
#   default $BUILD/bench-data), REPETITIONS (5), MIN_TIME (seconds per
#   repetition, 0.2), CLOCK (cpu or real, cpu).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build-bench}
DATA=${DATA:-$BUILD/bench-data}
REPETITIONS=${REPETITIONS:-5}
MIN_TIME=${MIN_TIME:-0.2}
CLOCK=${CLOCK:-cpu}
SIZES=${*:-10k 100k 1M}

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPROVIDER_BUILD_BENCH=ON \
  -DPROVIDER_BUILD_TESTS=OFF >/dev/null
ninja -C "$BUILD" xpath-bench xpath-inventory-gen >/dev/null

mkdir -p "$DATA"
FILES=""
for size in $SIZES; do
  case $size in
    *k) count=$((${size%k} * 1000)) ;;
    *M) count=$((${size%M} * 1000000)) ;;
    *) count=$size ;;
  esac
  file="$DATA/inventory-$size.xml"
  [ -f "$file" ] || "$BUILD/bench/xpath-inventory-gen" "$count" "$file"
  FILES="$FILES $file"
done

CSV="$BUILD/xpath-bench.csv"
# shellcheck disable=SC2086
"$BUILD/bench/xpath-bench" --benchmark_format=csv --benchmark_repetitions="$REPETITIONS" \
  --benchmark_min_time="$MIN_TIME" --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true $FILES >"$CSV"

awk -F, -v sizes="$SIZES" -v clock="$CLOCK" '
  function median(values, n,    i, j, t) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && values[j - 1] > values[j]; j--) {
      t = values[j]; values[j] = values[j - 1]; values[j - 1] = t
    }
    return n % 2 ? values[(n + 1) / 2] : (values[n / 2] + values[n / 2 + 1]) / 2
  }
  NR > 1 && $1 ~ /_median"$/ {
    name = $1; gsub(/"/, "", name); sub(/_median$/, "", name)
    n = split(name, part, "/")
    if (part[1] == "parse") { query = "(parse)"; size = part[2]; engine = part[3] }
    else { query = part[2]; size = part[3]; engine = part[4] }
    if (!(query in seen)) { seen[query] = 1; order[++queries] = query }
    time[query, size, engine] = (clock == "real") ? $3 : $4
  }
  END {
    # Interleaving shuffles the output: list the queries by name, parsing first.
    for (i = 2; i <= queries; i++) for (j = i; j > 1 && order[j - 1] > order[j]; j--) {
      t = order[j]; order[j] = order[j - 1]; order[j - 1] = t
    }
    nsizes = split(sizes, size_list, " ")
    printf "%-16s %6s %14s %14s %8s\n", "query", "size", "ours (us)", "libxml2 (us)", "ratio"
    for (q = 1; q <= queries; q++) for (s = 1; s <= nsizes; s++) {
      query = order[q]; size = size_list[s]
      if (!((query, size, "ours") in time)) continue
      ours = time[query, size, "ours"]; lib = time[query, size, "libxml2"]
      ratio = lib > 0 ? ours / lib : 0
      printf "%-16s %6s %14.2f %14.2f %8.2f\n", query, size, ours, lib, ratio
      if (query != "(parse)") {
        count[size]++; ratios[size, count[size]] = ratio
        if (ratio > worst[size]) { worst[size] = ratio; worst_query[size] = query }
      }
    }
    print ""
    for (s = 1; s <= nsizes; s++) {
      size = size_list[s]
      if (!count[size]) continue
      for (i = 1; i <= count[size]; i++) list[i] = ratios[size, i]
      printf "%-6s median ratio %.2f, highest %.2f (%s)\n", size, median(list, count[size]), worst[size], worst_query[size]
    }
    for (s = 2; s <= nsizes; s++) {
      from = size_list[s - 1]; to = size_list[s]
      printf "\ngrowth %s -> %s  %-16s %8s %8s\n", from, to, "query", "ours", "libxml2"
      for (q = 1; q <= queries; q++) {
        query = order[q]
        if (!((query, from, "ours") in time) || !((query, to, "ours") in time)) continue
        printf "%29s %-16s %7.1fx %7.1fx\n", "", query, time[query, to, "ours"] / time[query, from, "ours"],
               time[query, to, "libxml2"] / time[query, from, "libxml2"]
      }
    }
  }' "$CSV"
