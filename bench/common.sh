# Sourced by the bench scripts: their checks, a scratch folder, and a private PulseAudio whose
# sink is clocked like a sound card's.

# need_built BUILD TOOL...: each tool is built in BUILD/bench, or the script ends saying how.
need_built() {
  local build=$1 tool
  shift
  for tool; do
    [[ -x $build/bench/$tool ]] && continue
    echo "$build/bench/$tool is missing: cmake --build $build --target $*" >&2
    exit 2
  done
}

# need_programs PROGRAM...: each is on the PATH, or the script ends naming it.
need_programs() {
  local program
  for program; do
    command -v "$program" >/dev/null || { echo "$program is not installed" >&2; exit 2; }
  done
}

# make_scratch NAME: $work becomes a new folder /tmp/NAME.XXXXXX. When the script ends, its own
# background jobs are stopped (no other process) and the folder goes.
make_scratch() {
  work=$(mktemp -d "/tmp/$1.XXXXXX")
  trap remove_scratch EXIT
  trap 'exit 130' INT TERM
}
remove_scratch() {
  local pid
  for pid in $(jobs -p); do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}

# pulse_client_env: folders in $work and an environment whose PulseAudio clients, SDL's included,
# reach only a private server at $work/run/native and never start one of their own.
pulse_client_env() {
  mkdir -m 700 "$work/run" "$work/home"
  echo "autospawn = no" >"$work/home/client.conf"
  export HOME=$work/home XDG_CONFIG_HOME=$work/home PULSE_STATE_PATH=$work/home \
    XDG_RUNTIME_DIR=$work/run PULSE_RUNTIME_PATH=$work/run \
    PULSE_CLIENTCONFIG=$work/home/client.conf PULSE_SERVER=unix:$work/run/native \
    SDL_AUDIODRIVER=pulseaudio
  unset PULSE_SINK
}

# start_fifo_sink_server: a private PulseAudio in $work, reached only through this script's
# environment, whose default sink "out" hands what it plays to the FIFO $work/out.fifo, paced by
# the system clock as a sound card paces its sink. SDL is sent to it.
start_fifo_sink_server() {
  pulse_client_env
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --system=no \
    --load="module-pipe-sink sink_name=out file=$work/out.fifo use_system_clock_for_timing=yes rate=44100 format=s16le channels=2" \
    --load="module-native-protocol-unix socket=$work/run/native auth-anonymous=1" \
    >"$work/pulse.log" 2>&1 &
  for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && [[ -p $work/out.fifo ]] && break
    sleep 0.1
  done
  pactl set-default-sink out
}

# seconds COMMAND...: its wall and processor (user + system) seconds, "wall cpu"; the machine may
# be shared, so the processor time is printed too.
seconds() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{printf "%.3f %.3f\n", $1, $2 + $3}'
}

# best FIELD: of "wall cpu" lines, the smallest value of that field (1 wall, 2 processor).
best() { sort -n -k"$1" | head -1 | cut -d' ' -f"$1"; }
