#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
set -euo pipefail
pkgs=(g++ cmake ninja-build make binutils gnu-efi qemu-system-x86 ovmf mtools acpica-tools
      nlohmann-json3-dev libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev liblzma-dev
      clang-14 libclang-rt-14-dev lld librsvg2-bin libpng-dev fonts-dejavu-core
      uuid-dev nasm python3
      dpkg-dev file lintian mandoc libsqlite3-dev rasdaemon kmod)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
