# bash completion for vudaduv: its commands, each command's options and their values.
# Installed as share/bash-completion/completions/vudaduv; a test holds every option of every
# command's --help to this file.

_vudaduv_options() {
    case "$1" in
        send)
            echo "--type --target --targets-file --serial --baud --en --file --charset --timeout" \
                 "--retries --accept-changes --verify --report --upload-file --help" ;;
        check | encode) echo "--type --en --charset --file --help" ;;
        decode) echo "--en --charset --help" ;;
        scale) echo "--listen --port --count --reply-delay --en --pty --baud --help" ;;
        demo) echo "--keep --help" ;;
        pull)
            echo "--target --targets-file --out --types --items --en --charset --timeout" \
                 "--retries --help" ;;
        diff) echo "--type --items --en --charset --timeout --retries --help" ;;
        sync)
            echo "--file --type --target --targets-file --state --remove-missing --max-remove" \
                 "--read-back --probe --dry-run --accept-changes --report --failed-targets" \
                 "--plan-out --apply --en --charset --timeout --retries --help" ;;
    esac
}

# The value of --report, FORMAT:FILE: the formats (sync's metrics: too), then the file names
# after the format.
# Readline takes the colon for a word break (COMP_WORDBREAKS), so the word it completes is then
# what follows the colon alone; the word as typed is read from the line up to the cursor.
_vudaduv_report() {
    local typed="${COMP_LINE:0:COMP_POINT}"
    typed="${typed##*[[:space:]]}"
    case "$typed" in
        json:* | html:* | metrics:*)
            local files=()
            mapfile -t files < <(compgen -f -- "${typed#*:}")
            if [[ $COMP_WORDBREAKS == *:* ]]; then
                COMPREPLY=("${files[@]}")
            else
                COMPREPLY=("${files[@]/#/${typed%%:*}:}")
            fi ;;
        *)
            local formats="json: html:"
            [[ ${COMP_WORDS[1]} == sync ]] && formats+=" metrics:"
            mapfile -t COMPREPLY < <(compgen -W "$formats" -- "$typed")
            compopt -o nospace 2>/dev/null || true ;;
    esac
}

_vudaduv() {
    local cur prev commands="send check encode decode pull diff sync scale demo help"
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD - 1]}"
    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
        return
    fi
    local command="${COMP_WORDS[1]}"
    if [[ $command == help ]]; then
        ((COMP_CWORD == 2)) && mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
        return
    fi
    # The word before the one being completed, as typed (a colon splits no word here).
    local before="${COMP_LINE:0:COMP_POINT}"
    before="${before%"${before##*[[:space:]]}"}"
    before="${before%"${before##*[![:space:]]}"}"
    if [[ ${before##*[[:space:]]} == --report ]]; then
        _vudaduv_report
        return
    fi
    case "$prev" in
        --file | --targets-file | --upload-file | --failed-targets | --plan-out | --apply)
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        --out | --state)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return ;;
        --serial)
            mapfile -t COMPREPLY < <(compgen -f -- "${cur:-/dev/tty}")
            return ;;
        --charset)
            mapfile -t COMPREPLY < <(compgen -W "UTF-8 GBK GB18030" -- "$cur")
            return ;;
        --type)
            mapfile -t COMPREPLY < <(compgen -W "1 2 3 4 5 6 7 8 9 10 11 12 13" -- "$cur")
            return ;;
        --baud)
            mapfile -t COMPREPLY < <(compgen -W "1200 2400 4800 9600 19200 38400 57600 115200 230400" -- "$cur")
            return ;;
        --target | --listen | --port | --count | --reply-delay | --timeout | --retries | --types | --items \
            | --max-remove | --probe)
            return ;;
    esac
    if [[ ($command == decode || $command == diff) && $cur != -* ]]; then
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
    fi
    mapfile -t COMPREPLY < <(compgen -W "$(_vudaduv_options "$command")" -- "$cur")
}

complete -F _vudaduv vudaduv
