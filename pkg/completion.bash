# Bash completion for zorbin (also as Zorbin), kelvash and orvane. Plain bash: it needs nothing
# from the bash-completion package, which loads it by command name from its completions/.

# File names starting with $1; readline marks directories and quotes what needs it.
_fwkit_files()
{
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$1")
}

# zorbin's option words in the order of its help (the options, then the formats), then
# those the help does not list; the CRC kinds; and _fwkit_zorbin_args, the words each option
# takes after it. The build writes them in place of the next line, from zorbin's own tables
# (pkg/completion_words.cpp).
# zorbin's tables

# zorbin matches option words whole and without regard to case. A word is offered when the
# typed part matches its start in any case; the typed part is kept as typed and the rest is
# written in capitals when the typed letters are all capitals (-MO: -MOSTECH -MOTOROLA32),
# in small letters otherwise (-mo, -Mo: -mostech, -Mostech). Any other word is a file name,
# except the words an option takes: nothing is offered for a number, the kinds for -crc. A
# last number that may be left out (-split's width) is one when its word begins with a digit
# or &, as zorbin takes it; while it is typed, options and files are offered as anywhere.
_zorbin()
{
    local cur=${COMP_WORDS[COMP_CWORD]} typed w rest i n
    local -a args
    COMPREPLY=()
    for ((i = 1; i < COMP_CWORD; i++)); do
        read -r -a args <<< "$(_fwkit_zorbin_args "${COMP_WORDS[i]}")"
        n=${#args[@]}
        if ((n > 0)) && [[ ${args[n - 1]} == m ]]; then
            w=${COMP_WORDS[i + n]}
            ((i + n < COMP_CWORD)) && [[ $w == [0-9\&]* ]] || unset 'args[n - 1]'
        fi
        if ((i + ${#args[@]} >= COMP_CWORD)); then
            case ${args[COMP_CWORD - i - 1]} in
                f) _fwkit_files "$cur" ;;
                k) mapfile -t COMPREPLY < <(compgen -W "${_fwkit_zorbin_crc_kinds[*]}" -- "$cur") ;;
            esac
            return 0
        fi
        ((i += ${#args[@]}))
    done
    if [[ $cur != -* ]]; then
        _fwkit_files "$cur"
        return 0
    fi
    typed=${cur#-}
    for w in "${_fwkit_zorbin_words[@]}"; do
        [[ $w == "${typed,,}"* ]] || continue
        rest=${w:${#typed}}
        [[ $typed == *[A-Z]* && $typed != *[a-z]* ]] && rest=${rest^^}
        COMPREPLY+=("-$typed$rest")
    done
    return 0
}

# kelvash reads its options as getopt does: a letter that takes an argument and ends its word
# takes the next word, whatever it looks like (-p -d: -d is the priority), and -- ends the
# options. Files follow -d and -o and stand where no option is typed; the other arguments are
# numbers, a name or flag letters, for which nothing is offered.
_kelvash()
{
    local cur=${COMP_WORDS[COMP_CWORD]} takes= ended= w i
    COMPREPLY=()
    for ((i = 1; i < COMP_CWORD; i++)); do
        w=${COMP_WORDS[i]}
        if [[ -n $takes ]]; then
            takes=
        elif [[ -z $ended && $w == -- ]]; then
            ended=1
        elif [[ -z $ended && $w =~ ^-[arv]*([cdelmnopsu])$ ]]; then
            takes=${BASH_REMATCH[1]}
        fi
    done
    case $takes in
    d | o) _fwkit_files "$cur" ;;
    ?) ;;
    *)
        if [[ -z $ended && $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W '-a -r -l -v -d -n -p -c -m -e -s -u -o' -- "$cur")
        else
            _fwkit_files "$cur"
        fi
        ;;
    esac
    return 0
}

# orvane takes exactly a directory, the list file and the type word. The directory text is put
# before each source name verbatim, so it must end in a slash: readline adds one to a directory.
_orvane()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    case $COMP_CWORD in
    1)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        ;;
    2) _fwkit_files "$cur" ;;
    3) mapfile -t COMPREPLY < <(compgen -W '32l 32b 16l 16b' -- "$cur") ;;
    esac
    return 0
}

complete -F _zorbin zorbin Zorbin
complete -F _kelvash kelvash
complete -F _orvane orvane
