#!/usr/bin/env bash
# Builds every fuzz target with clang and libFuzzer and runs each for FUZZ_SECONDS (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-fuzz
seconds=${FUZZ_SECONDS:-60}
CC=clang CXX=clang++ cmake -S . -B $build -G Ninja -DVELMORA_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=$(cmake --build $build --target help | sed -n 's/^\(fuzz_[a-z0-9_]*\):.*/\1/p' | sort -u)
cmake --build $build --target $targets
for t in $targets; do
  corpus=$build/fuzz-corpus/$t
  mkdir -p "$corpus"
  seeds=$(cat "$build/fuzz-seeds/$t.path" 2>/dev/null || true)
  [[ -n "$seeds" && -e "$seeds" ]] || seeds=""
  echo "== $t for ${seconds}s"
  $build/bin/$t -max_total_time="$seconds" -rss_limit_mb=2048 "$corpus" ${seeds:+"$seeds"}
done
