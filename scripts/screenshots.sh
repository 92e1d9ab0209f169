#!/usr/bin/env bash
# Takes screenshots of the windows on the demo database under Xvfb and
# writes them to docs/screenshots/ (for the README and for a look by eye).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh screenshots
source scripts/demo-env.sh

out=docs/screenshots
mkdir -p "$out"
display=:$(( 90 + RANDOM % 100 ))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$program_pid" 2>/dev/null || true; kill "$xvfb_pid" 2>/dev/null || true; cleanup' EXIT
export DISPLAY=$display
sleep 1

"$build/bin/dorvantis" &
program_pid=$!

visible() { xdotool search --sync --onlyvisible --name '^Dorvantis$' | head -n1; }
# Clicks at a point of the visible window, in pixels from its client area's corner.
click() { xdotool mousemove --window "$(visible)" "$1" "$2" click 1; sleep 1; }
shot() { sleep 1; import -window "$(visible)" "$out/$1.png"; echo "wrote $out/$1.png"; }

# The stored demo login works, so the program opens on the table selection.
shot table-selection
click 120 293                        # "< Back"
shot login
click 268 242                        # "Next >"
# Left list: its first table; right list: the next one down.
click 60 62
xdotool key Home Down Down
click 280 62
xdotool key Home Down Down Down
sleep 1
shot table-selection-chosen
click 420 322                        # "Options…": the chosen pair's options
dialog=$(xdotool search --sync --onlyvisible --name '^Comparison options$' | head -n1)
dclick() { xdotool mousemove --window "$dialog" "$1" "$2" click 1; sleep 0.5; }
dclick 497 193                       # leave out the last column, Note
dclick 18 327                        # "Ignore trailing blanks"
sleep 1
import -window "$dialog" "$out/options.png"
echo "wrote $out/options.png"
dclick 420 549                       # OK
click 340 293                        # "Next >": compare
shot results
click 100 36                         # the first field difference
xdotool key Return                   # its records side by side
records=$(xdotool search --sync --onlyvisible --name 'side by side$' | head -n1)
sleep 1
import -window "$records" "$out/records.png"
echo "wrote $out/records.png"
xdotool key Escape
kill "$program_pid"
wait "$program_pid" 2>/dev/null || true

# The overview of all tables: demo against Sales_Restore, the server's other database.
"$build/bin/dorvantis" &
program_pid=$!
click 352 351                        # the choice opens its list
xdotool key Home Down Return
sleep 1
click 352 379                        # "Compare all tables": the overview replaces the window
sleep 2
shot overview
kill "$program_pid"
wait "$program_pid" 2>/dev/null || true

# The second table's login window: "Second table from:", "Another server…".
"$build/bin/dorvantis" &
program_pid=$!
click 352 351                        # the choice opens its list
xdotool key End Return
second=$(xdotool search --sync --onlyvisible --name '^Second table: log in$' | head -n1)
sleep 1
import -window "$second" "$out/second-login.png"
echo "wrote $out/second-login.png"
kill "$program_pid"
wait "$program_pid" 2>/dev/null || true

# The query editor of the first list, filled in (not accepted: nothing is stored).
"$build/bin/dorvantis" &
program_pid=$!
click 50 223                         # "Query…" under the first list
editor=$(xdotool search --sync --onlyvisible --name '^Query in place of the first table$' | head -n1)
xdotool type --delay 20 'select OrderID, CustomerID, Amount, Status'
xdotool key Return
xdotool type --delay 20 'from Orders'
xdotool key Return
xdotool type --delay 20 "where Status <> N'Cancelled'"
xdotool key Return
xdotool type --delay 20 'order by OrderID'
xdotool key Tab
xdotool type --delay 20 'OrderID'
xdotool key Tab
xdotool type --delay 20 'orders not cancelled'
sleep 1
import -window "$editor" "$out/query.png"
echo "wrote $out/query.png"
kill "$program_pid"
wait "$program_pid" 2>/dev/null || true

# The help picture: the login window filled in for a local login.
export XDG_CONFIG_HOME="$work/local-config"
mkdir -p "$XDG_CONFIG_HOME/Veltrane"
cat >"$XDG_CONFIG_HOME/Veltrane/Dorvantis.conf" <<CONF
[Dorvantis]
MSServer=localhost\\\\SQLEXPRESS
MSUser=sa
MSPassword=
MSDatabase=master
Port=1433
Local%20Connection=1
CONF
"$build/bin/dorvantis" &
program_pid=$!
click 304 107                        # the password field
xdotool type --delay 50 'password'
click 300 50                         # back to the server field
shot local-connection-example
convert "$out/local-connection-example.png" -quality 90 resources/local-connection-example.jpg
rm "$out/local-connection-example.png"
echo "wrote resources/local-connection-example.jpg"
kill "$program_pid"
