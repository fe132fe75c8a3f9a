# A crash sweep: an operation killed at each of its steps in turn (a command
# about to run, a rename over a target, an xattr write: TW_CRASH_AT_STEP of the
# real backend), then run once more, must reach the end state of a run that was
# never interrupted, or fail with a message that says what is left.
#
#   source "$TW_SOURCE_DIR/tests/integration/lib/crash_sweep.sh"
#   n=$(crash_sweep_steps run_op)       # steps of an uninterrupted run
#   crash_sweep "$n" reset_state run_op check_state
#
# reset_state K puts the machine copy back in the start state; run_op runs the
# operation (its exit status is ignored when killed); check_state K RC judges
# the state after the rerun, whose exit status is RC, and returns non-zero on a
# bad end state. The sweep stops at the first bad k and says which.

# Prints how many steps run_op takes when nothing kills it.
crash_sweep_steps() {
    local trace
    trace=$(mktemp /tmp/tw_crash_trace.XXXXXX)
    TW_CRASH_TRACE=$trace "$@" >/dev/null 2>&1 || true
    wc -l <"$trace"
    rm -f "$trace"
}

#   crash_sweep "$n" reset_state run_op check_state FIRST STRIDE
# sweeps only k = FIRST, FIRST+STRIDE, ... (so that workers with machine copies
# of their own can share the kill points).
crash_sweep() {
    local steps=$1 reset=$2 run=$3 check=$4 first=${5:-1} stride=${6:-1} k rc
    for ((k = first; k <= steps; k += stride)); do
        "$reset" "$k"
        TW_CRASH_AT_STEP=$k "$run" >/dev/null 2>&1 || true
        rc=0
        "$run" >"/tmp/tw_crash_rerun.$k" 2>&1 || rc=$?
        if ! "$check" "$k" "$rc"; then
            echo "crash sweep: bad end state after a kill at step $k of $steps (rerun exit $rc):" >&2
            cat "/tmp/tw_crash_rerun.$k" >&2
            rm -f "/tmp/tw_crash_rerun.$k"
            return 1
        fi
        rm -f "/tmp/tw_crash_rerun.$k"
    done
    echo "crash sweep: $steps kill points, every rerun reached a good end state"
}
