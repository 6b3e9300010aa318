"""What every test script here shares: the bytes a patched file must hold,
the check that names where two files part, and how a script runs its cases.
"""
import base64
import json
import pathlib
import re
import sys
import unittest
import zlib

# Written out again here, not taken from the program: a typo on either side
# makes the two disagree.
EXPECTED = [
    (0x115768, b"TARVENOK T.C."),
    (0x115789, b"MECHANISED MATCH"),
    (0x1157AA, b"SQUADRON ONLY"),
    (0x1157CB, b"OLA VRENT"),
    (0x1157DF, b"DAEL MURHAX"),
    (0x1157F3, b"IVO QUENTH"),
    (0x115807, b"JUN WAVERTOL"),
]
TERMINATOR = b"\0\0\0"
REACH = 0x115816  # just after the last terminator
LIMIT = 64 << 20  # the largest file the page takes


def patched(before, records=EXPECTED):
    """The file a clean run must leave, given the bytes it started with;
    or, given the records that got written, a run that stopped after them."""
    image = bytearray(before)
    for offset, text in records:
        end = offset + len(text) + len(TERMINATOR)
        image.extend(bytes(max(0, end - len(image))))
        image[offset:end] = text + TERMINATOR
    return bytes(image)


def old(i):
    """What the real file holds in place i, as the page shows it: a name
    padded with zero bytes to the length the patch writes there."""
    return f"NAME {i + 1}" + "\\0" * (len(EXPECTED[i][1]) + len(TERMINATOR) - 6)


def image(size):
    """A file that looks like the real one where the page checks it: it
    starts as a program file does, each place the patch writes to holds a
    name padded with zero bytes, and every other byte is 0xFF."""
    data = bytearray((b"MZ" + b"\xff" * size)[:size])
    for i, (offset, text) in enumerate(EXPECTED):
        name = b"NAME %d" % (i + 1)
        data[offset:offset + len(text) + len(TERMINATOR)] = name + bytes(len(text) + len(TERMINATOR) - len(name))
    return bytes(data[:size])


# Where the built page keeps its texts, packed: the keys once, each
# language's texts in their order, the languages written right to left; JSON,
# raw deflate, base64.
PACKED = re.compile(r'(<script type="text/plain" id="messages">)([^<]*)')


def messages(page):
    """The built page's texts, unpacked: {language: {message: text, or
    {plural form: text}}}, with "dir": "rtl" for a language written right to left."""
    packed = PACKED.search(pathlib.Path(page).read_text(encoding="utf-8"))[2]
    table = json.loads(zlib.decompress(base64.b64decode(packed), -15))
    return {tag: {**dict(zip(table["keys"], texts)), **({"dir": "rtl"} if tag in table["rtl"] else {})}
            for tag, texts in table["texts"].items()}


def with_messages(page, tables):
    """The built page's text with other tables of texts (as messages() gives them), packed as the build packs them."""
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "web"))
    from inline import packed
    return PACKED.sub(lambda m: m[1] + packed(tables), pathlib.Path(page).read_text(encoding="utf-8"))


class SameBytes:
    """For test cases: compares files, naming where they part, not megabytes."""

    def assert_same_bytes(self, got, want):
        if got == want:
            return
        n = min(len(got), len(want))
        at = next((i for i in range(n) if got[i] != want[i]), n)
        self.fail(f"files differ from 0x{at:X} (lengths {len(got)} and {len(want)}): "
                  f"got {got[at:at + 8].hex(' ')}, want {want[at:at + 8].hex(' ')}")


def main(module, argv):
    """Runs a test script's cases, argv being unittest's arguments; exits 1 on a
    failure, 77 when every case that ran was skipped. `--list` names the
    classes that hold tests instead: CMake registers one CTest entry each."""
    if argv == ["--list"]:
        loader = unittest.TestLoader()
        print(*[name for name, c in vars(module).items() if isinstance(c, type)
                and issubclass(c, unittest.TestCase) and loader.getTestCaseNames(c)], sep=";")
        sys.exit(0)
    result = unittest.main(module=module, argv=[sys.argv[0], *argv], verbosity=2, exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    whole = {test.id() for test, _ in result.skipped if not isinstance(test, unittest.case._SubTest)}
    sys.exit(77 if result.testsRun and len(whole) == result.testsRun else 0)
