#!/usr/bin/env bash
# What each Linux call the walk makes costs on this machine, and the least the scan's walk can
# cost against the plain walk because of them. Usage: bench/kernel_costs/run.sh BUILD_FOLDER
set -euo pipefail
build=$(realpath "${1:-build}")
"$build/bin/bench_kernel_costs"
