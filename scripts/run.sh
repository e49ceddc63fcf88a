#!/usr/bin/env bash
# Installs what is missing, builds Kerfmill optimised and starts it. Any
# arguments are passed to the program (a project file to open).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/deps.sh"
cmake -S "$top" -B "$top/build/release" -DCMAKE_BUILD_TYPE=Release -DKERFMILL_TESTS=OFF
cmake --build "$top/build/release" -j"$(nproc)"
cd "$top/build/release"
exec ./kerfmill "$@"
