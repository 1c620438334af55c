#!/usr/bin/env bash
# Kills tonvaler-cli (SIGKILL) at random moments of a batch, twenty times: no file under an
# output name is ever partial, a temporary left behind never has an output name, and the next
# batch into the folder removes those leftovers.
#
#     tests/faults/kill_test.sh BUILD_DIR PICTURE_FOLDER
set -euo pipefail
build=$1
pictures=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
shopt -s nullglob
export XDG_CONFIG_HOME="$scratch/config" QT_QPA_PLATFORM=offscreen
mkdir -p "$scratch/in" "$scratch/out"
for k in $(seq 30); do
    for p in "$pictures"/*.png "$pictures"/*.jpg; do
        base=$(basename "${p%.*}")
        cp "$p" "$scratch/in/$base-$k.${p##*.}"
    done
done

killed=0
for round in $(seq 20); do
    touch "$scratch/marker"
    sleep 0.01
    "$build/tonvaler-cli" -o "$scratch/out" "$scratch"/in/* >/dev/null 2>&1 &
    cli=$!
    sleep "0.$(( RANDOM % 45 + 5 ))"
    kill -KILL "$cli" 2>/dev/null && killed=$((killed + 1)) || true
    wait "$cli" 2>/dev/null || true
    # Every file that took an output name in this round must be whole.
    find "$scratch/out" -maxdepth 1 -type f ! -name '.*' -newer "$scratch/marker" -print0 |
        xargs -0 -r "$build/tests/picture_size" >/dev/null || fail "a file is not whole"
    find "$scratch/out" -maxdepth 1 -type f ! -name '.*' ! -name '*-grayscale.jpg' | grep -q . &&
        fail "a file with another name"
    for f in "$scratch"/out/.[!.]*; do
        case "$f" in
            *.tonvaler-part) ;;
            *) fail "a leftover with another name: $f" ;;
        esac
    done
done
leftovers=$(ls -A "$scratch/out" | grep -c 'tonvaler-part$' || true)
"$build/tonvaler-cli" -o "$scratch/out" "$scratch"/in/* >/dev/null 2>&1 || fail "the last batch failed"
[ "$(ls -A "$scratch/out" | grep -c 'tonvaler-part$' || true)" -eq 0 ] || fail "leftovers stayed"
[ "$(ls "$scratch/out" | wc -l)" -eq "$(ls "$scratch/in" | wc -l)" ] || fail "files are missing"
echo "killed $killed batches of 20; every output whole; $leftovers leftovers, removed by the next batch"
