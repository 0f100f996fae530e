#!/usr/bin/env bash
# The main job on the built-in platform, as `make run` shows it: the drivers'
# own address translations, both ways, with the register reads behind them.
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
