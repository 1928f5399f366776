# bash completion for vistrel
#
# The command word is the first word that does not begin with "--", as
# vistrel itself reads it. Device ids, source names and control names come
# from the running app; when it does not answer, they complete to nothing.

# The options that each command reads.
_vistrel_options() {  # COMMAND
    case $1 in
        snap | look) echo --device --size --out --json --port ;;
        screenshot) echo --size --out --json --port ;;
        record) echo --secs --format --out --json --port ;;
        focus | controls | set) echo --device --json --port ;;
        status | devices | sources | add-source | forget-source) echo --json --port ;;
        help | -h) ;;
        *) echo --device --out --secs --format --size --json --port ;;
    esac
}

# Values of KEY in the app's pretty JSON answer to vistrel ARGS..., one a line.
_vistrel_query() {  # KEY ARGS...
    local key=$1
    shift
    local port=() i
    for ((i = 1; i < ${#words[@]}; i++)); do
        case ${words[i]} in
            --port=*) port=("${words[i]}") ;;
            --port) port=("--port=${words[i + 1]}") ;;
        esac
    done
    timeout 2 vistrel "$@" "${port[@]}" --json 2> /dev/null |
        sed -n 's/^ *"'"$key"'": "\(.*\)",\{0,1\}$/\1/p'
}

_vistrel() {
    local cur prev words cword split
    _init_completion -s -n : || return

    local command="" i
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} != --* ]]; then
            command=${words[i]}
            break
        fi
    done

    case $prev in
        --device)
            local IFS=$'\n'
            COMPREPLY=($(compgen -W "$(_vistrel_query id devices)" -- "$cur"))
            __ltrim_colon_completions "$cur"
            return
            ;;
        --format)
            COMPREPLY=($(compgen -W "webm mp4" -- "$cur"))
            return
            ;;
        --out)
            _filedir
            return
            ;;
        --secs | --size | --port)
            return
            ;;
    esac
    $split && return

    if [[ $cur == --* ]]; then
        COMPREPLY=($(compgen -W "$(_vistrel_options "$command")" -- "$cur"))
        return
    fi

    # Operands: the words after the command word that are not options.
    local operand=0
    for ((i = i + 1; i < cword; i++)); do
        [[ ${words[i]} != --* ]] && ((operand++))
    done
    local IFS=$'\n'
    case $command in
        "")
            IFS=$' \t\n'
            COMPREPLY=($(compgen -W "snap look focus screenshot record devices controls set
                add-source sources forget-source status help" -- "$cur"))
            ;;
        forget-source)
            ((operand == 0)) && COMPREPLY=($(compgen -W "$(_vistrel_query name sources)" -- "$cur"))
            ;;
        set)
            if ((operand == 0)); then
                local device=()
                for ((i = 1; i < ${#words[@]}; i++)); do
                    case ${words[i]} in
                        --device=*) device=("${words[i]}") ;;
                        --device) device=("--device=${words[i + 1]}") ;;
                    esac
                done
                COMPREPLY=($(compgen -W "$(_vistrel_query name controls "${device[@]}")" -- "$cur"))
            fi
            ;;
    esac
    __ltrim_colon_completions "$cur"
}
complete -F _vistrel vistrel
