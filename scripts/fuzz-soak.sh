#!/bin/bash
# Runs every fuzz target of a fuzz build tree for a given time, one after
# the other, from its corpus. What a run finds stays under the output
# folder: soak/<target>/corpus (new inputs) and soak/<target>/crashes (the
# input of a failure, with libFuzzer's report in soak/<target>/log). A
# crash input becomes a regression test by moving it into the target's
# corpus under tests/data/ (see its README).
#
#   fuzz-soak.sh <fuzz build tree> <seconds per target> <output folder>
set -u
build=$1
seconds=$2
out=$3
mkdir -p "$out"
failed=0
shopt -s nullglob
specs=("$build"/fuzz-targets/*.txt)
if [ ${#specs[@]} -eq 0 ]; then
  echo "no fuzz targets in $build (build the orv_fuzzers target first)" >&2
  exit 1
fi
for spec in "${specs[@]}"; do
  name=$(basename "$spec" .txt)
  { read -r program; read -r corpus; read -r args; } < "$spec"
  dir="$out/$name"
  mkdir -p "$dir/corpus" "$dir/crashes"
  echo "== $name: ${seconds} s"
  # shellcheck disable=SC2086  # the target's arguments are words
  "$program" -max_total_time="$seconds" -print_final_stats=1 $args \
      -artifact_prefix="$dir/crashes/" "$dir/corpus" "$corpus" > "$dir/log" 2>&1
  status=$?
  grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec' "$dir/log" | sed 's/^/   /'
  if [ "$status" -ne 0 ]; then
    echo "   FAILED (exit $status): see $dir/log and $dir/crashes/"
    failed=1
  fi
done
exit "$failed"
