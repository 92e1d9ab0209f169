#!/usr/bin/env bash
# Builds Dorvantis and starts it against the bundled TDS server, which serves
# the demo databases (demo and Sales_Restore) on a free loopback port.
# Settings and driver registration live in private temporary folders; nothing
# of the user's is touched. Arguments go to the program: a command against the
# demo databases (bash scripts/run.sh compare-databases --right-database
# Sales_Restore).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/demo-env.sh

"$build/bin/dorvantis" "$@"
