# bash completion for plistable and plistable-gui
_plistable()
{
    local cur prev words cword
    _init_completion || return

    local commands="convert config detect-encoding read write strings"
    local command="" sub="" ended="" i
    for ((i = 1; i < cword; i++)); do
        if [[ $command == strings && -z $sub ]]; then
            case "${words[i]}" in export|import|check) sub="${words[i]}" ;; esac
        elif [[ -n $command ]]; then
            # "--" ends the options wherever it stands: after it, a word beginning with - is a file too.
            [[ ${words[i]} == -- ]] && { ended=1; break; }
        else
            case "${words[i]}" in
                convert|config|detect-encoding|read|write|strings) command="${words[i]}" ;;
            esac
        fi
    done

    if [[ -n $ended ]]; then
        case "$command" in
            convert) _filedir '@(csv|plist)' ;;
            detect-encoding|read) _filedir csv ;;
            write) _filedir json ;;
            strings) [[ $sub == import ]] && _filedir csv || _filedir ;;
            config) COMPREPLY=($(compgen -W "header on off" -- "$cur")) ;;
        esac
        return
    fi

    if [[ $command == strings ]]; then
        case "$prev" in
            -o|--output-dir) [[ $sub == export ]] && _filedir csv || _filedir -d; return ;;
            --output-encoding)
                if [[ $sub == import ]]; then
                    COMPREPLY=($(compgen -W "utf-8 utf-16 utf-16le utf-16be" -- "$cur"))
                else
                    COMPREPLY=($(compgen -W "utf-8 cp932 shift_jis windows-1252 utf-16le utf-16be" -- "$cur"))
                fi
                return ;;
            --to) COMPREPLY=($(compgen -W "xcstrings" -- "$cur")); return ;;
            --base) return ;;
        esac
    fi

    case "$prev" in
        -o|--output-dir) _filedir -d; return ;;
        -O|--output) _filedir; return ;;
        --from) COMPREPLY=($(compgen -W "csv plist" -- "$cur")); return ;;
        --to) COMPREPLY=($(compgen -W "xml binary json openstep strings" -- "$cur")); return ;;
        --select) return ;;
        -d) COMPREPLY=($(compgen -W "comma semicolon tab pipe" -- "$cur")); return ;;
        --output-encoding) COMPREPLY=($(compgen -W "utf-8 cp932 shift_jis windows-1252 latin1 utf-16 utf-16le utf-16be" -- "$cur")); return ;;
        --encoding) COMPREPLY=($(compgen -W "utf-8 shift_jis cp932 euc-jp iso-2022-jp macintosh windows-1252" -- "$cur")); return ;;
        --delimiter) COMPREPLY=($(compgen -W "comma semicolon tab pipe , ; |" -- "$cur")); return ;;
        --to) COMPREPLY=($(compgen -W "xml binary json" -- "$cur")); return ;;
        --keyed) return ;;
    esac

    case "$command" in
        "") COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur")) ;;
        convert)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "-o --output-dir -O --output --from -d --delimiter --excel --crlf --bom --output-encoding -n --no-clobber -q --quiet -j --jobs --header --no-header --encoding --types --keyed --all-keys --select --dedupe-keys --to --help --" -- "$cur"))
            else
                _filedir '@(csv|plist|strings)'
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
        strings)
            case "$sub" in
                "") COMPREPLY=($(compgen -W "export import check --help" -- "$cur")) ;;
                export)
                    if [[ $cur == -* ]]; then
                        COMPREPLY=($(compgen -W "-o --output --base -d --delimiter --excel --crlf --bom --output-encoding --help --" -- "$cur"))
                    else
                        _filedir
                    fi ;;
                import)
                    if [[ $cur == -* ]]; then
                        COMPREPLY=($(compgen -W "-o --output-dir -d --delimiter --excel --encoding --output-encoding --to -n --no-clobber -q --quiet --help --" -- "$cur"))
                    else
                        _filedir csv
                    fi ;;
                check)
                    if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W "--base --help --" -- "$cur")); else _filedir; fi ;;
            esac ;;
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
