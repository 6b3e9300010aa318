#!/usr/bin/env python3
"""Makes the one-file page: the program's script and its WebAssembly module,
the module as base64, put into the page where it says /*@PROGRAM@*/, and the
version where it says @VERSION@.

Usage: inline.py PAGE PATCHER.JS PATCHER.WASM VERSION OUT.HTML
"""
import base64
import sys

MARK = "/*@PROGRAM@*/"

page_path, js_path, wasm_path, version, out_path = sys.argv[1:]
page = open(page_path, encoding="utf-8").read()
js = open(js_path, encoding="utf-8").read()
wasm = base64.b64encode(open(wasm_path, "rb").read()).decode("ascii")
if page.count(MARK) != 1:
    sys.exit(f"inline.py: {page_path} must hold {MARK} exactly once")
if "</script" in js.lower():
    sys.exit(f"inline.py: {js_path} would end its script element early")
program = f'const patcherWasm = "{wasm}";\n{js.strip()}'
with open(out_path, "w", encoding="utf-8", newline="\n") as out:
    out.write(page.replace("@VERSION@", version).replace(MARK, program))
