#!/usr/bin/env bash
# Loads each shell's completion from where the package installed it, the way
# the shell itself finds it, and checks what it offers.
# Usage: completions.sh ROOT (the folder installed-package.sh unpacked into)
set -uo pipefail
root=$1
share=$root/tree/usr/share
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
failures=0
work=$(mktemp -d "$root/completion.XXXXXX")
mkdir -p "$work/Export one" "$work/out" && touch "$work/notes.txt" "$work/Export two.ZIP"
cd "$work"

# bash: bash-completion looks the command up in XDG_DATA_DIRS.
bash_offers() {  # COMMAND WORD... : what TAB on the last word offers, one per line
  XDG_DATA_DIRS=$share bash -c '
    source /usr/share/bash-completion/bash_completion
    __load_completion "$1" || exit 9
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    function=$(complete -p "$1" | sed -E "s/.* -F ([^ ]+) .*/\1/")
    "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort' bash "$@"
}
expect() {  # DESCRIPTION EXPECTED ACTUAL
  [ "$2" = "$3" ] || fail "$1: expected [$(echo $2)], got [$(echo $3)]"
}
expect "bash: notara2inkvale-cli -o <TAB>" "$(printf '%s\n' 'Export one' out)" \
  "$(bash_offers notara2inkvale-cli -o '')"
expect "bash: notara2inkvale-cli --<TAB>" "$(printf -- '--%s\n' date-locale dry-run fallback-encoding help keep-going output portable-names quiet report strict version)" \
  "$(bash_offers notara2inkvale-cli --)"
expect "bash: notara2inkvale-cli -q <TAB>" "$(printf '%s\n' 'Export one' 'Export two.ZIP' out)" \
  "$(bash_offers notara2inkvale-cli -q '')"
expect "bash: notara2inkvale --<TAB>" "$(printf -- '--%s\n' help version)" "$(bash_offers notara2inkvale --)"

# fish: vendor completions come from XDG_DATA_DIRS too.
# fish loads a command's completions only once the command is on PATH.
fish_offers() { HOME=$work XDG_DATA_DIRS=$share PATH=$root/tree/usr/bin:$PATH fish -c "complete -C'$1'" | cut -f1 | sort; }
expect "fish: notara2inkvale-cli -o <TAB>" "$(printf '%s\n' 'Export one/' out/)" \
  "$(fish_offers 'notara2inkvale-cli -o ')"
expect "fish: notara2inkvale-cli <TAB>" "$(printf '%s\n' 'Export one/' 'Export two.ZIP' out/)" \
  "$(fish_offers 'notara2inkvale-cli ')"
expect "fish: notara2inkvale-cli --<TAB>" "$(printf -- '--%s\n' date-locale dry-run fallback-encoding help keep-going output portable-names quiet report strict version)" \
  "$(fish_offers 'notara2inkvale-cli --')"

# zsh: compinit registers both commands from the #compdef line.
registered=$(zsh -f -c "fpath=($share/zsh/vendor-completions \$fpath); autoload -U compinit; compinit -u -D;
  print \$_comps[notara2inkvale-cli] \$_comps[notara2inkvale]")
expect "zsh: registered functions" "_notara2inkvale _notara2inkvale" "$registered"
zsh -n "$share/zsh/vendor-completions/_notara2inkvale" || fail "zsh: syntax"

[ "$failures" -eq 0 ] && echo "Completions OK"
