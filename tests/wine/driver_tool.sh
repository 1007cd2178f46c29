#!/bin/bash
# The vreader tool's command line: descriptions from files and options,
# list, state, LED and smart-card views, the log's lines, and a one-line
# message with a non-zero status for every bad argument.
. "$(dirname "$0")/driver_common.bash"
work=$(mktemp -d)
trap 'cleanup; rm -rf "$work"' EXIT

# A description file with comments, blank lines and a replay beside it.
printf 'replayed bytes' >"$work/frame.bin"
cat >"$work/reader.txt" <<'DESC'
# a model-5 reader
model    = 5
serial   = TV-FILE-01     # trailing comment

userdata = from a file
replay   = frame.bin
button   = 0x40
DESC
vreader detach 4 >/dev/null 2>&1
cleanup_indices+=(4)
expect "attach from a file" "$(vreader attach 4 "$work/reader.txt")" "reader 4 attached: model 5"
expect "list shows it" "$(vreader list | grep '^4 ')" \
    '4 attached model="5" serial="TV-FILE-01" userdata="from a file" led=off button=none log=0'
expect "state: replay size and button word" \
    "$(vreader state 4 | grep -E '^(replay|button status):')" \
    $'button status: 0x00000040\nreplay: 14 bytes'

# LED and smart card, driven by raw requests as the library sends them.
probe 4 open raw REQ_LED_ON - 0 raw REQ_SCARD_WRITE 34120700040001020304 0 \
    raw REQ_SCARD_READ 341207000400 4 raw REQ_WRITE_REGISTER 2610 0 >/dev/null
expect "led on" "$(vreader led 4)" "on"
expect "smart-card values of the last request" "$(vreader state 4 | grep '^smart card:')" \
    "smart card: address 0x1234 auxiliary 0x0007"
expect "smart-card store holds the written bytes" "$(vreader scard 4 0x1234 4)" "1234: 01020304"
expect "registers written" "$(vreader state 4 | grep '^registers:')" "registers: 38=0x10"
expect "log lines: name, input, output size, answer, bytes returned" "$(vreader log 4)" \
"REQ_LED_ON in=- out=0 ok returned=0
REQ_SCARD_WRITE in=34120700040001020304 out=0 ok returned=0
REQ_SCARD_READ in=341207000400 out=4 ok returned=4
REQ_WRITE_REGISTER in=2610 out=0 ok returned=0"
probe 4 open raw REQ_LED_OFF - 0 >/dev/null
expect "led off" "$(vreader led 4)" "off"

# An input longer than the log keeps is marked as cut.
vreader log 4 --clear
probe 4 open raw REQ_SCARD_WRITE "000000003400$(printf "%0104d" 0)" 0 >/dev/null
expect "a long input is shown cut with its size" "$(vreader log 4)" \
    "REQ_SCARD_WRITE in=000000003400$(printf '%084d' 0)...(58 bytes) out=0 ok returned=0"

# Short reads and faults show in the state.
vreader short-read 4 1000
vreader fault 4 READ --nth 3
vreader fault 4 REQ_LED_ON
expect "state lists short reads and faults" \
    "$(vreader state 4 | grep -E '^(short reads|fault):')" \
    $'short reads: 1000\nfault: READ time 3 (seen 0)\nfault: REQ_LED_ON always (seen 0)'

# Attach over an attached reader needs --replace.
out=$(vreader attach 4 --model 3 2>&1); status=$?
expect_status "attach over a reader" "$status" 1
expect "attach over a reader says so" "$out" \
    "vreader: attach: a reader is already attached at index 4 (detach it, or use --replace)"
vreader attach 4 --replace --model 3 >/dev/null
expect "--replace describes it anew" "$(vreader list | grep '^4 ' | cut -d' ' -f3)" 'model="3"'

# A malformed description is named by file and line.
for case in "model = 4|bogus = 1|line 2: unknown key: bogus" \
            "model = 4|serial 12|line 2: expected key = value" \
            "# fine||model = 45|line 3: model must be one character: 45" \
            "fault = REQ_NOTHING|line 1: unknown request: REQ_NOTHING"; do
    want=${case##*|}
    printf '%s\n' "${case%|*}" | tr '|' '\n' >"$work/bad.txt"
    out=$(vreader attach 6 "$work/bad.txt" 2>&1); status=$?
    expect "malformed description: $want" "$out" "vreader: $work/bad.txt: $want"
    expect_status "malformed description: $want" "$status" 1
done
expect "nothing was attached from them" "$(vreader list | grep -c '^6 ')" 0

# Bad arguments: exit status 2 and one line that says what is wrong.
while IFS='|' read -r args want; do
    read -r -a argv <<<"$args"
    out=$(vreader "${argv[@]}" 2>&1); status=$?
    expect "vreader $args" "$out" "vreader: $want"
    expect_status "vreader $args" "$status" 2
done <<'CASES'
frobnicate|unknown command: frobnicate (see vreader help)
attach|attach needs INDEX and a FILE or --KEY VALUE options (see vreader help)
attach 16 x.txt|INDEX must be a number from 0 to 15: 16
attach -1 x.txt|INDEX must be a number from 0 to 15: -1
attach one x.txt|INDEX must be a number from 0 to 15: one
attach 0 --model|--model needs a value
attach 0 --model 44|--model: model must be one character: 44
attach 0 --colour red|--colour: unknown key: colour
attach 0 a.txt --serial x|attach takes a FILE or --KEY VALUE options, not both
detach|detach needs INDEX
log 0 --clean|log needs INDEX, optionally followed by --clear
fault 0 REQ_NOTHING|unknown request name: REQ_NOTHING (REQ_MEMORY_READ, READ, ...)
fault 0 READ --nth 0|--nth counts from 1
fault 0 READ --nth x|--nth must be a number: x
press 0|press needs INDEX and STATUS
press 0 0x1ffffffff|STATUS must be a number: 0x1ffffffff
scard 0 65536 1|scard: ADDRESS and LENGTH must lie inside 0 to 65535
memory 0 8190 4|memory: ADDRESS and LENGTH must lie inside 0 to 8191
CASES

# Requests for an index with no reader fail with status 1 and say so.
vreader detach 7 >/dev/null 2>&1
for command in "detach 7" "log 7" "press 7 1" "state 7" "fault 7 READ"; do
    out=$(vreader $command 2>&1); status=$?
    expect "vreader $command with no reader" "$out" \
        "vreader: ${command%% *}: no reader is attached at index 7"
    expect_status "vreader $command with no reader" "$status" 1
done
out=$(vreader attach 7 "$work/missing.txt" 2>&1); status=$?
expect "a missing description file" "$out" "vreader: cannot read the reader description $work/missing.txt"
expect_status "a missing description file" "$status" 1
printf 'model = 4\nreplay = nowhere.bin\n' >"$work/noreplay.txt"
out=$(vreader attach 7 "$work/noreplay.txt" 2>&1); status=$?
expect "a missing replay file" "$out" \
    "vreader: $work/noreplay.txt: replay = nowhere.bin: cannot read $work/nowhere.bin"
expect_status "a missing replay file" "$status" 1
expect "help exits 0" "$(vreader help >/dev/null; echo $?)" 0
finish
