#!/usr/bin/env bash
# The main job: builds everything and runs the example suite with tarvinrunner.
# Extra arguments go to the runner (for example --junit results.xml).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
exec "$root/build/bin/tarvinrunner" "$@" "$root/examples/suite"
