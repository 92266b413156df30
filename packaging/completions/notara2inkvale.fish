# SPDX-License-Identifier: MIT
# fish completion for notara2inkvale: the one argument is a Notara export folder or zip.
complete -c notara2inkvale -f -a '(__fish_complete_directories (commandline -ct)) (string match -rie -- "\.zip\t" (__fish_complete_path (commandline -ct)))'
complete -c notara2inkvale -s h -l help -d 'Show the help and exit'
complete -c notara2inkvale -s V -l version -d 'Show the version and exit'
