#!/bin/bash
# Serial number and user data through the shipped DLL and the driver: the
# round trip, the exact requests in the reader's log, and the result codes
# of failed requests (faults injected with vreader).
. "$(dirname "$0")/driver_common.bash"

fresh_reader 0 --model 4 --serial OLD-SERIAL --userdata "old user data"
vreader log 0 --clear
expect "set and get serial and user data" \
    "$(probe 0 open set-serial TV-2024-0001 set-userdata "bytes of the app" get-serial get-userdata)" \
    $'open: ok\nset-serial: 1\nset-userdata: 1\nget-serial: 1 "TV-2024-0001"\nget-userdata: 1 "bytes of the app"'

# RangeHeader e01f 0000 2000: address 8160, auxiliary 0, length 32; c01f: 8128.
expect "the log shows 32 bytes written at 8160 and 8128 and read back" "$(vreader log 0)" \
"REQ_MEMORY_WRITE in=e01f00002000$(hex32 TV-2024-0001) out=0 ok returned=0
REQ_MEMORY_WRITE in=c01f00002000$(hex32 "bytes of the app") out=0 ok returned=0
REQ_MEMORY_READ in=e01f00002000 out=32 ok returned=32
REQ_MEMORY_READ in=c01f00002000 out=32 ok returned=32"
expect "the reader's memory holds the serial number" "$(vreader memory 0 8160 32)" \
    "$(hex32 TV-2024-0001 | sed -E 's/^(.{32})(.{32})$/1fe0: \1\n1ff0: \2/')"

vreader log 0 --clear
probe 0 open devtype >/dev/null
expect "the model read is the RangeHeader of 7870, length 2" "$(vreader log 0)" \
    "REQ_MEMORY_READ in=be1e00000200 out=2 ok returned=2"

# A failed request: the DLL's code, the caller's buffer untouched, the
# reader's memory unchanged.
for case in "REQ_MEMORY_READ|get-serial|get-serial: -301 untouched" \
            "REQ_MEMORY_READ|get-userdata|get-userdata: -301 untouched" \
            "REQ_MEMORY_READ|get-telva|get-telva: -301 untouched" \
            "REQ_MEMORY_READ|devtype|devtype: 0" \
            "REQ_MEMORY_WRITE|set-serial|set-serial: -302" \
            "REQ_MEMORY_WRITE|set-userdata|set-userdata: -302"; do
    IFS='|' read -r name step want <<<"$case"
    vreader fault 0 "$name"
    args=("$step"); [[ $step == set-* ]] && args+=(LOST)
    expect "$name failing: $step" "$(probe 0 open "${args[@]}")" "open: ok
$want"
    vreader fault 0 --clear
done
expect "failed writes changed nothing" "$(probe 0 open get-serial get-userdata)" \
    $'open: ok\nget-serial: 1 "TV-2024-0001"\nget-userdata: 1 "bytes of the app"'

vreader log 0 --clear
vreader fault 0 REQ_MEMORY_WRITE
probe 0 open set-serial LOST >/dev/null
expect "the log shows the failed write" "$(vreader log 0)" \
    "REQ_MEMORY_WRITE in=e01f00002000$(hex32 LOST) out=0 failed returned=0"
vreader fault 0 --clear

# Only the Nth time: the second read fails, the first and third do not.
vreader fault 0 REQ_MEMORY_READ --nth 2
expect "REQ_MEMORY_READ fails only its 2nd time" "$(probe 0 open get-serial get-serial get-serial)" \
    $'open: ok\nget-serial: 1 "TV-2024-0001"\nget-serial: -301 untouched\nget-serial: 1 "TV-2024-0001"'
vreader fault 0 --clear

# Faults from the description work the same way.
fresh_reader 0 --model 3 --fault REQ_MEMORY_WRITE
expect "a fault in the description" "$(probe 0 open set-userdata x)" $'open: ok\nset-userdata: -302'
finish
