#!/usr/bin/env bash
# The shell completions installed under ROOT, against a running vistrel-app on
# VISTREL_PORT, with ROOT's vistrel first on PATH:
#   bash  _vistrel, called as bash calls it (COMP_WORDS, COMP_CWORD, COMP_LINE)
#   zsh   _vistrel, with the completion system's builtins replaced by recorders
#   fish  `complete -C`
#
#   completion-test.sh ROOT
set -uo pipefail
root=$1
failures=0

# CASE EXPECTED ACTUAL: candidates one a line, in any order.
check() {
    if [ "$(sort <<< "$2")" != "$(sort <<< "$3")" ]; then
        echo "FAIL: $1" >&2
        diff <(sort <<< "$2") <(sort <<< "$3") | sed 's/^/    /' >&2
        failures=$((failures + 1))
    fi
}
lines() { printf '%s\n' "$@"; }

commands=$(vistrel help | sed -n 's/^  vistrel \([a-z-]*\).*/\1/p' | sort -u; echo help)
[ "$(wc -l <<< "$commands")" -eq 13 ] || echo "FAIL: the usage text lists $(wc -l <<< "$commands") commands" >&2

# A network camera, so that there are a device id with a colon and a source name.
vistrel forget-source phone > /dev/null 2>&1
vistrel add-source phone http://192.0.2.1/shot.jpg > /dev/null || echo "FAIL: add-source" >&2
controls=$(vistrel controls 2> /dev/null | awk '{print $1}')

# ---- bash
bash_candidates() {  # LINE: the words split as readline splits them
    (
        source /usr/share/bash-completion/bash_completion
        source "$root/usr/share/bash-completion/completions/vistrel"
        local line=$1 word="" c i
        COMP_WORDS=()
        for ((i = 0; i < ${#line}; i++)); do
            c=${line:i:1}
            if [[ $c == " " ]]; then
                [ -z "$word" ] || COMP_WORDS+=("$word")
                word=""
            elif [[ $COMP_WORDBREAKS == *"$c"* ]]; then
                [ -z "$word" ] || COMP_WORDS+=("$word")
                COMP_WORDS+=("$c")
                word=""
            else
                word+=$c
            fi
        done
        if [ -n "$word" ] || [[ $line == *" " ]]; then COMP_WORDS+=("$word"); fi
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE=$line
        COMP_POINT=${#line}
        COMPREPLY=()
        _vistrel vistrel "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}"
    )
}

check "bash: vistrel " "$commands" "$(bash_candidates 'vistrel ')"
check "bash: vistrel s" "$(grep '^s' <<< "$commands")" "$(bash_candidates 'vistrel s')"
check "bash: vistrel --json " "$commands" "$(bash_candidates 'vistrel --json ')"
check "bash: record --format " "$(lines webm mp4)" "$(bash_candidates 'vistrel record --format ')"
check "bash: record --format=m" "mp4" "$(bash_candidates 'vistrel record --format=m')"
check "bash: record --" "$(lines --secs --format --out --json --port)" "$(bash_candidates 'vistrel record --')"
check "bash: screenshot --" "$(lines --size --out --json --port)" "$(bash_candidates 'vistrel --json screenshot --')"
check "bash: status --" "$(lines --json --port)" "$(bash_candidates 'vistrel status --')"
check "bash: help --" "" "$(bash_candidates 'vistrel help --')"
check "bash: --port value" "" "$(bash_candidates 'vistrel status --port ')"
check "bash: snap --device net:" "phone" "$(bash_candidates 'vistrel snap --device net:')"
check "bash: snap --device=net:p" "phone" "$(bash_candidates 'vistrel snap --device=net:p')"
grep -qx 'net:phone' <<< "$(bash_candidates 'vistrel snap --device ')" ||
    check "bash: snap --device lists net:phone" "net:phone" "$(bash_candidates 'vistrel snap --device ')"
check "bash: forget-source " "phone" "$(bash_candidates 'vistrel forget-source ')"
check "bash: forget-source phone " "" "$(bash_candidates 'vistrel forget-source phone ')"
check "bash: set " "$controls" "$(bash_candidates 'vistrel set ')"
check "bash: no app answers" "" "$(VISTREL_PORT=1 bash_candidates 'vistrel snap --device ')"
check "bash: no app, --port on the line" "" "$(bash_candidates 'vistrel snap --port=1 --device ')"

# ---- zsh
zsh_candidates() {  # WORDS...: the last one is being completed
    zsh -f -c '
        compadd() { while [[ $1 == -* ]]; do [[ $1 == -a ]] && { print -l -- ${(P)2}; return; }; shift; done; print -l -- $@; }
        _describe() { print -l -- ${${(P)4}%%:*}; }
        _files() { print "(files)"; }
        _message() { }
        compset() { [[ $1 == -P ]] && PREFIX=${PREFIX#*=}; }
        fpath=($1 $fpath); shift
        autoload -Uz _vistrel
        words=($@); CURRENT=$#; PREFIX=$words[-1]
        _vistrel
    ' zsh "$root/usr/share/zsh/vendor-completions" "$@" | sed '/^$/d'
}
check "zsh: vistrel " "$commands" "$(zsh_candidates vistrel '')"
check "zsh: record --format " "$(lines webm mp4)" "$(zsh_candidates vistrel record --format '')"
check "zsh: record --format=" "$(lines webm mp4)" "$(zsh_candidates vistrel record --format=)"
check "zsh: record --" "$(lines --secs --format --out --json --port)" "$(zsh_candidates vistrel record --)"
check "zsh: snap --out " "(files)" "$(zsh_candidates vistrel snap --out '')"
grep -qx 'net:phone' <<< "$(zsh_candidates vistrel snap --device '')" ||
    check "zsh: snap --device lists net:phone" "net:phone" "$(zsh_candidates vistrel snap --device '')"
check "zsh: forget-source " "phone" "$(zsh_candidates vistrel forget-source '')"
check "zsh: set " "$controls" "$(zsh_candidates vistrel set '')"
check "zsh: no app answers" "" "$(VISTREL_PORT=1 zsh_candidates vistrel snap --device '')"

# ---- fish
fish_candidates() {  # LINE
    fish --no-config -c 'source $argv[1]; complete -C $argv[2]' \
        "$root/usr/share/fish/vendor_completions.d/vistrel.fish" "$1" | cut -f1
}
check "fish: vistrel " "$commands" "$(fish_candidates 'vistrel ')"
check "fish: record --format " "$(lines webm mp4)" "$(fish_candidates 'vistrel record --format ')"
check "fish: record --" "$(lines --secs --format --out --json --port)" "$(fish_candidates 'vistrel record --')"
grep -qx 'net:phone' <<< "$(fish_candidates 'vistrel snap --device ')" ||
    check "fish: snap --device lists net:phone" "net:phone" "$(fish_candidates 'vistrel snap --device ')"
check "fish: forget-source " "phone" "$(fish_candidates 'vistrel forget-source ')"
check "fish: set " "$controls" "$(fish_candidates 'vistrel set ')"
check "fish: no app answers" "" "$(VISTREL_PORT=1 fish_candidates 'vistrel snap --device ')"

vistrel forget-source phone > /dev/null
[ "$failures" -eq 0 ] || exit 1
