#!/bin/bash
# The button monitor through the shipped DLL and the virtual reader driver:
# presses from vreader.exe reach a real window of a test program.
#
# The window is a top-level one on a Wine desktop of its own over Xvfb;
# without xvfb-run the program falls back to a message-only window. The
# desktop's explorer does not pass the exit status on, so the verdict is
# the program's last line.
. "$(dirname "$0")/driver_common.bash"
index=6
fresh_reader "$index" --model 3
if command -v xvfb-run >/dev/null; then
    run=(xvfb-run -a wine explorer /desktop=kxbutton,320x200 button_window.exe "$index")
else
    run=(wine button_window.exe "$index")
fi
output=$( (cd "$KX_BIN" && "${run[@]}") 2>&1 | tr -d '\r' | grep -v '^X connection to .* broken')
echo "$output"
if ! echo "$output" | grep -qx 'button_window: passed'; then
    echo "FAIL button_window did not pass"
    failures=$((failures + 1))
fi
finish
