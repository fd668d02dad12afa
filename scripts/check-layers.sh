#!/usr/bin/env bash
# Each folder may include only the folders below it, as the libraries in
# CMakeLists.txt declare them: a folder that reaches upwards would make a cycle.
# Prints every include that breaks the order and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A allowed=(
    [link]="link"
    [rdm]="rdm link"
    [params]="params rdm link"
    [patch]="patch rdm link"
    [dmx]="dmx link"
    [settings]="settings link"
    [rig]="rig params rdm link settings"
    [app]="app params patch dmx rdm link settings"
)
# The folder each include of FILE names, however it is written: "x/y.h" or
# <x/y.h>, indented or spaced after the #, or relative ("../x/y.h").
folders_used() {
    local file=$1 dir path
    dir=$(dirname "$file")
    sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]+)[>"].*/\1/p' "$file" |
        while IFS= read -r path; do
            case $path in
            ../* | ./*) path=$(realpath -m --relative-to=. "$dir/$path") ;;
            esac
            path=${path%%/*}
            [ -n "${allowed[$path]+known}" ] && echo "$path"
        done | sort -u
}
bad=0
for folder in "${!allowed[@]}"; do
    for file in "$folder"/*.cpp "$folder"/*.h; do
        [ -e "$file" ] || continue
        while IFS= read -r used; do
            case " ${allowed[$folder]} " in
            *" $used "*) ;;
            *) echo "$file includes $used/, which $folder/ may not use"; bad=1 ;;
            esac
        done < <(folders_used "$file")
    done
done
if [ "$bad" = 0 ]; then
    echo "layers: every folder includes only the folders below it"
fi
exit "$bad"
