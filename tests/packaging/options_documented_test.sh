#!/usr/bin/env bash
# Every option that morix --help names is in the man page and in the
# completion for bash, zsh and fish, so a new option is not forgotten in any
# of them.
# Usage: options_documented_test.sh PATH-TO-MORIX PACKAGING-FOLDER
set -euo pipefail
program=$1
packaging=$2

mapfile -t options < <("$program" --help | grep -oE '(^|[ ,[|])--?[a-z0-9][a-z0-9-]*' |
  sed -E 's/^[ ,[|]//' | sort -u)
[ "${#options[@]}" -gt 20 ] || { echo "FAIL: read only ${#options[@]} options from --help"; exit 1; }

failures=0
for file in man/morix.1 completion/morix.bash completion/morix.zsh completion/morix.fish; do
  # roff writes each '-' as '\-'.
  text=$(sed 's/\\-/-/g' "$packaging/$file")
  for option in "${options[@]}"; do
    case $file in
      *.fish)
        case $option in
          --*) pattern="-l ${option#--}( |$)" ;;
          *) pattern="-s ${option#-}( |$)" ;;
        esac ;;
      *) pattern="(^|[^a-z0-9-])$option([^a-z0-9-]|$)" ;;
    esac
    if ! grep -qE -- "$pattern" <<<"$text"; then
      echo "FAIL: $option is missing from packaging/$file"
      failures=$((failures + 1))
    fi
  done
done
echo "${#options[@]} options checked"
[ "$failures" -eq 0 ]
