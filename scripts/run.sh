#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs chronavel on the
# example configuration. Arguments replace the configuration file.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
TARGETS=chronavel "$root/scripts/build.sh"
build_dir="${BUILD_DIR:-$root/build}"
cd "$root"
config="${1:-config/Chronavel.xml}"
exec "$build_dir/src/Chronavel/chronavel" "$config"
