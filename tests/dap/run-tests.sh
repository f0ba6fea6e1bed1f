#!/usr/bin/env bash
# Runs the DAP client tests (Node's test runner, @vscode/debugadapter-testsupport) against a built
# tarvinrunner. Usage: run-tests.sh BUILD_DIR [TEST.js...] (default: every *.test.js here)
# The npm packages are installed with `npm ci` into BUILD_DIR/tests/dap-node, from the lock file here.
# Exit 77 (skipped) only when Node or npm is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run-tests.sh BUILD_DIR}" && pwd)
shift
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    echo "SKIPPED: the DAP client tests need Node.js and npm (scripts/install-deps.sh installs them)"
    exit 77
fi
modules="$build/tests/dap-node"
mkdir -p "$modules"
if ! cmp -s "$here/package-lock.json" "$modules/package-lock.json" || [[ ! -d "$modules/node_modules" ]]; then
    cp "$here/package.json" "$here/package-lock.json" "$modules/"
    (cd "$modules" && npm ci --no-audit --no-fund --prefer-offline --loglevel=error)
fi
export NODE_PATH="$modules/node_modules"
export TARVINRUNNER="${TARVINRUNNER:-$build/bin/tarvinrunner}"
export TARVIN_PREFIX="${TARVIN_PREFIX:-$build}"
export QT_QPA_PLATFORM=offscreen
if (($#)); then
    exec node --test "$@"
fi
exec node --test "$here"/*.test.js
