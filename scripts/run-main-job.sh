#!/usr/bin/env bash
# The main job. The command-line wizard is not built yet, so there is
# nothing to run beyond the build itself.
set -euo pipefail
echo "Build complete. There is nothing to run yet: the command-line wizard is not built."
