#!/usr/bin/env bash
# Builds the release programs and the Debian package; prints the package's
# path (build/package/chuna_<version>-1_<arch>.deb). Install it with
#   sudo apt-get install ./build/package/chuna_<version>-1_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" >&2
mkdir -p build/package
rm -rf build/package/_CPack_Packages
cpack --config build/release/CPackConfig.cmake -B build/package >&2
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build/release/CPackConfig.cmake)
arch=$(dpkg --print-architecture)
deb="build/package/chuna_${version}-1_${arch}.deb"
[ -f "$deb" ] || { echo "package.sh: $deb was not made" >&2; exit 1; }
echo "$(pwd)/$deb"
