#!/bin/sh
# The module exports RIL_Init and every zol_ function its headers declare, and
# no other functions; a function without C linkage would show up mangled.
set -eu
lib=$1
include=$2
expected=$(sed -n 's/^ZOL_EXPORT [^(]*[ *]\(zol_[a-zA-Z0-9_]*\)(.*/\1/p' $(find "$include" -name '*.h') | sort -u)
exported=$(nm -D --defined-only "$lib" | awk '$2 == "T" {print $3}' | sort -u)
missing=$(printf '%s\n' "$expected" RIL_Init | sort -u | comm -23 - "$(printf '%s\n' "$exported" > "${TMPDIR:-/tmp}/zol_exports.$$"; echo "${TMPDIR:-/tmp}/zol_exports.$$")")
extra=$(printf '%s\n' "$exported" | grep -v -e '^zol_' -e '^RIL_Init$' || true)
rm -f "${TMPDIR:-/tmp}/zol_exports.$$"
status=0
if [ -n "$missing" ]; then echo "not exported:"; echo "$missing"; status=1; fi
if [ -n "$extra" ]; then echo "exported but not part of the interface:"; echo "$extra"; status=1; fi
echo "$(printf '%s\n' "$exported" | wc -l) functions exported"
exit $status
