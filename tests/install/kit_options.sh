#!/usr/bin/env bash
# kit_options.sh LUMBRA_KIT COMPLETION_DIR PAGE: every subcommand and option
# that lumbra-kit's own help lists must be completed by the bash completion
# and named in the man page, so that neither falls behind the program.
set -u
kit=$1
source "$2/lumbra-kit" || exit 1
page=$(groff -man -Tutf8 -P-cbou "$3" 2>/dev/null | sed 's/\xe2\x88\x92/-/g; s/\xe2\x80\x90/-/g')
failures=0
fail() {
  echo "$*"
  failures=$((failures + 1))
}

# complete WORD...: what the completion offers for the last word.
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _lumbra_kit
  printf '%s\n' "${COMPREPLY[@]}"
}

# In the help, the lines of the section "Options:" that name options start
# with two blanks and a dash ("  -n,--block-size N  ..."); those of
# "Subcommands:" that name one, with two blanks and the name.
section() { sed -n "/^$1:\$/,/^\$/p"; }
options_of() {
  "$kit" "$@" --help | section Options | sed -nE 's/^  (-[^ ]*).*/\1/p' | tr ',' '\n' | grep -E '^-'
}
commands=$("$kit" --help | section Subcommands | sed -nE 's/^  ([a-z][-a-z]*) .*/\1/p')
[[ -n $commands ]] || fail "lumbra-kit --help lists no subcommands"

offered=$(complete_words lumbra-kit '')
for command in $commands; do
  grep -qx -- "$command" <<< "$offered" || fail "completion lacks the command $command"
  grep -qE "^       $command( |$)" <<< "$page" || fail "the man page has no entry for $command"
  [[ $command == help ]] && continue
  offered_options=$(complete_words lumbra-kit "$command" -)
  for option in $(options_of "$command"); do
    grep -qx -- "$option" <<< "$offered_options" || fail "completion of $command lacks $option"
    grep -qF -- "$option" <<< "$page" || fail "the man page does not name $option ($command)"
  done
done
# The synopsis of each command takes as many operands as its help's usage
# line, and "..." where that takes several.
synopsis=$(sed -n '/^SYNOPSIS/,/^DESCRIPTION/p' <<< "$page")
for command in $commands; do
  usage=$("$kit" "$command" --help | sed -nE "s/^Usage: lumbra-kit $command (\[OPTIONS\] )?//p")
  line=$(grep -E "^ +lumbra-kit $command( |$)" <<< "$synopsis" | grep -v -- '--info' | head -1)
  operands=$(sed -E "s/^ +lumbra-kit $command//; s/\[(options|-[^]]*)\]//g" <<< "$line" | wc -w)
  wanted=$(sed -E 's/\[([A-Z]+)\]/\1/g' <<< "$usage" | wc -w)
  [[ $operands == "$wanted" ]] || fail "the man page's synopsis of $command ('$line') does not match its usage '$usage'"
  [[ $usage != *... || $line == *... ]] || fail "the man page's synopsis of $command does not say it takes several"
done
for option in $(options_of); do
  grep -qx -- "$option" <<< "$(complete_words lumbra-kit -)" || fail "completion lacks $option"
done
((failures == 0))
