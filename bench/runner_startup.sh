#!/usr/bin/env bash
# Times tarvinrunner on an empty test case against tclsh8.6 on an empty script, from outside, in the
# same run; then a test case that requires a few tcllib packages (whose files the runner instruments as
# it sources them, index files included) against tclsh8.6 requiring the same. Target: at most 3 times
# each. Usage: bench/runner_startup.sh [build dir] [repetitions]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
n=${2:-50}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
echo 'proc main {} {}' > "$tmp/test.tcl"
: > "$tmp/empty.tcl"

timeit() {
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < n; i++)); do "$@" >/dev/null; done
    end=$(date +%s%N)
    echo $(( (end - start) / n / 1000 ))
}

"$build/bin/tarvinrunner" "$tmp/test.tcl" >/dev/null # warm the caches
tclsh=$(timeit tclsh8.6 "$tmp/empty.tcl")
runner=$(timeit "$build/bin/tarvinrunner" "$tmp/test.tcl")
ratio=$(awk -v a="$runner" -v b="$tclsh" 'BEGIN { printf "%.2f", a / b }')
echo "tclsh8.6 empty script: ${tclsh} us; tarvinrunner empty test case: ${runner} us; ratio ${ratio} (target <= 3)"

packages='package require md5; package require json; package require struct::list; package require csv'
echo "$packages" > "$tmp/packages.tcl"
mkdir -p "$tmp/packages"
echo "proc main {} { $packages }" > "$tmp/packages/test.tcl"
n=$(( n / 5 > 0 ? n / 5 : 1 ))
tclshPackages=$(timeit tclsh8.6 "$tmp/packages.tcl")
runnerPackages=$(timeit "$build/bin/tarvinrunner" "$tmp/packages/test.tcl")
packageRatio=$(awk -v a="$runnerPackages" -v b="$tclshPackages" 'BEGIN { printf "%.2f", a / b }')
echo "tclsh8.6 requiring 4 tcllib packages: ${tclshPackages} us; tarvinrunner, the same in a test case:" \
    "${runnerPackages} us; ratio ${packageRatio} (target <= 3)"
awk -v r="$ratio" -v p="$packageRatio" 'BEGIN { exit !(r <= 3 && p <= 3) }'
