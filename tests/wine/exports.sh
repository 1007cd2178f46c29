#!/bin/bash
# The shipped DLL: exactly its 22 plain names, system libraries only, and
# the ordinals as an application meets them under Wine.
set -u
dll="$KX_BIN/KX7300V20.dll"
fail=0
names=$(i686-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -c 'NFP_')
if [ "$names" != 22 ]; then echo "FAIL exports: $names names, want 22"; fail=1; fi
if i686-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -q '@'; then
    echo "FAIL decorated export names"; fail=1
fi
imports=$(i686-w64-mingw32-objdump -p "$dll" | awk '/DLL Name:/ {print tolower($3)}' | sort | tr '\n' ' ')
for d in $imports; do
    case "$d" in kernel32.dll|user32.dll|gdi32.dll|msvcrt.dll) ;; *) echo "FAIL imports $d"; fail=1 ;; esac
done
cd "$KX_BIN" || exit 1
for program in exports_check.exe c_client.exe c_client_lib.exe; do
    wine "$program" || { echo "FAIL $program"; fail=1; }
done
exit $fail
