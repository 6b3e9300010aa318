#!/usr/bin/env python3
"""Black-box tests of the built patcher.

Usage: test_patcher.py [--runner PROGRAM] [--objdump PROGRAM] [--windres PROGRAM]
                       [--version X.Y.Z] [--static] [--rebuild CMAKE BUILD_DIR --input FILE...]
                       PATCHER [unittest arguments, e.g. a class name]

Every case runs the program in a scratch folder of its own, on a synthetic
DUKE3D.EXE made here. A PATCHER ending in .exe is the Windows build, run
through --runner (Wine); cases that need what Windows has not skip there.
"""
import argparse
import hashlib
import io
import os
import pathlib
import re
import resource
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest

from common import EXPECTED, REACH, SameBytes, main, patched

ARGS = None   # the command line, as the usage above says
FAILED = 255  # how the shell sees the program's -1


def tool(*command):
    """What a build tool says of the program."""
    return subprocess.run([*command, ARGS.patcher], capture_output=True, text=True, check=True).stdout


def in_ranges(pos):
    return any(o <= pos < o + len(t) + 3 for o, t in EXPECTED)


class Case(SameBytes, unittest.TestCase):
    def setUp(self):
        self.new_scratch()

    def new_scratch(self):
        scratch = tempfile.TemporaryDirectory(prefix="patcher-test-")
        self.addCleanup(scratch.cleanup)
        self.dir = scratch.name
        self.target = pathlib.Path(self.dir, "DUKE3D.EXE")

    def run_patcher(self, *args, preexec_fn=None, strace=(), env=None):
        return subprocess.run([*strace, *ARGS.runner, ARGS.patcher, *args], cwd=self.dir, capture_output=True,
                              timeout=60, preexec_fn=preexec_fn, env=env)

    def assert_clean_run(self, result):
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"", b""))

    def assert_failed(self, result):
        self.assertEqual((result.returncode, result.stdout, result.stderr), (FAILED, b"", b""))

    def assert_outside_ranges_kept(self, before, after):
        """Bytes outside the seven ranges are as they were, or zeros past the old end."""
        kept = before.ljust(len(after), b"\0")
        wrong = [p for p in range(len(after)) if after[p] != kept[p] and not in_ranges(p)]
        self.assertEqual(wrong[:5], [], "bytes changed outside the ranges")


class Layout(Case):
    def test_targets_change_only_inside_the_ranges_and_short_ones_reach_the_last(self):
        cases = {
            "0xFF, 2 MiB": b"\xff" * (2 << 20),
            "0xFF, one byte past the reach": b"\xff" * (REACH + 1),
            "0xFF, exactly the reach": b"\xff" * REACH,
            "0x00, 1.5 MiB": b"\0" * (3 << 19),
            "counting bytes": bytes(i % 251 for i in range(REACH + 4096)),
            # Shorter ones are extended to the reach.
            "empty": b"",
            "ends before record 1": b"\xff" * 4096,
            "ends inside record 1": b"\xff" * (0x115768 + 5),
            "ends inside a gap": b"\xff" * (0x1157AA + 16 + 3),
            "ends inside record 7's terminator": b"\xff" * (REACH - 1),
        }
        for name, before in cases.items():
            with self.subTest(name):
                self.target.write_bytes(before)
                self.assert_clean_run(self.run_patcher())
                self.assert_same_bytes(self.target.read_bytes(), patched(before))


class Runs(Case):
    def test_runs_are_silent_repeatable_and_ignore_arguments(self):
        before = b"\xff" * (REACH + 100)
        cases = {
            "no arguments, once": [[]],
            "no arguments, twice": [[], []],
            "an option": [["--help"]],
            "another file's name": [["OTHER.EXE"]],
            "many and long": [["-v", "x" * 4096, "", "%s%n"]],
        }
        for name, runs in cases.items():
            with self.subTest(name):
                self.target.write_bytes(before)
                for args in runs:
                    self.assert_clean_run(self.run_patcher(*args))
                self.assert_same_bytes(self.target.read_bytes(), patched(before))
                self.assertEqual(sorted(os.listdir(self.dir)), ["DUKE3D.EXE"])


class Unopenable(Case):
    def test_a_target_that_cannot_be_opened_is_left_alone(self):
        cases = {
            "missing": lambda: None,
            "a directory": lambda: os.mkdir(self.target),
            "a dangling link": lambda: os.symlink("NOWHERE.EXE", self.target),
        }
        for name, make in cases.items():
            with self.subTest(name):
                self.new_scratch()
                make()
                before = sorted(os.listdir(self.dir))
                self.assert_failed(self.run_patcher())
                self.assertEqual(sorted(os.listdir(self.dir)), before, "something was created")
                if os.path.isdir(self.target):
                    self.assertEqual(os.listdir(self.target), [])


class Pipe(Case):
    def test_a_pipe_of_that_name_gets_nothing(self):
        if ARGS.windows:
            self.skipTest("Windows has no pipe that opens by a file name in a folder")
        os.mkfifo(self.target)
        # Held open for reading, so whatever the run writes stays to be seen.
        reader = os.open(self.target, os.O_RDONLY | os.O_NONBLOCK)
        self.addCleanup(os.close, reader)
        self.assert_failed(self.run_patcher())
        try:
            leaked = os.read(reader, 4096)
        except BlockingIOError:
            leaked = b""
        self.assertEqual(leaked, b"")


class FullDevice(Case):
    # Under Wine this is a full disk as Windows reports it: the one write
    # failure the Windows build can be shown here.
    def test_a_device_that_refuses_writes_is_a_failure(self):
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full on this machine")
        os.symlink("/dev/full", self.target)
        self.assert_failed(self.run_patcher())


class SizeLimit(Case):
    def test_the_file_size_limit_stops_the_run(self):
        if ARGS.windows:
            self.skipTest("the file-size limit is a POSIX one; under Wine its signal ends the run")
        cases = {
            # (bytes of 0xFF at the start, file-size limit)
            "limit before record 1, empty target": (0, 4096),
            "limit inside record 1": (0, 0x115768 + 8),
            "limit inside record 4, target ends in record 2": (0x115789 + 4, 0x1157CB + 3),
            "limit one byte short of the reach": (REACH - 40, REACH - 1),
        }
        for name, (size, limit) in cases.items():
            with self.subTest(name):
                before = b"\xff" * size
                self.target.write_bytes(before)

                def limited():
                    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
                    # What a plain shell would hand over, not this test's own ignore.
                    signal.signal(signal.SIGXFSZ, signal.SIG_DFL)

                self.assert_failed(self.run_patcher(preexec_fn=limited))
                after = self.target.read_bytes()
                self.assertLessEqual(len(after), max(limit, size))
                self.assert_outside_ranges_kept(before, after)
                # What did land is the right bytes in the right place.
                self.assert_same_bytes(after, patched(before)[:len(after)])


class Faults(Case):
    # A realistic error for each kind of call on the target.
    ERRORS = {"openat": "EACCES", "lseek": "EINVAL", "write": "ENOSPC", "close": "EIO"}

    def strace(self, *options):
        log = os.path.join(tempfile.mkdtemp(dir=self.dir), "trace")
        # The leak checker of a sanitized build cannot run under a tracer;
        # the rest of the sanitizers can.
        env = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
        result = self.run_patcher(strace=["strace", "-f", "-qq", "-o", log, *options], env=env)
        return result, pathlib.Path(log).read_text().splitlines()

    def calls_on_target(self):
        """The calls a clean run makes on DUKE3D.EXE, each with its count among
        all calls of its name (what strace's injection counts by)."""
        result, lines = self.strace("-e", "trace=" + ",".join(self.ERRORS))
        self.assert_clean_run(result)
        seen, calls, fd = {}, [], None
        for line in lines:
            m = re.match(r"(?:\d+ +)?(\w+)\((.*)\) += (-?\d+)", line)
            if not m:
                continue
            name, args, ret = m.groups()
            seen[name] = seen.get(name, 0) + 1
            if name == "openat" and '"DUKE3D.EXE"' in args:
                fd = ret
            elif fd is None or args.split(",")[0] != fd:
                continue
            calls.append((name, seen[name]))
            if name == "close":
                break
        return calls

    def test_each_failing_call_stops_the_run_there(self):
        if ARGS.windows:
            self.skipTest("strace traces Linux programs, not Windows ones under Wine")
        if not shutil.which("strace"):
            self.skipTest("strace is not installed")
        if subprocess.run(["strace", "-f", "-o", os.devnull, "true"]).returncode != 0:
            self.skipTest("strace cannot trace here (ptrace not permitted)")
        before = b"\xff" * (REACH + 64)
        self.target.write_bytes(before)
        calls = self.calls_on_target()
        names = [name for name, _ in calls]
        self.assertEqual((names[0], names[-1], names.count("write")), ("openat", "close", 7), names)
        for step, (name, nth) in enumerate(calls):
            with self.subTest(f"step {step + 1}: {name} fails"):
                self.target.write_bytes(before)
                result, _ = self.strace("-e", f"trace={name}",
                                        "-e", f"inject={name}:error={self.ERRORS[name]}:when={nth}")
                self.assert_failed(result)
                # Every record written before the failing call, none after it.
                written = names[:step].count("write")
                self.assert_same_bytes(self.target.read_bytes(), patched(before, EXPECTED[:written]))


class Resources(unittest.TestCase):
    def test_the_windows_build_asks_for_no_elevation_and_has_its_version(self):
        if not ARGS.windows:
            self.skipTest("only the Windows build carries resources")
        rc = tool(ARGS.windres, "-O", "rc", "-i")
        # A manifest as one string, from the rc text's quoted lines.
        manifests = re.findall(r"^1 24 .*?\nBEGIN\n(.*?)\nEND", rc, re.M | re.S)
        self.assertEqual(len(manifests), 1, "one manifest")
        lines = re.findall(r'^\s*"(.*)"$', manifests[0], re.M)
        manifest = "".join(lines).replace('""', '"').replace("\\n", "\n")
        self.assertRegex(manifest, r'<requestedExecutionLevel level="asInvoker" uiAccess="false"/>')
        self.assertIn("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", manifest, "Windows 10 and 11 listed")
        self.assertRegex(manifest, rf'<assemblyIdentity [^>]*\bversion="{re.escape(ARGS.version)}\.0"')
        # Windows refuses to start a program whose manifest names another architecture.
        machine = re.search(r"file format (\S+)", tool(ARGS.objdump, "-f"))[1]
        arch = {"pei-x86-64": "amd64", "pei-i386": "x86", "pei-aarch64-little": "arm64"}[machine]
        self.assertRegex(manifest, rf'<assemblyIdentity [^>]*\bprocessorArchitecture="{arch}"')
        major, minor, patch = ARGS.version.split(".")
        self.assertRegex(rc, rf"\bFILEVERSION {major}, {minor}, {patch}, 0\n")
        self.assertRegex(rc, rf"\bPRODUCTVERSION {major}, {minor}, {patch}, 0\n")
        strings = dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', rc))
        self.assertEqual((strings.get("FileVersion"), strings.get("ProductVersion"),
                          strings.get("OriginalFilename"), strings.get("ProductName")),
                         (ARGS.version, ARGS.version, "patcher.exe", "patcher"))
        self.assertIn("DUKE3D.EXE", strings.get("FileDescription", ""))


class Rebuild(unittest.TestCase):
    def test_the_build_remakes_what_an_edited_input_feeds(self):
        if not ARGS.rebuild:
            self.skipTest("no build folder given")
        for path in ARGS.input:
            with self.subTest(path):
                now = time.time()
                os.utime(path, (now, now))  # only its time changes
                subprocess.run([ARGS.rebuild[0], "--build", ARGS.rebuild[1]], check=True, stdout=subprocess.DEVNULL)
                self.assertGreaterEqual(os.path.getmtime(ARGS.patcher), now, f"not remade after {path} changed")


class Packages(unittest.TestCase):
    def test_the_check_of_a_package_refuses_one_made_wrong(self):
        archive = pathlib.Path(__file__).resolve().parent.parent / "cmake" / "archive.py"
        tmp = pathlib.Path(tempfile.mkdtemp(prefix="patcher-package-"))
        self.addCleanup(shutil.rmtree, tmp)
        files, package, stage = ["bin/patcher", "doc/LICENSE", "doc/README.md"], tmp / "p-1.tar.gz", tmp / "stage/p-1"
        for name in files:
            (stage / name).parent.mkdir(parents=True, exist_ok=True)
            (stage / name).write_text(name)
        os.chmod(stage / "bin/patcher", 0o755)

        def repack(change):  # its members changed, and its .sha256 made anew
            with tarfile.open(package) as old:
                members = [(m, old.extractfile(m).read() if m.isfile() else None) for m in old.getmembers()]
            with tarfile.open(package, "w:gz") as new:
                for m, data in change(members):
                    new.addfile(m, data and io.BytesIO(data))
            pathlib.Path(f"{package}.sha256").write_text(f"{hashlib.sha256(package.read_bytes()).hexdigest()}  p-1.tar.gz\n")

        def owned(members):
            members[-1][0].uid = 1000
            return members
        cases = {  # case: what is done to the package once packed, whether the check passes it
            "as packed": (lambda: None, True),
            "its files out of order": (lambda: repack(lambda members: members[:-2] + members[:-3:-1]), False),
            "a file not owned by 0:0": (lambda: repack(owned), False),
            # Checked in another folder, a path still finds the package.
            "a .sha256 naming the package where it was built": (lambda: pathlib.Path(f"{package}.sha256").write_text(
                pathlib.Path(f"{package}.sha256").read_text().replace("  ", f"  {tmp}/")), False),
        }
        for case, (spoil, passes) in cases.items():
            with self.subTest(case):
                subprocess.run([sys.executable, archive, stage.parent, package], check=True)
                spoil()
                check = subprocess.run([sys.executable, archive, "--check", package, *files], capture_output=True)
                self.assertEqual(check.returncode == 0, passes, check.stdout.decode())


class Build(unittest.TestCase):
    # Libraries that every Windows has; the Linux build needs none at all.
    SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ucrtbase.dll", "ntdll.dll",
                   "advapi32.dll", "user32.dll"}

    def setUp(self):
        if not ARGS.static:
            self.skipTest("this build links shared runtimes (sanitizers, or PATCHER_STATIC off)")

    def test_the_executable_needs_no_shared_runtime(self):
        dump = tool(ARGS.objdump, "-p")
        needed = [line.split()[-1] for line in dump.splitlines()
                  if line.split()[:1] == ["NEEDED"] or line.strip().startswith("DLL Name:")]
        if ARGS.windows:
            self.assertIn("msvcrt.dll", [n.lower() for n in needed], "no imports read")
            needed = [n for n in needed if n.lower() not in self.SYSTEM_DLLS
                      and not n.lower().startswith("api-ms-win-")]
        self.assertEqual(needed, [])

    def test_the_executable_is_stripped(self):
        self.assertIn("no symbols", tool(ARGS.objdump, "-t"))


if __name__ == "__main__":
    if sys.argv[1:] == ["--list"]:
        main(sys.modules[__name__], ["--list"])
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--runner", action="append", default=[], help="what runs PATCHER, e.g. wine")
    parser.add_argument("--objdump", default="objdump")
    parser.add_argument("--windres", default="windres")
    parser.add_argument("--version")
    parser.add_argument("--static", action="store_true", help="PATCHER is built to stand alone")
    parser.add_argument("--rebuild", nargs=2, help="CMake and the build folder that made PATCHER")
    parser.add_argument("--input", action="append", default=[], help="what PATCHER is made from")
    parser.add_argument("patcher", type=os.path.abspath)
    ARGS, rest = parser.parse_known_args()
    ARGS.windows = ARGS.patcher.lower().endswith(".exe")
    main(sys.modules[__name__], rest)
