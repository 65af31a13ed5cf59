#!/usr/bin/env bash
# The walk with the executable test against a plain walk of the same generated tree.
# Usage: bench/pe_walk/run.sh BUILD_FOLDER [FILES]
set -euo pipefail
build=$(realpath "${1:-build}")
"$build/bin/bench_pe_walk" "${2:-50000}"
