#!/usr/bin/env bash
# Runs every Qt example program Debian ships (qtbase5-examples) through the agent, one test case per
# program, headless. Usage: tests/agent/sweep/run-sweep.sh [BUILD_DIR [OUT_DIR [FILTER]]]
# Writes OUT_DIR/suite (the generated test cases), OUT_DIR/sweep.xml (JUnit) and OUT_DIR/sweep.log.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../../build}" && pwd)
out=${2:-$build/agent-sweep}
filter=${3:-}
examples=${QT_EXAMPLES:-/usr/lib/x86_64-linux-gnu/qt5/examples}

rm -rf "$out/suite"
mkdir -p "$out/suite"
while IFS= read -r program; do
    rel=${program#"$examples"/}
    [[ -n "$filter" && "$rel" != *$filter* ]] && continue
    name=tst_$(echo "${rel%/*}" | tr -c 'A-Za-z0-9\n' _)
    mkdir -p "$out/suite/$name"
    printf 'source {%s}\nproc main {} { sweep::run {%s} }\n' "$here/sweep.tcl" "$program" \
        > "$out/suite/$name/test.tcl"
done < <(find "$examples" -type f -perm -u+x ! -name '*.so*' | sort)

export QT_QPA_PLATFORM=offscreen
"$build/bin/tarvinrunner" --no-color --no-screenshots --test-timeout "${SWEEP_TIMEOUT:-60}" \
    --jobs "${SWEEP_JOBS:-2}" --junit "$out/sweep.xml" "$out/suite" 2>&1 | tee "$out/sweep.log"
