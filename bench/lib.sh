# Sourced by the whole-process benchmarks (run.sh, batch.sh, python.sh): failing
# with the script's name, a clock that starts no process, and a throwaway fill of
# memory before each timed run, so that each meets the memory as a user's would.

# fail MESSAGE: says it on stderr under the script's name and stops.
fail() {
    echo "bench/$(basename "$0"): $*" >&2
    exit 1
}

# The clock, in microseconds, into the variable named $1 (no process started).
clock_us() {
    printf -v "$1" '%s' "${EPOCHREALTIME//[!0-9]/}"
}

# What the program before leaves behind: a throwaway process (dd with one buffer
# of DIRTY_MIB MiB, 512 unless set; 0: none) fills that much fresh memory and
# exits, so that the caches hold its data and the next process is handed pages
# another one has just given back.
dirty_mib=${DIRTY_MIB:-512}
dirty_memory() {
    ((dirty_mib > 0)) || return 0
    dd if=/dev/zero of=/dev/null bs="${dirty_mib}M" count=1 iflag=fullblock status=none ||
        fail "could not fill $dirty_mib MiB of memory (DIRTY_MIB)"
}
