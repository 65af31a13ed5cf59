#!/usr/bin/env bash
# Starts the dialog when there is a display; otherwise says what to run instead.
set -euo pipefail
build=${1:-build}
bin="$build/bin"
if [[ -x "$bin/velmora" ]]; then
  if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "No display here: for a scan on the command line run $bin/velmora-scan --help" >&2
    exit 0
  fi
  exec "$bin/velmora"
fi
echo "The dialog is not built yet. Built so far:" >&2
ls "$bin" 2>/dev/null >&2 || true
