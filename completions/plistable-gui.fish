# fish completion for plistable-gui
complete -c plistable-gui -s h -l help -d 'Print usage'
complete -c plistable-gui -s v -l version -d 'Print the version'
complete -c plistable-gui -k -a '(__fish_complete_suffix .csv; __fish_complete_suffix .plist)'
