#!/usr/bin/env bash
# The main job: in a scratch directory inside the build tree, orvwizard
# writes a two-display configuration over the seed file the project ships,
# prints the probe report, and the real X server's parser reads the result.
# Nothing outside the scratch directory is written.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
wizard="$build/tools/wizard/orvwizard"
run="$build/run"

[ -x "$wizard" ] || { echo "orvwizard is not built: $wizard" >&2; exit 1; }
rm -rf "$run"
mkdir -p "$run/configdir"
cp "$src/data/orvcards" "$run/orvcards"
cp "$src/data/xorg.conf.seed" "$run/xorg.conf"

# The configuration search finds the scratch file first; the probes read
# the running system (/proc, /lib/modules) without changing it.
export XORGCONFIG="$run/xorg.conf" HOME="$run"
unset DISPLAY
if [ ! -r /proc/bus/pci/devices ]; then
  # No PCI listing here (a container): probe an empty bus instead.
  mkdir -p "$run/root/proc/bus/pci"
  : >"$run/root/proc/bus/pci/devices"
  export ORV_SYSROOT="$run/root"
fi

echo "== orvwizard: two displays, independent, side by side"
"$wizard" --cardfile "$run" --outputfile "$run/xorg.conf" \
  --overwrite --output 2 --independent --horizontal --resolution 1280x1024 --vrefresh 60

echo
echo "== orvwizard --probe all"
"$wizard" --cardfile "$run" --probe all

echo "== $run/xorg.conf"
cat "$run/xorg.conf"

echo "== X server's parser"
xorg=""
for candidate in /usr/lib/xorg/Xorg /usr/bin/Xorg; do
  [ -x "$candidate" ] && { xorg=$candidate; break; }
done
if [ -z "$xorg" ]; then
  echo "Xorg is not installed: the file was not checked by the X server."
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "Not running as root: the X server refuses a configuration path; check skipped."
  exit 0
fi
for display in 317 417 517 617; do
  "$xorg" ":$display" -config "$run/xorg.conf" -configdir "$run/configdir" \
    -logfile "$run/Xorg.log" -noreset -nolisten tcp -screen no_such_screen \
    >"$run/Xorg.out" 2>&1 </dev/null || true
  grep -q "Server is already active" "$run/Xorg.out" || break
done
if grep -q "Problem parsing the config file" "$run/Xorg.log" "$run/Xorg.out" ||
   ! grep -q "Using config file" "$run/Xorg.out"; then
  echo "The X server refused the written file:" >&2
  cat "$run/Xorg.out" >&2
  exit 1
fi
echo "The X server read $run/xorg.conf without a parse error."
