#!/usr/bin/env bash
# Fails when an #include in src/ runs upward through the layers, or when a
# logic library includes a Qt Widgets header. Layers, lowest first:
#   platform/data, platform/ui  <  app  <  connection  <  catalogue  <  compare  <  windows, cli  <  main.cpp
# Usage: tools/check-layers.sh [SOURCE_ROOT]   (default: the repository's src/)
set -euo pipefail
src=${1:-"$(cd "$(dirname "$0")/../src" && pwd)"}
widgets=$(find /usr/include -type d -path '*qt6/QtWidgets' -print -quit 2>/dev/null || true)

rank() {
    case "$1" in
        platform/data | platform/ui) echo 0 ;;
        app) echo 1 ;;
        connection) echo 2 ;;
        catalogue) echo 3 ;;
        compare) echo 4 ;;
        windows | cli) echo 5 ;;
        .) echo 6 ;;  # main.cpp
        *) echo "unknown layer folder: $1" >&2; exit 2 ;;
    esac
}

# Where each project header lives: header name -> its layer folder.
declare -A home
while IFS= read -r h; do
    rel=${h#"$src"/}
    dir=$(dirname "$rel")
    name=$(basename "$rel")
    if [ -n "${home[$name]:-}" ]; then
        echo "header name used twice: $name in ${home[$name]} and $dir" >&2
        exit 1
    fi
    home[$name]=$dir
done < <(find "$src" -name '*.h')

faults=0
while IFS= read -r f; do
    rel=${f#"$src"/}
    dir=$(dirname "$rel")
    mine=$(rank "$dir")
    while IFS= read -r line; do
        name=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$line")
        there=${home[$name]:-}
        [ -n "$there" ] || continue
        theirs=$(rank "$there")
        if [ "$theirs" -gt "$mine" ] || { [ "$theirs" -eq "$mine" ] && [ "$there" != "$dir" ]; }; then
            echo "$rel includes $name from $there: that layer is not below $dir" >&2
            faults=$((faults + 1))
        fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$f" || true)
    # Widgets belong to the windows (and to the Qt implementation of the message boxes).
    if [ -n "$widgets" ] && [ "$mine" -lt 5 ] && [ "$rel" != platform/ui/QtMessageBoxes.cpp ] &&
       [ "$rel" != platform/ui/QtMessageBoxes.h ]; then
        while IFS= read -r q; do
            if [ -e "$widgets/$q" ]; then
                echo "$rel includes the Qt Widgets header <$q>: only windows/ may" >&2
                faults=$((faults + 1))
            fi
        done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<([^>]+)>.*/\1/p' "$f")
    fi
done < <(find "$src" \( -name '*.cpp' -o -name '*.h' \) | sort)

if [ "$faults" -gt 0 ]; then
    echo "$faults include(s) against the layering" >&2
    exit 1
fi
echo "layering: every include runs downward"
