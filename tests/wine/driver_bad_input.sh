#!/bin/bash
# Requests with short buffers or unknown codes, to a reader and to the
# control device: refused, nothing returned, the driver serving on. The
# reader's log keeps the refused requests with their real sizes.
. "$(dirname "$0")/driver_common.bash"
vreader detach 5 >/dev/null 2>&1
(cd "$KX_BIN" && wine driver_bad_input.exe 5) || failures=$((failures + 1))

# The log records a refused request as it arrived.
fresh_reader 5 --model 4
probe 5 open raw REQ_MEMORY_READ c01f000020 32 raw REQ_BUTTON_READ - 3 raw 0x222000 - 0 >/dev/null
expect "refused requests in the log" "$(vreader log 5)" \
"REQ_MEMORY_READ in=c01f000020 out=32 failed returned=0
REQ_BUTTON_READ in=- out=3 failed returned=0
0x00222000 in=- out=0 failed returned=0"
finish
