#!/usr/bin/env bash
# Builds the arm64 Debian package on this machine (scripts/package --arch arm64), of the arm64
# build BUILD_DIR when one is given, and checks it:
# named and marked arm64, every library its programs need comes from a package it depends on,
# the unpacked command line converts its samples under qemu-aarch64, and lintian finds nothing.
#
#     tests/package/arm64_package_test.sh VERSION [BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
version=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

given=()
[ $# -lt 2 ] || given=(--build "$2")
deb=$("$top/scripts/package" --arch arm64 "${given[@]}" "$work")
[ "$(basename "$deb")" = "tonvaler_${version}_arm64.deb" ] || fail "unexpected name $(basename "$deb")"
[ "$(dpkg-deb -f "$deb" Architecture)" = arm64 ] || fail "not marked arm64"
root="$work/root"
dpkg -x "$deb" "$root"

# Each library a program names is found among arm64's and owned by a package it depends on.
depends=$(dpkg-deb -f "$deb" Depends | tr ',|' '\n\n' | sed 's/^ *//; s/ .*//')
modules=("$root"/usr/lib/aarch64-linux-gnu/tonvaler/tonvaler-*.so)
[ ${#modules[@]} -eq 5 ] || fail "expected five modules, found: ${modules[*]}"
for program in "$root"/usr/bin/* "${modules[@]}"; do
    file "$program" | grep -q "ARM aarch64" || fail "$(basename "$program") is not an arm64 program"
    for soname in $(aarch64-linux-gnu-objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }'); do
        library=$(ls /lib/aarch64-linux-gnu/"$soname" /usr/lib/aarch64-linux-gnu/"$soname" \
            2>/dev/null | head -n 1) || true
        [ -n "$library" ] || fail "$(basename "$program") needs $soname, which arm64 does not have here"
        owner=$(dpkg -S "$library" 2>/dev/null || dpkg -S "$(readlink -f "$library")" 2>/dev/null) ||
            fail "no package owns $library"
        owner=${owner%%:*}
        grep -qx "$owner" <<<"$depends" || fail "$(basename "$program") needs $soname from $owner, not a dependency"
    done
done

[ "$(qemu-aarch64 "$root/usr/bin/tonvaler-cli" --version)" = "tonvaler-cli $version" ] ||
    fail "the version differs"
mkdir "$work/out"
XDG_CONFIG_HOME="$work/config" qemu-aarch64 -cpu max "$root/usr/bin/tonvaler-cli" --samples \
    -o "$work/out" | grep -qx "4 converted, 0 failed" || fail "the unpacked command line did not convert its samples"
"$top/tests/support/write-bmp" "$work/tiny.bmp"
XDG_CONFIG_HOME="$work/config" qemu-aarch64 -cpu max "$root/usr/bin/tonvaler-cli" -o "$work/out" \
    "$work/tiny.bmp" | grep -qx "1 converted, 0 failed" || fail "the unpacked command line did not convert with its modules"

lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1 || { cat "$work/lintian"; fail "lintian"; }
echo "package $(basename "$deb"): Depends: $(dpkg-deb -f "$deb" Depends)"
echo "package $(basename "$deb"): arm64 programs, dependencies, samples converted and lintian checked"
