#!/bin/bash
# Writes seeds of a fuzz target into a folder of the build tree: every
# input of the folders given (all their files but README.md, which only
# describes them) and every file given, each behind the prefix. A target
# whose input puts bytes of its own in front of a real input (a control
# byte before an EDID) is seeded from the real inputs this way; a target
# without such bytes gets its corpus without its README.
#
#   fuzz-seeds.sh <output folder> prefix=<hex digits, may be none> <folder or file>...
set -eu
out=$1
prefix=${2#prefix=}
shift 2
mkdir -p "$out"
bytes=""
while [ -n "$prefix" ]; do
  bytes="$bytes\\x${prefix:0:2}"
  prefix=${prefix:2}
done
# A corpus holds hundreds of inputs: a seed costs no more programs started
# than the copy itself needs.
seed() {
  if [ -z "$bytes" ]; then
    cp "$1" "$out/${1##*/}"
  else
    { printf "$bytes"; cat "$1"; } > "$out/${1##*/}"
  fi
}
for item in "$@"; do
  if [ -d "$item" ]; then
    for file in "$item"/*; do
      [ -f "$file" ] && [ "${file##*/}" != README.md ] && seed "$file"
    done
  else
    seed "$item"
  fi
done
