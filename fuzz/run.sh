#!/usr/bin/env bash
# Builds the fuzz targets with clang 14 and runs each one for the given
# number of seconds (default 60), starting from the checked-in corpus, at
# low priority and several at once. New inputs go to
# <build>/fuzz/corpus-work/<target>, crashing ones to <build>/fuzz/artifacts/,
# each target's output to <build>/fuzz/logs/<target>.log; a summary of
# executions, edges and findings per target ends the run.
#   fuzz/run.sh [-j jobs] [-b build-dir] [-t target-pattern] [seconds]
# -j: targets run at once (default 4), -b: build directory (default
# build/fuzz), -t: only targets whose name matches the grep pattern.
set -eu
cd "$(dirname "$0")/.."
jobs=4
dir=build/fuzz
pattern=.
while getopts j:b:t: opt; do
    case $opt in
    j) jobs=$OPTARG ;;
    b) dir=$OPTARG ;;
    t) pattern=$OPTARG ;;
    *) echo "usage: $0 [-j jobs] [-b build-dir] [-t target-pattern] [seconds]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
seconds=${1:-60}

CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -G Ninja -DZOL_FUZZ=ON -DZOL_BUILD_TESTS=ON >/dev/null
nice -n 19 ninja -C "$dir" -j "$(nproc)" fuzz_all
out=$dir/fuzz
mkdir -p "$out/artifacts" "$out/logs"
targets=$(find "$out" -maxdepth 1 -type f -perm -u+x -name 'fuzz_*' -printf '%f\n' | sort |
    grep -e "$pattern" || true)
if [ -z "$targets" ]; then
    echo "no fuzz target matches '$pattern'" >&2
    exit 2
fi

run_one() {
    target=$1
    work=$out/corpus-work/$target
    mkdir -p "$work"
    echo "=== $target, $seconds s"
    status=0
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        nice -n 19 "$out/$target" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$out/artifacts/$target-" "$work" "fuzz/corpus/$target" \
        >"$out/logs/$target.log" 2>&1 || status=$?
    echo "=== $target done (exit $status)"
}

# At most $jobs targets at once.
running=0
for target in $targets; do
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
    run_one "$target" &
    running=$((running + 1))
done
wait

failed=0
printf '%-26s %12s %8s %6s  %s\n' target executions edges corpus finding
for target in $targets; do
    log=$out/logs/$target.log
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    line=$(grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE|INITED).*cov: ' "$log" | tail -n 1 || true)
    edges=$(echo "$line" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')
    corpus=$(echo "$line" | sed -n 's/.*corp: \([0-9]*\).*/\1/p')
    finding=$(grep -m 1 -E '^(==[0-9]+== ?ERROR|SUMMARY|fuzz host:|kit host:|kit agent:)' "$log" || true)
    [ -n "$finding" ] && failed=1
    printf '%-26s %12s %8s %6s  %s\n' "$target" "${execs:-?}" "${edges:-?}" "${corpus:-?}" "${finding:-none}"
done
exit $failed
