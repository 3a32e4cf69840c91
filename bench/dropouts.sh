#!/usr/bin/env bash
# Gaps in a treatment step's tone, on the machine as it is and with both cores saturated, beside
# pacat playing the very same frames.
#
# Usage: bench/dropouts.sh [minutes per half] [build dir]        (defaults: 10, build)
# Build first: cmake --build build --target step_player gap_count
# Takes twice the minutes given plus 10 to 20 seconds.
#
# Levers to weigh, from the environment:
#   DROPOUTS_FRAMES=N   the player's device buffer in frames instead of the program's 1024 (pacat's
#                       latency follows it)
#   DROPOUTS_LOAD=N     stress-ng workers in the loaded half (default: twice the cores)
#   DROPOUTS_RT=P       (as root) SDL's audio thread of the player gets SCHED_RR priority P once it
#                       plays, as rtkit grants it on a desktop when the program asks through SDL's
#                       hint (SDL_THREAD_FORCE_REALTIME_TIME_CRITICAL); pacat is left as it is
#   SDL_* hints         reach the player as they are (e.g. SDL_THREAD_FORCE_REALTIME_TIME_CRITICAL=1)
# The player prints how its audio thread was scheduled and how many page faults it took.
#
# A private PulseAudio daemon with two null sinks runs as an ordinary user (nobody when this is
# started as root: root's raised priorities would hide the very gaps looked for), and so does
# everything that plays, records and loads the machine. DROPOUTS_SERVER=root (when started as
# root) runs the daemon alone as root, so that it takes the raised priority a desktop's sound
# server gets through rtkit, while the players stay unprivileged: gaps that remain are the
# players' own, not a starved server's. In each half both players run at once,
# each into its own sink, so that they meet the same load at the same moments:
# - zelkgen: step_player opens the output as the program does for a step (SDL2, 1024-frame
#   buffer) and plays until the time is up;
# - pacat: the same frames, written beforehand by step_player, at the latency SDL2 asks for with
#   that buffer (1024 frames x 4 bytes).
# The first half runs on the machine as it is ("idle", which on a shared build machine is not
# idle: the load average is printed); the second beside stress-ng --cpu N ("loaded", N twice the cores unless DROPOUTS_LOAD says). Each sink's
# monitor is recorded, and gap_count compares every frame with the frame one period earlier.
#
# The tone is a 209 Hz square: DDFS steps 209 entries a frame through a cycle of 44099 entries,
# and 44099 = 211 x 209, so the frames repeat exactly every 211. (A 441 Hz step does not repeat
# every 100 frames: 100 x 441 = 44100 is one more than the cycle, and the square's edges would
# creep by one frame a second.)
#
# step_player stands in for the program rather than `zelkgen --play`: it opens the output as a step
# does, but plays a tone whose frames repeat exactly, which the programs' own frequencies do not.
set -euo pipefail

minutes=${1:-10}
build=${2:-build}
frequency=209
period=211
frames=${DROPOUTS_FRAMES:-1024}
latency_bytes=$((frames * 4))
rt_priority=${DROPOUTS_RT:-}
# stress-ng workers in the loaded half: twice the cores unless given.
load_workers=${DROPOUTS_LOAD:-$((2 * $(nproc)))}
# Recording latency: small, but not below the players' own 23 ms, so that the recorder does not
# make the sink wake more often than a device would for these players.
record_msec=20

if ! seconds=$(awk -v m="$minutes" 'BEGIN { s = m * 60; if (!(s >= 10)) exit 1; printf "%.0f", s }'); then
  echo "usage: $0 [minutes per half, at least 0.17] [build dir]" >&2
  exit 2
fi
source "$(dirname "$0")/common.sh"
need_built "$build" step_player gap_count
if [[ -n $rt_priority ]] && ((EUID != 0)); then
  echo "DROPOUTS_RT needs root (it stands in for rtkit)" >&2
  exit 2
fi
need_programs pulseaudio pactl parec pacat stress-ng setpriv chrt
make_scratch dropouts

cp "$build/bench/step_player" "$build/bench/gap_count" "$work/"
cd "$work"
pulse_client_env
mkdir -m 700 "$work/server"
if ((EUID == 0)); then
  user=nobody
  chown -R "$user:$(id -gn "$user")" "$work"
  server_user=${DROPOUTS_SERVER:-$user}
  [[ $server_user == root ]] && chown root:root "$work/server"
  # setpriv runs the program itself (no session process in between), so $! is its process id.
  as_user=(setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups --)
else
  user=$(id -un)
  server_user=$user
  as_user=()
fi
sink() { echo "module-null-sink sink_name=$1 rate=44100 format=s16le channels=2"; }
# The server keeps its own runtime directory and home, away from the players'.
server=(env HOME="$work/server" XDG_CONFIG_HOME="$work/server" PULSE_STATE_PATH="$work/server"
  XDG_RUNTIME_DIR="$work/server" PULSE_RUNTIME_PATH="$work/server")
if [[ $server_user == "$user" ]]; then server=("${as_user[@]}" "${server[@]}"); fi
# At debug level the server logs each underrun of a playback stream by the stream's name: the gaps
# a player caused ("Implicit underrun of 'NAME'"), apart from any a starved recorder adds to the
# recordings.
"${server[@]}" pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --system=no \
  --log-level=debug --log-meta=no --log-time=no \
  --load="$(sink zelkgen)" --load="$(sink pacat)" \
  --load="module-native-protocol-unix socket=$work/run/native auth-anonymous=1" \
  >"$work/pulse.log" 2>&1 &
for _ in $(seq 100); do
  "${as_user[@]}" pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
if ! "${as_user[@]}" pactl info >/dev/null 2>&1; then
  echo "the private PulseAudio daemon did not start:" >&2
  cat "$work/pulse.log" >&2
  exit 1
fi

"${as_user[@]}" "$work/step_player" write "$seconds" "$frequency" >"$work/frames.raw"

# Each player's buffer latency as the server reports it, in ms.
stream_latencies() {
  "${as_user[@]}" pactl list sink-inputs | awk '
    /^Sink Input #/ { sink = "" }
    /^[ \t]*Sink: / { sink = $2 }
    /^[ \t]*Buffer Latency: / { latency[sink] = sprintf("%.1f", $3 / 1000) }
    END { for (s in latency) print s, latency[s] }' |
    while read -r index ms; do
      echo "$("${as_user[@]}" pactl list short sinks | awk -v i="$index" '$1 == i { print $2 }') $ms ms"
    done | sort | paste -sd ' '
}

# Gives the player's SDL audio thread SCHED_RR at the priority asked for, as rtkit would.
grant_realtime() {
  local pid=$1 task
  for _ in $(seq 50); do
    for task in /proc/"$pid"/task/*; do
      if [[ $(cat "$task/comm" 2>/dev/null) == SDLAudioP* ]]; then
        chrt -r -p "$rt_priority" "${task##*/}" && return 0
      fi
    done
    sleep 0.1
  done
  echo "no audio thread to give SCHED_RR" >&2
  return 1
}

# underruns FROM STREAM: how often the server found the stream's buffer empty, from log line FROM
# to log_to.
underruns() {
  sed -n "$(($1 + 1)),${log_to}p" "$work/pulse.log" | grep -c "underrun of '$2'\$" || true
}

# half NAME LOADED: plays both players for the time given and prints one line per player.
half() {
  local name=$1 loaded=$2 load zelkgen pacat player recorders=() latencies status=0 log_to
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  local log_from
  log_from=$(wc -l <"$work/pulse.log")
  if ((loaded)); then
    "${as_user[@]}" stress-ng --cpu "$load_workers" --timeout "$((seconds + 60))s" --quiet &
    local stress=$!
    sleep 2
  fi
  for player in zelkgen pacat; do
    "${as_user[@]}" parec -d "$player.monitor" --format=s16le --rate=44100 --channels=2 --raw \
      --latency-msec="$record_msec" >"$work/$name-$player.raw" &
    recorders+=($!)
  done
  # A recorder delivers its first frames a second or two after it starts; what plays before that
  # would go unheard.
  for _ in $(seq 100); do
    [[ -s $work/$name-zelkgen.raw && -s $work/$name-pacat.raw ]] && break
    sleep 0.1
  done
  # zelkgen's step
  PULSE_SINK=zelkgen "${as_user[@]}" "$work/step_player" play "$seconds" "$frequency" "$frames" \
    2>"$work/$name-player.log" &
  zelkgen=$!
  if [[ -n $rt_priority ]]; then grant_realtime "$zelkgen"; fi
  "${as_user[@]}" pacat -d pacat --stream-name=pacat --format=s16le --rate=44100 --channels=2 --raw \
    --latency="$latency_bytes" <"$work/frames.raw" &
  pacat=$!
  sleep 3
  latencies=$(stream_latencies)
  # The server's log up to half a second before the players stop: a stream that ends may underrun
  # once as it goes.
  sleep "$(awk -v s="$seconds" 'BEGIN { print (s > 4 ? s - 3.5 : 0) }')"
  log_to=$(wc -l <"$work/pulse.log")
  wait "$zelkgen" || status=$?
  wait "$pacat" || status=$?
  sleep 1
  kill -INT "${recorders[@]}"
  wait "${recorders[@]}" || true
  if ((loaded)); then
    kill "$stress"
    wait "$stress" || true
  fi
  ((status == 0)) || { echo "a player failed (exit status $status)" >&2; return 1; }

  for player in zelkgen pacat; do
    "${as_user[@]}" "$work/gap_count" "$work/$name-$player.raw" "$period" >"$work/$name-$player.gaps"
    rm -f "$work/$name-$player.raw"
    # The gaps' lengths sorted, for their median and largest.
    { head -n 1 "$work/$name-$player.gaps"; tail -n +2 "$work/$name-$player.gaps" | sort -k 2,2n; } |
      awk -v half="$name" -v load="$load" -v player="$player" -v expected="$seconds" '
        NR == 1 { gaps = $1; tone = $2; next }
        { lost[++n] = $2; list = list " " $2 }
        END {
          if (tone < 0.9 * expected) {
            printf "%s: only %.1f s of %s tone recorded\n", half, tone, player > "/dev/stderr"
            exit 1
          }
          printf "%-7s %-15s %-8s %7.1f %5d %8.2f %11s   %s\n", half, load, player, tone, gaps,
            gaps * 60 / tone, n ? lost[int((n + 1) / 2)] "/" lost[n] : "-", n <= 10 ? list : ""
        }'
  done
  echo "        buffer latency: $latencies"
  echo "        server-side underruns: zelkgen $(underruns "$log_from" 'Treatment tone')," \
    "pacat $(underruns "$log_from" pacat)"
  echo "        zelkgen's $(grep '^audio thread' "$work/$name-player.log" || echo 'audio thread: not seen')"
}

echo "A ${frequency} Hz square step, ${minutes} min per half, as user $user (the server as" \
  "$server_user), SDL2 PulseAudio driver with a $frames-frame buffer${rt_priority:+, audio thread SCHED_RR $rt_priority}," \
  "beside pacat --latency=$latency_bytes"
echo "A gap's length: ms of silence or wrong samples (0: frames skipped without a pause)."
printf '%-7s %-15s %-8s %7s %5s %8s %11s   %s\n' half "load avg" player "tone s" gaps "per min" \
  "median/max" "each (up to 10)"
half idle 0
half loaded 1
