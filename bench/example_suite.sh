#!/usr/bin/env bash
# The example suite against the real address book: its wall time against the sum of the bare start-up
# times of the applications it starts (the address book alone, from exec until its window shows and
# events run: addressbook --smoke) plus the time its scripts wait on purpose (none: they wait for
# objects, not for the clock). The measurements take turns (bare start, suite, ...) so that a machine
# whose load changes weighs on both alike; each figure is the median of its turns.
# Also the runner's own share: the processor time of the runner's processes against the address
# book's (with perf, when installed: sampled by process name), and the suite's time minus what the
# same applications take to start through the agent (startApplication up to the first ready object).
# Usage: bench/example_suite.sh [build dir] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-7}
runner="$build/bin/tarvinrunner"
app="$build/bin/addressbook"
export QT_QPA_PLATFORM=offscreen

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
now() { date +%s%N; }
took() { local s e; s=$(now); "$@" >/dev/null 2>&1; e=$(now); echo $(((e - s) / 1000)); }

# How many applications the suite starts: one per test case that starts one, one per feature file.
starts=$(grep -l "startApplication addressbook" "$root"/examples/suite/tst_*/test.tcl | wc -l)
features=$(ls "$root"/examples/suite/tst_*/test.feature 2>/dev/null | wc -l)
starts=$((starts + features))

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/probe" "$work/empty"
printf 'proc main {} {\n    startApplication addressbook\n    waitForObject {type QMainWindow name mainWindow}\n}\n' > "$work/probe/test.tcl"
printf 'proc main {} {}\n' > "$work/empty/test.tcl"

for i in $(seq "$runs"); do
    took "$app" --smoke >> "$work/bare"
    took "$runner" --no-color "$root/examples/suite" >> "$work/suite"
    took "$runner" --no-color "$work/probe" >> "$work/withApp"
    took "$runner" --no-color "$work/empty" >> "$work/withoutApp"
done
bare=$(median < "$work/bare")
suite=$(median < "$work/suite")
driven=$(($(median < "$work/withApp") - $(median < "$work/withoutApp")))

budget=$((starts * bare))
echo "applications started: $starts; bare start-up of the address book: $bare us; through the agent: $driven us"
echo "example suite: $suite us; bare start-ups plus deliberate waits: $budget us"
awk -v s="$suite" -v b="$budget" 'BEGIN { r = s / b; printf "suite / (start-ups + waits) = %.2f (target <= 1.50) %s\n", r, (r <= 1.5 ? "met" : "MISSED") }'
awk -v s="$suite" -v n="$starts" -v d="$driven" 'BEGIN { printf "suite less %d start-ups through the agent: %d us of %d us (%.0f%%)\n", n, s - n * d, s, 100 * (s - n * d) / s }'

# Processor time by process: 100 us a sample.
if command -v perf >/dev/null && perf record -q -e task-clock -c 100000 -o "$work/perf.data" -- \
        "$runner" --no-color "$root/examples/suite" >/dev/null 2>&1; then
    perf report -i "$work/perf.data" --sort comm --stdio -F sample,comm 2>/dev/null | grep -v '^#' | grep . |
        awk '{ms[$2] = $1 / 10} END {
            r = ms["tarvinrunner"]; a = ms["addressbook"]
            printf "processor time: runner %.0f ms, address book %.0f ms (the runner %.0f%% of both)\n", r, a, 100 * r / (r + a) }'
fi
