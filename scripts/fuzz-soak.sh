#!/bin/bash
# Runs every fuzz target of a fuzz build tree for a given time from its
# corpus, up to <jobs> targets at once (one process each). What a run finds
# stays under the output folder: soak/<target>/corpus (new inputs) and
# soak/<target>/crashes (the input of a failure, with libFuzzer's report in
# soak/<target>/log). A crash input becomes a regression test by moving it
# into the target's corpus under tests/data/ (see its README).
#
# At the end one table gives, per target, the executions, executions per
# second, the coverage and features reached, the corpus size, the peak
# memory, the slowest input (against the target's -timeout) and the
# findings (crash, leak, timeout or out-of-memory inputs).
# The run fails when any target found something or did not end cleanly.
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

# The value of a final statistic of libFuzzer's log, or "-".
stat() {
  local value
  value=$(grep -o "stat::$1: *[0-9]*" "$2" | tail -1 | grep -o '[0-9]*$')
  echo "${value:--}"
}

# A field of the last status line ("cov: 123 ft: 456 corp: 7/8Kb ..."), or "-".
status_field() {
  local value
  value=$(grep -E '^#[0-9]+' "$2" | grep -o "$1: [^ ]*" | tail -1 | cut -d' ' -f2)
  echo "${value:--}"
}

# One target: its run, then its row of the table in one piece so that
# parallel runs do not interleave. The exit status is the target's.
soak_one() {
  local spec=$1 name program corpus args dir status findings
  name=$(basename "$spec" .txt)
  { read -r program; read -r corpus; read -r args; } < "$spec"
  dir="$out/$name"
  rm -rf "$dir/crashes"
  mkdir -p "$dir/corpus" "$dir/crashes"
  # shellcheck disable=SC2086  # the corpus folders and the arguments are words
  "$program" -max_total_time="$seconds" -print_final_stats=1 $args \
      -artifact_prefix="$dir/crashes/" "$dir/corpus" $corpus > "$dir/log" 2>&1
  status=$?
  findings=$(find "$dir/crashes" -type f | wc -l)
  if [ "$status" -ne 0 ] && [ "$findings" -eq 0 ]; then findings="exit $status"; fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" \
      "$(stat number_of_executed_units "$dir/log")" "$(stat average_exec_per_sec "$dir/log")" \
      "$(status_field cov "$dir/log")" "$(status_field ft "$dir/log")" \
      "$(status_field corp "$dir/log")" "$(stat peak_rss_mb "$dir/log")" \
      "$(stat slowest_unit_time_sec "$dir/log")" "$findings" > "$dir/row"
  echo "== $name: ${seconds} s, exit $status"
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

echo
printf '%-30s %11s %7s %6s %7s %14s %7s %7s  %s\n' target executions exec/s cov ft corpus "peak MB" "slowest" findings
for spec in "${specs[@]}"; do
  name=$(basename "$spec" .txt)
  row="$out/$name/row"
  if [ ! -f "$row" ]; then
    printf '%-30s %s\n' "$name" "no result"
    failed=1
    continue
  fi
  IFS=$'\t' read -r name runs rate cov ft corp rss slowest findings < "$row"
  printf '%-30s %11s %7s %6s %7s %14s %7s %6ss  %s\n' "$name" "$runs" "$rate" "$cov" "$ft" "$corp" "$rss" "$slowest" \
      "$findings"
  if [ "$findings" != 0 ]; then
    echo "   see $out/$name/log and $out/$name/crashes/"
    failed=1
  fi
done
echo "${#specs[@]} targets, ${jobs} at a time: $(( $(date +%s) - start )) s"
exit "$failed"
