#!/usr/bin/env bash
# The bash completion and the man page, both taken from qelvo's own help:
# completions for subcommands (nested too), options and plug-in names, and a
# man page that groff reads without a warning and that covers every
# subcommand. Arguments: the qelvo program, the completion script, the man page.
set -euo pipefail
export PATH="$(dirname "$(realpath "$1")"):$PATH"
completion="$2"
page="$3"
source "$completion"

failures=0
# expect WORDS... -- COMPLETIONS...: what completing the last word offers.
expect() {
  local words=() wanted
  while [ "$1" != -- ]; do words+=("$1"); shift; done
  shift
  COMP_WORDS=("${words[@]}")
  COMP_CWORD=$((${#words[@]} - 1))
  _qelvo
  wanted="$*"
  if [ "${COMPREPLY[*]}" != "$wanted" ]; then
    echo "completing '${words[*]}': got '${COMPREPLY[*]}', wanted '$wanted'" >&2
    failures=$((failures + 1))
  fi
}

expect qelvo re -- render replay
expect qelvo render --pl -- --plugin
expect qelvo render in.wav --le -- --levels
expect qelvo render --plugin AUQelvoPeak -- AUQelvoPeakLeft AUQelvoPeakRight
expect qelvo state "" -- save
expect qelvo state save --pre -- --preset
expect qelvo info AUQelvoPeakR -- AUQelvoPeakRight
expect qelvo --vers -- --version
expect qelvo render in -- # files are bash's own completion

warnings="$(groff -man -Tutf8 -ww -z "$page" 2>&1)"
[ -z "$warnings" ] || { echo "groff warns about $page: $warnings" >&2; failures=$((failures + 1)); }
while read -r command _; do
  grep -q "^\.SS \"qelvo $command\"" "$page" || { echo "the man page lacks qelvo $command" >&2; failures=$((failures + 1)); }
done < <(qelvo --help | sed -n '/^Subcommands:/,/^$/p' | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p')

[ "$failures" -eq 0 ] || exit 1
echo "completion and man page follow qelvo's help"
