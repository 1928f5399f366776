# fish completion for vistrel
#
# The command word is the first word that does not begin with "--", as
# vistrel itself reads it. Device ids, source names and control names come
# from the running app; when it does not answer, they complete to nothing.

# The command word typed so far, or nothing.
function __vistrel_command
    for word in (commandline -opc)[2..-1]
        if not string match -q -- '--*' $word
            echo $word
            return
        end
    end
end

# True when the command word is one of ARGS (the empty text for none yet).
function __vistrel_command_is
    contains -- "$(__vistrel_command)" $argv
end

# How many operands follow the command word.
function __vistrel_operands
    set -l words (commandline -opc)[2..-1]
    set -l count (count (string match -v -- '--*' $words))
    math "max(0, $count - 1)"
end

# Values of KEY in the app's pretty JSON answer to vistrel ARGS...
function __vistrel_query -a key
    set -l port (commandline -opc | string match -- '--port=*')[-1]
    set -l words (commandline -opc)
    set -l at (contains -i -- --port $words)
    and set port --port=$words[(math $at + 1)]
    timeout 2 vistrel $argv[2..-1] $port --json 2>/dev/null |
        string replace -rf '^ *"'$key'": "(.*)",?$' '$1'
end

function __vistrel_device_option
    set -l device (commandline -opc | string match -- '--device=*')[-1]
    set -l words (commandline -opc)
    set -l at (contains -i -- --device $words)
    and set device --device=$words[(math $at + 1)]
    echo $device
end

complete -c vistrel -f

complete -c vistrel -n '__vistrel_command_is ""' -a snap -d 'take a photo (default: vistrel.jpg)'
complete -c vistrel -n '__vistrel_command_is ""' -a look -d 'focus, then snap — the one-shot for agents'
complete -c vistrel -n '__vistrel_command_is ""' -a focus -d 'sweep the lens, lock the sharpest'
complete -c vistrel -n '__vistrel_command_is ""' -a screenshot -d 'capture the whole screen (default: screen.jpg)'
complete -c vistrel -n '__vistrel_command_is ""' -a record -d 'record the screen (default 5s, webm)'
complete -c vistrel -n '__vistrel_command_is ""' -a devices -d 'every eye: cameras, the screen, phones'
complete -c vistrel -n '__vistrel_command_is ""' -a controls -d 'every knob, with its range'
complete -c vistrel -n '__vistrel_command_is ""' -a set -d 'set one control (focus, zoom, exposure …)'
complete -c vistrel -n '__vistrel_command_is ""' -a add-source -d 'register a phone / IP camera'
complete -c vistrel -n '__vistrel_command_is ""' -a sources -d 'list registered phone / IP cameras'
complete -c vistrel -n '__vistrel_command_is ""' -a forget-source -d 'remove one'
complete -c vistrel -n '__vistrel_command_is ""' -a status -d 'is the app running, and what is it set to'
complete -c vistrel -n '__vistrel_command_is ""' -a help -d 'print the usage text'

# The options each command reads; before a command word, every option.
complete -c vistrel -n 'not __vistrel_command_is help -h' -l port -x -d "the app's port (default 7777, or VISTREL_PORT)"
complete -c vistrel -n 'not __vistrel_command_is help -h' -l json -d 'machine-readable output'
complete -c vistrel -n '__vistrel_command_is "" snap look focus controls set' -l device -x \
    -a '(__vistrel_query id devices)' -d 'which eye (a camera id, `screen`, or `net:<name>`)'
complete -c vistrel -n '__vistrel_command_is "" snap look screenshot record' -l out -r -F \
    -d 'where to write the image or video'
complete -c vistrel -n '__vistrel_command_is "" snap look screenshot' -l size -x -d 'capture size, e.g. --size 1280x720'
complete -c vistrel -n '__vistrel_command_is "" record' -l secs -x -d 'recording length for `record` (max 120)'
complete -c vistrel -n '__vistrel_command_is "" record' -l format -x -a 'webm mp4' \
    -d 'recording container: webm (default) or mp4'

# Operands that the app knows.
complete -c vistrel -n '__vistrel_command_is forget-source; and test (__vistrel_operands) -eq 0' \
    -a '(__vistrel_query name sources)'
complete -c vistrel -n '__vistrel_command_is set; and test (__vistrel_operands) -eq 0' \
    -a '(__vistrel_query name controls (__vistrel_device_option))'
