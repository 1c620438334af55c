#!/usr/bin/env bash
# Outputs get the mode the user's umask gives a new file, whatever the file system: with umask
# 077 and 027 where /proc is mounted and where it is not (a mount namespace of its own), and on a
# FAT file system through FUSE, which has no chmod, every picture is converted. Needs root (the
# mount namespace, the FUSE mount), fusefat, dosfstools and strace.
#
#     tests/faults/output_modes.sh BUILD_DIR SAMPLES_DIR
set -euo pipefail
build=$1
samples=$2
work=$(mktemp -d)
dropping=
cleanup() {
    [ -z "$dropping" ] || kill "$dropping" 2>/dev/null || true
    fusermount -u "$work/fat" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export XDG_CONFIG_HOME="$work/config"
cli="$build/tonvaler-cli"
[ "$(id -u)" = 0 ] || fail "needs root (a mount namespace, a FUSE mount)"

for mask in 077 027 022; do
    for proc in mounted unmounted; do
        out="$work/out-$mask-$proc"
        mkdir "$out"
        unshare -m --propagation private sh -c \
            "[ $proc = mounted ] || umount -l /proc; umask $mask; exec \"$cli\" -o \"$out\" \"$samples/rocket.jpg\"" \
            >"$work/said" 2>&1 || fail "umask $mask, /proc $proc: $(cat "$work/said")"
        wanted=$(printf '%o' $((0666 & ~8#$mask)))
        got=$(stat -c %a "$out/rocket-grayscale.jpg")
        [ "$got" = "$wanted" ] || fail "umask $mask, /proc $proc: mode $got, not $wanted"
    done
done

command -v fusefat >/dev/null && command -v mkfs.fat >/dev/null && command -v strace >/dev/null ||
    fail "needs fusefat, dosfstools and strace"
truncate -s 32M "$work/fat.img"
mkfs.fat "$work/fat.img" >/dev/null
mkdir "$work/fat"
fusefat -o rw+ "$work/fat.img" "$work/fat" >/dev/null || fail "cannot mount FAT through FUSE"
"$cli" -o "$work/fat" "$samples/rocket.jpg" "$samples/coffee.png" >"$work/said" 2>&1 ||
    fail "on FAT through FUSE: $(cat "$work/said")"
grep -qx "2 converted, 0 failed" "$work/said" || fail "on FAT through FUSE: $(cat "$work/said")"
[ -s "$work/fat/rocket-grayscale.jpg" ] && [ -s "$work/fat/coffee-grayscale.jpg" ] ||
    fail "on FAT through FUSE: $(ls -la "$work/fat")"
# A file system that says it set a time and keeps the time of writing: --keep-time says so.
"$cli" --keep-time -o "$work/fat" "$samples/rocket.jpg" >"$work/said" 2>&1 &&
    fail "--keep-time on FAT through FUSE succeeded: $(cat "$work/said")"
grep -q "rocket-grayscale.jpg its source's time: its file system did not keep it" "$work/said" ||
    fail "--keep-time on FAT through FUSE: $(cat "$work/said")"
# Sources there too. FUSE makes their inode numbers up again each time the kernel has forgotten
# them (here: its caches dropped all along the run): each is read once all the same, never taken
# for a file changed before its turn.
mkdir "$work/fat/in" "$work/from-fat"
for name in $(seq 10 49); do cp "$samples/rocket.jpg" "$work/fat/in/$name.jpg"; done
(while :; do echo 2 >/proc/sys/vm/drop_caches; sleep 0.02; done) &
dropping=$!
status=0
strace -f -qq -e trace=openat -o "$work/opens" "$cli" -j 2 -o "$work/from-fat" "$work/fat/in" \
    >"$work/said" 2>&1 || status=$?
kill "$dropping"
dropping=
[ "$status" = 0 ] || fail "from FAT through FUSE: $(cat "$work/said")"
for name in $(seq 10 49); do
    opened=$(grep -c "fat/in/$name.jpg\"" "$work/opens" || true)
    [ "$opened" = 1 ] || fail "from FAT through FUSE, $name.jpg was opened $opened times"
done

# A full disk (a small tmpfs in a mount namespace of its own): each picture that does not fit
# says which file could not be written, and why.
mkdir "$work/full"
! unshare -m --propagation private sh -c \
    "mount -t tmpfs -o size=100k tmpfs \"$work/full\" && exec \"$cli\" -o \"$work/full\" \"$samples\"/*.png" \
    >"$work/said" 2>&1 || fail "a full disk took everything: $(cat "$work/said")"
grep -q "^$samples/[a-z]*\.png: cannot write $work/full/[a-z]*-grayscale\.jpg: No space left on device\$" \
    "$work/said" || fail "on a full disk: $(cat "$work/said")"
echo "output modes: the umask's, with /proc and without, and FAT through FUSE takes every picture"
