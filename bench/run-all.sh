#!/usr/bin/env bash
# Runs every benchmark: each bench/<name>/run.sh gets the build folder as its argument.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
for script in bench/*/run.sh; do
  echo "== $script"
  bash "$script" "$build"
done
