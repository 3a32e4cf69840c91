#!/usr/bin/env bash
# Skip and Pause as a user gives them: from the key pressed on the terminal of `zelkgen --play` (n
# skips to the next step, p pauses) to the last frame of tone the sound server plays.
#
# Usage: bench/key_latency.sh [presses of each] [build dir]      (defaults: 12, build)
# Build first: cmake --build build --target zelkgen
#
# A private PulseAudio daemon plays into a pipe sink clocked by the system clock, as a sound card
# is (common.sh); a reader stamps each block with CLOCK_MONOTONIC as it arrives, and a frame sounds
# at its block's stamp plus its place in it. The player runs on a pseudo-terminal playing a program
# file of long 300 Hz square steps; each round lets the tone play 1.2 s, presses p, waits, presses p
# again, lets it play 1.2 s and presses n, each press stamped on the same clock. Targets: Skip
# within 20 ms, Pause within 50 ms.
set -euo pipefail

presses=${1:-12}
build=${2:-build}
source "$(dirname "$0")/common.sh"
[[ -x $build/zelkgen ]] || { echo "$build/zelkgen is missing: cmake --build $build --target zelkgen" >&2; exit 2; }
need_programs pulseaudio pactl python3
make_scratch key_latency
start_fifo_sink_server

stamp_sink_blocks "$work/blocks" &
sleep 1

{
  echo "zelkgen program: Key latency"
  for ((k = 0; k <= presses; ++k)); do echo "300 60s square"; done
} >"$work/program.zelkgen"

echo "load average before $(cut -d' ' -f1-3 /proc/loadavg)"
python3 -c '
import os, pty, select, sys, time
presses, program, player, log = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
pid, master = pty.fork()
if pid == 0:
    os.execv(player, [player, "--play", program])
def drain(seconds):
    end = time.monotonic() + seconds
    while (left := end - time.monotonic()) > 0:
        if select.select([master], [], [], left)[0]:
            try:
                os.read(master, 4096)
            except OSError:
                time.sleep(left)
                return
def press(key):
    os.write(master, key.encode())
    return time.clock_gettime(time.CLOCK_MONOTONIC)
with open(log, "w") as out:
    drain(2.0)
    for _ in range(presses):
        drain(1.2)
        out.write("pause %.6f\n" % press("p"))
        drain(0.6)
        press("p")
        drain(1.2)
        out.write("skip %.6f\n" % press("n"))
        drain(0.8)
os.write(master, b"q")
drain(1.0)
os.waitpid(pid, 0)
' "$presses" "$work/program.zelkgen" "$build/zelkgen" "$work/presses"
sleep 0.5
echo "load average after $(cut -d' ' -f1-3 /proc/loadavg)"
python3 -c '
import sys
blocks = [tuple(map(float, l.split())) for l in open(sys.argv[1])]
got = {"pause": [], "skip": []}
for line in open(sys.argv[2]):
    kind, at = line.split()
    at = float(at)
    # Where the tone that sounded at the press stops: the first block from the press on that is not
    # tone to its end (the step after a skipped one starts after a silence).
    for t, last, frames in blocks:
        if t + frames / 44100.0 < at:
            continue
        if last < frames - 1:
            got[kind].append(1000.0 * (t + (last + 1) / 44100.0 - at))
            break
for kind, target in (("skip", 20), ("pause", 50)):
    lengths = sorted(got[kind])
    if not lengths:
        sys.exit("no tone recorded around the %s presses" % kind)
    print("%-5s from the key to silence: median %.1f ms, longest %.1f, shortest %.1f (%d presses; target %d ms)"
          % (kind, lengths[len(lengths) // 2], lengths[-1], lengths[0], len(lengths), target))
' "$work/blocks" "$work/presses"
