#!/bin/sh
# The module's folders are layers (ARCHITECTURE.md): a file includes headers
# of its own folder and of the layers below it only, and the feature folders
# do not include each other. A header of include/module/zol counts as part of
# the folder that implements it.
set -eu
src=$1/src
# Folder and layer, top first; folders on one layer must not include each other.
layers='core 1
cm 2
sms 2
sups 2
flow 3
ipc 4
event 5
runtime 6
log 7
common 8'
layer_of() { printf '%s\n' "$layers" | awk -v f="$1" '$1 == f {print $2}'; }
owner_of_api() {
    case $1 in
    zol_core) echo core ;; zol_cm) echo cm ;; zol_sms) echo sms ;; zol_sups) echo sups ;;
    zol_ipc) echo ipc ;; zol_event) echo event ;; zol_log) echo log ;; zol_types) echo common ;;
    zol_memory | zol_response | zol_timer | zol_reqlist) echo runtime ;;
    *) echo unknown ;;
    esac
}
status=0
for dir in "$src"/*/; do
    folder=$(basename "$dir")
    mine=$(layer_of "$folder")
    if [ -z "$mine" ]; then echo "src/$folder: a folder no layer names"; status=1; continue; fi
    for file in "$dir"*.cpp "$dir"*.h; do
        [ -e "$file" ] || continue
        for inc in $(sed -n 's/^#include "\([a-z_]*\)\/\([a-z_-]*\)\.h"$/\1:\2/p' "$file"); do
            target=${inc%%:*}
            [ "$target" = zol ] && target=$(owner_of_api "${inc#*:}")
            [ "$target" = "$folder" ] && continue
            theirs=$(layer_of "$target")
            if [ -z "$theirs" ] || [ "$theirs" -le "$mine" ]; then
                echo "src/$folder/$(basename "$file") includes ${inc%%:*}/${inc#*:}.h (layer of $target)"
                status=1
            fi
        done
    done
done
[ $status -ne 0 ] || echo "every include of src/ points down the layers"
exit $status
