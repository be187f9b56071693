#!/bin/sh
# Runs scripts/check-register-names.sh over small planted trees, one case a
# tree: each case says whether the check must fail and on which planted
# line. The trees hold core/chip_ids.h from the source root (the check
# reads its device ids) and the case's files.
#
#   check_register_names_test.sh SOURCE_ROOT
set -u
root=$1
check=$root/scripts/check-register-names.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# plant CASE EXPECT FILE LINE [FILE LINE]: EXPECT is "fails" or "passes".
plant() {
  name=$1 expect=$2
  shift 2
  tree=$work/$name
  mkdir -p "$tree/core"
  cp "$root/core/chip_ids.h" "$tree/core/"
  first=
  while [ $# -ge 2 ]; do
    mkdir -p "$tree/$(dirname "$1")"
    printf '%s\n' "$2" >> "$tree/$1"
    [ -n "$first" ] || first=$2
    shift 2
  done
  out=$(sh "$check" "$tree" 2>&1)
  rc=$?
  case $expect in
    fails)
      if [ $rc -eq 0 ] || ! printf '%s\n' "$out" | grep -qF "$first"; then
        echo "FAIL $name: expected the check to fail on: $first" >&2
        printf '%s\n' "$out" >&2
        failures=$((failures + 1))
      fi ;;
    passes)
      if [ $rc -ne 0 ]; then
        echo "FAIL $name: expected the check to pass" >&2
        printf '%s\n' "$out" >&2
        failures=$((failures + 1))
      fi ;;
  esac
}

plant header_literal_with_pads fails \
  kernel/emit.cpp '  at[1] = 0x212124C0;'
plant header_constant_of_32_bits fails \
  kernel/emit.h 'inline constexpr uint32_t kPlantHeader = 0x0000C0AF;'
plant header_define fails \
  xdriver/emit.h '#define PlantHeader 0xC0AFAFC0'
plant packet_index_made_outside_regs fails \
  core/emit.h 'inline constexpr PacketIndex kIdxPlant{0x30};'
plant value_defined_twice fails \
  kernel/a.h 'inline constexpr uint32_t kPlantFirst = 0x17000001;' \
  kernel/b.h 'inline constexpr uint32_t kPlantSecond = 0x17000001;'
plant register_constant_outside_regs fails \
  hwsharing/chip.h 'inline constexpr uint32_t kRegPlant = 0x1234;'
plant dirty_bit_named_for_a_header_word passes \
  kernel/block.h 'inline constexpr uint8_t kPlantR2Header = 0x02;'
plant field_mask_defined_twice passes \
  kernel/a.h 'inline constexpr uint32_t kPlantMaskA = 0x00FF0000;' \
  kernel/b.h 'inline constexpr uint32_t kPlantMaskB = 0x00FF0000;'
plant header_literal_in_a_comment passes \
  kernel/emit.cpp '  // the progress packet, 0x21212425'
plant header_in_core_regs passes \
  core/regs/dma.h 'inline constexpr uint32_t kPlantHeader = 0x21212425;'

[ "$failures" -eq 0 ] && echo "check-register-names: every planted case answered as expected"
exit "$failures"
