# bash completion for gridctl: global options, subcommands and their options; file names elsewhere.
_gridctl() {
    local cur=${COMP_WORDS[COMP_CWORD]} sub="" i
    local commands="ls stat df mkdir rm cp mv put get cat tempname policy settings drill event-source"
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ " $commands " == *" ${COMP_WORDS[i]} "* ]]; then
            sub=${COMP_WORDS[i]}
            break
        fi
    done
    local words
    case $sub in
        "") words="$commands --help --version --plugin --json --log -v --verbose -q --quiet --settings --node-local
                   --node-local-keys --retries --retry-wait --no-retry --time-scale" ;;
        mkdir) words="-p --parents" ;;
        rm) words="-r --recursive --dry-run" ;;
        cp) words="-n --no-clobber --partial" ;;
        mv) words="-f --replace --partial" ;;
        put | get) words="-r --recursive --partial" ;;
        tempname) words="--prefix" ;;
        settings) words="list get set unset reference --side" ;;
        drill) words="--size --chunk --fault-rate --seed --codes --keep" ;;
        event-source) words="install uninstall status --message-file" ;;
    esac
    COMPREPLY=($(compgen -W "$words --help" -- "$cur"))
}
complete -o default -F _gridctl gridctl
