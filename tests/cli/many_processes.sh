#!/usr/bin/env bash
# One batch spread over processes as the README's recipes spread it: GNU parallel running three
# shards, an indexed job's three pods (JOB_COMPLETION_INDEX) and the three tasks of a stepped
# Slurm array run at once each give exactly the files and bytes of one run over everything;
# inside an array task, a run not asked to shard converts everything. A run killed midway and
# run again with --skip-existing ends with the same files, and does not write again those that
# were there. A list from find on standard input names every picture.
#
#     tests/cli/many_processes.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
cli="$build/tonvaler-cli"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# About 200 small pictures in camera folders that restart their numbering.
"$build/tests/make_pictures" "$scratch/photos" 200 >/dev/null
mkdir -p "$scratch/one" "$scratch/parallel" "$scratch/pods" "$scratch/resumed"
"$cli" -j 2 --keep-tree -o "$scratch/one" "$scratch/photos" >/dev/null

# The README's recipe for one machine, with the folders of this test.
photos="$scratch/photos" out="$scratch/parallel"
parallel -j 3 "$cli" -j 1 --keep-tree --shard {}/3 -o "$out" "$photos" ::: 1 2 3 >/dev/null
diff -r "$scratch/one" "$scratch/parallel" >/dev/null || fail "three shards through parallel differ from one run"

# An indexed job: each pod gets its index in JOB_COMPLETION_INDEX.
for index in 0 1 2; do
    JOB_COMPLETION_INDEX=$index "$cli" -j 1 --keep-tree --shard-count 3 -o "$scratch/pods" \
        "$scratch/photos" >/dev/null 2>"$scratch/pod$index.log"
    grep -q "shard $((index + 1))/3, from JOB_COMPLETION_INDEX" "$scratch/pod$index.log" ||
        fail "pod $index did not say its shard"
done
diff -r "$scratch/one" "$scratch/pods" >/dev/null || fail "three pods differ from one run"

# A Slurm array stepped by 2 (--array=2-6:2): its three tasks at once take the three shares.
mkdir -p "$scratch/stepped" "$scratch/task"
for id in 2 4 6; do
    SLURM_ARRAY_TASK_ID=$id SLURM_ARRAY_TASK_COUNT=3 SLURM_ARRAY_TASK_MIN=2 \
        SLURM_ARRAY_TASK_MAX=6 SLURM_ARRAY_TASK_STEP=2 \
        "$cli" -j 1 --keep-tree --shard auto -o "$scratch/stepped" "$scratch/photos" \
        >/dev/null 2>"$scratch/task$id.log" &
done
wait
grep -q "shard 3/3, from SLURM_ARRAY_TASK_ID" "$scratch/task6.log" || fail "task 6 is not shard 3/3"
diff -r "$scratch/one" "$scratch/stepped" >/dev/null || fail "a stepped array differs from one run"
# Inside an array task, a run not asked to shard converts everything it is given.
summary=$(SLURM_ARRAY_TASK_ID=2 SLURM_ARRAY_TASK_COUNT=4 \
    "$cli" -j 2 --keep-tree -o "$scratch/task" "$scratch/photos")
[ "$summary" = "200 converted, 0 failed" ] || fail "an array task without --shard said: $summary"

# A list on standard input, as find writes it.
listed=$(cd "$scratch" && find photos -name '*.jpg' -print0 |
    "$cli" --dry-run --keep-tree --null --files-from - | wc -l)
[ "$listed" -eq 200 ] || fail "find -print0 | --null --files-from - gave $listed paths"

# Killed midway, then the same command again with --skip-existing.
"$cli" -j 1 --keep-tree -o "$scratch/resumed" "$scratch/photos" >/dev/null 2>&1 &
run=$!
for _ in $(seq 200); do
    [ "$(find "$scratch/resumed" -name '*.jpg' | wc -l)" -ge 40 ] && break
    sleep 0.02
done
kill -9 "$run" 2>/dev/null || true
wait "$run" 2>/dev/null || true
before=$(find "$scratch/resumed" -name '*-grayscale.jpg' -printf '%P %T@\n' | sort)
written=$(echo "$before" | grep -c . || true)
[ "$written" -gt 0 ] && [ "$written" -lt 200 ] || fail "the kill came at $written files, not midway"
summary=$("$cli" -j 2 --keep-tree --skip-existing -o "$scratch/resumed" "$scratch/photos")
[ "$summary" = "$((200 - written)) converted, 0 failed, $written skipped" ] ||
    fail "the rerun said: $summary (after $written files)"
diff -r "$scratch/one" "$scratch/resumed" >/dev/null || fail "the resumed run differs from one run"
after=$(find "$scratch/resumed" -name '*-grayscale.jpg' -printf '%P %T@\n' | sort)
while read -r name time; do
    grep -qxF "$name $time" <<<"$after" || fail "$name was written again"
done <<<"$before"
echo "many processes: 3 shards through parallel, 3 pods, 3 array tasks and a resumed run equal one run"
