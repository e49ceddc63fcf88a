#!/usr/bin/env bash
# Every Debian package that building, running and testing Kerfmill needs, in
# one place. Installs only what is missing, so a ready machine pays nothing.
set -euo pipefail

packages=(
  # toolchain
  cmake g++ make ninja-build pkg-config lld
  # program libraries
  libsdl2-dev libsdl2-image-dev libfreetype-dev libcurl4-openssl-dev
  libgl-dev libgl1-mesa-dri zlib1g-dev libpng-dev libsvgpp-dev libboost-dev
  libcairo2-dev libfontconfig-dev libxml2-dev
  # fonts for the generated data fonts (tools/fontgen.cpp), which also serve
  # as system fonts for text-layers
  fonts-dejavu-core fonts-liberation2 fonts-hack fonts-ocr-a fonts-comfortaa
  fonts-arphic-ukai fonts-comic-neue fonts-tlwg-laksaman-ttf fonts-jura
  fonts-font-awesome fontconfig
  # platform helpers used at run time: file and colour dialogs, shell opening
  zenity xdg-utils
  # the X server's core fonts: SDL draws its message boxes with them, and an
  # X server without them (Xvfb, minimal desktops) shows none, not even the
  # terms of use at the first start
  xfonts-base
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth libjpeg62-turbo-dev imagemagick xdotool
  # the FSE coder is checked against the static libzstd's FSE functions
  libzstd-dev
  # the distance-field tests check against scipy's exact distance transform
  python3-scipy
  # the contour tests check against shapely's geometry and scikit-image's
  # iso-lines
  python3-shapely python3-skimage
  # the maze tests check the rooms and open walls as one tree with networkx
  python3-networkx
  # the import tests write their DXF, STL and OBJ fixtures with independent
  # programs: ezdxf, openscad, admesh and numpy-stl
  python3-ezdxf openscad admesh python3-stl
  # the layer loaders' placement is checked against SVG files written by
  # svgwrite and measured by svgelements
  python3-svgwrite python3-svgelements
  # LinuxCNC's rs274 interpreter (below) runs on these
  libboost-python1.74.0
)

# Fuzzing by hand (KERFMILL_FUZZ=ON) also needs clang with its libFuzzer
# runtime: `scripts/deps.sh --fuzz`.
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-14-dev)
fi
# The triangulator tests check empty circles and triangle counts with
# CGAL's exact predicates; only the tests include it.
if [ "${1:-}" = "--tests" ]; then
  packages+=(libcgal-dev)
fi
# Benchmarks run by hand time an independent implementation beside ours:
# `scripts/deps.sh --bench`.
if [ "${1:-}" = "--bench" ]; then
  packages+=(libimgui-dev hyperfine libpolyclipping-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The G-code tests run every exported program through LinuxCNC's stand-alone
# interpreter, rs274. Installing the package would pull in a whole realtime
# stack, so only its files are unpacked into a fixed folder; the tests point
# LD_LIBRARY_PATH at its libraries. Only the tests need it (`--tests`, as
# scripts/test.sh asks), and only once: a present rs274 costs nothing.
top=$(cd "$(dirname "$0")/.." && pwd)
rs274dir="$top/build/rs274"
if [ "${1:-}" = "--tests" ] && [ ! -x "$rs274dir/usr/bin/rs274" ]; then
  echo "unpacking rs274 into $rs274dir"
  cache="$top/build/debcache"
  mkdir -p "$cache" "$rs274dir"
  # A machine whose packages were all there may never have read the package
  # lists; read them once when the download cannot find the package.
  if ! (cd "$cache" && apt-get download linuxcnc-uspace); then
    apt-get update
    (cd "$cache" && apt-get download linuxcnc-uspace)
  fi
  dpkg-deb -x "$(ls "$cache"/linuxcnc-uspace_*.deb | head -n 1)" "$rs274dir"
fi
