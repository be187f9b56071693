#!/usr/bin/env bash
# The main job. In a scratch directory inside the build tree (build/run/):
#  - a system root of a machine with a Kestrion board installed: the PCI
#    listing of a simulated board, the X driver module and the kernel module
#    in their directories (the probes read it through ORV_SYSROOT);
#  - orvwizard writes a two-display configuration over the seed file the
#    project ships, prints the probe report of that machine and of one
#    without the board, and the real X server's parser reads the result;
#  - the X driver module runs on that configuration in the X server
#    stand-in, on a simulated machine with the board and two monitors and
#    the kernel module loaded (the driver draws through its DMA streams),
#    draws a fixed scene on every screen, a 3D client process draws its
#    scene in a window on the first screen, and each monitor's picture is
#    written as monitor-N.png and compared with the scene drawn in software;
#    then one console switch (the X server leaves and re-enters its virtual
#    terminal, the board's local memory overwritten meanwhile), after which
#    the screens and the client draw again and the pictures are written as
#    monitor-N-after-vt.png and compared with the same references.
# Nothing outside the scratch directory is written.
#
# Each step is a function named step_<name>, run in the order of `steps`
# below; a new step is a new function and a new entry.
#
# The end-to-end tests (tests/e2e) run the first steps on their own, to get
# the configuration the wizard writes for this machine:
#   ORV_MAIN_JOB_RUN=DIR ORV_MAIN_JOB_STEPS="prepare system_roots write_configuration" \
#     run-main-job.sh BUILD
# ORV_MAIN_JOB_RUN is the scratch directory (build/run unless given),
# ORV_MAIN_JOB_STEPS the steps run, in the order given.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
run="${ORV_MAIN_JOB_RUN:-$build/run}"

wizard="$build/tools/wizard/orvwizard"
pci_listing="$build/platform/board/orvsim_pci_listing"
# The drawing program (built with the tests) and the monitors' EDIDs.
main_draw="$build/tests/maindraw/orv_main_draw"
monitor_edids=("0=$src/tests/data/edid/00017.bin" "1=$src/tests/data/edid/00027.bin")
# The kernel module as it ships: the kernel core with its entry table, the
# glue's services left undefined (installed in the system root). The drawing
# program loads this file and supplies the glue to it.
kernel_module="$build/kernel/liborv.so"
# The X driver module, installed where the probes look for its version.
x_driver_module="$build/xdriver/orv_drv.so"
# The board on the simulated bus: chip 0x5D62, subsystem 0x0202 (in the
# board database: Kestrion KB-500 Quad, four outputs).
board_ids="5D62:0202"

board_root="$run/root-board"
empty_root="$run/root-empty"
conf="$run/xorg.conf"

section() {
  echo
  echo "== $*"
}

require() {
  local file
  for file in "$@"; do
    [ -e "$file" ] || { echo "not built: $file" >&2; exit 1; }
  done
}

# The wizard on one of the system roots: ORVWIZARD_ROOT=... orv_wizard ARGS
orv_wizard() {
  ORV_SYSROOT="$ORVWIZARD_ROOT" "$wizard" --cardfile "$run" "$@"
}

step_prepare() {
  require "$wizard" "$pci_listing"
  rm -rf "$run"
  mkdir -p "$run/configdir"
  cp "$src/data/orvcards" "$run/orvcards"
  cp "$src/data/xorg.conf.seed" "$conf"
  # The configuration search finds the scratch file first.
  export XORGCONFIG="$conf" HOME="$run"
  unset DISPLAY
}

step_system_roots() {
  section "System roots: $board_root (a simulated board $board_ids), $empty_root (no board)"
  "$pci_listing" "$board_root" "$board_ids"
  "$pci_listing" "$empty_root"
  local release drivers
  release=$(uname -r)
  drivers="$board_root/usr/lib/xorg/modules/drivers"
  mkdir -p "$drivers" "$board_root/lib/modules/$release/kernel/drivers/video"
  if [ -e "$x_driver_module" ]; then
    cp "$x_driver_module" "$drivers/orv_drv.so"
  else
    echo "no X driver module to install: $x_driver_module"
  fi
  if [ -e "$kernel_module" ]; then
    cp "$kernel_module" "$board_root/lib/modules/$release/kernel/drivers/video/orv.ko"
  else
    echo "no kernel module to install: $kernel_module"
  fi
  echo "PCI listing of the machine with the board (bus/devfn, vendor/device):"
  awk '{print "  " $1 "  " $2}' "$board_root/proc/bus/pci/devices"
}

step_write_configuration() {
  section "orvwizard: two displays, independent, side by side"
  ORVWIZARD_ROOT="$board_root" orv_wizard --outputfile "$conf" \
    --overwrite --output 2 --independent --horizontal --resolution 1280x1024 --vrefresh 60
}

step_probe_with_board() {
  section "orvwizard --probe all, on the machine with the board"
  ORVWIZARD_ROOT="$board_root" orv_wizard --probe all
}

step_probe_without_board() {
  section "orvwizard --probe all, on a machine without the board"
  ORVWIZARD_ROOT="$empty_root" orv_wizard --probe all
}

step_show_configuration() {
  section "$conf"
  cat "$conf"
}

step_x_server_reads_it() {
  section "X server's parser"
  local xorg="" candidate display
  for candidate in /usr/lib/xorg/Xorg /usr/bin/Xorg; do
    [ -x "$candidate" ] && { xorg=$candidate; break; }
  done
  if [ -z "$xorg" ]; then
    echo "Xorg is not installed: the file was not checked by the X server."
    return 0
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "Not running as root: the X server refuses a configuration path; check skipped."
    return 0
  fi
  for display in 317 417 517 617; do
    "$xorg" ":$display" -config "$conf" -configdir "$run/configdir" \
      -logfile "$run/Xorg.log" -noreset -nolisten tcp -screen no_such_screen \
      >"$run/Xorg.out" 2>&1 </dev/null || true
    grep -q "Server is already active" "$run/Xorg.out" || break
  done
  if grep -q "Problem parsing the config file" "$run/Xorg.log" "$run/Xorg.out" ||
     ! grep -q "Using config file" "$run/Xorg.out"; then
    echo "The X server refused the written file:" >&2
    cat "$run/Xorg.out" >&2
    return 1
  fi
  echo "The X server read $conf without a parse error."
}

step_driver_draws() {
  section "The X driver draws: $conf on the simulated board $board_ids"
  if [ ! -x "$main_draw" ]; then
    echo "Skipped: the drawing program is built with the tests (not in this build): $main_draw"
    return 0
  fi
  require "$x_driver_module" "$kernel_module"
  local edid args=() status=0
  for edid in "${monitor_edids[@]}"; do args+=(--edid "$edid"); done
  # The X server stand-in's system root is a temporary directory under
  # TMPDIR, removed when the program ends: kept inside the scratch directory.
  # The board's description names two analog connectors, one for each
  # screen of the file: the four-display series' further outputs run through
  # an expansion module that the simulated board does not have.
  mkdir -p "$run/tmp"
  TMPDIR="$run/tmp" "$main_draw" --config "$conf" --module "$x_driver_module" \
    --kernel-module "$kernel_module" --out "$run" \
    --board "$board_ids" --memory 128 --outputs 2 --client3d --vt-switch "${args[@]}" \
    >"$run/main-draw.log" 2>&1 || status=$?
  echo "Driver and kernel messages (all of them in $run/main-draw.log):"
  grep -E '^\((EE|WW)\)|^Kernel module|^Kernel:|^orv_main_draw: |Device Name|Total Video RAM|Mode "|Virtual size|Busmastering|Falling back|Acceleration is|device (started|stopped)|^Requests to|^Console switch|^LeaveVT|^EnterVT|^Local memory' \
    "$run/main-draw.log" | sed 's/^/  /' || true
  echo "The 3D client's results:"
  grep -E '^3D client' "$run/main-draw.log" | sed 's/^/  /' || true
  sed -n '/^Pictures:/,$p' "$run/main-draw.log"
  if [ "$status" -ne 0 ]; then
    echo "The drawing program failed (exit status $status):" >&2
    tail -n 20 "$run/main-draw.log" >&2
    return 1
  fi
}

steps=(
  prepare
  system_roots
  write_configuration
  probe_with_board
  probe_without_board
  show_configuration
  x_server_reads_it
  driver_draws
)

if [ -n "${ORV_MAIN_JOB_STEPS:-}" ]; then
  read -r -a steps <<<"$ORV_MAIN_JOB_STEPS"
fi
for s in "${steps[@]}"; do
  "step_$s"
done
