# Sourced by the desktop tests: a private X server, and the helpers that drive a window on it
# with real input events, as a person would. Sets `scratch` (a folder removed at the end),
# DISPLAY, and a HOME and configuration of their own; `app` (the program's process) and `main`
# (its main window) are the caller's to set.
scratch=$(mktemp -d)
app=""
xvfb=""
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The server picks a free display and tells it through a file.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.05; done
[ -s "$scratch/display" ] || fail "the X server did not start"
export DISPLAY=":$(head -n 1 "$scratch/display")"
export XDG_CONFIG_HOME="$scratch/config" HOME="$scratch" QT_QPA_PLATFORM=xcb

# waitfor PATTERN: the id of the visible window whose whole name matches PATTERN (a regular
# expression), waiting up to 20 s.
waitfor() {
    local w=""
    for _ in $(seq 200); do
        w=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) && [ -n "$w" ] && break
        sleep 0.1
    done
    [ -n "$w" ] || fail "no window \"$1\""
    echo "$w"
}
gone() {  # gone WINDOW: wait until it is closed
    for _ in $(seq 100); do xdotool getwindowname "$1" >/dev/null 2>&1 || return 0; sleep 0.1; done
    fail "window $1 stayed open"
}
# The keys go in as real input to the focused window: synthetic key events sent to one window
# are not what a person types.
press() { xdotool windowfocus --sync "$1"; shift; xdotool key "$@"; }
# click X Y: a click at window coordinates of the main window (the layout's twips / 15).
click() { xdotool mousemove --window "$main" "$1" "$2" click 1; }

# open_window FOLDER [ARGUMENT...]: starts the program with the arguments (files for its list),
# sets `app` and `main`, and types FOLDER into the output field.
open_window() {
    local folder=$1
    shift
    "$build/tonvaler" "$@" >"$scratch/app.log" 2>&1 &
    app=$!
    main=$(waitfor "Tonvaler Software")
    sleep 1  # the files given join the list
    click 246 503
    press "$main" ctrl+a
    xdotool type --delay 2 "$folder"
}

# addfiles PATH...: the files chosen in the "Add Image File(s)" dialog, typed as it takes several,
# each in double quotes. The dialog's completer can swallow the first name typed, so a spare
# file leads, whose row may or may not come: its name is "$scratch/spare.jpg", made from the
# first file given.
addfiles() {
    cp "$1" "$scratch/spare.jpg"
    local names="\"$scratch/spare.jpg\"" p dialog
    for p in "$@"; do names="$names \"$p\""; done
    click 136 199
    dialog=$(waitfor "Add File\\(s\\) - Hold Ctrl or Shift to select multiple files")
    xdotool windowfocus --sync "$dialog"
    sleep 0.3
    xdotool type --delay 1 "$names"
    xdotool key Return
    gone "$dialog"
}
