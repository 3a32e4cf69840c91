#!/usr/bin/env bash
# A soak: minutes of short steps played by `zelkgen --play` through a private PulseAudio beside
# stress-ng, counted by step_frames.sh (a quiet keep-awake stream of 1000 in every frame, |v| >
# 5000 counted as tone): frames delivered and lost, gaps inside the tone (count, median,
# longest), which include the silences between steps that close their output, and the player's
# resident memory at its start and end.
#
# Usage: bench/soak.sh [minutes] [build dir] [file|builtin]       (defaults: 10, build, file)
# Build first: cmake --build build --target zelkgen step_run
#
#   file     a program file of 2 s square steps (alternating 300 and 400 Hz), joined in one output
#   builtin  the Zelk general program with its ten steps stretched to fill the minutes
# SOAK_LOAD=N stress-ng workers (default twice the cores, 0 for none); SOAK_CHRT=P runs the player
# at SCHED_RR P (as root), as rtkit grants its audio thread on a desktop. The machine may be
# shared with other work: its load average is printed before and after.
set -euo pipefail

minutes=${1:-10}
build=${2:-build}
kind=${3:-file}
here=$(dirname "$0")
load=${SOAK_LOAD:-$((2 * $(nproc)))}
ms=$(awk -v m="$minutes" 'BEGIN { printf "%d", m * 60000 }')
((ms >= 20000)) || { echo "at least a third of a minute" >&2; exit 2; }
echo "soak: $minutes min of $kind steps, stress-ng --cpu $load${SOAK_CHRT:+, player SCHED_RR $SOAK_CHRT};" \
  "load average before $(cut -d' ' -f1-3 /proc/loadavg)"
export STEP_FRAMES_PLAYER_CHRT=${SOAK_CHRT:-}
((load > 0)) && export STEP_FRAMES_LOAD=$load
case $kind in
  file)
    program=$(mktemp /tmp/soak.XXXXXX.zelkgen)
    trap 'rm -f "$program"' EXIT
    {
      echo "zelkgen program: Soak"
      for ((k = 0; k < ms / 2000; ++k)); do echo "$((k % 2 ? 400 : 300)) 2s square"; done
    } >"$program"
    "$here/step_frames.sh" "$build" play "$((ms / 2000 * 2000))" "$program"
    ;;
  builtin)
    "$here/step_frames.sh" "$build" play "$((ms / 10 * 10))" zelk --test-step-ms "$((ms / 10))"
    ;;
  *)
    echo "file or builtin, not $kind" >&2
    exit 2
    ;;
esac
echo "load average after $(cut -d' ' -f1-3 /proc/loadavg)"
