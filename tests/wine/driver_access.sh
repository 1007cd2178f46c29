#!/bin/bash
# Opening readers through the shipped DLL and the virtual reader driver,
# and the model code the DLL derives from identity byte 0.
. "$(dirname "$0")/driver_common.bash"

fresh_reader 0 --model 4
vreader detach 1 >/dev/null 2>&1
expect "index 0 opens" "$(probe 0 open close)" $'open: ok\nclose: 1'
expect "an index with no reader answers -1" "$(probe 1 open)" "open: -1"
expect "an index past the driver's readers answers -1" "$(probe 99 open)" "open: -1"

# Identity byte 0 -> model code; anything but "3", "4", "5" reads as 3.
for pair in 3:3 4:4 5:5 9:3 A:3; do
    byte=${pair%:*} model=${pair#*:}
    fresh_reader 2 --model "$byte"
    expect "identity byte \"$byte\" gives model $model" "$(probe 2 open devtype)" \
        "$(printf 'open: ok\ndevtype: %s' "$model")"
done

# A new identity written through the DLL counts from the next call on.
fresh_reader 2 --model 3
expect "identity set to \"5\" through the DLL gives model 5" \
    "$(probe 2 open devtype set-telva 5x devtype get-telva)" \
    $'open: ok\ndevtype: 3\nset-telva: 1\ndevtype: 5\nget-telva: 1 "5x"'

# A detached reader's index no longer opens.
vreader detach 2
expect "a detached index answers -1" "$(probe 2 open)" "open: -1"
finish
