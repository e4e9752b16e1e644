#!/bin/sh
# Checks C and C++ sources against .clang-format (clang-format 14: other versions
# format some constructs differently).
#   tools/check_format.sh [PATH...]   files or directories; default the whole tree
# Exit status 0 when everything follows the style, 1 with a diff per file when
# not, 77 when clang-format-14 is missing.
set -eu
cd "$(dirname "$0")/.."
formatter=${CLANG_FORMAT:-clang-format-14}
if ! command -v "$formatter" >/dev/null 2>&1; then
    echo "SKIP: $formatter not found (tools/setup.sh installs it)"
    exit 77
fi
[ $# -gt 0 ] || set -- include src sim tests fuzz bench
status=0
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    files=$(git ls-files -- "$@")
else
    files=$(find "$@" -type f)
fi
for file in $(printf '%s\n' $files | grep -E '\.(c|cpp|h)$'); do
    if ! "$formatter" --style=file "$file" | diff -u --label "$file" --label "$file (formatted)" "$file" -; then
        status=1
    fi
done
[ $status -eq 0 ] && echo "format ok"
exit $status
