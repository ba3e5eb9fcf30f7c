# bash completion for qelvo. Subcommands and options come from the program's
# own --help, so they always match the installed version; plug-in names come
# from `qelvo info`.

# Words of one section of `qelvo [COMMAND...] --help`: "Subcommands" gives the
# names, "Options" every -x and --long form.
_qelvo_help_words() {
  local section=$1
  shift
  "$@" --help 2>/dev/null | awk -v want="$section" '
    /^[A-Za-z][A-Za-z ]*:/ { inside = (substr($0, 1, length(want) + 1) == want ":"); next }
    !inside || !/^  +[^ ]/ { next }
    want == "Subcommands" { print $1; next }
    $1 ~ /^-/ { n = split($1, forms, ","); for (i = 1; i <= n; i++) if (forms[i] ~ /^-/) print forms[i] }'
}

_qelvo_plugins() {
  "$1" info 2>/dev/null | awk 'NR > 1 && /^[A-Za-z]/ && $1 != "skipped:" { print $1 }'
}

_qelvo() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=""
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  local -a command=("${COMP_WORDS[0]}")
  local subcommands word i
  subcommands=$(_qelvo_help_words Subcommands "${command[@]}")
  # Follow the subcommands typed so far (state save, ...).
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ $word != -* ]] && grep -qxF -- "$word" <<<"$subcommands"; then
      command+=("$word")
      subcommands=$(_qelvo_help_words Subcommands "${command[@]}")
    fi
  done

  COMPREPLY=()
  if [[ $prev == --plugin ]] || [[ ${#command[@]} -eq 2 && ${command[1]} == info && $cur != -* && -z $subcommands ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_qelvo_plugins "${command[0]}")" -- "$cur")
  elif [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_qelvo_help_words Options "${command[@]}")" -- "$cur")
  elif [[ -n $subcommands ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$subcommands" -- "$cur")
  fi
  # Nothing matched: file names (complete -o default).
}

complete -o default -F _qelvo qelvo
