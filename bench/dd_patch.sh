#!/bin/sh
# Reference for the benchmark: the same seven ranges patched from a shell
# script, one printf | dd pipeline per record.
set -e
p() { printf '%s\000\000\000' "$2" | dd of=DUKE3D.EXE bs=1 seek="$1" conv=notrunc status=none; }
p 1136488 'TARVENOK T.C.'
p 1136521 'MECHANISED MATCH'
p 1136554 'SQUADRON ONLY'
p 1136587 'OLA VRENT'
p 1136607 'DAEL MURHAX'
p 1136627 'IVO QUENTH'
p 1136647 'JUN WAVERTOL'
