#!/usr/bin/env bash
# The real tonvaler on a real X server: 24 pictures, every other one cut short, converted with
# two workers, so that one report follows another. The first is answered after a second, as a
# person reads it; while the second is open, the main window is asked to close, as its close
# button does. The program must end at once, leaving only whole files and nothing half written.
#
#     tests/e2e/close_during_reports_e2e.sh BUILD_DIR PICTURE_FOLDER
set -euo pipefail
build=$1
pictures=$2
. "$(dirname "$0")/x_session.sh"

mkdir -p "$scratch/out" "$scratch/in"
files=()
for k in $(seq 12); do
    cp "$pictures/rocket.jpg" "$scratch/in/good-$k.jpg"
    head -c 20000 "$pictures/rocket.jpg" >"$scratch/in/cut-$k.jpg"
    files+=("$scratch/in/good-$k.jpg" "$scratch/in/cut-$k.jpg")
done

open_window "$scratch/out/"
addfiles "${files[@]}"

click 268 547  # Start Converting
report=$(waitfor "Application Error")
sleep 1
press "$report" Return
gone "$report"
report=$(waitfor "Application Error")
"$build/tests/close_request" "$main"
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app" 2>/dev/null; then
    fail "the program still runs 5 s after its window was closed under a report"
fi
status=0
wait "$app" || status=$?
app=""
[ "$status" = 0 ] || fail "the program ended with $status: $(cat "$scratch/app.log")"

rm -f "$scratch/out/spare-grayscale.jpg"
for out in "$scratch/out"/*; do
    case "$(basename "$out")" in
        good-*-grayscale.jpg) ;;
        *) fail "left in the output folder: $(basename "$out")" ;;
    esac
    "$build/tests/picture_size" "$out" | grep -qx "640x427" || fail "$out is not whole"
done
written=$(ls -A "$scratch/out" | wc -l)
[ "$written" -lt 12 ] || fail "all 12 good pictures were written: the close came too late"
echo "close during reports end to end: the program ended under a report, $written whole files"
