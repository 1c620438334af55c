#!/usr/bin/env bash
# The real tonvaler on a real X server, driven with real input events as a person would: load
# the samples (answering No), drag a row and delete one, type the output folder, add pictures
# through the file dialog, convert, and check what was written and stored; then open the preview,
# move a slider under it, zoom it with the wheel, split it and drag the divider, and close it.
#
#     tests/e2e/window_e2e.sh BUILD_DIR PICTURE_FOLDER [SCREENSHOT_FOLDER]
set -euo pipefail
build=$1
pictures=$2
shots=${3:-}
. "$(dirname "$0")/x_session.sh"
shot() { [ -z "$shots" ] || xwd -silent -id "$main" | xwdtopnm 2>/dev/null | pnmtopng >"$shots/$1"; }

mkdir -p "$scratch/out" "$scratch/more"
"$build/tonvaler" >"$scratch/app.log" 2>&1 &
app=$!
main=$(waitfor "Tonvaler Software")
sleep 0.3

# Load the samples and answer No.
click 400 233
question=$(waitfor Tonvaler)
press "$question" Escape
gone "$question"

# Rows of the list lie 14 pixels apart from y = 68. Drag row 1 over row 2 onto row 3, then
# delete row 1: astronaut, chelsea, coffee, rocket become chelsea, coffee, astronaut, rocket,
# and then coffee, astronaut, rocket. Without the drag, astronaut would go instead.
xdotool mousemove --window "$main" 100 68 mousedown 1 sleep 0.1 mousemove --window "$main" 100 82 \
    sleep 0.1 mousemove --window "$main" 100 96 sleep 0.1 mouseup 1
click 100 68
press "$main" Delete

# The output folder, typed.
click 246 503
press "$main" ctrl+a
xdotool type --delay 2 "$scratch/out/"

# More pictures through the file dialog, so that the batch lasts long enough to be seen.
for k in $(seq 12); do
    for p in "$pictures"/*.png "$pictures"/*.jpg; do
        base=$(basename "${p%.*}")
        cp "$p" "$scratch/more/$base-$k.${p##*.}"
    done
done
addfiles "$scratch"/more/*

click 268 547  # Start Converting
shot during-batch.png
done=$(waitfor Tonvaler)
shot batch-done.png
press "$done" Return
gone "$done"

# What was written: one grey JPEG a row, of its picture's size.
expected=(coffee astronaut rocket)
for p in "$scratch"/more/*; do expected+=("$(basename "${p%.*}")"); done
[ ! -e "$scratch/out/chelsea-grayscale.jpg" ] || fail "the row deleted after the drag was converted"
for name in "${expected[@]}"; do
    out="$scratch/out/$name-grayscale.jpg"
    [ -s "$out" ] || fail "no $out"
done
rm -f "$scratch/out/spare-grayscale.jpg"
[ "$(ls "$scratch/out" | wc -l)" -eq "${#expected[@]}" ] || fail "unexpected files: $(ls "$scratch/out")"
"$build/tests/picture_size" "$scratch/out/astronaut-grayscale.jpg" | grep -qx "512x512" ||
    fail "astronaut is not 512 x 512"
"$build/tests/picture_size" "$scratch/out/rocket-grayscale.jpg" | grep -qx "640x427" ||
    fail "rocket is not 640 x 427"

# What was stored: the output folder as typed, no slider key (none was moved).
ini="$scratch/config/Kestrova.ini"
grep -qx "Output%20Folder=$scratch/out/" "$ini" || fail "Output Folder not stored: $(cat "$ini")"
! grep -q '^Slider' "$ini" || fail "a slider key was written"

# The preview: a row selected and Space pressed in the list open it; the "Black Filter" slider
# dragged with the mouse in the main window renders it again.
click 100 68
press "$main" space
preview=$(waitfor "Preview - .*")
xdotool windowmove --sync "$preview" 545 0 windowsize --sync "$preview" 475 560
sleep 1.5
pshot() { xwd -silent -id "$preview" | xwdtopnm 2>/dev/null | pnmtopng >"$1"; }
pshot "$scratch/preview-before.png"
xdotool mousemove --window "$main" 378 336 mousedown 1 sleep 0.1 mousemove --window "$main" 300 336 \
    sleep 0.1 mousemove --window "$main" 200 336 sleep 0.1 mouseup 1
sleep 1.5
pshot "$scratch/preview-after.png"
! cmp -s "$scratch/preview-before.png" "$scratch/preview-after.png" ||
    fail "the preview did not change when the slider moved"
grep -q '^Slider2=' "$ini" || fail "the slider's handler did not store its value"
[ -z "$shots" ] || cp "$scratch/preview-after.png" "$shots/preview.png"

# The wheel over the picture zooms in around the pointer; S splits it, and the divider dragged
# to the left shows more of the result.
xdotool mousemove --window "$preview" 237 330 click 4 sleep 0.2 click 4 sleep 0.2 click 4
sleep 1.5
pshot "$scratch/preview-zoomed.png"
! cmp -s "$scratch/preview-after.png" "$scratch/preview-zoomed.png" ||
    fail "the preview did not zoom with the wheel"
press "$preview" f
press "$preview" s
sleep 0.5
pshot "$scratch/preview-split.png"
xdotool mousemove --window "$preview" 237 330 mousedown 1 sleep 0.1 \
    mousemove --window "$preview" 180 330 sleep 0.1 mousemove --window "$preview" 120 330 \
    sleep 0.1 mouseup 1
sleep 0.5
pshot "$scratch/preview-split-dragged.png"
[ -z "$shots" ] || cp "$scratch/preview-zoomed.png" "$shots/preview-zoomed.png"
[ -z "$shots" ] || cp "$scratch/preview-split-dragged.png" "$shots/preview-split.png"
! cmp -s "$scratch/preview-split.png" "$scratch/preview-split-dragged.png" ||
    fail "the split's divider did not move"
press "$preview" Escape
gone "$preview"

kill "$app"
wait "$app" 2>/dev/null || true
app=""
echo "window end to end: ${#expected[@]} files converted from the window, the preview followed a slider, zoomed and split"
