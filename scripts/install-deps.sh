#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config python3
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libeigen3-dev libcli11-dev nlohmann-json3-dev
  libboost-dev
  gnuplot-nox fonts-dejavu-core
  clang libclang-rt-dev
  mingw-w64 wine64 fonts-wine
  chromium
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js and npm for the replay page: a machine may carry its own Node.js
# (with its npm) outside Debian's packages, which Debian's npm would conflict with.
command -v node >/dev/null 2>&1 || missing+=(nodejs)
command -v npm >/dev/null 2>&1 || missing+=(npm)
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
