#!/usr/bin/env bash
# Builds every benchmark of bench/ (RelWithDebInfo, in build-bench/) and runs them one after
# another. They print figures and ratios and assert nothing; they are not part of ctest.
#
# Usage: scripts/bench.sh [--reps N] [NAME...]
#   --reps N  repetitions for the benchmarks that repeat their measurements (fewer for a quick
#             look; passed on as QUINTARO_BENCH_REPS)
#   NAME      run only these benchmarks (e.g. bench_e2e_encode); default: all
#
# Every executable named bench_* in a bench/<area>/CMakeLists.txt is a benchmark; other targets
# there are their helpers. Wall times suffer from anything else the machine is doing: run it on
# an otherwise idle machine, and compare the ratios, which alternate their runs.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-bench

names=()
while [ $# -gt 0 ]; do
    case "$1" in
        --reps)
            export QUINTARO_BENCH_REPS="$2"
            shift 2
            ;;
        -h | --help)
            sed -n '2,13p' "$0"
            exit 0
            ;;
        *)
            names+=("$1")
            shift
            ;;
    esac
done

mapfile -t all < <(sed -n 's/^[[:space:]]*add_executable([[:space:]]*\(bench_[A-Za-z0-9_]*\).*/\1/p' \
    bench/*/CMakeLists.txt)
if [ ${#names[@]} -eq 0 ]; then
    names=("${all[@]}")
fi
if [ ${#names[@]} -eq 0 ]; then
    echo "no benchmarks found in bench/*/CMakeLists.txt" >&2
    exit 1
fi

scripts/setup.sh
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUINTARO_BENCH=ON >/dev/null
cmake --build "$dir" --target tool_slots "${names[@]}"

export QT_QPA_PLATFORM=offscreen
failed=()
for name in "${names[@]}"; do
    program=$(find "$dir" -type f -name "$name" -perm -u+x -print -quit)
    echo
    echo "=== $name ($(date '+%F %T'), load $(cut -d' ' -f1-3 /proc/loadavg))"
    if [ -z "$program" ]; then
        echo "not built" >&2
        failed+=("$name")
        continue
    fi
    start=$(date +%s)
    if ! "$program"; then
        failed+=("$name")
    fi
    echo "--- $name took $(($(date +%s) - start)) s"
done

if [ ${#failed[@]} -gt 0 ]; then
    echo
    echo "benchmarks that did not finish: ${failed[*]}" >&2
    exit 1
fi
