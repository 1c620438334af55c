#!/usr/bin/env bash
# tonvaler-cli starts itself once more with glibc's large-page tunable where the system gives
# 2 MB pages on request: the same process (its PID and name), arguments and input, once only, and
# none when the user set the tunable. (glibc shows only the first tunable it read in the environment
# of the process, so that is all this can see.)
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
tunables_of_run() {
    local fifo="$work/in" pid value
    rm -f "$fifo"; mkfifo "$fifo"
    env "$@" "$build/tonvaler-cli" -o "$work/out" --files-from - <"$fifo" >"$work/said" 2>&1 &
    pid=$!
    exec 3>"$fifo"
    # The restart happens before the input is read: wait until the program image is the one it
    # keeps (its command line is read back whole either way).
    sleep 0.5
    value=$(tr '\0' '\n' <"/proc/$pid/environ" | sed -n 's/^GLIBC_TUNABLES=//p')
    # ps, top and killall know it by its own name still.
    [ "$(cat "/proc/$pid/comm")" = tonvaler-cli ] || fail "named $(cat "/proc/$pid/comm")"
    echo "$samples/rocket.jpg" >&3
    exec 3>&-
    wait "$pid" || fail "the run failed: $(cat "$work/said")"
    grep -qx "1 converted, 0 failed" "$work/said" || fail "the run did not convert: $(cat "$work/said")"
    printf '%s\n' "$value"
}

if grep -q '\[madvise\]' /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null; then
    [ "$(tunables_of_run -u GLIBC_TUNABLES)" = "glibc.malloc.hugetlb=1" ] || fail "not restarted"
    [ "$(tunables_of_run GLIBC_TUNABLES=glibc.malloc.check=0)" = "glibc.malloc.hugetlb=1" ] ||
        fail "not restarted beside the user's tunables"
else
    [ -z "$(tunables_of_run -u GLIBC_TUNABLES)" ] || fail "restarted where it gains nothing"
fi
[ "$(tunables_of_run GLIBC_TUNABLES=glibc.malloc.hugetlb=0)" = "glibc.malloc.hugetlb=0" ] ||
    fail "the user's own setting was overridden"
echo "large pages: restarted once with the tunable where it helps, never over the user's own"
