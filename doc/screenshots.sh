#!/usr/bin/env bash
# Takes the README's screenshots, doc/main-window.png, doc/step.png and doc/programs.png, from
# the program on a private Xvfb display with openbox drawing the frames. SDL's dummy driver takes the sound, so
# nothing is heard, and no D-Bus bus is reached. Needs xvfb, openbox, xdotool and imagemagick.
#   doc/screenshots.sh [program]     (default: build/zelkgen)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-$root/build/zelkgen}
main_caption="Dr. Zelk frequency ganarator                 GENERAL VERSION"

scratch=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

exec 3>"$scratch/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do
  [ -s "$scratch/display" ] && break
  sleep 0.1
done
export DISPLAY=:$(head -1 "$scratch/display")
mkdir -m 700 "$scratch/runtime"
export HOME=$scratch XDG_RUNTIME_DIR=$scratch/runtime SDL_AUDIODRIVER=dummy
# The example programs in the user's program folder, for the Programs window.
mkdir -p "$scratch/data/zelkgen/programs"
cp "$root"/assets/programs/*.zelkgen "$scratch/data/zelkgen/programs/"
export XDG_DATA_HOME=$scratch/data XDG_STATE_HOME=$scratch/state
# No D-Bus at all: nothing reaches the desktop services of the session the script runs in.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$scratch/no-session-bus
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$scratch/no-system-bus

# openbox runs its start-up command once it manages the screen; a window mapped before that
# may come out without its frame.
openbox --startup "touch $scratch/openbox-ready" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 150); do
  [ -e "$scratch/openbox-ready" ] && break
  sleep 0.1
done
[ -e "$scratch/openbox-ready" ] || { echo "openbox did not start" >&2; exit 1; }
"$program" >/dev/null 2>&1 &
pids+=($!)
main=$(xdotool search --sync --onlyvisible --name "^$main_caption\$" | head -1)
sleep 1

# The windows' outer bounds are fixed (main window 278, 285, 468 x 268; Current frequency
# 392, 271, 240 x 127), so the crops are too.
import -window root -crop 468x268+278+285 +repage "$root/doc/main-window.png"

# "Zelk general (parasite, bacterium)" sits at 256, 24 (169 x 25) inside the main window.
xdotool mousemove --window "$main" 340 36 click 1
xdotool search --sync --onlyvisible --name '^Current frequency$' >/dev/null
sleep 1
import -window root -crop 468x282+278+271 +repage "$root/doc/step.png"

# Escape and End run end the run; then "Programs..." (48, 214, 153 x 23) opens the Programs window at its
# stored place over the main window's right side (430, 40, 590 x 560).
step=$(xdotool search --onlyvisible --name '^Current frequency$' | head -1)
xdotool windowactivate --sync "$step" 2>/dev/null || true
xdotool key Escape
sleep 1
# Escape asks "End the whole run?" with Continue focused; Tab goes on to End run.
xdotool key Tab space
sleep 1
xdotool mousemove --window "$main" 124 225 click 1
xdotool search --sync --onlyvisible --name '^Programs$' >/dev/null
sleep 1
import -window root -crop 742x560+278+40 +repage "$root/doc/programs.png"
echo "wrote doc/main-window.png, doc/step.png and doc/programs.png"
