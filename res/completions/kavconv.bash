# bash completion for kavconv(1)                               -*- shell-script -*-

_kavconv()
{
    local cur prev words cword split
    _init_completion -s || return

    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            convert | info | render | thumbnail)
                command=${words[i]}
                break
                ;;
        esac
    done

    case $prev in
        -f | --format)
            COMPREPLY=($(compgen -W 'mzr rle rls' -- "$cur"))
            return
            ;;
        --emit)
            COMPREPLY=($(compgen -W 'binary c both' -- "$cur"))
            return
            ;;
        --dither)
            COMPREPLY=($(compgen -W 'none ordered diffusion' -- "$cur"))
            return
            ;;
        --palette)
            _filedir '@(gpl|pal|act|hex|bmp|dib|png)'
            return
            ;;
        --start | --end | --transparent | --frame | -j | --jobs | --memory-limit | --table | --c-name | --c-prefix | -s | --size)
            return
            ;;
        --output-dir)
            _filedir -d
            return
            ;;
        -o | --output)
            if [[ $command == render ]]; then
                _filedir png
            else
                _filedir
            fi
            return
            ;;
    esac
    $split && return

    local options
    case $command in
        convert)
            options='-f --format --start --end --transparent --no-remapping --alpha-threshold
                --keep-indices --palette --dither --no-reduce --frame -j --jobs
                --memory-limit --fail-fast -q --quiet -o --output --output-dir -u --update --emit --c-name --c-prefix
                --watch -h --help'
            ;;
        info)
            options='--json -h --help'
            ;;
        render)
            options='-o --output --table --sheet -h --help'
            ;;
        thumbnail)
            options='-s --size -h --help'
            ;;
        *)
            COMPREPLY=($(compgen -W 'convert info render thumbnail -h --help --version' -- "$cur"))
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi
    if [[ $command == convert ]]; then
        _filedir '@(bmp|dib|png|gif|ase|aseprite)'
    elif [[ $command == thumbnail ]]; then
        _filedir '@(mzr|rle|png)'
    else
        _filedir '@(mzr|rle)'
    fi
} &&
    complete -F _kavconv kavconv

# ex: filetype=sh
