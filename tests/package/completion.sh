#!/usr/bin/env bash
# The completion files sourced in a bash of their own: what they offer for a
# few command lines, and for `mailbox set` exactly the names platsim knows.
#   completion.sh COMPLETION_DIR PLATSIM
set -uo pipefail
export LC_ALL=C
dir=$1 platsim=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/out" && touch "$scratch/my.json" "$scratch/mine.fd"

# offers 'COMMAND LINE' (a trailing space: a new, empty word): the sorted offers.
offers() {
  bash --norc --noprofile -c '
    source "$1/platsim" && source "$1/fvtool" || exit 9
    read -ra COMP_WORDS <<<"$2"
    [[ $2 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    complete -p "${COMP_WORDS[0]}" >/dev/null || exit 8
    "_${COMP_WORDS[0]}"
    ((${#COMPREPLY[@]})) && printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' _ "$dir" "$1"
}

fail=0
S=$scratch
while IFS='|' read -r line want; do
  got=$(offers "$line")
  [ "$got" = "$want" ] || { echo "FAIL: '$line' offers '$got', want '$want'"; fail=1; }
done <<EOF_TABLE
platsim |acpi capture decode faults mailbox map mca profile translate 
platsim tr|translate 
platsim translate |dram norm sys 
platsim --json translate dram --c|--channel --col --cs 
platsim translate sys --|--diag --help --input --json --profile --trace --version 
platsim --profile $S/my|$S/my.json 
platsim --profile $S/my.json decode --kind |auto bert hest mca region 
platsim acpi append-bert --kind |1 2 
platsim acpi dump --out $S/|$S/out 
platsim profile new --hashed |false true 
platsim mailbox set tRFC|tRFC1 tRFC2 tRFC4 
platsim mailbox set batch|batch-begin batch-end 
platsim mailbox set tCL |
platsim faults --p|--page-threshold --pages --profile 
platsim profile |dimms dump new 
platsim capture --s|--simulate --sysfs 
platsim capture --sysfs $S/|$S/out 
fvtool |depex insert list 
fvtool list $S/mi|$S/mine.fd 
fvtool insert --add |dxe: smm: 
fvtool insert --le|--level 
fvtool depex --|--dec --dxe --expr --help --inf --output --smm 
EOF_TABLE

# mailbox set: the names platsim lists when it is given one it does not know.
known=$("$platsim" mailbox set no-such-command 0 2>&1 | sed -n 's/.*one of: \(.*\))$/\1/p' |
  tr -d ' ' | tr ',' '\n' | sort | tr '\n' ' ')
offered=$(offers "platsim mailbox set ")
[ -n "$known" ] || { echo "FAIL: platsim does not list its mailbox commands"; fail=1; }
[ "$offered" = "$known" ] || { echo "FAIL: mailbox set offers '$offered', platsim knows '$known'"; fail=1; }
[ $fail -eq 0 ] && echo "completion: every command line offers what it should"
exit $fail
