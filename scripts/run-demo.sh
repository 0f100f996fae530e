#!/usr/bin/env bash
# The main job on the built-in platform, as `make run` shows it.
set -euo pipefail
platsim="$1"
echo "== platsim profile dump (built-in platform)"
"$platsim" profile dump | head -n 40
