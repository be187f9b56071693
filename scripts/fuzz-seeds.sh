#!/bin/bash
# Writes the seeds of a fuzz target whose input puts bytes of its own in
# front of a real input: each file given, behind the prefix, into the
# output folder under its own name (the folder is made afresh).
#
#   fuzz-seeds.sh <output folder> <prefix as hex digits, may be empty> <file>...
set -eu
out=$1
prefix=$2
shift 2
rm -rf "$out"
mkdir -p "$out"
bytes=""
while [ -n "$prefix" ]; do
  bytes="$bytes\\x${prefix:0:2}"
  prefix=${prefix:2}
done
for file in "$@"; do
  { printf "$bytes"; cat "$file"; } > "$out/$(basename "$file")"
done
