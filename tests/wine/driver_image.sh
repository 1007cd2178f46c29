#!/bin/bash
# The attach request carries the reader's picture and its replay bytes
# into the driver: image reads deliver the recording exactly (an empty one
# included) or a stream made from the picture.
. "$(dirname "$0")/driver_common.bash"
work=$(mktemp -d)
trap 'cleanup; rm -rf "$work"' EXIT
transfer() { probe "$1" open raw REQ_TRANSFER_START - 0 read 4096 read 4096 | tail -2; }

printf 'replayed bytes' >"$work/frame.bin"
: >"$work/empty.bin"
printf 'model = 3\nreplay = frame.bin\n' >"$work/replay.txt"
printf 'model = 3\nreplay = empty.bin\n' >"$work/empty.txt"
cleanup_indices+=(6)
vreader attach 6 --replace "$work/replay.txt" >/dev/null
expect "the recording, then nothing" "$(transfer 6)" \
    "read: ok got=14 $(printf 'replayed bytes' | od -An -tx1 -v | tr -d ' \n')
read: ok got=0 "
vreader attach 6 --replace "$work/empty.txt" >/dev/null
expect "an empty recording gives nothing from the start" "$(transfer 6)" \
    $'read: ok got=0 \nread: ok got=0 '

# A uniform picture of grey 0x40 on a model-4 reader: its block rows carry
# the complement 0xbf in every pixel byte after the 142-byte header.
{ printf 'P5\n400 302\n255\n'; head -c 120800 /dev/zero | tr '\0' '\100'; } >"$work/grey.pgm"
printf 'model = 4\nimage = grey.pgm\n' >"$work/picture.txt"
vreader attach 6 --replace "$work/picture.txt" >/dev/null
pixels() { transfer 6 | head -1 | cut -d' ' -f4 | cut -c$((142 * 2 + 1))-$((148 * 2)) | sed -E 's/(..)../\1/g'; }
expect "the picture's pixels reach the stream" "$(pixels)" "bfbfbf"
vreader attach 6 --replace --model 4 >/dev/null
expect "no picture: a sensor with no finger (255, complement 0)" "$(pixels)" "000000"

printf 'P5\n400\n' >"$work/broken.pgm"
printf 'model = 4\nimage = broken.pgm\n' >"$work/broken.txt"
out=$(vreader attach 6 --replace "$work/broken.txt" 2>&1); status=$?
expect "a broken picture is named by its key" "$(echo "$out" | cut -d: -f1-4)" \
    "vreader: $work/broken.txt: image = broken.pgm: $work/broken.pgm"
expect_status "a broken picture" "$status" 1
finish
