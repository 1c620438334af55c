#!/usr/bin/env bash
# The real tonvaler on a real X server: 14 pictures, the second cut short, converted with two
# workers; the report for the cut picture is answered after 1.5 s, as a person reads it, while
# the other pictures finish behind it. Every good picture must be written, the cut one not,
# nothing half done left, and the batch must end with "Done." and no other report.
#
#     tests/e2e/report_box_e2e.sh BUILD_DIR PICTURE_FOLDER
set -euo pipefail
build=$1
pictures=$2
. "$(dirname "$0")/x_session.sh"

mkdir -p "$scratch/out" "$scratch/in"
files=()
for k in 1 2 3 4; do
    for p in "$pictures"/*.png "$pictures"/*.jpg; do
        base=$(basename "${p%.*}")
        cp "$p" "$scratch/in/$base-$k.${p##*.}"
        files+=("$scratch/in/$base-$k.${p##*.}")
    done
done
files=("${files[@]:0:13}")
head -c 20000 "$pictures/rocket.jpg" >"$scratch/in/cut.jpg"
files=("${files[0]}" "$scratch/in/cut.jpg" "${files[@]:1}")

open_window "$scratch/out/"
addfiles "${files[@]}"

click 268 547  # Start Converting
report=$(waitfor "Application Error")
sleep 1.5
press "$report" Return
gone "$report"
done=$(waitfor Tonvaler)
! xdotool search --onlyvisible --name "^Application Error\$" >/dev/null 2>&1 ||
    fail "another report: $(cat "$scratch/app.log")"
press "$done" Return
gone "$done"
kill -0 "$app" 2>/dev/null || fail "the program ended: $(cat "$scratch/app.log")"

rm -f "$scratch/out/spare-grayscale.jpg"
for p in "${files[@]}"; do
    name=$(basename "${p%.*}")
    out="$scratch/out/$name-grayscale.jpg"
    if [ "$name" = cut ]; then
        [ ! -e "$out" ] || fail "the cut picture was written"
    else
        [ -s "$out" ] || fail "no $out"
    fi
done
left=$(ls -A "$scratch/out" | grep -v -- '-grayscale\.jpg$' || true)
[ -z "$left" ] || fail "left in the output folder: $left"
[ "$(ls -A "$scratch/out" | wc -l)" -eq 13 ] || fail "unexpected files: $(ls -A "$scratch/out")"

kill "$app"
wait "$app" 2>/dev/null || true
app=""
echo "report box end to end: 13 pictures written while the cut one's report was open"
