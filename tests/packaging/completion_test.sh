#!/usr/bin/env bash
# The shells complete morix's options, the values of --case and --sort, and
# only folders after -d, from the completion files as installed. zsh completes
# only at a terminal: its file is checked to read and to load by name.
# Usage: completion_test.sh COMPLETION-FOLDER
set -euo pipefail
completion=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/files/photos" "$work/files/plans"
touch "$work/files/picture.jpg" "$work/files/pad.txt"

failures=0
# expect SHELL LINE WORD...: completing LINE offers each WORD (a leading '!'
# means that word must not be offered).
expect() {
  local shell=$1 line=$2
  shift 2
  local offered word
  offered=$("complete_$shell" "$line" | sed 's#/$##' | sort -u)
  for word in "$@"; do
    if [[ $word == !* ]]; then
      grep -qxF -- "${word#!}" <<<"$offered" || continue
    elif grep -qxF -- "$word" <<<"$offered"; then
      continue
    fi
    echo "FAIL: $shell: '$line' -> expected ${word}; offered:" $offered
    failures=$((failures + 1))
  done
}

complete_bash() {
  # A fresh shell each time, as a user's would be.
  (
    cd "$work/files"
    source /usr/share/bash-completion/bash_completion
    source "$completion/morix.bash"
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$1
    COMP_POINT=${#1}
    _morix morix "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}"
  )
}

complete_fish() {
  (cd "$work/files" && fish --no-config -c "source '$completion/morix.fish'; complete -C '$1'") |
    cut -f1
}

for shell in bash fish; do
  expect $shell 'morix --ca' --case --case-sensitive
  expect $shell 'morix --case ' upper ext-lower first-upper '!--sort'
  expect $shell 'morix --sort ' name ext mtime size none
  expect $shell 'morix -d ' photos plans '!picture.jpg' '!pad.txt'
  expect $shell 'morix --preview p' picture.jpg pad.txt
done

if ! zsh -n "$completion/morix.zsh" ||
  ! zsh -f -c "cp '$completion/morix.zsh' '$work/_morix'; fpath=('$work' \$fpath);
      autoload -Uz _morix; [[ \$(head -n 1 '$work/_morix') == '#compdef morix' ]]"; then
  echo "FAIL: zsh: the completion does not read or load"
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ]
