#!/usr/bin/env bash
# End to end: starts the built editor against one simulated unit (the hidapi stand-in preloaded in
# front of the real hidapi), waits for it to connect and finish its first full refresh, takes a
# screenshot when xwd is there, and ends the editor by its process id.
#
# usage: editor_smoke_test.sh <editor executable> <libhidapi_simulated_unit.so> <output folder>
set -euo pipefail

editor=$1
simulated_unit=$2
out=$3
limit_seconds=${TOVAREK_SMOKE_TIMEOUT:-60}

rm -rf "$out"
mkdir -p "$out/home"
log="$out/editor.log"

# The framework's one-editor-per-machine lock file (/var/tmp, else /tmp). When this test made it,
# it goes at the end, unless an editor still holds it.
app_lock="/var/tmp/juceAppLock_Tovarek Mk2 Editor"
[ -d /var/tmp ] || app_lock="/tmp/juceAppLock_Tovarek Mk2 Editor"
made_app_lock=1
[ -e "$app_lock" ] && made_app_lock=0
remove_free_app_lock () {
    python3 - "$app_lock" <<'PY'
import fcntl, os, sys
try:
    fd = os.open(sys.argv[1], os.O_RDWR)
    fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    os.unlink(sys.argv[1])
except OSError:
    pass
PY
}

pids_to_end=()
end_started () {
    for pid in "${pids_to_end[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids_to_end[@]}"; do
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
    done
    if [ "$made_app_lock" -eq 1 ]; then
        remove_free_app_lock
    fi
}
trap end_started EXIT

# A display of its own when the caller has none.
if [ -z "${DISPLAY:-}" ]; then
    display_number=$(( 200 + RANDOM % 100 ))
    Xvfb ":$display_number" -screen 0 1280x1024x24 -nolisten tcp -noreset > /dev/null 2>&1 &
    pids_to_end+=("$!")
    export DISPLAY=":$display_number"
    for _ in $(seq 100); do
        [ -S "/tmp/.X11-unix/X$display_number" ] && break
        sleep 0.1
    done
fi

# The settings go into a home folder of the test's own; the unit answers quickly.
start_editor () {
    HOME="$out/home" LD_PRELOAD="$simulated_unit" TOVAREK_SIM_REPORT_DELAY_US=200 \
        "$editor" > "$log" 2>&1 &
    editor_pid=$!
    pids_to_end=("$editor_pid" "${pids_to_end[@]}")
}

# One editor runs per machine (the framework's lock in /var/tmp): an editor started while another
# runs hands over to it and ends at once, without a line. Then wait (bounded) for the lock.
start_deadline=$(( SECONDS + limit_seconds ))
start_editor
until grep -q . "$log"; do
    if ! kill -0 "$editor_pid" 2>/dev/null && ! grep -q . "$log"; then
        if [ "$SECONDS" -ge "$start_deadline" ]; then
            echo "FAIL: the editor keeps ending at once: is another Tovarek Mk2 Editor running?"; exit 1
        fi
        sleep 0.5
        start_editor
        continue
    fi
    if [ "$SECONDS" -ge "$start_deadline" ]; then
        echo "FAIL: the editor logged nothing within ${limit_seconds} s"; exit 1
    fi
    sleep 0.1
done

wait_for_line () {
    local text=$1
    local deadline=$(( SECONDS + limit_seconds ))
    until grep -qF -- "$text" "$log"; do
        if ! kill -0 "$editor_pid" 2>/dev/null; then
            echo "FAIL: the editor ended before logging '$text'"; cat "$log"; exit 1
        fi
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "FAIL: no '$text' within ${limit_seconds} s"; cat "$log"; exit 1
        fi
        sleep 0.2
    done
}

# Connection, then the full refresh: device accepted, and the status answer that ends it.
wait_for_line "DEBUG: connect"
wait_for_line "Accepted connection to device with reported type 4"
wait_for_line "DEBUG: ampIndex = "

# resources.bin is copied next to the executable by the build.
if grep -q "Failed to open resource file" "$log"; then
    echo "FAIL: the editor did not find resources.bin"; cat "$log"; exit 1
fi

if grep -q "EdSvc error" "$log"; then
    echo "FAIL: the service reported an error"; cat "$log"; exit 1
fi

if command -v xwd > /dev/null; then
    xwd -root -silent -display "$DISPLAY" > "$out/screen.xwd"
    # The window opens centred at 416 x 593 on a first run.
    read -r width height < <(python3 - "$out/screen.xwd" <<'PY'
import struct, sys
fields = struct.unpack(">25I", open(sys.argv[1], "rb").read(100))
print(fields[4], fields[5])
PY
)
    x=$(( (width - 416) / 2 )); y=$(( (height - 593) / 2 ))
    painted=$(python3 "$(dirname "$0")/xwd_to_png.py" "$out/screen.xwd" "$out/screen.png" "$x" "$y" 416 593)
    echo "screenshot: $out/screen.png ($painted)"
    fraction=${painted#painted }
    if ! python3 -c "import sys; sys.exit(0 if float('$fraction') > ${TOVAREK_SMOKE_MIN_PAINTED:-0.5} else 1)"; then
        echo "FAIL: the editor's window is mostly black: its artwork is missing"; exit 1
    fi
else
    echo "no xwd: screenshot skipped"
fi

kill "$editor_pid"
for _ in $(seq 50); do
    kill -0 "$editor_pid" 2>/dev/null || break
    sleep 0.1
done
kill -9 "$editor_pid" 2>/dev/null || true
echo "PASS: connected and refreshed"
