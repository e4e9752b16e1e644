#!/bin/sh
# Every source file of the module is listed in both build descriptions, and no
# other file is: the CMake list and Android.bp must not drift apart.
set -eu
top=$1
cmake_list=$(sed -n 's/^ *\([a-z/_-]*\.cpp\)$/src\/\1/p' "$top/src/sources.cmake" | sort)
bp_list=$(awk '/^cc_library_shared/ {in_lib = 1} in_lib && /^}/ {in_lib = 0}
               in_lib && /"src\/.*\.cpp"/ {gsub(/[",]/, ""); gsub(/^ +/, ""); print}' \
          "$top/Android.bp" | sort)
on_disk=$(cd "$top" && find src -name '*.cpp' | sort)
status=0
if [ "$cmake_list" != "$on_disk" ]; then
    echo "src/sources.cmake and the files in src/ differ:"
    printf '%s\n' "$cmake_list" | diff - "$(printf '%s\n' "$on_disk" > "${TMPDIR:-/tmp}/zol_disk.$$"; echo "${TMPDIR:-/tmp}/zol_disk.$$")" || true
    status=1
fi
if [ "$cmake_list" != "$bp_list" ]; then
    echo "src/sources.cmake and Android.bp differ:"
    printf '%s\n' "$bp_list" | diff - "$(printf '%s\n' "$cmake_list" > "${TMPDIR:-/tmp}/zol_cmake.$$"; echo "${TMPDIR:-/tmp}/zol_cmake.$$")" || true
    status=1
fi
rm -f "${TMPDIR:-/tmp}/zol_disk.$$" "${TMPDIR:-/tmp}/zol_cmake.$$"
[ $status -ne 0 ] || echo "$(printf '%s\n' "$cmake_list" | wc -l) module sources listed in both"
exit $status
