#!/bin/sh
# Runs a command as if the machine had no /system. The production module loads
# its agent library from /system/lib, and what a machine happens to have there
# must not decide a test's outcome: when /system exists, a private mount
# namespace hides it behind an empty directory. Where that is not permitted the
# test is skipped, saying why (exit 77).
# usage: without_system.sh <command> [args...]
set -eu
[ -e /system ] || exec "$@"
for how in "unshare --mount" "unshare --user --map-root-user --mount"; do
    if $how true 2>/dev/null; then
        exec $how sh -c '
            mount --make-rprivate / && mount -t tmpfs -o ro,size=4k,mode=755 none /system || {
                echo "SKIP: /system exists here and cannot be hidden in a mount namespace"
                exit 77
            }
            exec "$@"' sh "$@"
    fi
done
echo "SKIP: /system exists here and mount namespaces are not permitted to hide it"
exit 77
