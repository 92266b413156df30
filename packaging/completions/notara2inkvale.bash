# bash completion for notara2inkvale-cli and notara2inkvale        -*- shell-script -*-
# SPDX-License-Identifier: MIT
# Installed under both names; every argument that isn't an option is a folder,
# or a zipped export.

_notara2inkvale() {
    local cur="${COMP_WORDS[COMP_CWORD]}" prev="" options
    ((COMP_CWORD > 0)) && prev="${COMP_WORDS[COMP_CWORD - 1]}"
    if [[ "$1" == notara2inkvale-cli || "${1##*/}" == notara2inkvale-cli ]]; then
        options="--output --dry-run --quiet --report --strict --keep-going --portable-names --date-locale --fallback-encoding --help --version -o -n -q -h -V"
        case "$prev" in
            -o | --output)
                compopt -o filenames 2>/dev/null
                mapfile -t COMPREPLY < <(compgen -d -- "$cur")
                return
                ;;
            --report)
                compopt -o filenames 2>/dev/null
                mapfile -t COMPREPLY < <(compgen -f -- "$cur")
                return
                ;;
            --date-locale | --fallback-encoding | -h | --help | -V | --version) return ;;
        esac
    else
        options="--help --version -h -V"
    fi
    if [[ "$cur" == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.[zZ][iI][pP]' -- "$cur")
}
complete -F _notara2inkvale notara2inkvale-cli notara2inkvale
