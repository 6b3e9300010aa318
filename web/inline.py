#!/usr/bin/env python3
"""Makes the one-file page: the program's script and its WebAssembly module,
the module as base64, put into the page where it says /*@PROGRAM@*/, the
version where it says @VERSION@, and the message tables packed (JSON without
spaces, raw deflate, base64), which the page unpacks itself.

Usage: inline.py PAGE PATCHER.JS PATCHER.WASM VERSION OUT.HTML
"""
import base64
import json
import sys
import zlib

MARK = "/*@PROGRAM@*/"
TABLES = '<script type="application/json" id="messages">'

page_path, js_path, wasm_path, version, out_path = sys.argv[1:]
page = open(page_path, encoding="utf-8").read()
js = open(js_path, encoding="utf-8").read()
wasm = base64.b64encode(open(wasm_path, "rb").read()).decode("ascii")
if page.count(MARK) != 1:
    sys.exit(f"inline.py: {page_path} must hold {MARK} exactly once")
if "</script" in js.lower():
    sys.exit(f"inline.py: {js_path} would end its script element early")
program = f'const patcherWasm = "{wasm}";\n{js.strip()}'
start = page.index(TABLES) + len(TABLES)
end = page.index("</script>", start)
tables = json.dumps(json.loads(page[start:end]), ensure_ascii=False, separators=(",", ":")).encode()
deflate = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
packed = base64.b64encode(deflate.compress(tables) + deflate.flush()).decode("ascii")
page = page[:start] + packed + page[end:]
with open(out_path, "w", encoding="utf-8", newline="\n") as out:
    out.write(page.replace("@VERSION@", version).replace(MARK, program))
