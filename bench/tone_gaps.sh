#!/usr/bin/env bash
# Gaps in `zelkgen tone --play` on a loaded machine: a 10 s 441 Hz square at 44100 frames/s (its
# frames repeat exactly every 100) played into a private PulseAudio's null sink, recorded from its
# monitor and counted by gap_count, with and without stress-ng loading twice the cores.
#
# Usage: bench/tone_gaps.sh [runs] [build dir]        (defaults: 3, build)
# Build first: cmake --build build --target zelkgen gap_count
set -euo pipefail

runs=${1:-3}
build=${2:-build}
seconds=10
source "$(dirname "$0")/common.sh"
need_built "$build" gap_count
need_programs pulseaudio pactl parec stress-ng
[[ -x $build/zelkgen ]] || { echo "$build/zelkgen is missing" >&2; exit 2; }
zelkgen=$(realpath "$build/zelkgen")
gap_count=$(realpath "$build/bench/gap_count")
make_scratch tone_gaps
pulse_client_env
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --system=no \
  --load="module-null-sink sink_name=cap rate=44100 format=s16le channels=2" \
  --load="module-native-protocol-unix socket=$work/run/native auth-anonymous=1" \
  >"$work/pulse.log" 2>&1 &
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink cap

cores=$(nproc)
echo "zelkgen tone --play, ${seconds} s of 441 Hz square; gaps counted in the recording"
printf "%-8s %-4s %-16s %5s %8s\n" load run loadavg gaps "tone s"
for load in idle loaded; do
  stress=
  if [[ $load == loaded ]]; then
    stress-ng --cpu "$((2 * cores))" --timeout "$((runs * (seconds + 10)))s" --quiet &
    stress=$!
    sleep 2
  fi
  for run in $(seq "$runs"); do
    parec -d cap.monitor --format=s16le --rate=44100 --channels=2 --raw --latency-msec=20 \
      >"$work/rec.raw" &
    recorder=$!
    for _ in $(seq 100); do [[ -s $work/rec.raw ]] && break; sleep 0.1; done
    "$zelkgen" tone --play --frequency 441 --quality low --waveform square --stereo \
      --duration "$((seconds * 1000))" >/dev/null
    sleep 1
    kill -INT "$recorder"
    wait "$recorder" || true
    read -r gaps tone < <("$gap_count" "$work/rec.raw" 100 | head -n 1)
    printf "%-8s %-4s %-16s %5s %8s\n" "$load" "$run" "$(cut -d' ' -f1-3 /proc/loadavg)" "$gaps" "$tone"
  done
  if [[ -n $stress ]]; then kill "$stress" 2>/dev/null || true; wait "$stress" || true; fi
done
