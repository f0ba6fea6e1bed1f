#!/usr/bin/env bash
# The example suite against the real address book: its wall time against the sum of the bare start-up
# times of the applications it starts (the address book alone, from exec until its window shows and
# events run: addressbook --smoke) plus the time its scripts wait on purpose (none: they wait for
# objects, not for the clock). Also the runner's own share: the suite's time minus what the same
# applications take to start through the agent (startApplication up to the first ready object).
# Usage: bench/example_suite.sh [build dir] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-5}
runner="$build/bin/tarvinrunner"
app="$build/bin/addressbook"
export QT_QPA_PLATFORM=offscreen

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
now() { date +%s%N; }

# How many applications the suite starts: one per test case that starts one, one per feature file.
starts=$(grep -l "startApplication addressbook" "$root"/examples/suite/tst_*/test.tcl | wc -l)
features=$(ls "$root"/examples/suite/tst_*/test.feature 2>/dev/null | wc -l)
starts=$((starts + features))

bare=$(for i in $(seq "$runs"); do s=$(now); "$app" --smoke >/dev/null 2>&1; e=$(now); echo $(((e - s) / 1000)); done | median)

probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf 'proc main {} {\n    startApplication addressbook\n    waitForObject {type QMainWindow name mainWindow}\n}\n' > "$probe/test.tcl"
empty=$(mktemp -d)
printf 'proc main {} {}\n' > "$empty/test.tcl"
withApp=$(for i in $(seq "$runs"); do s=$(now); "$runner" --no-color "$probe" >/dev/null 2>&1; e=$(now); echo $(((e - s) / 1000)); done | median)
withoutApp=$(for i in $(seq "$runs"); do s=$(now); "$runner" --no-color "$empty" >/dev/null 2>&1; e=$(now); echo $(((e - s) / 1000)); done | median)
driven=$((withApp - withoutApp))

suite=$(for i in $(seq "$runs"); do s=$(now); "$runner" --no-color "$root/examples/suite" >/dev/null 2>&1; e=$(now); echo $(((e - s) / 1000)); done | median)

budget=$((starts * bare))
echo "applications started: $starts; bare start-up of the address book: $bare us; through the agent: $driven us"
echo "example suite: $suite us; bare start-ups plus deliberate waits: $budget us"
awk -v s="$suite" -v b="$budget" 'BEGIN { r = s / b; printf "suite / (start-ups + waits) = %.2f (target <= 1.50) %s\n", r, (r <= 1.5 ? "met" : "MISSED") }'
awk -v s="$suite" -v n="$starts" -v d="$driven" 'BEGIN { printf "the runner'"'"'s own share: %d us of %d us (%.0f%%)\n", s - n * d, s, 100 * (s - n * d) / s }'
