#!/bin/sh
# Fails when driver or tool code names a register outside core/regs/ or a
# device id outside core/chip_ids.h: each is defined once, in its header,
# and every other file includes it. Tests and the simulated board (which
# keeps its own names, as the oracle) are not looked at.
#
# A register constant is a constexpr or #define whose name holds "Reg"
# followed by a capital or a digit (kRegDacCtl1, kSiRegControl,
# k3dRegWordB0). A device id is any value that core/chip_ids.h gives a
# kDevice name to, defined again under another name.
set -u
root=${1:-.}
cd "$root" || exit 2
layers="core hwsharing xdriver kernel tools"
# A marker value of the shared locked block, not a register.
allowed='kLastRegNone'
status=0

sources() {
  find $layers -type d -name tests -prune -o -type f \( -name '*.h' -o -name '*.cpp' \) -print 2>/dev/null
}

regs=$(sources | grep -v '^core/regs/' | xargs grep -nE \
  '(constexpr[^=;(]*|#define[[:space:]]+)\b[A-Za-z0-9_]*Reg[A-Z0-9][A-Za-z0-9_]*[[:space:]]*(=|\{|[[:space:]]+[0-9(])' \
  /dev/null | grep -vwE "$allowed")
if [ -n "$regs" ]; then
  echo "register constants defined outside core/regs/:" >&2
  echo "$regs" >&2
  status=1
fi

ids=$(grep -oE 'kDevice[A-Za-z0-9_]+ = 0x[0-9A-Fa-f]+' core/chip_ids.h | sed 's/.*= 0x//' | sort -u | paste -sd '|' -)
if [ -z "$ids" ]; then
  echo "no device ids found in core/chip_ids.h" >&2
  exit 2
fi
devs=$(sources | grep -v '^core/chip_ids\.h$' | xargs grep -niE \
  "(constexpr[^=;(]*=|#define[[:space:]]+[A-Za-z0-9_]+)[[:space:]]*0x0*($ids)u?\b" /dev/null)
if [ -n "$devs" ]; then
  echo "device ids defined outside core/chip_ids.h:" >&2
  echo "$devs" >&2
  status=1
fi

[ "$status" -eq 0 ] && echo "registers named only in core/regs/, device ids only in core/chip_ids.h"
exit "$status"
