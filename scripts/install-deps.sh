#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the main job
# need, but only those that are missing, so a prepared machine pays nothing.
# One line per step; the package manager's own output goes to a log that is
# shown only when a step fails.
set -euo pipefail

packages=(
  g++ clang libclang-rt-14-dev llvm lld cmake ninja-build make ccache pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libgtk2.0-dev libx11-dev libxext-dev
  xvfb xauth xserver-xorg-core xcvt edid-decode fonts-dejavu-core
  libpng-dev libpixman-1-dev libxcvt-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
log="${TMPDIR:-/tmp}/orvane-install-deps.log"
: >"$log"

# Runs one step with its output in the log; on failure shows the log.
step() {
  local what=$1
  shift
  echo "$what"
  if ! "$@" >>"$log" 2>&1; then
    echo "failed: $what" >&2
    cat "$log" >&2
    exit 1
  fi
}

step "Installing missing packages: ${missing[*]}" \
  bash -c "$SUDO apt-get update -q && $SUDO apt-get install -y -q --no-install-recommends ${missing[*]}"
echo "Installed (package manager log: $log)."
