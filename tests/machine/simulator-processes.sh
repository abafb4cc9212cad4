# Sourced by the scripts that watch the dock simulator's processes; found by
# their command lines and parent ids in /proc, independent of what the
# simulator says of itself.

# running PID: the process exists and is not a zombie.
running() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [[ ${stat%% *} != Z ]]
}

# simulator_pids ROOT: the running simulators serving the machine folder ROOT.
simulator_pids() {
    local dir command
    for dir in /proc/[0-9]*; do
        command=$(tr "\0" " " 2>/dev/null <"$dir/cmdline") || continue
        [[ $command == *"/velmo-dock-simulator --root $1 " ]] && running "${dir#/proc/}" && echo "${dir#/proc/}"
    done
    return 0
}

# children PID: the running processes whose parent is PID.
children() {
    local dir stat state parent
    for dir in /proc/[0-9]*; do
        stat=$(cat "$dir/stat" 2>/dev/null) || continue
        read -r state parent _ <<<"${stat##*) }"
        [[ $parent == "$1" && $state != Z ]] && echo "${dir#/proc/}"
    done
    return 0
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
