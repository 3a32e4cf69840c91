#!/usr/bin/env bash
# Processor time and wakeups while a step plays, beside sox playing the same tone on the same
# server: `zelkgen --play` of a program file with one square step against
# `sox -n ... synth square | pacat` at the latency SDL asks for with the program's buffer.
#
# Usage: bench/play_cpu_vs_sox.sh [seconds] [build dir] [runs]      (defaults: 30, build, 3)
# Build first: cmake --build build --target zelkgen
#
# A private PulseAudio plays into a pipe sink clocked like a sound card (common.sh), drained here.
# Each player's processor seconds (user + system, its children included: sox and pacat together)
# and its context switches per second (voluntary + involuntary, the wakeups it caused), best of the
# runs, and the ratio of processor time zelkgen / sox (target: at most 1). The machine may be
# shared: the load average is printed.
set -euo pipefail

seconds=${1:-30}
build=${2:-build}
runs=${3:-3}
source "$(dirname "$0")/common.sh"
[[ -x $build/zelkgen ]] || { echo "$build/zelkgen is missing: cmake --build $build --target zelkgen" >&2; exit 2; }
need_programs pulseaudio pactl pacat sox /usr/bin/time
make_scratch play_cpu
start_fifo_sink_server
cat "$work/out.fifo" >/dev/null &
printf 'zelkgen program: CPU\n440 %ss square\n' "$seconds" >"$work/cpu.zelkgen"
# SDL asks the server for one device buffer of 1024 frames of 4 bytes.
latency_bytes=4096

# measure COMMAND...: "cpu_seconds switches_per_second" of one run.
measure() {
  /usr/bin/time -f '%U %S %w %c %e' -o "$work/time" "$@" >/dev/null 2>&1 </dev/null
  awk '{ printf "%.3f %.1f\n", $1 + $2, ($3 + $4) / $5 }' "$work/time"
}

: >"$work/zelkgen" >"$work/sox"
for _ in $(seq "$runs"); do
  measure "$build/zelkgen" --play "$work/cpu.zelkgen" >>"$work/zelkgen"
  measure bash -c "sox -n -t raw -r 44100 -c 2 -b 16 -e signed-integer - synth $seconds square 440 vol 0.79 |
    pacat --raw --format=s16le --rate=44100 --channels=2 --latency=$latency_bytes" >>"$work/sox"
done
echo "A 440 Hz square for $seconds s, best of $runs runs; load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-8s %12s %14s\n' player "cpu seconds" "switches/s"
z_cpu=$(best 1 <"$work/zelkgen")
s_cpu=$(best 1 <"$work/sox")
printf '%-8s %12s %14s\n' zelkgen "$z_cpu" "$(sort -n -k2 "$work/zelkgen" | head -1 | cut -d' ' -f2)"
printf '%-8s %12s %14s\n' sox "$s_cpu" "$(sort -n -k2 "$work/sox" | head -1 | cut -d' ' -f2)"
awk -v z="$z_cpu" -v s="$s_cpu" 'BEGIN { if (s > 0) printf "processor time zelkgen / sox: %.2f\n", z / s }'
