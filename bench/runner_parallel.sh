#!/usr/bin/env bash
# Parallel test cases (--jobs), timed from outside in the same run as their baselines:
#   1. 20 test cases that each wait 0.5 s: --jobs 2 against one after the other. Target: <= 0.6.
#   2. 20 empty test cases: --jobs 2 against --in-process (no child processes at all); the difference
#      per test case is the runner's own cost of running it in parallel (fork, capture, ordering,
#      the child's exit). Target: <= 10 ms per test case.
# Usage: bench/runner_parallel.sh [build dir] [repetitions of 2.]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
n=${2:-10}
runner=$build/bin/tarvinrunner
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for i in $(seq -w 1 20); do
    mkdir -p "$tmp/waiting/tst_$i" "$tmp/empty/tst_$i"
    echo 'proc main {} { after 500 }' > "$tmp/waiting/tst_$i/test.tcl"
    echo 'proc main {} {}' > "$tmp/empty/tst_$i/test.tcl"
done

ms() { # wall milliseconds of one run of the command
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    echo $(( (end - start) / 1000000 ))
}

"$runner" "$tmp/empty" >/dev/null # warm the caches
serial=$(ms "$runner" "$tmp/waiting")
parallel=$(ms "$runner" --jobs 2 "$tmp/waiting")
ratio=$(awk -v a="$parallel" -v b="$serial" 'BEGIN { printf "%.2f", a / b }')
echo "20 test cases of 0.5 s: one after the other ${serial} ms; --jobs 2 ${parallel} ms; ratio ${ratio} (target <= 0.6)"

inprocess=0 jobs=0
for ((r = 0; r < n; r++)); do # taken turn about, so that the machine's drift hits both alike
    inprocess=$(( inprocess + $(ms "$runner" --in-process "$tmp/empty") ))
    jobs=$(( jobs + $(ms "$runner" --jobs 2 "$tmp/empty") ))
done
overhead=$(awk -v a="$jobs" -v b="$inprocess" -v n="$n" 'BEGIN { printf "%.2f", (a - b) / n / 20 }')
echo "20 empty test cases, mean of $n: --in-process $(( inprocess / n )) ms; --jobs 2 $(( jobs / n )) ms;" \
     "${overhead} ms per test case (target <= 10)"
awk -v r="$ratio" -v o="$overhead" 'BEGIN { exit !(r <= 0.6 && o <= 10) }'
