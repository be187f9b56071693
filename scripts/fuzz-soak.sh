#!/bin/bash
# Runs every fuzz target of a fuzz build tree for a given time from its
# corpus, up to <jobs> targets at once (one process each). What a run finds
# stays under the output folder: soak/<target>/corpus (new inputs) and
# soak/<target>/crashes (the input of a failure, with libFuzzer's report in
# soak/<target>/log). A crash input becomes a regression test by moving it
# into the target's corpus under tests/data/ (see its README).
#
#   fuzz-soak.sh <fuzz build tree> <seconds per target> <output folder> [jobs]
set -u
build=$1
seconds=$2
out=$3
jobs=${4:-1}
case "$jobs" in '' | *[!0-9]* | 0) jobs=1 ;; esac
mkdir -p "$out"
shopt -s nullglob
specs=("$build"/fuzz-targets/*.txt)
if [ ${#specs[@]} -eq 0 ]; then
  echo "no fuzz targets in $build (build the orv_fuzzers target first)" >&2
  exit 1
fi

# One target: its run, then its summary in one piece so that parallel runs
# do not interleave their lines. The exit status is the target's.
soak_one() {
  local spec=$1 name program corpus args dir status
  name=$(basename "$spec" .txt)
  { read -r program; read -r corpus; read -r args; } < "$spec"
  dir="$out/$name"
  mkdir -p "$dir/corpus" "$dir/crashes"
  # shellcheck disable=SC2086  # the target's arguments are words
  "$program" -max_total_time="$seconds" -print_final_stats=1 $args \
      -artifact_prefix="$dir/crashes/" "$dir/corpus" "$corpus" > "$dir/log" 2>&1
  status=$?
  {
    echo "== $name: ${seconds} s"
    grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec' "$dir/log" | sed 's/^/   /'
    if [ "$status" -ne 0 ]; then
      echo "   FAILED (exit $status): see $dir/log and $dir/crashes/"
    fi
  } > "$dir/summary"
  cat "$dir/summary"
  return "$status"
}

start=$(date +%s)
failed=0
running=0
for spec in "${specs[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  soak_one "$spec" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
echo "${#specs[@]} targets, ${jobs} at a time: $(( $(date +%s) - start )) s"
exit "$failed"
