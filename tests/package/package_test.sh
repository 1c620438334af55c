#!/usr/bin/env bash
# Builds the Debian package from the build given, unpacks it into a fresh root and checks it:
# every library its programs need comes from a package it depends on, the unpacked programs run
# and convert their samples, and the menu entry, the AppStream file, the manual pages, the shell
# completion and lintian find nothing wrong.
#
#     tests/package/package_test.sh BUILD_DIR VERSION
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

deb=$("$top/scripts/package" --build "$build" "$work")
[ "$(basename "$deb")" = "tonvaler_${version}_$(dpkg --print-architecture).deb" ] ||
    fail "unexpected package name $(basename "$deb")"
root="$work/root"
dpkg -x "$deb" "$root"

# Each shared library the programs and their modules load is owned by a package the .deb depends
# on.
depends=$(dpkg-deb -f "$deb" Depends | tr ',|' '\n\n' | sed 's/^ *//; s/ .*//')
modules=("$root"/usr/lib/*/tonvaler/tonvaler-*.so)
[ ${#modules[@]} -eq 5 ] || fail "expected five modules, found: ${modules[*]}"
for program in "$root"/usr/bin/* "${modules[@]}"; do
    for library in $(ldd "$program" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }'); do
        soname=$(basename "$library")
        # (captured first: under pipefail, grep -q leaving early fails the writer)
        needed=$(objdump -p "$program")
        grep -q "NEEDED *$soname\$" <<<"$needed" || continue
        # dpkg knows a library by the path its package gave it, with /lib or /usr/lib.
        owner=$(dpkg -S "$library" 2>/dev/null || dpkg -S "$(readlink -f "$library")" 2>/dev/null) ||
            fail "no package owns $library"
        owner=${owner%%:*}
        grep -qx "$owner" <<<"$depends" || fail "$(basename "$program") needs $soname from $owner, not a dependency"
    done
done

[ "$("$root/usr/bin/tonvaler-cli" --version)" = "tonvaler-cli $version" ] || fail "the version differs"
mkdir "$work/out"
XDG_CONFIG_HOME="$work/config" "$root/usr/bin/tonvaler-cli" --samples -o "$work/out" |
    grep -qx "4 converted, 0 failed" || fail "the unpacked command line did not convert its samples"
"$top/tests/support/write-bmp" "$work/tiny.bmp"
XDG_CONFIG_HOME="$work/config" "$root/usr/bin/tonvaler-cli" -o "$work/out" "$work/tiny.bmp" |
    grep -qx "1 converted, 0 failed" || fail "the unpacked command line did not convert with its modules"

entry="$root/usr/share/applications/tonvaler.desktop"
desktop-file-validate "$entry" || fail "the menu entry"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >"$work/appstream" ||
    { cat "$work/appstream"; fail "the AppStream file"; }
# "Open With": the entry offers the program for every kind of picture it reads, each one the
# shared MIME database knows, and lists the same kinds in the AppStream file.
types=$(sed -n 's/^MimeType=//p' "$entry" | tr ';' '\n' | sed '/^$/d' | sort)
[ "$(grep -c . <<<"$types")" -ge 20 ] || fail "the menu entry names too few kinds: $types"
[ "$(sed -n 's:.*<mediatype>\(.*\)</mediatype>.*:\1:p' "$root"/usr/share/metainfo/*.xml | sort)" = \
    "$types" ] || fail "the AppStream file's media types differ from the menu entry's"
grep -q '^Exec=tonvaler %F$' "$entry" || fail "the menu entry does not pass the files chosen"
# Installed as dpkg's trigger installs it, beside a desktop whose viewer opens JPEGs: the package
# adds a choice and never takes the default, for the user or the system.
desktop="$work/desktop"
mkdir -p "$desktop/applications" "$work/home"
printf '%s\n' '[Desktop Entry]' Type=Application Name=Viewer Exec=true 'MimeType=image/jpeg;' \
    >"$desktop/applications/viewer.desktop"
printf '%s\n' '[Default Applications]' image/jpeg=viewer.desktop >"$desktop/applications/mimeapps.list"
update-desktop-database "$desktop/applications"
# GIO passes over an entry whose program is not on the PATH, as it is once installed.
as_desktop() {
    env -i PATH="$root/usr/bin:$PATH" HOME="$work/home" XDG_DATA_DIRS="$1" LC_ALL=C.UTF-8 "${@:2}"
}
before=$(as_desktop "$desktop:/usr/share" xdg-mime query default image/jpeg)
[ "$before" = viewer.desktop ] || fail "the desktop made for the test has no default: $before"
[ -z "$(find "$root" -name '*mimeapps.list' -o -name 'defaults.list' -o -name 'mimeinfo.cache')" ] ||
    fail "the package ships a list of defaults"
dpkg-deb -e "$deb" "$work/control"
! grep -rqs 'xdg-mime\|mimeapps' "$work/control" || fail "the package's scripts set defaults"
update-desktop-database "$root/usr/share/applications"
installed="$desktop:$root/usr/share:/usr/share"
[ "$(as_desktop "$installed" xdg-mime query default image/jpeg)" = "$before" ] ||
    fail "installing took over the default for image/jpeg"
for type in $types; do
    as_desktop "$installed" gio mime "$type" >"$work/gio" 2>&1 || true
    sed -n '/^Registered applications:/,/^[^[:space:]]/p' "$work/gio" >"$work/registered"
    grep -qx $'\ttonvaler.desktop' "$work/registered" ||
        { cat "$work/gio"; fail "gio offers no tonvaler for $type"; }
done
as_desktop "$installed" gio mime image/jpeg >"$work/gio"
grep -q '^Default application for .*viewer.desktop' "$work/gio" || fail "gio's default for image/jpeg changed"

for page in tonvaler tonvaler-cli; do
    file="$root/usr/share/man/man1/$page.1.gz"
    [ -f "$file" ] || fail "no manual page $page(1)"
    warnings=$(zcat "$file" | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$page(1): $warnings"
    rendered=$(MANWIDTH=80 man -l "$file" 2>/dev/null)
    grep -q "^NAME" <<<"$rendered" || fail "$page(1) does not render"
done

# What Tab offers after each of these words, as bash-completion loads the file.
completions() {
    bash -c 'source /usr/share/bash-completion/bash_completion
             source "$1"; shift
             COMP_WORDS=(tonvaler-cli "$@"); COMP_CWORD=$#; COMP_LINE="tonvaler-cli $*"
             COMP_POINT=${#COMP_LINE}; _tonvaler_cli; printf "%s\n" "${COMPREPLY[@]}"' \
        _ "$root/usr/share/bash-completion/completions/tonvaler-cli" "$@"
}
[ "$(completions --format '' | sort | paste -sd' ')" = "jpeg png" ] || fail "--format values"
[ "$(completions --skip)" = "--skip-existing" ] || fail "option names"
mkdir "$work/dir" && touch "$work/dir/photo.jpg"
[ "$(completions -o "$work/dir/")" = "" ] || fail "-o offers files"
[ "$(completions "$work/dir/")" = "$work/dir/photo.jpg" ] || fail "paths"

lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1 || { cat "$work/lintian"; fail "lintian"; }
echo "package $(basename "$deb"): dependencies, programs, samples, menu entry, Open With, AppStream, manual pages, completion and lintian checked"
