#!/usr/bin/env bash
# How long a step's tone goes on sounding after Skip, for several device buffer sizes: the time
# from the start of the stop (BASS_Stop, then BASS_Free, as Skip does) to the last frame of tone
# the sound server plays.
#
# Usage: bench/skip_silence.sh [stops per size] [build dir] [buffer frames ...]
#        (defaults: 20, build, 512 1024 2048)
# Build first: cmake --build build --target step_player
#
# A private PulseAudio daemon plays into a pipe sink clocked by the system clock, the kind of sink
# that behaves like a sound card's: every 23 ms it hands the next 1024 frames of what it plays to
# a FIFO, which a reader here stamps with CLOCK_MONOTONIC as it arrives; a frame sounds at the
# stamp of its block plus its place in it. step_player plays a 209 Hz square for 1.5 s and prints
# when it began to stop, on the same clock. Runs as the user who starts it.
set -euo pipefail

stops=${1:-20}
build=${2:-build}
shift $(($# < 2 ? $# : 2))
sizes=("$@")
((${#sizes[@]})) || sizes=(512 1024 2048)

source "$(dirname "$0")/common.sh"
need_built "$build" step_player
need_programs pulseaudio pactl python3
make_scratch skip_silence
start_fifo_sink_server

# One line per block of the sink: its stamp, and the frame index of its last frame of tone (-1).
python3 -c '
import os, sys, time
fd = os.open(sys.argv[1], os.O_RDONLY)
out = open(sys.argv[2], "w", buffering=1)
while True:
    block = os.read(fd, 4096)
    stamp = time.clock_gettime(time.CLOCK_MONOTONIC)
    if not block:
        break
    last = -1
    for i in range(len(block) // 4 - 1, -1, -1):
        if block[4 * i:4 * i + 4] != b"\0\0\0\0":
            last = i
            break
    out.write("%.6f %d\n" % (stamp, last))
' "$work/out.fifo" "$work/blocks" &
sleep 1

printf '%-14s %8s %8s %8s   %s\n' "buffer frames" median max min "ms from stop to silence, $stops stops"
for size in "${sizes[@]}"; do
  : >"$work/stops"
  for _ in $(seq "$stops"); do
    "$build/bench/step_player" play 1.5 209 "$size" 2>&1 | awk '/^stop at/ { print $3 }' >>"$work/stops"
    sleep 0.4
  done
  sleep 0.5
  python3 -c '
import sys
blocks = [tuple(map(float, l.split())) for l in open(sys.argv[1])]
stops = [float(l) for l in open(sys.argv[2])]
lengths = []
for stop in stops:
    # The last frame of tone within 0.35 s after the stop, the silence between players being 0.4 s.
    loud = [t + last / 44100.0 for t, last in blocks if last >= 0 and stop - 1.0 < t < stop + 0.35]
    if loud:
        lengths.append(1000.0 * (max(loud) - stop))
lengths.sort()
if not lengths:
    sys.exit("no tone recorded")
print("%-14s %8.1f %8.1f %8.1f" % (sys.argv[3], lengths[len(lengths) // 2], lengths[-1], lengths[0]))
' "$work/blocks" "$work/stops" "$size"
done
