#!/bin/sh
# Lists the symbols of every shipped library, module and program given on
# the command line and fails when one of them holds a recording stand-in
# (anything of the orvstandin namespace, defined or referenced): stand-ins
# are test code and must never reach what ships.
set -u
status=0
for file in "$@"; do
  if [ ! -e "$file" ]; then
    echo "missing: $file" >&2
    status=1
    continue
  fi
  found=$(nm -C -A "$file" 2>/dev/null | grep 'orvstandin::')
  if [ -n "$found" ]; then
    echo "stand-in symbols in shipped file $file:" >&2
    echo "$found" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "checked $# shipped files: no stand-in symbols"
exit "$status"
