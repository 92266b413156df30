# SPDX-License-Identifier: MIT
# fish completion for notara2inkvale: the one argument is a Notara export folder.
complete -c notara2inkvale -f -a '(__fish_complete_directories)'
complete -c notara2inkvale -s h -l help -d 'Show the help and exit'
complete -c notara2inkvale -s V -l version -d 'Show the version and exit'
