#!/usr/bin/env bash
# Makes the menu icon sizes in resources/icons from resources/dorvantis.png
# (64x64). Run again after changing the icon and commit the result.
# Larger sizes double its pixels, so the flat drawing stays sharp; smaller
# ones are filtered down.
set -euo pipefail
cd "$(dirname "$0")/.."
source=resources/dorvantis.png
for size in 16 22 24 32 48 64 128 256; do
    out=resources/icons/${size}x${size}/dorvantis.png
    mkdir -p "$(dirname "$out")"
    if [ "$size" -gt 64 ]; then filter=point; else filter=lanczos; fi
    convert "$source" -filter "$filter" -resize "${size}x${size}" -depth 8 -strip \
        -define png:exclude-chunks=date,time "$out"
done
