#!/usr/bin/env bash
# Regenerates the reference Cucumber JSON report that tests/runner/cucumberjson_test.cpp compares the
# runner's --format cucumber-json with: Cucumber (Debian's `cucumber` package) runs the feature files of
# tests/runner/data/cucumber with the Ruby step definitions beside them. Only needed when the features
# change; CI reads the committed reference.json.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
data="$root/tests/runner/data/cucumber"
command -v cucumber >/dev/null || { echo "cucumber is not installed (apt-get install cucumber)" >&2; exit 2; }
cd "$data"
# Cucumber exits 1 because the features fail on purpose.
cucumber --format json --out reference.json features/plain.feature features/report.feature >/dev/null || true
test -s reference.json
echo "wrote $data/reference.json"
