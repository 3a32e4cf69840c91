#!/usr/bin/env bash
# How long a treatment step's tone lasts, measured in a recording of it, beside the 180000 ms it
# should last.
#
# Usage: bench/step_length.sh [interval ms] [build dir]        (defaults: 180000, build)
# Build first: cmake --build build --target step_run
#
# step_run plays the first step of the BX virus program (2128 Hz) through the treatment run into
# a private PulseAudio daemon's pipe sink, clocked by the system clock as a sound card's sink is,
# whose FIFO a reader here takes frame by frame: the tone's length is the count of frames from its
# first to its last, at 44100 frames per second. Runs as the user who starts it.
set -euo pipefail

interval=${1:-180000}
build=${2:-build}
source "$(dirname "$0")/common.sh"
need_built "$build" step_run
need_programs pulseaudio pactl python3
make_scratch step_length
start_fifo_sink_server

# Prints the frame count from the first frame of tone to the last once the FIFO closes or the
# reader is told to stop (SIGTERM).
python3 -c '
import os, signal, sys
fd = os.open(sys.argv[1], os.O_RDONLY)
signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt))
frames = 0
first = last = -1
try:
    while True:
        block = os.read(fd, 65536)
        if not block:
            break
        n = len(block) // 4
        loud = [i for i in range(n) if block[4 * i:4 * i + 4] != b"\0\0\0\0"]
        if loud:
            if first < 0:
                first = frames + loud[0]
            last = frames + loud[-1]
        frames += n
except KeyboardInterrupt:
    pass
print(last - first + 1 if first >= 0 else 0)
' "$work/out.fifo" >"$work/length" &
reader=$!
sleep 1

"$build/bench/step_run" "$interval"
sleep 1
kill -TERM "$reader"
wait "$reader" || true
frames=$(cat "$work/length")
awk -v f="$frames" -v i="$interval" 'BEGIN {
  printf "recorded tone: %d frames = %.3f ms, %+.3f ms from the step timer'\''s %d ms\n", f, f * 1000 / 44100, f * 1000 / 44100 - i, i }'
