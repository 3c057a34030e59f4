# bash completion of morix, the Trelvo Renamer.
# A new option goes into "options"; one that takes a value also gets a
# branch in the case below, with the words it takes.

_morix() {
    local cur prev words cword
    _init_completion -s || return

    case $prev in
        --case)
            COMPREPLY=($(compgen -W 'none upper lower name-upper name-lower ext-upper
                ext-lower first-upper' -- "$cur"))
            return ;;
        --sort)
            COMPREPLY=($(compgen -W 'name ext mtime size none' -- "$cur"))
            return ;;
        --date-source)
            COMPREPLY=($(compgen -W 'modified taken' -- "$cur"))
            return ;;
        -d | --dir)
            _filedir -d
            return ;;
        -t | --template | --start | --step | --ext | --find | --replace | --preset)
            return ;;
    esac

    local word
    for word in "${words[@]:1:cword-1}"; do
        if [[ $word == -- ]]; then
            _filedir
            return
        fi
    done

    if [[ $cur == -* ]]; then
        local options='--preview --rename --recover --undo --undo= --history --install --uninstall --exit --version
            --help -h -t --template --start --step --ext --case --find --replace
            --case-sensitive --regex --no-normalize --sort --descending --date-source --preset
            -d --dir -0 --null
            --check --verbose --'
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi
    _filedir
} &&
    complete -F _morix morix
