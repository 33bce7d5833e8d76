#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, test and benchmark the project.
# Idempotent: does nothing (and touches no package index) when all are present.
# --bench adds what only the side-by-side benchmark needs (bench/compare-convert.sh).
set -euo pipefail

BENCH_PACKAGES=(
  imagemagick  # /usr/bin/convert, the peer the command is compared with
)

PACKAGES=(
  cmake
  ninja-build
  g++
  make
  pkg-config
  git
  python3  # scripts/check-layers.py, the demo's settings printout
  libgtest-dev
  libgmock-dev
  googletest
  libbenchmark-dev
  libopenimageio-dev
  libtiff-dev  # the TIFF decoder's own error reports, checked on every TIFF read
  nlohmann-json3-dev
  libcli11-dev
  # the GIMP 2.10 plug-in (libgimp only) and GIMP itself for its batch test
  libgimp2.0-dev
  gimp
  # the Linux dialog (GTK 3; cairo for the host's display call) and its test
  # on a virtual X display, driven through the XTest extension
  libgtk-3-dev
  libcairo2-dev
  libx11-dev
  libxtst-dev
  xauth
  # Windows modules: mingw-w64 cross compilers (posix thread model), and Wine
  # (both bitnesses) with a virtual X server to run them
  g++-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64
  wine
  wine32:i386
  wine64
  xvfb
  # fuzzing (libFuzzer)
  clang
  libclang-rt-14-dev
)

for arg in "$@"; do
  case "$arg" in
    --bench) PACKAGES+=("${BENCH_PACKAGES[@]}") ;;
    *) echo "install-deps: unknown option $arg (only --bench)" >&2; exit 2 ;;
  esac
done

missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  if [[ "$status" != "install ok installed" ]]; then
    missing+=("$pkg")
  fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=(sudo)
  else
    echo "install-deps: not root and no sudo; install these packages: ${missing[*]}" >&2
    exit 1
  fi
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# wine32 is an i386 package: the architecture must be known before the index update.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${SUDO[@]}" dpkg --add-architecture i386
fi
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends "${missing[@]}"
