#!/bin/sh
# Runs the drawing program in a fresh output directory and checks its
# answer: the exit status wanted and every line wanted in its output.
#   check.sh STATUS OUTDIR LINE... -- PROGRAM ARGUMENTS...
# The program gets "--out OUTDIR" after its arguments.
set -u
status=$1
out=$2
shift 2
lines_file=$(mktemp)
trap 'rm -f "$lines_file"' EXIT
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  printf '%s\n' "$1" >>"$lines_file"
  shift
done
[ $# -gt 0 ] && shift
rm -rf "$out"
mkdir -p "$out"
output=$("$@" --out "$out" 2>&1)
got=$?
printf '%s\n' "$output"
if [ "$got" -ne "$status" ]; then
  echo "check: exit status $got, wanted $status" >&2
  exit 1
fi
while IFS= read -r line; do
  if ! printf '%s\n' "$output" | grep -qxF -- "$line"; then
    echo "check: no line \"$line\" in the output" >&2
    exit 1
  fi
done <"$lines_file"
