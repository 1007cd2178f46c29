#!/bin/bash
# The button notification through the driver: the named event that the
# library's monitor registers is woken by presses (from the control device
# and from vreader) and by REQ_BUTTON_STOP.
. "$(dirname "$0")/driver_common.bash"
fresh_reader 3 --model 4
(cd "$KX_BIN" && wine driver_button.exe 3) || failures=$((failures + 1))
finish
