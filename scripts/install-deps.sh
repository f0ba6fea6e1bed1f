#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need (chromium: the HTML
# report's test looks at the page in a headless browser; nodejs and npm: the DAP client tests, whose
# npm packages tests/dap/run-tests.sh installs with npm ci; qmlscene and Qt Quick's modules: the
# agent's test of a QML user interface).
# A quick no-op when every package is there already; runs as root (or through sudo when available).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang
    tcl8.6 tcl8.6-dev tcl-dev tcllib libreadline-dev
    qtbase5-dev qtbase5-private-dev qtbase5-examples xvfb xdotool
    qmlscene qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls2
    qml-module-qtquick-templates2
    zlib1g-dev libminizip-dev libtinyxml-dev libfreexl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    python3
    chromium
)

# The DAP client tests run under Node with npm (tests/dap); a Node.js installed otherwise (one that brings
# its own npm) is kept.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
