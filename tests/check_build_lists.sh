#!/bin/sh
# Every source file of the module is listed in both build descriptions, and no
# other file is: the CMake list and Android.bp must not drift apart. The same
# holds for the test files of the in-process unit suite.
set -eu
top=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/zol_lists.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# The quoted .cpp/.c paths of one Android.bp block, the one whose first line matches $2
# and that carries the name $3.
bp_block() {
    awk -v start="$1" -v name="$2" '
        $0 ~ start {in_block = 1; named = 0; n = 0}
        in_block && $0 ~ "name: \"" name "\"" {named = 1}
        in_block && /"[^":]*\.c(pp)?"/ {gsub(/[",]/, ""); gsub(/^ +/, ""); files[n++] = $0}
        in_block && /^}/ {in_block = 0; if (named) for (i = 0; i < n; i++) print files[i]}
    ' "$top/Android.bp" | sort
}

sed -n 's/^ *\([a-z/_-]*\.cpp\)$/src\/\1/p' "$top/src/sources.cmake" | sort >"$tmp/cmake"
bp_block '^filegroup' libreference-zol-srcs >"$tmp/bp"
(cd "$top" && find src -name '*.cpp' | sort) >"$tmp/disk"
awk '/^add_executable\(zol_unit_tests/ {on = 1; next}
     on {last = /\)/; sub(/\).*/, ""); if (NF) print "tests/" $1; if (last) on = 0}' \
    "$top/tests/CMakeLists.txt" | grep '^tests/unit/' | sort >"$tmp/cmake_tests"
bp_block '^cc_test \{' libreference-zol-tests | grep '^tests/unit/' >"$tmp/bp_tests" || true

status=0
compare() {
    if ! diff "$tmp/$1" "$tmp/$2" >"$tmp/diff"; then
        echo "$3 differ:"; cat "$tmp/diff"; status=1
    fi
}
compare cmake disk "src/sources.cmake and the files in src/"
compare cmake bp "src/sources.cmake and Android.bp"
compare cmake_tests bp_tests "the unit suite's files in tests/CMakeLists.txt and Android.bp"
[ -s "$tmp/bp" ] || { echo "no module sources found in Android.bp"; status=1; }
[ -s "$tmp/bp_tests" ] || { echo "no unit test files found in Android.bp"; status=1; }
[ $status -ne 0 ] || echo "$(wc -l <"$tmp/cmake") module sources and $(wc -l <"$tmp/cmake_tests") unit test files listed in both"
exit $status
