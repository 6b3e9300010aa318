#!/usr/bin/env python3
"""Makes the one-file page from its parts in web/: the markup (patcher.html)
with the style (style.css) minified where it says /*@STYLE@*/; the script
where it says /*@SCRIPT@*/: page.js and the modules it imports, bundled and
minified by esbuild, the compiled program among them (its glue and its
WebAssembly module, as base64, from the build folder, imported as
compiled/patcher.js and compiled/patcher.wasm); the message files
(messages/*.arb, English first) as one table, packed (the keys once, JSON
without spaces, raw deflate, base64), where it says /*@MESSAGES@*/; the note for browsers
without scripts in every language where it says <!--@NOSCRIPT@-->, and the
one for browsers too old to unpack the table, as JSON, where it says
/*@TOOOLD@*/; and the version where it says @VERSION@. The notes for
translators in the message files stay out of the page.

Usage: inline.py WEB_DIR BUILD_DIR VERSION ESBUILD OUT.HTML
"""
import base64
import html
import json
import pathlib
import re
import subprocess
import sys
import zlib

FORM = re.compile(r"\s*(=\d+|zero|one|two|few|many|other)\{")
RIGHT_TO_LEFT = {"ar", "fa", "he", "ur"}  # languages written right to left, by their tag's first part


def plural(text):
    """An ICU plural message, {n, plural, one{...} other{...}}, as the
    page's {form: text}; any other message as it is."""
    head = re.match(r"\{n, plural,", text)
    if not head:
        return text
    forms, at = {}, head.end()
    while (form := FORM.match(text, at)):
        depth, end = 1, form.end()
        while depth:
            depth += {"{": 1, "}": -1}.get(text[end], 0)
            end += 1
        forms[form.group(1)] = text[form.end():end - 1]
        at = end
    if text[at:].strip() != "}" or "other" not in forms:
        sys.exit(f"inline.py: not a plural message this page can read: {text}")
    return forms


def tables(folder):
    """{tag: {key: message}}, English first, then by tag."""
    files = sorted(folder.glob("*.arb"), key=lambda f: (f.stem != "en", f.stem))
    found = {}
    for f in files:
        arb = json.loads(f.read_text(encoding="utf-8"))
        found[arb["@@locale"]] = {k: plural(v) for k, v in arb.items() if not k.startswith("@")}
    return found


def direction(tag):
    return "rtl" if tag.split("-")[0] in RIGHT_TO_LEFT else "ltr"


def packed(messages):
    """The tables as the page unpacks them: the English keys once, each
    language's texts in their order, the languages written right to left;
    as JSON without spaces, raw deflate, base64."""
    keys = list(messages["en"])
    table = {"keys": keys, "rtl": [tag for tag in messages if direction(tag) == "rtl"],
             "texts": {tag: [texts.get(key) for key in keys] for tag, texts in messages.items()}}
    packer = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
    data = json.dumps(table, ensure_ascii=False, separators=(",", ":")).encode()
    return base64.b64encode(packer.compress(data) + packer.flush()).decode("ascii")


def esbuild(tool, *args, text=None):
    return subprocess.run([tool, "--minify", "--charset=utf8", "--log-level=warning", *args],
                          input=text, stdout=subprocess.PIPE, text=True, check=True).stdout.strip()


def main():
    web, compiled, version, tool, out_path = sys.argv[1:]
    web = pathlib.Path(web)
    page = (web / "patcher.html").read_text(encoding="utf-8")
    messages = tables(web / "messages")
    # One script that leaves nothing in the page's global scope. The glue
    # names its module by an address beside its own, which it never asks
    # for, since the page hands the module over: the page's address serves.
    script = esbuild(tool, str(web / "page.js"), "--bundle", "--format=iife", f"--alias:compiled={pathlib.Path(compiled).resolve()}",
                     "--loader:.wasm=base64", "--define:import.meta.url=location.href")
    style = esbuild(tool, "--loader=css", text=(web / "style.css").read_text(encoding="utf-8"))
    notes = "".join(f'<p class="status failed" lang="{tag}" dir="{direction(tag)}">{html.escape(t["noscript"])}</p>'
                    for tag, t in messages.items())
    # Where the browser cannot unpack the tables, its note in every language, unpacked.
    too_old = json.dumps({tag: [t.get("tooOld", messages["en"]["tooOld"]), direction(tag)] for tag, t in messages.items()},
                         ensure_ascii=False, separators=(",", ":"))
    parts = {
        "/*@STYLE@*/": style,
        "/*@MESSAGES@*/": packed(messages),
        "<!--@NOSCRIPT@-->": notes,
        "/*@TOOOLD@*/": too_old,
        "/*@SCRIPT@*/": script,
    }
    page = page.replace("@VERSION@", version)
    for mark, text in parts.items():
        if page.count(mark) != 1:
            sys.exit(f"inline.py: patcher.html must hold {mark} exactly once")
        if "</script" in text.lower() or "</style" in text.lower():
            sys.exit(f"inline.py: what goes at {mark} would end its element early")
        page = page.replace(mark, text)
    with open(out_path, "w", encoding="utf-8", newline="\n") as out:
        out.write(page)


if __name__ == "__main__":
    main()
