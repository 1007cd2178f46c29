#!/bin/bash
# NFP_DrawImage through the real GDI of Wine, into memory contexts: needs
# no reader and no display.
set -u
cd "$KX_BIN" || exit 1
wine display_gdi.exe
