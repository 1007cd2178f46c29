# driver_common.bash - sourced by the driver_*.sh tests (not a test of
# its own). They run inside scripts/wine-session: WINEPREFIX and KX_BIN
# are set and the virtual reader driver is running.
set -u
failures=0

vreader() { wine "$KX_BIN/vreader.exe" "$@"; }
probe() { (cd "$KX_BIN" && wine driver_probe.exe "$@"); }

# expect WHAT ACTUAL EXPECTED: exact comparison, both shown on failure.
expect() {
    if [ "$2" == "$3" ]; then
        echo "ok   $1"
    else
        echo "FAIL $1"
        echo "$2" | sed 's/^/       got:  /'
        echo "$3" | sed 's/^/       want: /'
        failures=$((failures + 1))
    fi
}

# expect_status WHAT STATUS EXPECTED
expect_status() { expect "$1 (exit status)" "$2" "$3"; }

# hex32 TEXT: the 32-byte area a setter sends for TEXT, in hex.
hex32() {
    local hex
    hex=$(printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n')
    while [ ${#hex} -lt 64 ]; do hex="${hex}00"; done
    echo "$hex"
}

# The readers a test attached go again when it ends, however it ends.
cleanup_indices=()
cleanup() {
    local i
    for i in "${cleanup_indices[@]}"; do vreader detach "$i" >/dev/null 2>&1; done
}
trap cleanup EXIT

# fresh_reader INDEX OPTIONS...: a reader described by the options alone.
fresh_reader() {
    local index="$1"; shift
    cleanup_indices+=("$index")
    vreader attach "$index" --replace "$@" >/dev/null
}

finish() {
    if [ "$failures" != 0 ]; then
        echo "$(basename "$0"): $failures failed"
        exit 1
    fi
    echo "$(basename "$0"): passed"
    exit 0
}
