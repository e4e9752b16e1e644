#!/usr/bin/env bash
# Builds the fuzz targets with clang 14 and runs each for the given seconds
# (default 60) from the checked-in corpus, at low priority, several at once.
# New inputs go to <build>/fuzz/corpus-work/<target>, crashing ones to
# <build>/fuzz/artifacts/, each target's output to <build>/fuzz/logs/; a line
# per target with its executions and first finding ends the run.
#   fuzz/run.sh [-j jobs] [-b build-dir] [-t target-pattern] [seconds]
set -eu
cd "$(dirname "$0")/.."
jobs=4 dir=build/fuzz pattern=.
while getopts j:b:t: opt; do
    case $opt in
    j) jobs=$OPTARG ;;
    b) dir=$OPTARG ;;
    t) pattern=$OPTARG ;;
    *) echo "usage: $0 [-j jobs] [-b build-dir] [-t target-pattern] [seconds]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
export seconds=${1:-60} out=$dir/fuzz

CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -G Ninja -DZOL_FUZZ=ON -DZOL_BUILD_TESTS=ON >/dev/null
nice -n 19 ninja -C "$dir" -j "$(nproc)" fuzz_all
mkdir -p "$out/artifacts" "$out/logs"
targets=$(find "$out" -maxdepth 1 -type f -perm -u+x -name 'fuzz_*' -printf '%f\n' | sort | grep -e "$pattern" || true)
[ -n "$targets" ] || { echo "no fuzz target matches '$pattern'" >&2; exit 2; }
echo "$targets" | xargs -P "$jobs" -I{} sh -c '
    mkdir -p "$out/corpus-work/{}"
    echo "=== {}, $seconds s"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        nice -n 19 "$out/{}" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$out/artifacts/{}-" "$out/corpus-work/{}" "fuzz/corpus/{}" >"$out/logs/{}.log" 2>&1 || true'

failed=0
printf '%-22s %12s  %s\n' target executions finding
for target in $targets; do
    log=$out/logs/$target.log
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    finding=$(grep -m 1 -E '^(==[0-9]+== ?ERROR|SUMMARY|fuzz host:|kit host:|kit agent:)' "$log" || true)
    [ -n "$finding" ] && failed=1
    printf '%-22s %12s  %s\n' "$target" "${execs:-?}" "${finding:-none}"
done
exit $failed
