#!/usr/bin/env bash
# Start-up time (launch to main window mapped) and peak memory of zelkgen beside a bare Qt window,
# medians of N runs under a private Xvfb. Usage: bench/startup.sh [build dir] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-11}
source "$(dirname "$0")/common.sh"
make_scratch startup
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
for _ in $(seq 50); do DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
export DISPLAY=$display
# The program must not reach a real sound server while it is measured, nor hand over to a copy
# the user runs.
export SDL_AUDIODRIVER=dummy
export XDG_RUNTIME_DIR=$work

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

measure() {
  local caption=$1 program=$2 times=() mems=() out
  for _ in $(seq "$runs"); do
    out=$("$build/bench/window_watch" "$caption" "$program")
    times+=("${out% *}")
    mems+=("${out#* }")
  done
  printf '%s\n' "${times[@]}" | median
  printf '%s\n' "${mems[@]}" | median
}

read -r -d '' bare_ms bare_kib < <(measure "bare window" "$build/bench/bare_window"; printf '\0') || true
read -r -d '' app_ms app_kib < <(measure "Dr. Zelk frequency ganarator                 GENERAL VERSION" "$build/zelkgen"; printf '\0') || true
echo "bare Qt window: ${bare_ms} ms to shown, ${bare_kib} KiB peak memory (median of $runs)"
echo "zelkgen:        ${app_ms} ms to shown, ${app_kib} KiB peak memory (median of $runs)"
awk -v a="$app_ms" -v b="$bare_ms" -v am="$app_kib" -v bm="$bare_kib" \
  'BEGIN {printf "ratio: time %.2f, memory %.2f (target: 1.3 or less)\n", a / b, am / bm}'
