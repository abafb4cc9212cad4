# Sourced by the scripts that watch the dock simulator's processes; found by
# their command lines and parent ids in /proc, independent of what the
# simulator says of itself. Read with shell builtins: a process started for
# every entry of /proc takes minutes on a busy machine.

# running PID: the process exists and is not a zombie.
running() {
    local stat
    read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
    stat=${stat##*) }
    [[ ${stat%% *} != Z ]]
}

# simulator_pids ROOT: the running simulators serving the machine folder ROOT.
simulator_pids() {
    local dir command words
    for dir in /proc/[0-9]*; do
        mapfile -d '' -t words 2>/dev/null <"$dir/cmdline" || continue
        command="${words[*]} "
        [[ $command == *"/velmo-dock-simulator --root $1 " ]] && running "${dir#/proc/}" && echo "${dir#/proc/}"
    done
    return 0
}

# children PID: the running processes whose parent is PID.
children() {
    local dir stat state parent
    for dir in /proc/[0-9]*; do
        read -r stat 2>/dev/null <"$dir/stat" || continue
        read -r state parent _ <<<"${stat##*) }"
        [[ $parent == "$1" && $state != Z ]] && echo "${dir#/proc/}"
    done
    return 0
}

# publishing PID: the simulator PID has started its publishers (the address
# and a service's), left in the array `publishers`.
publishing() {
    publishers=($(children "$1"))
    ((${#publishers[@]} >= 2))
}

# settles SECONDS COMMAND...: polls every 0.1 s until the command succeeds.
settles() {
    local until=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < until)) || return 1
        sleep 0.1
    done
}
