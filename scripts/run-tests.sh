#!/usr/bin/env bash
# Builds everything and runs every test under CTest.
# With --asan the suite runs in the AddressSanitizer + UndefinedBehaviorSanitizer build instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" "$@"
dir="$root/build"
[[ "${1:-}" == "--asan" ]] && dir="$root/build-asan"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd "$dir" && ctest --output-on-failure -j "$(nproc)"
