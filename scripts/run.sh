#!/usr/bin/env bash
# Installs what is missing, builds Kerfmill optimised and starts it. Any
# arguments are passed to the program (a project file to open).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/deps.sh"
cmake -S "$top" -B "$top/build/release" -DCMAKE_BUILD_TYPE=Release -DKERFMILL_TESTS=OFF
cmake --build "$top/build/release" -j"$(nproc)"
cd "$top/build/release"
# A machine without a desktop still runs the program, on a virtual display.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a ./kerfmill "$@"
fi
exec ./kerfmill "$@"
