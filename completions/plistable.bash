# bash completion for plistable and plistable-gui
_plistable()
{
    local cur prev words cword
    _init_completion || return

    local commands="convert config detect-encoding read write"
    local command="" ended="" i
    for ((i = 1; i < cword; i++)); do
        if [[ -n $command ]]; then
            # "--" ends the options wherever it stands: after it, a word beginning with - is a file too.
            [[ ${words[i]} == -- ]] && { ended=1; break; }
        else
            case "${words[i]}" in
                convert|config|detect-encoding|read|write) command="${words[i]}" ;;
            esac
        fi
    done

    if [[ -n $ended ]]; then
        case "$command" in
            convert) _filedir '@(csv|plist)' ;;
            detect-encoding|read) _filedir csv ;;
            write) _filedir json ;;
            config) COMPREPLY=($(compgen -W "header on off" -- "$cur")) ;;
        esac
        return
    fi

    case "$prev" in
        -o|--output-dir) _filedir -d; return ;;
        -O|--output) _filedir; return ;;
        --from) COMPREPLY=($(compgen -W "csv plist" -- "$cur")); return ;;
        -d) COMPREPLY=($(compgen -W "comma semicolon tab pipe" -- "$cur")); return ;;
        --output-encoding) COMPREPLY=($(compgen -W "utf-8 cp932 shift_jis windows-1252 latin1 utf-16le utf-16be" -- "$cur")); return ;;
        --encoding) COMPREPLY=($(compgen -W "utf-8 shift_jis cp932 euc-jp iso-2022-jp macintosh windows-1252" -- "$cur")); return ;;
        --delimiter) COMPREPLY=($(compgen -W "comma semicolon tab pipe , ; |" -- "$cur")); return ;;
        --to) COMPREPLY=($(compgen -W "xml binary json" -- "$cur")); return ;;
        --keyed) return ;;
    esac

    case "$command" in
        "") COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur")) ;;
        convert)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "-o --output-dir -O --output --from -d --delimiter --excel --crlf --bom --output-encoding -n --no-clobber -q --quiet -j --jobs --header --no-header --encoding --types --keyed --all-keys --dedupe-keys --to --help --" -- "$cur"))
            else
                _filedir '@(csv|plist)'
            fi ;;
        config)
            COMPREPLY=($(compgen -W "header on off --help" -- "$cur")) ;;
        detect-encoding)
            if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W "--help --" -- "$cur")); else _filedir csv; fi ;;
        read)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--escapes --sanitize --comments --delimiter --encoding --events --help --" -- "$cur"))
            else
                _filedir csv
            fi ;;
        write)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "-d --delimiter --excel --crlf --bom --output-encoding --help --" -- "$cur"))
            else
                _filedir json
            fi ;;
    esac
}
complete -F _plistable plistable

_plistable_gui()
{
    local cur prev words cword
    _init_completion || return
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--help --version" -- "$cur"))
    else
        _filedir '@(csv|plist)'
    fi
}
complete -F _plistable_gui plistable-gui
