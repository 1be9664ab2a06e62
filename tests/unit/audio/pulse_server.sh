# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the real device check and the playback benchmark: a private PulseAudio server
# whose only sink is the null sink "testsink" (described as Test_Sink).
#   pulse_start <private folder>   sets XDG_RUNTIME_DIR and HOME inside it, starts the server
#   pulse_stop                     stops it (safe to call when it is not running)

pulse_available() {
  command -v pulseaudio >/dev/null && command -v parec >/dev/null && command -v pactl >/dev/null
}

pulse_start() {
  local dir=$1
  export XDG_RUNTIME_DIR="$dir/run"
  export HOME="$dir/home"
  mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$HOME"
  unset PULSE_SERVER PULSE_SINK
  export SDL_AUDIODRIVER=pulseaudio
  pulse_log="$dir/pulse.log"
  timeout 20 pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
    --log-target="file:$pulse_log" --log-level=debug \
    --load="module-native-protocol-unix auth-anonymous=1" \
    --load="module-null-sink sink_name=testsink sink_properties=device.description=Test_Sink" \
    || return 1
  local _
  for _ in $(seq 200); do
    if timeout 5 pactl info >/dev/null 2>&1; then return 0; fi
    sleep 0.05
  done
  return 1
}

# Number of times a playing stream ran dry in the server so far: the client's audio thread did
# not get the processor in time, so the server played silence and resumed the stream later.
# Every new stream leaves its first underrun (it starts empty) once; those are not counted.
pulse_underruns() {
  local ends created
  ends=$(grep -c 'end of underrun' "$pulse_log" 2>/dev/null)
  created=$(grep -c 'Created input' "$pulse_log" 2>/dev/null)
  local n=$(( ${ends:-0} - ${created:-0} ))
  [ "$n" -gt 0 ] && echo "$n" || echo 0
}

pulse_stop() {
  [ -n "${XDG_RUNTIME_DIR:-}" ] && timeout 10 pulseaudio -k 2>/dev/null
  return 0
}
