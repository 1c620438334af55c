#!/usr/bin/env bash
# tonvaler-cli starts itself once more with glibc's large-page tunable where the system gives
# 2 MB pages on request and the run names pictures of phones or cameras (by their names, on the
# command line or in a folder it names as an input): the same process (its PID and the name it was
# started by), arguments and input, once only; none for a run of JPEGs, whose start it would only
# slow down, none when the user set the tunable, and none under secure execution (a copy with a
# capability, run by another user; this needs root). The programs it starts get the environment
# the user gave it. (glibc shows only the first tunable it read in the environment of the
# process, so that is all this can see.)
#
#     tests/cli/large_pages.sh BUILD_DIR SAMPLES_DIR RESTART_PROBE
set -euo pipefail
build=$1
samples=$2
probe=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
mkdir "$work/out"
export XDG_CONFIG_HOME="$work/config"

# A picture of a phone by its name (its content is a JPEG: the type comes from the content), and a
# folder of JPEGs.
mkdir "$work/phone" "$work/jpegs"
cp "$samples/rocket.jpg" "$work/phone/IMG_0001.HEIC"
cp "$samples/rocket.jpg" "$work/jpegs/"
ln -s "$build/tonvaler-cli" "$work/tvc"

# What the running process's environment says GLIBC_TUNABLES is; the picture path is given on
# standard input only after it was looked at, so the process is the one that converts it.
#     tunables_of_run PROGRAM ENV... -- ARGUMENTS...
tunables_of_run() {
    local program=$1 fifo="$work/in" pid value environment=()
    shift
    while [ "$1" != -- ]; do environment+=("$1"); shift; done
    shift
    rm -f "$fifo"; mkfifo "$fifo"
    env "${environment[@]}" "$program" "$@" --files-from - <"$fifo" >"$work/said" 2>&1 &
    pid=$!
    exec 3>"$fifo"
    # The restart happens before the input is read: wait until the program image is the one it
    # keeps (its command line is read back whole either way).
    sleep 0.5
    value=$(tr '\0' '\n' <"/proc/$pid/environ" | sed -n 's/^GLIBC_TUNABLES=//p')
    # ps, top and killall know it by the name it was started by still.
    [ "$(cat "/proc/$pid/comm")" = "$(basename "$program")" ] ||
        fail "$(basename "$program") is named $(cat "/proc/$pid/comm")"
    echo "$samples/coffee.png" >&3
    exec 3>&-
    wait "$pid" || fail "the run failed: $(cat "$work/said")"
    grep -qx "2 converted, 0 failed" "$work/said" || fail "the run did not convert: $(cat "$work/said")"
    printf '%s\n' "$value"
}
cli="$build/tonvaler-cli"

if grep -q '\[madvise\]' /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null; then
    [ "$(tunables_of_run "$cli" -u GLIBC_TUNABLES -- -o "$work/out" "$work/phone")" = \
        "glibc.malloc.hugetlb=1" ] || fail "not restarted"
    [ "$(tunables_of_run "$cli" GLIBC_TUNABLES=glibc.malloc.check=0 -- -o "$work/out" \
        "$work/phone")" = "glibc.malloc.hugetlb=1" ] || fail "not restarted beside the user's tunables"
    [ "$(tunables_of_run "$work/tvc" -u GLIBC_TUNABLES -- -o "$work/out" "$work/phone")" = \
        "glibc.malloc.hugetlb=1" ] || fail "not restarted through a link"
    # What it starts has the user's environment, without the tunable or the restart's marks.
    for given in "" "glibc.malloc.check=0"; do
        said=$(env ${given:+GLIBC_TUNABLES=$given} ${given:--u GLIBC_TUNABLES} "$probe" env)
        [ "$(sed -n 's/^GLIBC_TUNABLES=//p' <<<"$said")" = "$given" ] ||
            fail "a started program got $(grep GLIBC_TUNABLES <<<"$said") where the user gave '$given'"
        ! grep -q '^TONVALER_' <<<"$said" || fail "a started program got $(grep '^TONVALER_' <<<"$said")"
    done
    # A mark the program did not leave (empty, or the user's own) neither names the process nor
    # takes the user's tunables away.
    [ -z "$(tunables_of_run "$cli" TONVALER_RESTARTED_AS= -u GLIBC_TUNABLES -- -o "$work/out" \
        "$work/phone")" ] || fail "restarted under an empty mark"
    said=$(env TONVALER_RESTARTED_AS=x GLIBC_TUNABLES=glibc.malloc.check=0 "$probe" env)
    grep -qx "GLIBC_TUNABLES=glibc.malloc.check=0" <<<"$said" ||
        fail "under a mark of the user's, a started program got $(grep GLIBC_TUNABLES <<<"$said")"
    ! grep -q '^TONVALER_' <<<"$said" || fail "a mark of the user's stayed: $(grep '^TONVALER_' <<<"$said")"
    # Run with a capability by another user, glibc erases every tunable: no restart, and no
    # endless ones.
    [ "$(id -u)" = 0 ] || fail "the secure execution case needs root (setcap, another user)"
    mkdir "$work/secure"
    cp "$cli" "$work/secure/"
    setcap cap_sys_nice+ep "$work/secure/tonvaler-cli"
    chmod -R a+rwX "$work"
    timeout 10 setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all \
        env -u GLIBC_TUNABLES XDG_CONFIG_HOME="$work/config" "$work/secure/tonvaler-cli" \
        -o "$work/out" "$work/phone" >"$work/said" 2>&1 ||
        fail "with a capability, status $?: $(cat "$work/said")"
    grep -qx "1 converted, 0 failed" "$work/said" || fail "with a capability: $(cat "$work/said")"
fi
[ -z "$(tunables_of_run "$cli" -u GLIBC_TUNABLES -- -o "$work/out" "$work/jpegs")" ] ||
    fail "restarted for JPEGs"
# The values of options are not inputs: a report or output folder with phones' names in it.
mkdir "$work/phone-out"
cp "$samples/rocket.jpg" "$work/phone-out/IMG_0003.HEIC"
[ -z "$(tunables_of_run "$cli" -u GLIBC_TUNABLES -- -o "$work/phone-out" --report \
    "$work/IMG_0002.HEIC" "$work/jpegs")" ] || fail "restarted for the options' values"
[ "$(tunables_of_run "$cli" GLIBC_TUNABLES=glibc.malloc.hugetlb=0 -- -o "$work/out" \
    "$work/phone")" = "glibc.malloc.hugetlb=0" ] || fail "the user's own setting was overridden"
echo "large pages: restarted once with the tunable for phones' pictures, under the name it was" \
    "started by, never for JPEGs, for options' values, over the user's own or under secure execution"
