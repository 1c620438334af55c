#!/usr/bin/env bash
# The real tonvaler on a real X server, with what a person does during a batch of 100
# photographs: once the first row is converted, it is dragged over the second
# onto the third; then, in the output field, the last folder's name ("first") is
# taken back and another typed ("second") at a person's pace, 0.1 s a key, and Enter pressed.
# Every photograph must be written exactly once, into the first folder or the one typed (never
# the parent folder that the half-typed name passes through, nor one of the names on the way),
# with no report and "Done." at the end.
#
#     tests/e2e/batch_in_hand_e2e.sh BUILD_DIR
set -euo pipefail
build=$1
. "$(dirname "$0")/x_session.sh"

# One photograph under 100 names: the workers take equal pictures in the list's order, so that
# the passes' turns come one after another while the person types (50 were done before Enter on a
# quick machine).
"$build/tests/make_pictures" "$scratch/one" 1 2800x2100 >/dev/null
mkdir -p "$scratch/in"
for k in $(seq -w 1 100); do cp "$scratch/one/100CAM/IMG_0001.jpg" "$scratch/in/IMG_0$k.jpg"; done
mkdir -p "$scratch/first" "$scratch/second"
# The batch's first flush waits for what is still unwritten on the file system (these copies):
# written now, the batch goes at its pace from the start.
sync
open_window "$scratch/first" "$scratch/in"
press "$main" Return

click 268 547  # Start Converting
# Once the first row is converted.
for _ in $(seq 200); do [ -e "$scratch/first/IMG_0001-grayscale.jpg" ] && break; sleep 0.05; done
[ -e "$scratch/first/IMG_0001-grayscale.jpg" ] || fail "the first row was not converted in 10 s"
# Rows lie 14 pixels apart from y = 68.
xdotool mousemove --window "$main" 100 68 mousedown 1 sleep 0.1 mousemove --window "$main" 100 82 \
    sleep 0.1 mousemove --window "$main" 100 96 sleep 0.1 mouseup 1
click 246 503
press "$main" End
for _ in 1 2 3 4 5; do xdotool key BackSpace sleep 0.1; done
xdotool type --delay 100 second
xdotool key Return
done=$(waitfor Tonvaler)
! xdotool search --onlyvisible --name "^Application Error\$" >/dev/null 2>&1 ||
    fail "a report showed: $(cat "$scratch/app.log")"
press "$done" Return
gone "$done"

expected=$(cd "$scratch/in" && find . -name '*.jpg' -printf '%f\n' | sed 's/\.jpg$/-grayscale.jpg/' |
    sort)
written=$(ls "$scratch/first" "$scratch/second" | grep -- '-grayscale\.jpg$' | sort)
[ "$written" = "$expected" ] ||
    fail "written once each: $(diff <(echo "$expected") <(echo "$written") | tr '\n' ' ')"
left=$(find "$scratch" -maxdepth 1 -type f -name '*.jpg')
[ -z "$left" ] || fail "written into the parent folder: $left"
in_second=$(ls "$scratch/second" | wc -l)
[ "$in_second" -gt 0 ] || fail "the folder typed got no picture: Enter came after the batch"
kill "$app"
wait "$app" 2>/dev/null || true
app=""
echo "batch in hand end to end: 100 written once, $in_second into the folder typed"
