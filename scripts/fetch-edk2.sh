#!/usr/bin/env bash
# Prepares the EDK II tree the package build (integration/TivFirmwarePkg) uses:
# Debian's edk2 source package, fetched through apt with a private
# configuration (the machine's own apt set-up is left as it is), checked
# against the SHA-256 sums of its .dsc, unpacked down to the parts the build
# reads (MdePkg, BaseTools, the DEC and headers of MdeModulePkg), then
# BaseTools built once.
#   scripts/fetch-edk2.sh [DEST]      (default build/edk2)
# A second run finds DEST/.ready and costs nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:-$root/build/edk2}
version=2022.11-6+deb12u2
stamp=$dest/.ready
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; then
  exit 0
fi
start=$(date +%s)
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)

# One deb-src entry for bookworm main, the same URI and key as the machine's
# own deb entry; apt's state for it lives under DEST/apt.
apt_dir=$dest/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
cat > "$apt_dir/debian-src.sources" <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
apt_opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir"
          -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
          -o APT::Sandbox::User=root)
dl=$dest/download
mkdir -p "$dl"
if ! ls "$dl"/edk2_"$version".dsc > /dev/null 2>&1; then
  apt-get -qq "${apt_opts[@]}" update
  (cd "$dl" && apt-get -qq "${apt_opts[@]}" source --download-only "edk2=$version")
fi

# apt checked the .dsc against the signed index; the .dsc's own sums cover
# every other file of the source package.
dsc=$dl/edk2_$version.dsc
files=$(awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && NF == 3 { print $1 "  " $3 }' "$dsc")
[ -n "$files" ] || { echo "fetch-edk2: $dsc lists no SHA-256 sums" >&2; exit 1; }
(cd "$dl" && echo "$files" | sha256sum --quiet -c -) ||
  { echo "fetch-edk2: the source package does not match its .dsc" >&2; exit 1; }

# Only what the build reads: MdePkg (headers and library instances), BaseTools
# (build, GenFw, the rules), and MdeModulePkg's DEC with the header folders it
# lists (the SMM variable protocol's GUID and header).
src=$dest/src
rm -rf "$src"
mkdir -p "$src"
orig=$(ls "$dl"/edk2_*.orig.tar.* | head -1)
top=$(set +o pipefail; tar -tf "$orig" | head -1 | cut -d/ -f1)
tar -xf "$orig" -C "$src" --strip-components=1 --wildcards \
  "$top/MdePkg" "$top/BaseTools" "$top/MdeModulePkg/MdeModulePkg.dec" "$top/MdeModulePkg/Include" \
  "$top/MdeModulePkg/Library/BrotliCustomDecompressLib/brotli/c/include" "$top/edksetup.sh"
# Debian's patches whose every file is in MdePkg or BaseTools (among them the
# ones that let BaseTools build with the distribution's compiler and Python).
debian_tar=$(ls "$dl"/edk2_"$version".debian.tar.* | head -1)
mkdir -p "$dest/debian"
tar -xf "$debian_tar" -C "$dest/debian"
patches=$dest/debian/debian/patches
if [ -f "$patches/series" ]; then
  while read -r p _; do
    case "$p" in '' | '#'*) continue ;; esac
    if ! awk '/^\+\+\+ / { sub(/^[^\/]*\//, "", $2); if ($2 !~ /^(MdePkg|BaseTools)\//) other = 1 }
              END { exit other }' "$patches/$p"; then
      continue
    fi
    patch -s -p1 -d "$src" < "$patches/$p"
  done < "$patches/series"
fi

# BaseTools' C tools (GenFw, GenFv, ...) once; the Python tools run from source.
make -s -C "$src/BaseTools" -j2 > "$dest/basetools.log" 2>&1 ||
  { tail -30 "$dest/basetools.log" >&2; exit 1; }
echo "$version" > "$stamp"
echo "fetch-edk2: EDK II $version prepared in $dest in $(($(date +%s) - start)) s"
