#!/usr/bin/env bash
# Installs into a temporary prefix and checks that everything a desktop needs is there, and that
# the installed command line finds its samples and its modules.
#
#     tests/install/install_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/tonvaler bin/tonvaler-cli share/applications/tonvaler.desktop \
         share/icons/hicolor/scalable/apps/tonvaler.svg \
         share/icons/hicolor/256x256/apps/tonvaler.png \
         share/tonvaler/drag.ico share/tonvaler/Samples/astronaut.png \
         share/tonvaler/Samples/chelsea.png share/tonvaler/Samples/coffee.png \
         share/tonvaler/Samples/rocket.jpg; do
    [ -e "$prefix/$f" ] || fail "$f was not installed"
done
[ -z "$(ls "$prefix"/share/doc/*/samples-LICENSE.txt 2>/dev/null)" ] && fail "the samples' licence was not installed"
desktop-file-validate "$prefix/share/applications/tonvaler.desktop" || fail "the menu entry is not valid"
[ "$("$prefix/bin/tonvaler-cli" --version)" = "tonvaler-cli $version" ] || fail "the version differs"

mkdir -p "$prefix/out"
XDG_CONFIG_HOME="$prefix/config" "$prefix/bin/tonvaler-cli" --samples -o "$prefix/out" |
    grep -qx "4 converted, 0 failed" || fail "the installed command line did not convert its samples"
[ "$(ls "$prefix/out" | wc -l)" -eq 4 ] || fail "expected four files"
# A picture that only a module decodes: the installed program finds its modules.
"$(dirname "$0")/../support/write-bmp" "$prefix/tiny.bmp"
XDG_CONFIG_HOME="$prefix/config" "$prefix/bin/tonvaler-cli" -o "$prefix/out" "$prefix/tiny.bmp" |
    grep -qx "1 converted, 0 failed" || fail "the installed command line did not convert with its modules"
echo "installed into a temporary prefix: programs, modules, menu entry, icons, samples, version $version"
