# SPDX-License-Identifier: MIT
# fish completion for notara2inkvale-cli: the export argument is a folder or a zip; -o a folder.
complete -c notara2inkvale-cli -f -a '(__fish_complete_directories (commandline -ct)) (string match -rie -- "\.zip\t" (__fish_complete_path (commandline -ct)))'
complete -c notara2inkvale-cli -s o -l output -x -a '(__fish_complete_directories)' -d 'Put "Notara Export" into DIR'
complete -c notara2inkvale-cli -s n -l dry-run -d 'List the sheets that would be written; write nothing'
complete -c notara2inkvale-cli -s q -l quiet -d 'No progress and no summary'
complete -c notara2inkvale-cli -l report -r -F -d 'Write a JSON report of the run to FILE'
complete -c notara2inkvale-cli -l strict -d 'Fail with status 4 when the run gives warnings'
complete -c notara2inkvale-cli -l date-locale -x -d 'Read dates in this ICU locale'
complete -c notara2inkvale-cli -l portable-names -d 'Give names every disk takes'
complete -c notara2inkvale-cli -l keep-going -d 'Leave out notes that can\'t be read'
complete -c notara2inkvale-cli -l fallback-encoding -x -d 'Read notes that aren\'t UTF-8 in this encoding'
complete -c notara2inkvale-cli -s h -l help -d 'Show the help and exit'
complete -c notara2inkvale-cli -s V -l version -d 'Show the version and exit'
