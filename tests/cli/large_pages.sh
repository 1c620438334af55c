#!/usr/bin/env bash
# tonvaler-cli starts itself once more with glibc's large-page tunable where the system gives
# 2 MB pages on request and the run names pictures of phones or cameras (by their names, on the
# command line or in a folder it names): the same process (its PID and name), arguments and input,
# once only; none for a run of JPEGs, whose start it would only slow down, and none when the user
# set the tunable. (glibc shows only the first tunable it read in the environment of the process,
# so that is all this can see.)
#
#     tests/cli/large_pages.sh BUILD_DIR SAMPLES_DIR
set -euo pipefail
build=$1
samples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
mkdir "$work/out"
export XDG_CONFIG_HOME="$work/config"

# What the running process's environment says GLIBC_TUNABLES is; the picture path is given on
# standard input only after it was looked at, so the process is the one that converts it.
# A picture of a phone by its name (its content is a JPEG: the type comes from the content), and a
# folder of JPEGs.
mkdir "$work/phone" "$work/jpegs"
cp "$samples/rocket.jpg" "$work/phone/IMG_0001.HEIC"
cp "$samples/rocket.jpg" "$work/jpegs/"

# tunables_of_run FOLDER ENV...
tunables_of_run() {
    local folder=$1 fifo="$work/in" pid value
    shift
    rm -f "$fifo"; mkfifo "$fifo"
    env "$@" "$build/tonvaler-cli" -o "$work/out" "$folder" --files-from - <"$fifo" >"$work/said" 2>&1 &
    pid=$!
    exec 3>"$fifo"
    # The restart happens before the input is read: wait until the program image is the one it
    # keeps (its command line is read back whole either way).
    sleep 0.5
    value=$(tr '\0' '\n' <"/proc/$pid/environ" | sed -n 's/^GLIBC_TUNABLES=//p')
    # ps, top and killall know it by its own name still.
    [ "$(cat "/proc/$pid/comm")" = tonvaler-cli ] || fail "named $(cat "/proc/$pid/comm")"
    echo "$samples/coffee.png" >&3
    exec 3>&-
    wait "$pid" || fail "the run failed: $(cat "$work/said")"
    grep -qx "2 converted, 0 failed" "$work/said" || fail "the run did not convert: $(cat "$work/said")"
    printf '%s\n' "$value"
}

if grep -q '\[madvise\]' /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null; then
    [ "$(tunables_of_run "$work/phone" -u GLIBC_TUNABLES)" = "glibc.malloc.hugetlb=1" ] ||
        fail "not restarted"
    [ "$(tunables_of_run "$work/phone" GLIBC_TUNABLES=glibc.malloc.check=0)" = \
        "glibc.malloc.hugetlb=1" ] || fail "not restarted beside the user's tunables"
fi
[ -z "$(tunables_of_run "$work/jpegs" -u GLIBC_TUNABLES)" ] || fail "restarted for JPEGs"
[ "$(tunables_of_run "$work/phone" GLIBC_TUNABLES=glibc.malloc.hugetlb=0)" = \
    "glibc.malloc.hugetlb=0" ] || fail "the user's own setting was overridden"
echo "large pages: restarted once with the tunable for phones' pictures, never for JPEGs or over" \
    "the user's own"
