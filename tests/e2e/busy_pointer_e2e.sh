#!/usr/bin/env bash
# The real tonvaler on a real X server with a window manager: while a long batch runs, each
# slider's handle is clicked and keys pressed on it, as a person does, and the pointer is read
# from the X server (XFixes) every 20 ms after each. It must never be one the window shows when
# idle until the batch ends.
#
#     tests/e2e/busy_pointer_e2e.sh BUILD_DIR PICTURE_FOLDER
set -euo pipefail
build=$1
pictures=$2
. "$(dirname "$0")/x_session.sh"
command -v openbox >/dev/null || fail "openbox is needed (scripts/setup installs it)"
openbox >/dev/null 2>&1 &
wm=$!
trap 'kill $wm 2>/dev/null || true; cleanup' EXIT

# Many names for one small picture, far more than the checks take to convert: a folder of
# 8,192 hard links, made by copying the tree into itself (all write one output name).
mkdir -p "$scratch/out" "$scratch/in/0"
cp "$pictures/rocket.jpg" "$scratch/in/0/p.jpg"
for k in $(seq 1 13); do
    cp -al "$scratch/in" "$scratch/copy" && mv "$scratch/copy" "$scratch/in/$k"
done

open_window "$scratch/out/" "$scratch/in"
# The pointers the window shows when it is not busy: the arrow over its background, the hand
# over a button, the text pointer over the folder field.
idle=()
for spot in "268 572" "268 547" "246 503"; do
    xdotool mousemove --window "$main" $spot
    sleep 0.3
    idle+=(-e "$("$build/tests/pointer_probe" 10 1)")
done
click 268 547  # Start Converting

# The handles of Image Quality, Black Filter, Gradient Filter and Gray Filter at their first
# values (the layout's twips / 15).
for handle in "440 280" "375 336" "422 392" "339 448"; do
    for key in Right Left; do
        xdotool mousemove --window "$main" $handle click 1
        xdotool key $key
        seen=$("$build/tests/pointer_probe" 20 20)
        if grep -qx "${idle[@]}" <<<"$seen"; then
            fail "an idle pointer showed during the batch, after a click at $handle and $key"
        fi
    done
done
! xdotool search --onlyvisible --name "^Tonvaler\$" >/dev/null 2>&1 ||
    fail "the batch ended before the checks did: give it more pictures"
kill "$app"
wait "$app" 2>/dev/null || true
app=""
echo "busy pointer end to end: the hourglass held through 8 clicks and keys on the sliders"
