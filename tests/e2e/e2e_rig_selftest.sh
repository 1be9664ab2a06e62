#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the rig itself, without the program: reference noise played with pacat onto the
# null sink must come back from the monitor sample for sample, and the analysis must pass
# it. A failure here means the recordings of the other e2e tests cannot be trusted.
#
#   tests/e2e/e2e_rig_selftest.sh [--tools DIR]
set -u -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/rig.sh"
rig_parse_args --app /bin/true "$@"
rig_require_commands pulseaudio pactl parec pacat python3

rig_init rig-selftest
rig_start_pulse
"$RIG_TOOLS/murmelin_e2e_analyze" synth "$RIG_REC/reference.raw" 19 || rig_fail "cannot make the reference noise"
rig_start_parec "$RIG_REC/all.raw"
start=$(rig_rec_pos)
rig_wait_recorded $(( start + RIG_BYTES_PER_SECOND )) 15 || rig_fail "recording stalled"
before_play=$(rig_rec_pos)

pacat --raw --format=s16le --rate=$RIG_SAMPLE_RATE --channels=2 -d "$RIG_SINK" \
  < "$RIG_REC/reference.raw" 2>"$RIG_LOGS/pacat.log" &
pacat_pid=$!
RIG_PIDS+=("$pacat_pid")
rig_wait_until 60 rig_not_running "$pacat_pid" || rig_fail "pacat did not finish within 60 s"
rig_stop "$pacat_pid" TERM 1 || rig_fail "pacat failed"
rig_wait_until 15 rig_no_sink_inputs || rig_fail "pacat's stream is still open"
rig_split_recording "$before_play"

failed=0
"$RIG_TOOLS/murmelin_e2e_analyze" silence "$RIG_REC/before.raw" 0.9 || failed=1
"$RIG_TOOLS/murmelin_e2e_analyze" playback "$RIG_REC/playing.raw" || failed=1
"$RIG_TOOLS/murmelin_e2e_analyze" silence "$RIG_REC/after.raw" 0.9 || failed=1
# The sink must pass the samples through untouched (no resampling, no volume).
python3 - "$RIG_REC/reference.raw" "$RIG_REC/playing.raw" <<'PY' || failed=1
import sys
def sound(path):
    data = open(path, 'rb').read()
    data = data[:len(data) - len(data) % 4]
    frames = [data[i:i + 4] for i in range(0, len(data), 4)]
    nz = [i for i, f in enumerate(frames) if f != b'\0\0\0\0']
    return b''.join(frames[nz[0]:nz[-1] + 1]) if nz else b''
ref, got = sound(sys.argv[1]), sound(sys.argv[2])
if ref != got:
    print("FAIL: the recorded sound differs from what was played (%d vs %d bytes)" % (len(got), len(ref)))
    sys.exit(1)
print("the recording matches the played samples exactly (%d frames)" % (len(ref) // 4))
PY
[ $failed = 0 ] || rig_fail "the rig does not record faithfully"
rig_log "PASS"
