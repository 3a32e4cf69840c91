#!/usr/bin/env bash
# Counts every frame of tone a treatment step delivers to a sound server, in a recording of a
# private PulseAudio's null sink, beside the frames it should hold (the step's seconds x 44100).
#
# Usage: bench/step_frames.sh [build dir] step MS [PAUSE AT MS PAUSE MS]...
#        bench/step_frames.sh [build dir] run MS         (the BX virus program, MS per step)
# Build first: cmake --build build --target step_run zelkgen
#
# "step" plays the first step of the BX virus program (2128 Hz square) through the treatment run
# (bench/step_run), paused as the pairs say; "run" plays the whole BX virus program through
# `zelkgen --play bx --test-step-ms MS`. A null sink's monitor that resumes from idle loses the start
# of what it should record, so a quiet constant stream (1000, 1000 in every frame) keeps the sink
# busy, and the recorder starts before the program. Frames whose magnitude is above 5000 are tone;
# the gaps inside the tone are underruns (a starved player or server), and a sound server drops a
# few frames around one, so a count that falls short comes with gaps. STEP_FRAMES_RECORD_MS sets
# the recorder's latency (100 ms); STEP_FRAMES_CHRT=PRIORITY runs the server, the recorder and
# step_run at that SCHED_RR priority (as root), which keeps a busy machine from starving them.
set -euo pipefail

build=build
if [[ ${1:-} != step && ${1:-} != run ]]; then
  build=${1:-build}
  shift || true
fi
mode=${1:-step}
shift || true
source "$(dirname "$0")/common.sh"
need_built "$build" step_run
need_programs pulseaudio pactl pacat parec python3
make_scratch step_frames
pulse_client_env
${STEP_FRAMES_CHRT:+chrt -r "$STEP_FRAMES_CHRT"} pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --system=no --disable-shm=yes \
  --load="module-null-sink sink_name=cap rate=44100 format=s16le channels=2" \
  --load="module-native-protocol-unix socket=$work/run/native auth-anonymous=1" \
  >"$work/pulse.log" 2>&1 &
for _ in $(seq 100); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
pactl set-default-sink cap

python3 -c 'import struct, sys; sys.stdout.buffer.write(struct.pack("<hh", 1000, 1000) * 44100 * 3600)' \
  >"$work/dc.raw"
pacat --latency-msec=50 --format=s16le --rate=44100 --channels=2 <"$work/dc.raw" &
${STEP_FRAMES_CHRT:+chrt -r "$STEP_FRAMES_CHRT"} parec -d cap.monitor --latency-msec=${STEP_FRAMES_RECORD_MS:-100} --format=s16le --rate=44100 --channels=2 >"$work/capture.raw" &
recorder=$!
sleep 1

case $mode in
  step)
    expected_ms=${1:?the step length in ms}
    ${STEP_FRAMES_CHRT:+chrt -r "$STEP_FRAMES_CHRT"} "$build/bench/step_run" "$@"
    ;;
  run)
    ms=${1:?the step length in ms}
    expected_ms=$((2 * ms))
    "$build/zelkgen" --play bx --test-step-ms "$ms" >/dev/null
    ;;
  *)
    echo "unknown mode $mode (step or run)" >&2
    exit 2
    ;;
esac
sleep 1
kill "$recorder"
wait "$recorder" 2>/dev/null || true

python3 -c '
import array, sys
data = open(sys.argv[1], "rb").read()
data = data[: len(data) // 4 * 4]
s = array.array("h")
s.frombytes(data)
on = [abs(s[i]) > 5000 for i in range(0, len(s), 2)]
tone = sum(on)
idx = [i for i, v in enumerate(on) if v]
gaps = [(a, b - a - 1) for a, b in zip(idx, idx[1:]) if b - a > 1]
if gaps: print("gaps inside the tone (at frame, frames):", gaps[:10])
want = int(sys.argv[2]) * 441 // 10
print("recorded tone: %d frames, expected %d: %+d" % (tone, want, tone - want))
' "$work/capture.raw" "$expected_ms"
