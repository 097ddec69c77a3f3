#!/usr/bin/env bash
# Regenerates the README's screenshots in docs/: each window is started under Xvfb with a
# fresh configuration and captured. Needs xvfb, xdotool and imagemagick.
#   scripts/screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

cmake -S . -B build-shots -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_TESTS=OFF >/dev/null
cmake --build build-shots >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

display=:$((100 + $$ % 400))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp &
pids+=($!)
export DISPLAY=$display QT_QPA_PLATFORM=xcb
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

# A new user: empty config, data and runtime folders, and what `settings` holds.
fresh() {
    rm -rf "$work/home"
    mkdir -p "$work/home/config/Quorvane" "$work/home/data" "$work/home/runtime"
    chmod 700 "$work/home/runtime"
    export XDG_CONFIG_HOME=$work/home/config XDG_DATA_HOME=$work/home/data
    export XDG_RUNTIME_DIR=$work/home/runtime
    printf '%b' "${1:-}" >"$XDG_CONFIG_HOME/Quorvane/Quorvane.conf"
}

# The id of the window with this exact caption, once it is shown.
window() {
    xdotool search --sync --onlyvisible --name "^$1\$" | head -n1
}

# Captures the window with this caption into docs/NAME.png once it has settled.
shot() {
    local id
    id=$(window "$1")
    sleep 0.5
    import -window "$id" "$root/docs/$2.png"
    echo "docs/$2.png"
}

users='[Users]\nTestUsers=True\n1_name=localhost\n1_ip=127.0.0.1\n1_port=505\n2_name=Ann\n2_ip=192.168.1.20\n2_port=5050\n3_name=Bob\n3_ip=192.168.1.31\n3_port=5050\n'

fresh "$users"
"$root/build-shots/quorvane" &
pids+=($!)
main=$(window "Send Message")
xdotool windowfocus --sync "$main" type --delay 20 "See you at the stand-up at ten?"
shot "Send Message" main-window
# Tab reaches "Modify User" after Send, Stop and the recipient list.
xdotool windowfocus --sync "$main" key Tab Tab Tab Tab space
shot "Modify User" user-list
xdotool key --window "$(window "Modify User")" Escape 2>/dev/null || true
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true

fresh "$users"
"$root/build-shots/quorvane" &
pids+=($!)
xdotool windowfocus --sync "$(window "Send Message")" key alt+o p
shot "Options" options
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true

fresh '[Identification]\nMyUsername=Me\nMyPortnb=5050\n'
"$root/build-shots/quorvane-receiver" &
pids+=($!)
window "Received Messages" >/dev/null
sleep 0.5
printf 'Ann\0005050\000Lunch at noon? The new place on the corner.' >/dev/tcp/127.0.0.1/5050
printf 'Bob\0005050\000The build is green again.' >/dev/tcp/127.0.0.1/5050
shot "Received Messages" receiver
