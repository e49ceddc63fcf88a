#!/usr/bin/env bash
# Installs what is missing, builds Kerfmill with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs every test. Tests that need a display
# run under Xvfb with Mesa's software renderer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/deps.sh" --tests
build="$top/build/test"
# Ninja keeps the units that take gigabytes to compile one at a time (see
# CMakeLists.txt). Benchmarks are not built here: they time Release builds
# by hand.
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKERFMILL_SANITIZE=ON -DKERFMILL_BENCH=OFF
cmake --build "$build" -j"$(nproc)"
cd "$build"
export LIBGL_ALWAYS_SOFTWARE=1
# Two tests beyond the processor count: several spend most of their time
# waiting on frames or on child programs.
exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j"$(( $(nproc) + 2 ))" --timeout 600
