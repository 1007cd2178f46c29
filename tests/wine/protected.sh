#!/bin/bash
# Protected capture through the shipped DLL and the driver: the 89600
# output bytes decrypt under DES-CBC (OpenSSL, outside Wine) to exactly the
# corrected frame the reader sent, for models 3, 4 and 5.
. "$(dirname "$0")/driver_common.bash"

work=$(mktemp -d)
trap 'rm -rf "$work"; cleanup' EXIT
key=133457799BBCDFF1
iv=1234567890ABCDEF
check() { (cd "$KX_BIN" && wine protected_check.exe "$@" | tr -d '\r'); }
decrypt() {  # FILE IV
    openssl enc -d -des-cbc -provider legacy -provider default -nopad -K "$key" -iv "$2" -in "$1"
}

for model in 3 4 5; do
    fresh_reader 0 --model "$model" --image synthetic:$((model * 7))
    out=$(check 0 "$(winepath -w "$work")")
    expect "model $model: both captures answer 1" "$out" \
"capture with chaining value: 1
capture without chaining value: 1
plain capture and correction: 1 1"
    decrypt "$work/cipher.bin" "$iv" > "$work/plain.bin"
    expect "model $model: the ciphertext decrypts to the corrected frame" \
        "$(cmp "$work/plain.bin" "$work/expected.bin" 2>&1 && stat -c %s "$work/plain.bin")" 89600
    decrypt "$work/cipher-null.bin" 0000000000000000 > "$work/plain-null.bin"
    expect "model $model: no chaining value means zeros" \
        "$(cmp "$work/plain-null.bin" "$work/expected.bin" 2>&1 && echo same)" same
    # The image is a real picture, not a blank frame.
    expect "model $model: the frame is not uniform" \
        "$(od -An -tu1 -v "$work/expected.bin" | tr -s ' ' '\n' | sort -u | wc -l | awk '$1 > 32 {print "varied"}')" varied
    vreader log 0 --clear
    expect "model $model: a semi-weak key gives -401, output untouched" \
        "$(check 0 x weak)" "weak key: -401 untouched"
done

fresh_reader 0 --model 4 --fault REQ_MEMORY_READ
vreader log 0 --clear
expect "identity unreadable: -1, output untouched" "$(check 0 x unreadable)" \
    "unreadable identity: -1 untouched"
expect "identity unreadable: only the identity read reached the reader" \
    "$(vreader log 0 | tr -d '\r' | cut -d' ' -f1 | sort -u)" "REQ_MEMORY_READ"
finish
