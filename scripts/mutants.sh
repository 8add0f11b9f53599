#!/usr/bin/env bash
# Seeded faults: applies each fault of scripts/mutants.list in turn to a
# scratch copy of the tree, builds it, runs the suite until its first
# failure (the tests of the fault's own folder first) and says whether the
# suite caught the fault.
#
#   scripts/mutants.sh             every fault
#   scripts/mutants.sh 12 17       only faults 12 and 17
#   scripts/mutants.sh --check     only check that every fault applies once
#
# Environment: MUTANTS_DIR (scratch folder and results, default
# build-mutants), MUTANTS_LIST, MUTANTS_TIMEOUT (seconds per test, default
# 120), MUTANTS_JOBS (build and test jobs, default 2), MUTANTS_TEST_JOBS
# (test jobs, default MUTANTS_JOBS).
set -u

repo=$(cd "$(dirname "$0")/.." && pwd)
list=${MUTANTS_LIST:-$repo/scripts/mutants.list}
work=${MUTANTS_DIR:-$repo/build-mutants}
timeout=${MUTANTS_TIMEOUT:-120}
jobs=${MUTANTS_JOBS:-2}
test_jobs=${MUTANTS_TEST_JOBS:-$jobs}
src=$work/src
# The build folder sits in the copy as build/ does in a worktree, so that a
# shared ccache (CCACHE_BASEDIR) finds the objects of an ordinary build.
bld=$src/build
logs=$work/logs
results=$work/results.txt

check_only=0
wanted=()
for arg in "$@"; do
  case $arg in
    --check) check_only=1 ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) wanted+=("$arg") ;;
  esac
done

# The list: blocks of "key: value" lines, a blank line between faults.
#   id: 12
#   file: server/HttpRequest.cpp
#   find: text that occurs exactly once in the file
#   replace: its faulty replacement
#   why: what a user would see
# In find and replace "\n" stands for a line break, "\t" for a tab and "\\"
# for a backslash.
ids=() files=() finds=() repls=() whys=()
parse_list() {
  local id="" file="" find="" repl="" why="" have=0 line key value n=0
  flush() {
    if [ "$have" = 1 ]; then
      if [ -z "$id" ] || [ -z "$file" ] || [ -z "$find" ]; then
        echo "mutants.list: entry before line $n lacks id, file or find" >&2
        exit 2
      fi
      ids+=("$id") files+=("$file") finds+=("$find") repls+=("$repl") whys+=("$why")
    fi
    id="" file="" find="" repl="" why="" have=0
  }
  while IFS= read -r line || [ -n "$line" ]; do
    n=$((n + 1))
    case $line in
      '#'*) continue ;;
      '') flush; continue ;;
    esac
    key=${line%%:*}
    value=${line#*: }
    [ "$value" = "$line" ] && value=""
    case $key in
      id) id=$value ;;
      file) file=$value ;;
      find) find=$value ;;
      replace) repl=$value ;;
      why) why=$value ;;
      *) echo "mutants.list:$n: unknown key '$key'" >&2; exit 2 ;;
    esac
    have=1
  done < "$list"
  flush
}
parse_list

# Replaces FIND by REPL in FILE when FIND occurs exactly once; exit 3 when
# it occurs another number of times (the count is printed).
apply_fault() { # root file find repl [dry]
  FIND=$3 REPL=$4 DRY=${5:-} perl -e '
    sub unesc { my $s = shift; $s =~ s/\\(.)/$1 eq "n" ? "\n" : $1 eq "t" ? "\t" : $1/ge; $s }
    my $path = $ARGV[0];
    open(my $in, "<", $path) or do { print "no such file\n"; exit 3 };
    local $/; my $text = <$in>; close $in;
    my ($find, $repl) = (unesc($ENV{FIND}), unesc($ENV{REPL}));
    my $count = () = $text =~ /\Q$find\E/g;
    if ($count != 1) { print "found $count times\n"; exit 3 }
    if ($find eq $repl) { print "replacement equals the text\n"; exit 3 }
    exit 0 if $ENV{DRY};
    my $at = index($text, $find);
    substr($text, $at, length($find)) = $repl;
    open(my $out, ">", $path) or die "$path: $!";
    print $out $text; close $out;
  ' "$1/$2"
}

selected() { # id
  [ ${#wanted[@]} -eq 0 ] && return 0
  local w
  for w in "${wanted[@]}"; do [ "$w" = "$1" ] && return 0; done
  return 1
}

if [ "$check_only" = 1 ]; then
  bad=0 count=0
  declare -A seen=()
  for i in "${!ids[@]}"; do
    selected "${ids[$i]}" || continue
    count=$((count + 1))
    if [ -n "${seen[${ids[$i]}]:-}" ]; then
      echo "fault ${ids[$i]}: id used twice"; bad=$((bad + 1))
    fi
    seen[${ids[$i]}]=1
    if ! msg=$(apply_fault "$repo" "${files[$i]}" "${finds[$i]}" "${repls[$i]}" dry); then
      echo "fault ${ids[$i]} (${files[$i]}): $msg"; bad=$((bad + 1))
    fi
  done
  echo "$((count - bad)) of $count faults apply"
  [ "$bad" = 0 ]
  exit
fi

# Processes started from the scratch build (providers, helpers, tests) that
# a fault or a killed test left behind, by process id.
kill_leftovers() {
  local p exe pids=()
  for p in /proc/[0-9]*; do
    exe=$(readlink "$p/exe" 2>/dev/null) || continue
    case $exe in "$bld"/*) pids+=("${p#/proc/}") ;; esac
  done
  [ ${#pids[@]} -gt 0 ] && kill -9 "${pids[@]}" 2>/dev/null
  return 0
}

# The scratch copy: the repository's files as they are in the working tree
# (committed or not). Only files whose content differs are copied, so the
# build stays incremental; a copied file gets a fresh time stamp.
sync_tree() {
  mkdir -p "$src"
  local f
  (cd "$repo" && git ls-files -z --cached --others --exclude-standard) |
  while IFS= read -r -d '' f; do
    [ -f "$repo/$f" ] || continue
    if ! cmp -s "$repo/$f" "$src/$f"; then
      mkdir -p "$(dirname "$src/$f")"
      cp "$repo/$f" "$src/$f"
    fi
  done
}

run_tests() { # label log -> prints the first failing test, returns 1 on failure
  local label=$1 log=$2 first
  (cd "$bld" && ctest --stop-on-failure --timeout "$timeout" -j "$test_jobs" "${@:3}") >> "$log" 2>&1
  local rc=$?
  kill_leftovers
  [ $rc = 0 ] && return 0
  first=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*(\*\*\*|Not Run|Exception)' "$log" | head -1 |
          sed -E 's/^.*Test +#[0-9]+: ([^ ]+).*$/\1/')
  [ -z "$first" ] && first=$(grep -A1 'The following tests FAILED' "$log" | tail -1 |
                             sed -E 's/^.*- ([^ ]+).*$/\1/')
  echo "${first:-ctest failed}"
  return 1
}

start=$(date +%s)
mkdir -p "$logs"
echo "syncing the scratch copy in $src" >&2
sync_tree
# A build of the tree without a fault first: a suite that fails here would
# make every fault look caught.
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$src" -B "$bld" -G Ninja "${launcher[@]}" -DPROVIDER_TEST_TIMEOUT="$timeout" > "$logs/configure.log" 2>&1 ||
  { echo "configure failed: $logs/configure.log" >&2; exit 2; }
if ! ninja -C "$bld" -j "$jobs" > "$logs/base-build.log" 2>&1; then
  echo "the tree without a fault does not build: $logs/base-build.log" >&2; exit 2
fi

trap 'kill_leftovers; sync_tree; exit 130' INT TERM
: > "$results"
caught=0 total=0
for i in "${!ids[@]}"; do
  id=${ids[$i]} file=${files[$i]}
  selected "$id" || continue
  total=$((total + 1))
  log=$logs/fault-$id.log
  : > "$log"
  t0=$(date +%s)
  cp "$src/$file" "$work/original" 2>/dev/null
  if ! msg=$(apply_fault "$src" "$file" "${finds[$i]}" "${repls[$i]}"); then
    line="fault $id ($file): does not apply: $msg"
    echo "$line" | tee -a "$results"
    continue
  fi
  folder=${file%%/*}
  if ! ninja -C "$bld" -j "$jobs" >> "$log" 2>&1; then
    verdict="caught (build)"
    caught=$((caught + 1))
  elif first=$(run_tests "$folder" "$log" -L "^$folder\$") &&
       first=$(run_tests "$folder" "$log" -LE "^$folder\$"); then
    verdict="missed"
  else
    verdict="caught by $first"
    caught=$((caught + 1))
  fi
  # Back to the tree without a fault (a fresh time stamp: rebuilt next time).
  cp "$work/original" "$src/$file"
  line="fault $id ($file): $verdict [$(( $(date +%s) - t0 )) s] ${whys[$i]}"
  echo "$line" | tee -a "$results"
done
kill_leftovers
sync_tree
rm -f "$work/original"
elapsed=$(( $(date +%s) - start ))
summary="$caught of $total caught ($((elapsed / 60)) min $((elapsed % 60)) s)"
echo "$summary" | tee -a "$results"
