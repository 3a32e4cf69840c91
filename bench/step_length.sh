#!/usr/bin/env bash
# How long a treatment step's tone lasts, measured in a recording of it, beside the 180000 ms it
# should last; given a pause, the step is paused that long in its middle, and the tone must last
# the step's period in its two parts all the same, with silence between.
#
# Usage: bench/step_length.sh [interval ms] [build dir] [pause ms]   (defaults: 180000, build, 0)
# Build first: cmake --build build --target step_run
#
# step_run plays the first step of the BX virus program (2128 Hz) through the treatment run into
# a private PulseAudio daemon's pipe sink, clocked by the system clock as a sound card's sink is,
# whose FIFO a reader here takes frame by frame: the tone's length is the count of frames from its
# first to its last, at 44100 frames per second. Runs as the user who starts it.
set -euo pipefail

interval=${1:-180000}
build=${2:-build}
pause=${3:-0}
source "$(dirname "$0")/common.sh"
need_built "$build" step_run
need_programs pulseaudio pactl python3
make_scratch step_length
start_fifo_sink_server

# Prints the frames of tone (frames other than silence, from the first to the last) and the
# longest silence between two of them, once the FIFO closes or the reader is told to stop
# (SIGTERM).
python3 -c '
import os, signal, sys
fd = os.open(sys.argv[1], os.O_RDONLY)
signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt))
frames = tone = gap = 0
last = -1
try:
    while True:
        block = os.read(fd, 65536)
        if not block:
            break
        for i in range(len(block) // 4):
            if block[4 * i:4 * i + 4] != b"\0\0\0\0":
                if last >= 0:
                    gap = max(gap, frames + i - last - 1)
                last = frames + i
                tone += 1
        frames += len(block) // 4
except KeyboardInterrupt:
    pass
print(tone, gap)
' "$work/out.fifo" >"$work/length" &
reader=$!
sleep 1

if [[ $pause -gt 0 ]]; then
  "$build/bench/step_run" "$interval" "$((interval / 2))" "$pause"
else
  "$build/bench/step_run" "$interval"
fi
sleep 1
kill -TERM "$reader"
wait "$reader" || true
read -r frames gap <"$work/length"
awk -v f="$frames" -v g="$gap" -v i="$interval" -v p="$pause" 'BEGIN {
  printf "recorded tone: %d frames = %.3f ms, %+.3f ms from the step timer'\''s %d ms\n", f, f * 1000 / 44100, f * 1000 / 44100 - i, i
  if (p > 0) printf "longest silence inside it: %.3f ms (paused %d ms)\n", g * 1000 / 44100, p }'
