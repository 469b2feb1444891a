#!/usr/bin/env bash
# Types into the field on a private Xvfb server while a system-wide recorder
# logs every key: the field must hold exactly what was typed, the recorder
# must have seen more. Exits 77 (skipped) when Xvfb or xdotool is missing.
set -u
probe=$1
recorder=$2
typed="hello world"

command -v Xvfb >/dev/null 2>&1 || { echo "Xvfb not installed: skipping"; exit 77; }
command -v xdotool >/dev/null 2>&1 || { echo "xdotool not installed: skipping"; exit 77; }

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $2 tenths of a second for file $1 to contain $3.
wait_for() {
    local tries=0
    until grep -q "$3" "$1" 2>/dev/null; do
        tries=$((tries + 1))
        [ "$tries" -gt "$2" ] && return 1
        sleep 0.1
    done
}

# A free display number comes back on fd 3; never touch the caller's display.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp +extension RECORD \
    3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for "$work/display" 100 '[0-9]' || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY XAUTHORITY
echo "private display $DISPLAY"

"$recorder" >"$work/recorder.out" 2>"$work/recorder.err" &
recorder_pid=$!
pids+=($recorder_pid)
wait_for "$work/recorder.out" 100 RECORDING || { echo "recorder did not start"; cat "$work/recorder.err"; exit 1; }

QT_QPA_PLATFORM=xcb "$probe" >"$work/probe.out" 2>"$work/probe.err" &
probe_pid=$!
pids+=($probe_pid)
if ! wait_for "$work/probe.out" 200 READY; then
    echo "probe not ready"; cat "$work/probe.out" "$work/probe.err"; exit 1
fi

# One key at a time, each once the previous burst is dropped: a key typed
# while garbage is still on its way is counted as garbage, and a loaded
# machine would make that a race between the typist and the burst.
for ((i = 0; i < ${#typed}; i++)); do
    xdotool type "${typed:i:1}"
    wait_for "$work/probe.out" 100 "^DROPPED $((i + 1))\$" ||
        { echo "burst after character $((i + 1)) not dropped"; cat "$work/probe.out"; exit 1; }
done
xdotool key Escape

tries=0
while kill -0 "$probe_pid" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -gt 200 ] && { echo "probe did not finish"; cat "$work/probe.out"; exit 1; }
    sleep 0.1
done
wait "$probe_pid"
probe_rc=$?

kill -TERM "$recorder_pid"
wait "$recorder_pid"

echo "--- probe"; cat "$work/probe.out"
echo "--- recorder"; cat "$work/recorder.out"
[ "$probe_rc" -eq 0 ] || { echo "probe exit code $probe_rc"; cat "$work/probe.err"; exit 1; }

text=$(sed -n 's/^TEXT://p' "$work/probe.out")
recorded=$(sed -n 's/^RECORDED://p' "$work/recorder.out")
presses=$(sed -n 's/^PRESSES://p' "$work/recorder.out")

status=0
if [ "$text" != "$typed" ]; then
    echo "FAIL: field holds '$text', typed '$typed'"; status=1
fi
# Typed keys and Escape, plus garbage.
if [ "${presses:-0}" -le $(( ${#typed} + 1 )) ]; then
    echo "FAIL: recorder saw only ${presses:-0} key presses"; status=1
fi
# The typed text is in the log, in order, among the garbage.
rest=$recorded
for ((i = 0; i < ${#typed}; i++)); do
    ch=${typed:i:1}
    case "$rest" in
        *"$ch"*) rest=${rest#*"$ch"} ;;
        *) echo "FAIL: recorder lost typed '$ch'"; status=1; break ;;
    esac
done
if [ "$recorded" = "$typed" ]; then
    echo "FAIL: recorder saw the typed text alone"; status=1
fi
if [ "$status" -eq 0 ]; then
    echo "PASS: field '$text', recorder saw ${#recorded} characters"
else
    echo "--- keys the field received"; cat "$work/probe.err"
fi
exit "$status"
