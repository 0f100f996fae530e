#!/usr/bin/env bash
# The main job on the built-in platform, as `make run` shows it: the drivers'
# own address translations, both ways, with the register reads behind them,
# then from DRAM coordinates back to an address, and a list of addresses.
set -euo pipefail
platsim="$1"
addr=0x723456789
echo "== platsim --trace translate sys $addr   (built-in platform: 2 sockets x 2 dies x 4 channels, hashed)"
"$platsim" --trace translate sys "$addr"
echo
norm=$("$platsim" --json translate sys "$addr" | sed -n 's/.*"normalizedAddress": "\(0x[0-9A-F]*\)".*/\1/p')
sock=$("$platsim" --json translate sys "$addr" | sed -n 's/.*"socket": \([0-9]*\).*/\1/p')
die=$("$platsim" --json translate sys "$addr" | sed -n 's/.*"die": \([0-9]*\).*/\1/p')
chan=$("$platsim" --json translate sys "$addr" | sed -n 's/.*"channel": \([0-9]*\).*/\1/p')
echo "== platsim translate norm $norm --socket $sock --die $die --channel $chan"
"$platsim" translate norm "$norm" --socket "$sock" --die "$die" --channel "$chan"
echo
echo "== platsim translate dram --socket $sock --die $die --channel $chan ...   (the DRAM coordinates of $addr, back to an address)"
dram=$("$platsim" --json translate sys "$addr" | tr -d ' \n' | sed -n 's/.*"dram":{\([^}]*\)}.*/\1/p')
field() { echo "$dram" | sed -n "s/.*\"$1\":\([0-9]*\).*/\1/p"; }
"$platsim" translate dram --socket "$sock" --die "$die" --channel "$chan" --cs "$(field chipSelect)" \
  --bank "$(field bank)" --row "$(field row)" --col "$(field col)" --rank-mul "$(field rankMul)"
echo
echo "== printf '...' | platsim translate sys -   (a list: one boot, one line each)"
# Two of the four are not DRAM (the hole below 4 GiB, and past the map), so
# platsim exits with 1 (some refused); any other status is a failure.
status=0
printf '0x723456789\n0xC0000000\n0x12345678\n0x1000000000000\n' | "$platsim" translate sys - || status=$?
[ "$status" -eq 1 ] || { echo "run-demo: platsim translate sys - exited with $status, expected 1"; exit 1; }
