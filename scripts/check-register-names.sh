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
#
# In the layers that write command packets (core, xdriver, kernel) it also
# fails on a packet header written as a number: headers are built by
# PacketHeader from the index names of core/regs/. A header literal is an
# eight-digit hex number whose high byte is the pad index 0x21 (pads fill a
# header's high bytes), or any hex number given to a constant of 32 bits
# or more whose name holds "Header"; a packet index made outside
# core/regs/ counts too.
# Static assertions that pin a named header to its value, comments and
# the generated microcode tables are not looked at.
#
# And it fails on a value defined twice in those layers: two constants
# given the same hex number of six to eight digits. Single bits, all ones
# and field masks (a run of fewer than 31 set bits) are properties of a
# field, not values, and are left out; so are the coincidences listed in
# "coincide" below.
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

# ---- Packet headers and values -----------------------------------------------------------
packet_layers="core xdriver kernel"
packet_sources() {
  find $packet_layers -type d -name tests -prune -o -type f \( -name '*.h' -o -name '*.cpp' \) -print 2>/dev/null |
    grep -v '/microcode_data\.cpp$'
}

# Each source line as "file:line:text", comments and static assertions
# (to their closing ";") blanked.
code_lines() {
  packet_sources | xargs awk '
    FNR == 1 { assertion = 0 }
    {
      text = $0
      sub(/\/\/.*/, "", text)
      if (text ~ /static_assert[[:space:]]*\(/) assertion = 1
      if (assertion) {
        if (text ~ /;[[:space:]]*$/) assertion = 0
        next
      }
      print FILENAME ":" FNR ":" text
    }' /dev/null
}

# A header fills a 32-bit word (four index bytes, pads included), so a
# "...Header" constant of an 8- or 16-bit type (a dirty bit of a block's
# header word, say) cannot be one and is left out.
pad_literal='\b0[xX]21[0-9A-Fa-f]{6}[uU]?\b'
header_const='(constexpr[^=;(]*|#define[[:space:]]+)[A-Za-z0-9_]*Header[A-Za-z0-9_]*(\[[^]]*\])?[[:space:]]*=?[[:space:]]*\{?[[:space:]]*0[xX][0-9A-Fa-f]+'
narrow_const='constexpr[[:space:]]+((unsigned[[:space:]]+)?(char|short)|u?int(8|16)_t|bool)[[:space:]]+[A-Za-z0-9_]*Header'
index_made='PacketIndex[[:space:]]*([A-Za-z_][A-Za-z0-9_]*[[:space:]]*)?(\{|\([[:space:]]*[0-9])'
candidates=$(code_lines | grep -v '^core/regs/')
headers=$({
  printf '%s\n' "$candidates" | grep -E "$pad_literal|$index_made"
  printf '%s\n' "$candidates" | grep -E "$header_const" | grep -vE "$narrow_const"
} | sort -u -t: -k1,1 -k2,2n)
if [ -n "$headers" ]; then
  echo "packet headers written as numbers (build them with PacketHeader from core/regs/ names):" >&2
  echo "$headers" >&2
  status=1
fi

# Values that two constants may share: each line a value and the two names.
coincide='
07038000 kClampControl kFilterControl
'
twice=$(code_lines | grep -E \
  '(constexpr[^=;(]*=|#define[[:space:]]+[A-Za-z0-9_]+)[[:space:]]*0[xX][0-9A-Fa-f]{6,8}[uU]?[[:space:]]*([;,]|$)' |
  awk -v coincide="$coincide" '
    function hexval(s,   i, c, v) {
      v = 0
      for (i = 1; i <= length(s); ++i) v = v * 16 + index("0123456789ABCDEF", substr(s, i, 1)) - 1
      return v
    }
    # A run of set bits shorter than 31, or a single bit: a field mask.
    function mask(v,   low, ones) {
      if (v == 0) return 1
      while (v % 2 == 0) v = v / 2
      ones = 0
      while (v % 2 == 1) { v = (v - 1) / 2; ++ones }
      return v == 0 && ones < 31
    }
    BEGIN {
      n = split(coincide, rows, "\n")
      for (i = 1; i <= n; ++i) if (split(rows[i], f, " ") == 3) allowed[f[1] " " f[2]] = allowed[f[1] " " f[3]] = 1
    }
    {
      match($0, /0[xX][0-9A-Fa-f]+/)
      hex = toupper(substr($0, RSTART + 2, RLENGTH - 2))
      while (length(hex) < 8) hex = "0" hex
      if (hex == "FFFFFFFF" || mask(hexval(hex))) next
      name = $0
      sub(/[[:space:]]*=.*/, "", name)
      sub(/.*[[:space:]]/, "", name)
      sub(/^#define[[:space:]]+/, "", name)
      if ((hex " " name) in allowed) next
      count[hex]++
      where[hex] = where[hex] "\n  " $0
    }
    END { for (h in count) if (count[h] > 1) printf "0x%s:%s\n", h, where[h] }')
if [ -n "$twice" ]; then
  echo "values defined twice (define each once, in core/regs/ or beside its one user, and include it):" >&2
  echo "$twice" >&2
  status=1
fi

[ "$status" -eq 0 ] && echo "registers named only in core/regs/, device ids only in core/chip_ids.h," \
  "packet headers built from names, every value defined once"
exit "$status"
