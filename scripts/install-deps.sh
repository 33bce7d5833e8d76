#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, test and benchmark the project.
# Idempotent: does nothing (and touches no package index) when all are present.
set -euo pipefail

PACKAGES=(
  cmake
  ninja-build
  g++
  make
  pkg-config
  git
  libgtest-dev
  libgmock-dev
  googletest
  libbenchmark-dev
  libopenimageio-dev
  nlohmann-json3-dev
  libcli11-dev
  clang
  libclang-rt-14-dev
)

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
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends "${missing[@]}"
