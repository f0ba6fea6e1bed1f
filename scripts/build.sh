#!/usr/bin/env bash
# Configures and builds the project. Usage: scripts/build.sh [--asan] [extra cmake -D options...]
# The normal build goes to build/, the AddressSanitizer + UBSan build to build-asan/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

dir="$root/build"
opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [[ "${1:-}" == "--asan" ]]; then
    shift
    dir="$root/build-asan"
    opts=(-DCMAKE_BUILD_TYPE=Debug -DTARVIN_SANITIZE=ON -DTARVIN_BENCHMARKS=OFF)
fi
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$dir" "${generator[@]}" "${opts[@]}" "$@" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)"
