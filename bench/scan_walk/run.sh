#!/usr/bin/env bash
# The dialog's scan (real walk, status line updated for every entry) against a plain walk of the
# same generated trees. Usage: bench/scan_walk/run.sh BUILD_FOLDER [FILES] [ROUNDS]
set -euo pipefail
build=$(realpath "${1:-build}")
QT_QPA_PLATFORM=offscreen "$build/bin/bench_scan_walk" "${2:-100000}" "${3:-3}" "$build/fixtures"
