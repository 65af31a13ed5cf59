#!/usr/bin/env bash
# Sorting 10,000 result rows by a header click, against a bare sort of the same texts.
# Usage: bench/sort/run.sh BUILD_FOLDER [ROWS]
set -euo pipefail
build=$(realpath "${1:-build}")
QT_QPA_PLATFORM=offscreen "$build/bin/bench_sort" "${2:-10000}"
