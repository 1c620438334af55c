#!/usr/bin/env bash
# A server-sized run within the open files the system allows: 6,000 small pictures at -j 256
# under a soft limit of 1,024 (raised to the hard one) and under a hard limit of 256 (the workers
# reduced, which a line says): every picture converted, no crash, each time.
#
#     tests/cli/many_workers.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd)
runs=${2:-1}
cli="$build/tonvaler-cli"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export XDG_CONFIG_HOME="$scratch/config"

"$build/tests/make_pictures" "$scratch/many" 6000 64x48 >/dev/null
for run in $(seq "$runs"); do
    for limits in "-Sn 1024" "-n 256"; do
        rm -rf "$scratch/out"
        mkdir "$scratch/out"
        status=0
        (ulimit $limits && exec "$cli" -j 256 --keep-tree -o "$scratch/out" "$scratch/many") \
            >"$scratch/said" 2>&1 || status=$?
        [ "$status" = 0 ] || fail "ulimit $limits, run $run: status $status: $(tail -3 "$scratch/said")"
        [ "$(tail -1 "$scratch/said")" = "6000 converted, 0 failed" ] ||
            fail "ulimit $limits, run $run: $(tail -3 "$scratch/said")"
        [ "$(find "$scratch/out" -name '*-grayscale.jpg' | wc -l)" = 6000 ] ||
            fail "ulimit $limits, run $run: not 6000 outputs"
    done
    grep -q "^-j 256 is more than 256 open files allow (ulimit -n): [0-9]* at once$" "$scratch/said" ||
        fail "the reduced workers were not said: $(head -1 "$scratch/said")"
done
echo "many workers: 6000 pictures at -j 256 under 1,024 and 256 open files, $runs run(s)"
