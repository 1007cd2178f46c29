#!/bin/bash
# Image acquisition through the shipped DLL and the driver, for readers of
# models 3, 4 and 5: every capture's requests exactly as the reader logged
# them, the band's rows, and the corrected images against the native
# build's correction of the same raw frames.
. "$(dirname "$0")/driver_common.bash"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"; cleanup' EXIT
check() { (cd "$KX_BIN" && wine acquisition_check.exe 0 "$(winepath -w "$1")" "${@:2}" | tr -d '\r'); }
# The reader's log as "NAME in=BYTES", runs of reads as "READ in=- xN".
requests() {
    vreader log 0 | tr -d '\r' | cut -d' ' -f1-2 | uniq -c |
        awk '{ if ($1 > 1) print $2, $3, "x" $1; else print $2, $3 }'
}
# Up to the first CaptureClose.
first_capture() { requests | sed '/^REQ_CAPTURE_CLOSE/q'; }
lines() { printf '%s\n' "$@"; }

identity="REQ_MEMORY_READ in=be1e00000200"   # 2 bytes at 7870
w() { echo "REQ_WRITE_REGISTER in=$1"; }      # register, value
stream_frame() {
    lines "$identity" "REQ_CAPTURE_OPEN in=-" "REQ_CAPTURE_ARM in=-" "$(w 2500)" "$(w 2634)" \
        "$(w 2700)" "$(w 0105)" "$(w 3228)" "$(w 0202)" "REQ_TRANSFER_START in=-" \
        "READ in=- x$1" "REQ_CAPTURE_CLOSE in=-"
}
block_frame() {
    lines "$identity" "REQ_CAPTURE_OPEN in=-" "REQ_CAPTURE_ARM in=-" "$(w 2104)" "$(w 2500)" \
        "$(w 2634)" "$(w 2700)" "$(w 0105)" "$(w 3228)" "$(w 0202)" "REQ_TRANSFER_START in=-" \
        "READ in=- x62" "REQ_CAPTURE_CLOSE in=-"
}

for model in 3 4 5; do
    mkdir -p "$work/model$model"
    fresh_reader 0 --model "$model" --image "synthetic:$((model + 20))"
    if [ "$model" = 3 ]; then frame=$(stream_frame 61); else frame=$(block_frame); fi

    vreader log 0 --clear
    expect "model $model: NFP_Capture and NFP_CorrectImage answer 1" \
        "$(check "$work/model$model" capture)" "capture 1, correct 1"
    expect "model $model: the capture's requests" "$(requests)" "$frame"

    vreader log 0 --clear
    expect "model $model: NFP_CaptureImage answers 1" "$(check "$work/model$model" image)" "capture image 1"
    expect "model $model: NFP_CaptureImage's requests" "$(requests)" "$frame"

    # A band from line 100 to 140: registers 16 = 0 and 17 = 100, on the
    # block path 17 = 106 with 33 and 50 as well. Model 3 gives 41 rows;
    # the others 40, whose 8 reads end 89 pixels into the last row: its
    # other 311 come blank.
    vreader log 0 --clear
    if [ "$model" = 3 ]; then
        band=$(lines "$identity" "REQ_CAPTURE_OPEN in=-" "REQ_CAPTURE_ARM in=-" "$(w 1000)" "$(w 1164)" \
            "$(w 2500)" "$(w 2634)" "$(w 2700)" "$(w 0105)" "$(w 0202)" "REQ_TRANSFER_START in=-" \
            "READ in=- x9" "REQ_CAPTURE_CLOSE in=-")
        rows="41 of 41 rows as the frame's, 0 pixels beyond the reads blank"
    else
        band=$(lines "$identity" "REQ_CAPTURE_OPEN in=-" "$(w 2104)" "REQ_CAPTURE_ARM in=-" "$(w 1000)" \
            "$(w 116a)" "$(w 2500)" "$(w 2634)" "$(w 2700)" "$(w 0105)" "$(w 3228)" "$(w 0202)" \
            "REQ_TRANSFER_START in=-" "READ in=- x8" "REQ_CAPTURE_CLOSE in=-")
        rows="40 of 40 rows as the frame's, 311 pixels beyond the reads blank"
    fi
    expect "model $model: NFP_CapturePart gives the frame's rows" \
        "$(check "$work/model$model" part "$model" 100 140)" \
        "part 1, capture 1, $rows, guard intact"
    expect "model $model: NFP_CapturePart's requests" "$(first_capture)" "$band"
done

# The DLL's correction against the native one, on the frames from Wine.
if [ -x "$root/build/native/native_tests" ]; then
    out=$(KX_WINE_FRAMES="$work" "$root/build/native/native_tests" --gtest_filter='WineFrames.*' 2>&1)
    status=$?
    expect "the corrected frames equal the native correction of the same raw frames" \
        "$status $(echo "$out" | grep -c '\[  PASSED  \] 1 test')" "0 1"
    [ "$status" = 0 ] || echo "$out" | tail -20
else
    expect "the native tests are built (build/native/native_tests)" "missing" "present"
fi
finish
