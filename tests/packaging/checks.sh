# What the packaging scripts share: "ok"/"FAIL" per check, failures counted in $failures.
failures=0
check() {  # check "what" command...
    local what=$1
    shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
holds() { grep -q -- "$2" <<<"$1"; }  # holds TEXT PATTERN
lacks() { ! holds "$@"; }
wait_for() {  # wait_for SECONDS command...: until the command succeeds
    local tenths=$(($1 * 10))
    shift
    until "$@"; do
        tenths=$((tenths - 1))
        [ "$tenths" -gt 0 ] || return 1
        sleep 0.1
    done
}
