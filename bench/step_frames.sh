#!/usr/bin/env bash
# Counts every frame of tone a treatment step delivers to a sound server, in a recording of a
# private PulseAudio's null sink, beside the frames it should hold (the step's seconds x 44100).
#
# Usage: bench/step_frames.sh [build dir] step MS [PAUSE AT MS PAUSE MS]...
#        bench/step_frames.sh [build dir] run MS         (the BX virus program, MS per step)
#        bench/step_frames.sh [build dir] play MS PROGRAM [OPTION...]   (zelkgen --play PROGRAM
#                                                  OPTION..., MS of tone in all)
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
# step_run at that SCHED_RR priority (as root), which keeps a busy machine from starving them;
# STEP_FRAMES_PLAYER_CHRT=PRIORITY runs the player alone so (as rtkit would give its audio thread).
# STEP_FRAMES_LOAD=N loads the machine with stress-ng --cpu N while the program plays.
#
# Prints the frames of tone recorded against those expected, the gaps inside the tone (quiet
# stretches of at least a millisecond: underruns, and the silences between steps that close their
# output), their count, median and longest, and for "run" and "play" the player's resident memory
# a second after its start and just before its end.
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
  run | play)
    ms=${1:?the step length in ms}
    if [[ $mode == run ]]; then
      expected_ms=$((2 * ms))
      player=("$build/zelkgen" --play bx --test-step-ms "$ms")
    else
      expected_ms=$ms
      player=("$build/zelkgen" --play "${2:?the program to play}" "${@:3}")
    fi
    if [[ -n ${STEP_FRAMES_LOAD:-} ]]; then
      stress-ng --cpu "$STEP_FRAMES_LOAD" --timeout "$((expected_ms / 1000 + 120))s" --quiet &
      stress=$!
      sleep 1
    fi
    ${STEP_FRAMES_PLAYER_CHRT:+chrt -r "$STEP_FRAMES_PLAYER_CHRT"} "${player[@]}" >/dev/null </dev/null &
    played=$!
    rss() { awk '/^VmRSS/ { print $2 " kB" }' "/proc/$played/status" 2>/dev/null || echo "-"; }
    sleep 1
    rss_start=$(rss)
    rss_end=$rss_start
    started=$(date +%s.%N)
    while kill -0 "$played" 2>/dev/null; do
      now_rss=$(rss)
      [[ $now_rss != - ]] && rss_end=$now_rss
      sleep 0.5
    done
    wait "$played"
    took=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a + 1 }')
    if [[ -n ${stress:-} ]]; then
      kill "$stress" 2>/dev/null || true
      wait "$stress" 2>/dev/null || true
    fi
    echo "player: resident memory ${rss_start} after a second, ${rss_end} at the end; ${took} s for ${expected_ms} ms of tone"
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
# A square or sine passes near zero for a few frames each cycle; a gap is a millisecond or more.
gaps = [(a, b - a - 1) for a, b in zip(idx, idx[1:]) if b - a - 1 >= 44]
if gaps:
    lengths = sorted(g for _, g in gaps)
    print("gaps inside the tone: %d, median %.1f ms, longest %.1f ms; first (at frame, frames): %s"
          % (len(gaps), lengths[len(lengths) // 2] / 44.1, lengths[-1] / 44.1, gaps[:10]))
else:
    print("gaps inside the tone: 0")
want = int(sys.argv[2]) * 441 // 10
print("recorded tone: %d frames, expected %d: %+d (%d lost)" % (tone, want, tone - want, max(0, want - tone)))
' "$work/capture.raw" "$expected_ms"
