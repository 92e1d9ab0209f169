#!/usr/bin/env bash
# Fails when an #include in src/ runs upward through the layers, when a
# logic library includes a Qt Widgets header, when a library's CMake link line
# names a project library of a layer not below its own, or when a logic
# library links Qt Gui or Qt Widgets, itself or through a project library it
# links. Layers, lowest first:
#   platform/data, platform/ui  <  app  <  connection  <  catalogue  <  engine  <  reports  <  run
#     <  windows, cli  <  main.cpp
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
        engine) echo 4 ;;
        reports) echo 5 ;;
        run) echo 6 ;;
        windows | cli) echo 7 ;;
        .) echo 8 ;;  # main.cpp
        *) echo "unknown layer folder: $1" >&2; exit 2 ;;
    esac
}

# Whether the folder `there` is a layer below the folder `here` (a folder
# may use itself, never a sibling of its own rank).
below() {
    local theirs mine
    theirs=$(rank "$1")
    mine=$(rank "$2")
    [ "$theirs" -lt "$mine" ] || [ "$1" = "$2" ]
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
        if ! below "$there" "$dir"; then
            echo "$rel includes $name from $there: that layer is not below $dir" >&2
            faults=$((faults + 1))
        fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$f" || true)
    # Widgets belong to the windows (and to the Qt implementation of the message boxes).
    if [ -n "$widgets" ] && [ "$mine" -lt 7 ] && [ "$rel" != platform/ui/QtMessageBoxes.cpp ] &&
       [ "$rel" != platform/ui/QtMessageBoxes.h ]; then
        while IFS= read -r q; do
            if [ -e "$widgets/$q" ]; then
                echo "$rel includes the Qt Widgets header <$q>: only windows/ may" >&2
                faults=$((faults + 1))
            fi
        done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<([^>]+)>.*/\1/p' "$f")
    fi
done < <(find "$src" \( -name '*.cpp' -o -name '*.h' \) | sort)

# The link lines. A CMakeLists.txt is read as one line without its comments;
# a library belongs to the layer of the folder whose CMakeLists.txt adds it.
commands() {  # commands() FILE NAME: the argument lists of each NAME(...) in FILE
    sed -E 's/#.*//' "$1" | tr '\n' ' ' | grep -oE "(^|[^A-Za-z0-9_])$2[[:space:]]*\([^)]*\)" |
        sed -E "s/^.*$2[[:space:]]*\(//; s/\)\$//" || true
}
declare -A lib_home lib_links
lists=$(find "$src" -name CMakeLists.txt | sort)
while IFS= read -r c; do
    dir=$(dirname "${c#"$src"/}")
    [ "$c" != "$src/CMakeLists.txt" ] || dir=.
    while read -r name _; do
        [ -z "$name" ] || lib_home[$name]=$dir
    done < <(commands "$c" add_library)
done <<<"$lists"
while IFS= read -r c; do
    while read -r name rest; do
        [ -z "$name" ] || lib_links[$name]="${lib_links[$name]:-} $rest"
    done < <(commands "$c" target_link_libraries)
done <<<"$lists"

# The Qt Gui or Widgets module each library brings, itself or through the
# project libraries it links (none: not in the table); grown until it holds.
declare -A brings
grown=1
while [ "$grown" = 1 ]; do
    grown=0
    for lib in "${!lib_home[@]}"; do
        [ -z "${brings[$lib]:-}" ] || continue
        for item in ${lib_links[$lib]:-}; do
            case "$item" in
                Qt6::Gui | Qt6::Widgets | Qt::Gui | Qt::Widgets) brings[$lib]=$item ;;
                *) brings[$lib]=${brings[$item]:-} ;;
            esac
            if [ -n "${brings[$lib]}" ]; then
                grown=1
                break
            fi
        done
    done
done

while IFS= read -r c; do
    rel=${c#"$src"/}
    here=$(dirname "$rel")
    [ "$c" != "$src/CMakeLists.txt" ] || here=.
    while read -r name rest; do
        [ -n "$name" ] || continue
        # A project library keeps its own layer wherever its link line is written.
        dir=${lib_home[$name]:-$here}
        for item in $rest; do
            there=${lib_home[$item]:-}
            [ -n "$there" ] || continue
            if ! below "$there" "$dir"; then
                echo "$rel: $name links $item from $there: that layer is not below $dir" >&2
                faults=$((faults + 1))
            fi
        done
        # Gui and Widgets belong to the windows (and to the Qt message boxes).
        case "$dir" in
            platform/data | app | connection | catalogue | engine | reports | run) ;;
            *) continue ;;
        esac
        for item in $rest; do
            case "$item" in
                Qt6::Gui | Qt6::Widgets | Qt::Gui | Qt::Widgets)
                    echo "$rel: $name links $item: only windows/ may" >&2
                    faults=$((faults + 1))
                    ;;
                *)
                    if [ -n "${brings[$item]:-}" ]; then
                        echo "$rel: $name links $item, which brings ${brings[$item]}: only windows/ may" >&2
                        faults=$((faults + 1))
                    fi
                    ;;
            esac
        done
    done < <(commands "$c" target_link_libraries)
done <<<"$lists"

if [ "$faults" -gt 0 ]; then
    echo "$faults include(s) and link(s) against the layering" >&2
    exit 1
fi
echo "layering: every include and link runs downward"
