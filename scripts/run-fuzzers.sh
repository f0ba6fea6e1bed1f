#!/usr/bin/env bash
# Builds every libFuzzer target with clang (into build-fuzz/) and runs each for a short while on its seeds,
# so that a fuzzer that no longer builds or that crashes at once fails CI.
# Usage: scripts/run-fuzzers.sh [seconds per fuzzer, default 20]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
dir="$root/build-fuzz"
"$root/scripts/install-deps.sh"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIN_FUZZERS=ON \
        -DTARVIN_BENCHMARKS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
fuzzers=(tsv_fuzzer xlsx_fuzzer xls_fuzzer tclsyntaxcheck_fuzzer tclinstrumenter_fuzzer gherkin_fuzzer agent_fuzzer dap_fuzzer)
cmake --build "$dir" -j "$(nproc)" --target "${fuzzers[@]}"

# Each fuzzer works on a scratch copy of its seeds; the readers and Qt print warnings, so output is
# masked, and the children the .xls reader forks leave their sanitizer reports in the working directory.
seeds() {
    case "$1" in
    tsv_fuzzer) echo "$root/tests/shared/data/fuzz/tsv $root/examples/suite/shared/testdata" ;;
    xlsx_fuzzer) echo "$root/tests/shared/data/fuzz/xlsx" ;;
    xls_fuzzer) echo "$root/tests/shared/data/fuzz/xls $root/tests/shared/data/*.xls" ;;
    tclsyntaxcheck_fuzzer | tclinstrumenter_fuzzer) echo "$root/examples/suite/*/test.tcl $root/tcl/*.tcl" ;;
    gherkin_fuzzer) echo "$root/examples/suite/*/test.feature" ;;
    agent_fuzzer) echo "$root/fuzz/agent" ;;
    dap_fuzzer) echo "$root/fuzz/dap" ;;
    esac
}
options() {
    case "$1" in
    xlsx_fuzzer) echo "-dict=$root/fuzz/xlsx.dict" ;;
    # libfreexl leaks on some damaged workbooks; fontconfig leaks when Qt first lays out text.
    xls_fuzzer) echo "-detect_leaks=0" ;;
    agent_fuzzer) echo "-detect_leaks=0 -dict=$root/fuzz/agent.dict" ;;
    esac
}
failed=()
for fuzzer in "${fuzzers[@]}"; do
    work="$dir/fuzz-run/$fuzzer"
    rm -rf "$work" && mkdir -p "$work/corpus"
    for seed in $(seeds "$fuzzer"); do
        if [[ -d "$seed" ]]; then cp -r "$seed"/. "$work/corpus/"; elif [[ -f "$seed" ]]; then cp "$seed" "$work/corpus/"; fi
    done
    leaks=1
    [[ "$fuzzer" == xls_fuzzer || "$fuzzer" == agent_fuzzer ]] && leaks=0
    echo "== $fuzzer for ${seconds}s"
    # shellcheck disable=SC2046
    if ! (cd "$work" && ASAN_OPTIONS="detect_leaks=$leaks" QT_QPA_PLATFORM=offscreen \
            "$dir/bin/$fuzzer" -max_total_time="$seconds" -close_fd_mask=3 $(options "$fuzzer") corpus \
            >"$work/log" 2>&1); then
        tail -n 40 "$work/log"
        failed+=("$fuzzer")
    fi
done
if ((${#failed[@]})); then
    echo "fuzzers failed: ${failed[*]} (logs and crash inputs in $dir/fuzz-run/)"
    exit 1
fi
echo "all ${#fuzzers[@]} fuzzers ran ${seconds}s each without a finding"
