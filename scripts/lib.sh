# Shell functions shared by the scripts and the install test; source it.

# sim_start EXE LOG [OPTION...]
# Starts the simulator EXE in the background with --no-stdin and the OPTIONs,
# its standard error in LOG, and waits up to 30 s for the terminal path it
# prints first. Sets SIM_PID and SIM_PTY. When it does not come up, prints the
# log and returns 1.
sim_start() {
    local exe=$1 log=$2
    shift 2
    exec {SIM_OUT}< <(exec "$exe" --no-stdin "$@" 2>"$log")
    SIM_PID=$!
    if ! IFS= read -r -t 30 -u "$SIM_OUT" SIM_PTY || [[ $SIM_PTY != /* ]]; then
        cat "$log" >&2
        echo "The simulator did not start." >&2
        return 1
    fi
}

# sim_stop
# Stops the simulator that sim_start started (a clean stop: it removes its
# link) and waits up to 10 s for it to close its output, i.e. to exit.
sim_stop() {
    [[ -n ${SIM_PID:-} ]] || return 0
    kill "$SIM_PID" 2>/dev/null || true
    while IFS= read -r -t 10 -u "$SIM_OUT" _; do :; done
    exec {SIM_OUT}<&-
    SIM_PID=
}

# header_help FILE
# Prints the comment block at the top of the script FILE, below its #! line,
# without the comment marks: the script's --help.
header_help() {
    awk 'NR == 1 { next } /^#/ { sub(/^# ?/, ""); print; next } { exit }' "$1"
}
