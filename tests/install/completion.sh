#!/usr/bin/env bash
# completion.sh DIR: sources DIR/lumbra and DIR/lumbra-kit in bash and drives
# their functions as bash does on TAB (COMP_WORDS and COMP_CWORD in,
# COMPREPLY out), for the command words, options, option values and file
# names.
set -u
dir=$(cd "$1" && pwd) || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && touch blocks.bin bits.bin notes.txt
source "$dir/lumbra" && source "$dir/lumbra-kit" || exit 1

failures=0
# expect "LINE" "WANTED...": the completions of the last word of LINE (a
# trailing blank starts an empty word), sorted and joined by blanks.
expect() {
  local line=$1 wanted=$2 function got
  read -ra COMP_WORDS <<< "$line"
  [[ $line == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  function=$(complete -p "${COMP_WORDS[0]}" | sed -E 's/.*-F ([^ ]+) .*/\1/')
  COMPREPLY=()
  "$function"
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
  if [[ $got != "$wanted" ]]; then
    echo "'$line': got '$got', wanted '$wanted'"
    failures=$((failures + 1))
  fi
}

expect 'lumbra ' 'showC showFile showTrian'
expect 'lumbra showT' 'showTrian'
expect 'lumbra showFile 64 b' 'bits.bin blocks.bin'
expect 'lumbra showC 10 ' ''
expect 'lumbra-kit ' 'blocks count decode encode help merge rank shape smirnov test unrank unshape'
expect 'lumbra-kit smirnov --alternative ' 'greater less two-sided'
expect 'lumbra-kit --v' '--version'
expect 'lumbra-kit te' 'test'
expect 'lumbra-kit test --fo' '--force --format'
expect 'lumbra-kit test --format ' 'json text'
expect 'lumbra-kit blocks -n 64 --format ' 'json jsonl tsv'
expect 'lumbra-kit test -n 64 b' 'bits.bin blocks.bin'
expect 'lumbra-kit test -n ' ''
expect 'lumbra-kit encode --c' '--cache-mib'
expect 'lumbra-kit decode -f b' 'bits.bin blocks.bin'
expect 'lumbra-kit unshape --alphabet ' 'bits dna text'
expect 'lumbra-kit shape -d 4 --i' '--info'
expect 'lumbra-kit count 10 ' ''
expect 'lumbra-kit help ra' 'rank'
((failures == 0))
