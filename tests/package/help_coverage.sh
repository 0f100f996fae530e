#!/usr/bin/env bash
# Every option and subcommand that a program's --help lists, at every level
# of its commands, appears in its man page (as rendered) and in its bash
# completion file, so that the three cannot drift apart.
#   help_coverage.sh PROGRAM PAGE.1 COMPLETION [PROGRAM PAGE.1 COMPLETION]...
set -uo pipefail
export LC_ALL=C
fail=0

# The options (-o, --output) and the subcommands a help text lists: option
# lines are indented by two spaces and start with a dash; subcommand lines
# are the same indentation under "Subcommands:".
options_of() { awk '/^[^ ]/ { sub_ = ($0 ~ /^Subcommands:/) } /^  -/ { print $1 }' | tr ',' '\n'; }
subcommands_of() { awk '/^[^ ]/ { sub_ = ($0 ~ /^Subcommands:/) } sub_ && /^  [a-z]/ { print $1 }'; }

# has TEXT WORD: WORD stands alone in TEXT (not inside a longer option or name).
has() { grep -qE -- "(^|[^A-Za-z0-9-])$2([^A-Za-z0-9-]|\$)" <<<"$1"; }

check_program() {
  local program=$1 page text completion words=0
  page=$(mandoc -T ascii "$2" | col -b)
  completion=$(<"$3")
  local queue=("") path help word
  while ((${#queue[@]})); do
    path=${queue[0]}
    queue=("${queue[@]:1}")
    # shellcheck disable=SC2086
    help=$("$program" $path --help) || { echo "FAIL: $program $path --help"; fail=1; continue; }
    for word in $(options_of <<<"$help"); do
      words=$((words + 1))
      has "$page" "$word" || { echo "FAIL: $(basename "$2"): no $word ('${path:-$program}' lists it)"; fail=1; }
      [[ $word == -h || $word == --help ]] && continue  # offered everywhere, listed once
      has "$completion" "$word" || { echo "FAIL: $(basename "$3"): no $word ('${path:-$program}' lists it)"; fail=1; }
    done
    for word in $(subcommands_of <<<"$help"); do
      words=$((words + 1))
      has "$page" "$word" || { echo "FAIL: $(basename "$2"): no subcommand '$path $word'"; fail=1; }
      has "$completion" "$word" || { echo "FAIL: $(basename "$3"): no subcommand '$path $word'"; fail=1; }
      queue+=("${path:+$path }$word")
    done
  done
  echo "$(basename "$program"): $words options and subcommands checked"
  [ $words -gt 0 ] || { echo "FAIL: $program --help lists nothing"; fail=1; }
}

while (($# >= 3)); do
  check_program "$1" "$2" "$3"
  shift 3
done
exit $fail
