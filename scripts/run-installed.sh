#!/usr/bin/env bash
# CI: installs the build into a staging prefix, moves it (nothing may point back into the build tree)
# and runs the example suite from there: whole, with two jobs, and in three parts whose reports are
# merged; a Qt program is driven through the installed agent. Then builds the Debian package, checks
# its declared dependencies and runs the suite from its unpacked files.
# Usage: scripts/run-installed.sh [build dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
[[ $# -gt 0 ]] || "$root/scripts/build.sh"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# The installation must find everything by itself.
unset TARVIN_PREFIX TARVIN_AGENT_LIBRARY CI_NODE_INDEX CI_NODE_TOTAL BUILDKITE_PARALLEL_JOB \
      BUILDKITE_PARALLEL_JOB_COUNT JOB_COMPLETION_INDEX

cmake --install "$build" --prefix "$stage/installing" >/dev/null
mv "$stage/installing" "$stage/prefix"
prefix=$stage/prefix
suite=$prefix/share/tarvintcl/examples/suite
runner=$prefix/bin/tarvinrunner
cd "$stage"

outcomes() { # the testcase names of a JUnit report with their first failure, error or skip
    sed -n -e 's/.*<testcase name="\([^"]*\)".*/\1/p' -e 's/.*<\(failure\|error\|skipped\)[ >].*/  \1/p' "$1"
}

echo "== the example suite from $prefix"
"$runner" --no-color --junit serial.xml "$suite"
echo "== with --jobs 2"
"$runner" --no-color --jobs 2 --junit jobs.xml "$suite" >/dev/null
diff <(outcomes serial.xml) <(outcomes jobs.xml)
echo "== in 3 parts at once, merged"
pids=()
for k in 1 2 3; do
    CI_NODE_INDEX=$k CI_NODE_TOTAL=3 "$runner" --no-color --junit "part$k.xml" "$suite" > "part$k.out" &
    pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
head -qn1 part1.out part2.out part3.out
"$runner" --merge-junit merged.xml part1.xml part2.xml part3.xml
diff <(outcomes serial.xml) <(outcomes merged.xml)

echo "== a Qt program through the installed agent"
widgetsapp=$build/bin/widgetsapp
if [[ -x $widgetsapp ]]; then
    mkdir -p qt/tst_agent
    printf 'proc main {} {\n    startApplication "%s"\n    test compare [property get [waitForObject {type QMainWindow name mainWindow}] objectName] mainWindow\n}\n' \
        "$widgetsapp" > qt/tst_agent/test.tcl
    "$runner" --no-color qt
fi

echo "== the Debian package"
(cd "$build" && cpack -G DEB -B "$stage/package" >/dev/null)
deb=$(ls "$stage"/package/*.deb)
dpkg-deb --field "$deb" Package Version Depends
dpkg-deb -x "$deb" "$stage/unpacked"
"$stage/unpacked/opt/tarvintcl/bin/tarvinrunner" --no-color --junit deb.xml \
    "$stage/unpacked/opt/tarvintcl/share/tarvintcl/examples/suite" >/dev/null
diff <(outcomes serial.xml) <(outcomes deb.xml)
# Every library the package's binaries need comes from the package or a package it depends on.
missing=$(find "$stage/unpacked" -type f \( -name '*.so*' -o -perm -u+x \) -exec sh -c 'file -b "$1" | grep -q ELF && ldd "$1"' _ {} \; \
          | grep 'not found' || true)
[[ -z $missing ]] || { echo "unresolved libraries: $missing"; exit 1; }
for dependency in $(dpkg-deb --field "$deb" Depends | tr ',' '\n' | sed 's/(.*//; s/|.*//' | tr -d ' '); do
    dpkg-query -W -f='${Status}\n' "$dependency" 2>/dev/null | grep -q 'install ok installed' \
        || apt-cache show "$dependency" >/dev/null 2>&1 \
        || { echo "declared dependency $dependency is no Debian package"; exit 1; }
done
echo "installed tree and package: fine"
