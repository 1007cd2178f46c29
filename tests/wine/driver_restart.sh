#!/bin/bash
# The driver stopped and started again in one session: while it is
# stopped no reader opens and vreader says the driver is not running;
# once started again it serves newly attached readers.
. "$(dirname "$0")/driver_common.bash"

running() {  # waits up to 10 s for the control device
    local i
    for i in $(seq 50); do
        vreader list >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    return 1
}

for round in 1 2; do
    fresh_reader 0 --model 5 --serial "ROUND-$round"
    expect "round $round: the reader answers" "$(probe 0 open devtype get-serial)" \
        "$(printf 'open: ok\ndevtype: 5\nget-serial: 1 "ROUND-%s"' "$round")"
    wine sc stop kxvreader >/dev/null 2>&1
    for i in $(seq 50); do vreader list >/dev/null 2>&1 || break; sleep 0.2; done
    expect "round $round: stopped, index 0 answers -1" "$(probe 0 open)" "open: -1"
    out=$(vreader list 2>&1); status=$?
    expect_status "round $round: vreader list with the driver stopped" "$status" 1
    expect "round $round: vreader says the driver is not running" \
        "$(echo "$out" | grep -c 'the virtual reader driver is not running')" 1
    wine sc start kxvreader >/dev/null 2>&1
    running
    expect "round $round: started again, no reader is left over" "$(vreader list)" ""
done
fresh_reader 0 --model 4
expect "after two cycles a new reader answers" "$(probe 0 open devtype)" $'open: ok\ndevtype: 4'
finish
