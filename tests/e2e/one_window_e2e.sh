#!/usr/bin/env bash
# "Open With" as a file manager does it, on a real X server: the desktop entry is launched by
# GIO with two pictures, then again with a folder, then twice at the same moment with a picture
# each; before that, a socket is left as a crash leaves it, and garbage is sent to the window.
# There must be one window, each later start must end at once, and Start must convert every
# picture handed over, once.
#
#     tests/e2e/one_window_e2e.sh BUILD_DIR PICTURE_FOLDER
set -euo pipefail
build=$1
pictures=$2
. "$(dirname "$0")/x_session.sh"
entry="$(cd "$(dirname "$0")/../.." && pwd)/resources/tonvaler.desktop"
export PATH="$build:$PATH" XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

mkdir -p "$scratch/out" "$scratch/first" "$scratch/folder/sub" "$scratch/third" "$scratch/fourth"
cp "$pictures/rocket.jpg" "$scratch/first/one.jpg"
cp "$pictures/coffee.png" "$scratch/first/two with space.png"
cp "$pictures/chelsea.png" "$scratch/folder/three.png"
cp "$pictures/astronaut.png" "$scratch/folder/sub/four.png"
cp "$pictures/rocket.jpg" "$scratch/third/fiv"$'\xe9'".jpg"  # a name that is not UTF-8
cp "$pictures/coffee.png" "$scratch/fourth/six.png"

# a start that hands its files over ends within 5 s, with status 0
handed() {
    local pid=$1 k
    for k in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && fail "a later start still runs: $*"
    wait "$pid" || fail "a later start ended with status $?: $*"
}

# A socket left behind by a window that crashed, which nobody answers.
socket="$XDG_RUNTIME_DIR/tonvaler-window-${DISPLAY/:/_}"
timeout -s KILL 0.5 socat UNIX-LISTEN:"$socket" /dev/null || true
[ -S "$socket" ] || fail "no socket left behind"
gio launch "$entry" "$scratch/first/one.jpg" "$scratch/first/two with space.png" \
    >"$scratch/app.log" 2>&1
main=$(waitfor "Tonvaler Software")
app=$(xdotool getwindowpid "$main")
sleep 1
click 246 503
press "$main" ctrl+a
xdotool type --delay 2 "$scratch/out"
press "$main" Return

# Something else of the user's that connects and sends what no start sends, or nothing.
socat /dev/null UNIX-CONNECT:"$socket"
printf 'TVOPEN2\0\377\377\377\377\377\377\377\377' | socat - UNIX-CONNECT:"$socket"
head -c 100 /dev/zero | tr '\0' x | socat - UNIX-CONNECT:"$socket"
gio launch "$entry" "$scratch/folder" >>"$scratch/app.log" 2>&1 &
handed $! "the folder"
tonvaler "$scratch/third/fiv"$'\xe9'".jpg" >>"$scratch/app.log" 2>&1 &
third=$!
tonvaler "$scratch/fourth/six.png" >>"$scratch/app.log" 2>&1 &
fourth=$!
handed $third "five.jpg"
handed $fourth "six.png"
sleep 1
windows=$(xdotool search --onlyvisible --name "^Tonvaler Software\$" | wc -l)
[ "$windows" -eq 1 ] || fail "$windows windows"
# (a start that GIO launched and that ended may stay a zombie where nothing reaps it)
running=$(ps -C tonvaler -o stat= | grep -vc '^Z' || true)
[ "$running" -eq 1 ] || fail "$running processes: $(ps -C tonvaler -o pid=,stat=,args=)"

click 268 547  # Start Converting
done=$(waitfor Tonvaler)
press "$done" Return
gone "$done"
! xdotool search --onlyvisible --name "^Application Error\$" >/dev/null 2>&1 ||
    fail "a report showed: $(cat "$scratch/app.log")"
written=$(ls "$scratch/out" | LC_ALL=C sort | paste -sd' ')
expected="fiv"$'\xe9'"-grayscale.jpg four-grayscale.jpg one-grayscale.jpg six-grayscale.jpg"
expected="$expected three-grayscale.jpg two with space-grayscale.jpg"
[ "$written" = "$expected" ] || fail "written: $written; expected: $expected"
echo "one window end to end: four starts, one window, six pictures converted"
