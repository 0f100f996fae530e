#!/usr/bin/env bash
# Checks the headers of a UEFI image and its link:
#   check_image.sh IMAGE.efi IMAGE.so SUBSYSTEM [MAX_BYTES]
#   check_image.sh IMAGE.efi IMAGE.dll SUBSYSTEM [MAX_BYTES]   (EDK II's build)
# PE32+ optional header, machine x86-64 (0x8664), the expected subsystem
# (11: boot-service driver, 10: application), a .reloc section, no undefined
# symbols left in the ELF link, and only R_X86_64_RELATIVE dynamic
# relocations (the only kind the start-up code's _relocate applies when the
# firmware loads the image at another address), no global constructors, the
# PE entry point at EfiImageStart (our UEFI-convention entry, which keeps the
# caller's callee-saved registers), and no SSE/AVX register anywhere in the
# code (XMM6-15 are callee-saved in the UEFI convention, and SSE needs a
# CR4.OSFXSR and stack alignment that SMM entry and AP procedures do not promise).
# The link map (IMAGE.map next to IMAGE.so) must show no member of the host's
# libgcc (built with a red zone, which interrupt and SMM entry overwrite), and
# the image must be no larger than MAX_BYTES when that is given.
# An image of EDK II's build (IMAGE.dll: its ELF link, with IMAGE.debug and
# IMAGE.map beside it) is checked the same way, with three differences that
# come from EDK II's own start-up and conversion: GenFw turns the ELF
# relocations into PE base relocations (and refuses kinds it cannot), so an
# image without absolute addresses has no .reloc section and there is no
# relocation kind to check; the entry point is UefiDriverEntryPoint's
# _ModuleEntryPoint; and MdePkg's SetJump and InternalLongJump (the SMM
# driver entry's exit path) save and restore XMM6-15, as the UEFI convention
# asks of them, with unaligned moves: they are the only functions that may
# name an xmm register (CetDone, a label inside both, is not a function).
set -u
efi=$1 so=$2 want_subsystem=$3 max_bytes=${4:-}
edk2=0
[[ $so == *.dll ]] && edk2=1
syms=$so
((edk2)) && syms=${so%.dll}.debug
fail=0
problem() { echo "FAIL: $(basename "$efi"): $*"; fail=1; }

[[ -f $efi ]] || { echo "FAIL: image $efi not found (build it first)"; exit 1; }
[[ -f $so ]] || { echo "FAIL: link output $so not found"; exit 1; }

# The standard output of a tool into the variable $1. A tool that fails is a
# problem in itself, never an empty answer that would pass the check after it.
capture() {
  local var=$1 text
  shift
  text=$("$@") || problem "'$*' failed with status $?"
  printf -v "$var" '%s' "$text"
}

# Little-endian unsigned integer of $2 bytes at byte offset $1.
u() { od -An -tu"$2" -j "$1" -N "$2" --endian=little "$efi" | tr -d ' '; }

[[ $(head -c 2 "$efi") == MZ ]] || problem "no MZ header"
pe=$(u 60 4)
[[ $(dd if="$efi" bs=1 skip="$pe" count=4 2>/dev/null | od -An -tx1 | tr -d ' ') == 50450000 ]] ||
  problem "no PE signature at $pe"
machine=$(u $((pe + 4)) 2)
[[ $machine -eq $((0x8664)) ]] || problem "machine $(printf 0x%04x "$machine"), want 0x8664"
opt=$((pe + 24))
magic=$(u "$opt" 2)
[[ $magic -eq $((0x20b)) ]] || problem "optional-header magic $(printf 0x%03x "$magic"), want 0x20b (PE32+)"
subsystem=$(u $((opt + 68)) 2)
[[ $subsystem -eq $want_subsystem ]] || problem "subsystem $subsystem, want $want_subsystem"

# Section names from the section table: after the optional header.
nsections=$(u $((pe + 6)) 2)
optsize=$(u $((pe + 20)) 2)
table=$((opt + optsize))
have_reloc=0
for ((i = 0; i < nsections; i++)); do
  name=$(dd if="$efi" bs=1 skip=$((table + 40 * i)) count=8 2>/dev/null | tr -d '\0')
  [[ $name == .reloc ]] && have_reloc=1
done
if ((edk2)); then
  capture relocations readelf -rW "$so"
  absolute=$(awk '/^[0-9a-f]+ +[0-9a-f]+ +R_X86_64_(64|RELATIVE)/' <<<"$relocations" | head -1)
  [[ -z $absolute || $have_reloc -eq 1 ]] || problem "absolute relocations but no .reloc section"
else
  ((have_reloc)) || problem "no .reloc section among $nsections sections"
fi

capture undefined nm -u "$so"
[[ -z $undefined ]] || problem "undefined symbols in $(basename "$so"): $(echo $undefined)"

if ((edk2 == 0)); then
capture relocations readelf -rW "$so"
others=$(awk '/^[0-9a-f]+ +[0-9a-f]+ +R_/ && $3 != "R_X86_64_RELATIVE" {print $3, $5}' <<<"$relocations" | sort -u)
[[ -z $others ]] || problem "relocations the start-up code does not apply: $(echo $others)"
fi

# The start-up code runs no constructors: static data must be
# constant-initialised.
capture headers objdump -h "$so"
ctors=$(awk '$2 ~ /^\.(init_array|ctors|preinit_array)$/ && $3 != "00000000" {print $2}' <<<"$headers")
[[ -z $ctors ]] || problem "global constructors in the link ($(echo $ctors)) would never run"

entry=$(u $((opt + 16)) 4)
capture symbols nm "$syms"
entry_name=EfiImageStart
((edk2)) && entry_name=_ModuleEntryPoint
start=$(awk -v n="$entry_name" '$3 == n {print $1}' <<<"$symbols")
if [[ -z $start ]]; then
  problem "no $entry_name in $(basename "$syms")"
elif ((entry != 16#$start)); then
  problem "PE entry point $(printf 0x%x "$entry") is not $entry_name (0x$start)"
fi

capture code objdump -d "$efi"
simd=$(grep -E '%([xyz]mm|mm)[0-9]' <<<"$code")
if ((edk2)) && [[ -n $simd ]]; then
  # The function of each instruction: the last text symbol at or below it.
  simd=$(awk 'function hex(t,  i, v) { v = 0; t = tolower(t)
      for (i = 1; i <= length(t); i++) v = v * 16 + index("0123456789abcdef", substr(t, i, 1)) - 1
      return v }
    NR == FNR { if ($2 ~ /^[Tt]$/ && $3 != "CetDone") { a[++n] = hex($1); f[n] = $3 }; next }
    { x = hex($1); best = ""; top = -1
      for (i = 1; i <= n; i++) if (a[i] <= x && a[i] > top) { top = a[i]; best = f[i] }
      if (best != "SetJump" && best != "InternalLongJump") print best ": " $0 }' \
    <(echo "$symbols") <(sed 's/^ *//; s/:/ /' <<<"$simd")) ||
    problem "cannot attribute the SIMD instructions to functions"
fi
simd=$(head -3 <<<"$simd")
[[ -z $simd ]] || problem "SSE/AVX/MMX registers used: $(echo "$simd" | tr -s ' \t' ' ')"

# Writable memory the image leaves out (orphan .bss.* sections, say) would
# start with whatever the firmware's pages held: all of it must be in .data.
capture sections readelf -SW "$so"
stray=$(sed 's/^ *\[ *[0-9]*\] *//' <<<"$sections" |
  awk '$1 ~ /^\./ && $NF != "" { for (i = 1; i <= NF; i++) if ($i ~ /^W?A[A-Z]*$/ && $i ~ /W/) print $1 }' |
  grep -vxE '\.data|\.dynamic' | sort -u)
[[ -z $stray ]] || problem "writable sections outside the image's .data: $(echo $stray)"

map=${so%.so}.map
((edk2)) && map=${so%.dll}.map
if [[ ! -f $map ]]; then
  problem "link map $map not found"
else
  libgcc=$(grep -oE 'libgcc[^/ ]*\.a\([^)]*\)' "$map" | sort -u)
  [[ -z $libgcc ]] || problem "host libgcc members in the link: $(echo $libgcc)"
fi

size=$(stat -c %s "$efi")
if [[ -n $max_bytes ]] && ((size > max_bytes)); then
  problem "$size bytes, more than the $max_bytes allowed"
fi

((fail)) && exit 1
if ((edk2)); then
  echo "OK: $(basename "$efi") (EDK II): PE32+ x86-64, subsystem $subsystem, .reloc $( ((have_reloc)) && echo present || echo "not needed"), no undefined symbols, entry _ModuleEntryPoint, no SIMD registers outside SetJump/InternalLongJump, no libgcc, $size bytes${max_bytes:+ (at most $max_bytes)}"
else
  echo "OK: $(basename "$efi"): PE32+ x86-64, subsystem $subsystem, .reloc present, no undefined symbols, relative relocations only, entry EfiImageStart, no SIMD registers, no libgcc, $size bytes${max_bytes:+ (at most $max_bytes)}"
fi
