#!/bin/bash
# The indicator and the smart-card channel through the shipped DLL and the
# virtual reader driver: the LED state the driver keeps, and a write/read
# round trip whose address and auxiliary word reach the driver unchanged.
. "$(dirname "$0")/driver_common.bash"
index=5
client() { (cd "$KX_BIN" && wine led_scard_client.exe "$index" "$@") | tr -d '\r'; }
last_request() { vreader log "$index" | tr -d '\r' | tail -n 1; }
fresh_reader "$index" --model 3

expect "NFP_OK_LED_On answers 1" "$(client on)" "1"
expect "the driver's LED is on" "$(vreader led $index | tr -d '\r')" "on"
expect "one REQ_LED_ON with no data" "$(last_request)" "REQ_LED_ON in=- out=0 ok returned=0"
expect "NFP_OK_LED_Off answers 1" "$(client off)" "1"
expect "the driver's LED is off" "$(vreader led $index | tr -d '\r')" "off"
vreader fault "$index" REQ_LED_ON >/dev/null
expect "a failing REQ_LED_ON answers -107" "$(client on)" "-107"
expect "and the LED stays off" "$(vreader led $index | tr -d '\r')" "off"
vreader fault "$index" --clear >/dev/null

# Write 6 bytes at 0x1234 with auxiliary 0xABCD, read them back with 0x5678.
vreader log "$index" --clear
expect "NFP_WriteScard answers 1" "$(client write 0x1234 0xABCD 0102030405fe)" "1"
expect "REQ_SCARD_WRITE carries the header and the data" "$(last_request)" \
    "REQ_SCARD_WRITE in=3412cdab06000102030405fe out=0 ok returned=0"
expect "the card store holds the data" "$(vreader scard $index 0x1234 6 | tr -d '\r')" "1234: 0102030405fe"
expect "NFP_ReadScard gives the bytes back" "$(client read 0x1234 0x5678 6)" "1 6 0102030405fe"
expect "REQ_SCARD_READ carries the header alone" "$(last_request)" \
    "REQ_SCARD_READ in=341278560600 out=6 ok returned=6"
expect "the driver saw the read's address and auxiliary word" \
    "$(vreader state $index | tr -d '\r' | grep '^smart card')" "smart card: address 0x1234 auxiliary 0x5678"

# The longest transfers, and lengths past the library's records.
expect "a 8194-byte write answers 1" "$(client fill 0x8000 1 8194)" "1"
expect "its request is 6 + 8194 bytes" "$(last_request | sed 's/.*(\([0-9]*\) bytes).*/\1/')" "8200"
pattern=$(awk 'BEGIN { for (i = 0; i < 4100; i++) printf "%02x", i % 256 }')
expect "a 4100-byte read answers 1 with the 4100 bytes written" "$(client read 0x8000 1 4100)" "1 4100 $pattern"
vreader log "$index" --clear
expect "a 8195-byte write is refused with -306" "$(client fill 0 0 8195)" "-306"
expect "a 4101-byte read is refused with -305" "$(client read 0 0 4101)" "-305 65535 "
expect "neither was sent" "$(vreader log $index | tr -d '\r')" ""
vreader short-read "$index" 4 >/dev/null
expect "a short reply fills only what arrived" "$(client read 0x1234 0 6)" "1 4 01020304"
finish
