#!/usr/bin/env python3
"""Times the patcher against two references and counts its system calls.

Usage: python3 bench/run.py [PATH/TO/patcher]   (default: build/patcher)

References, built here: a minimal static C program doing the same open,
seven positioned writes and close (ref_patch.c), and a shell script doing
the same with printf | dd (dd_patch.sh). Needs cc, hyperfine, strace and objdump.
Exits 1 when a bar is missed.
"""
import json
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROUNDS = 21       # hyperfine runs, order rotated each round against drift
RUNS = 100        # timed runs of each command per round
TARGET_SIZE = 2 * 1024 * 1024
C_RATIO = 1.10     # at most this many times the static C reference
DD_SPEEDUP = 5.0   # at least this many times faster than the dd script
MAX_TARGET_CALLS = 16


def syscalls_on_target(exe, work):
    """System calls strace sees on DUKE3D.EXE's descriptor, open to close."""
    log = os.path.join(work, "strace.log")
    subprocess.run(["strace", "-o", log, "-e", "trace=all", exe], cwd=work, check=True)
    calls, fd, read_bytes = [], None, 0
    for line in open(log):
        name = line.split("(", 1)[0]
        if fd is None and '"DUKE3D.EXE"' in line:
            fd = line.rsplit("=", 1)[1].strip()
            calls.append(name)
        elif fd is not None and (line.startswith(name + "(" + fd + ",") or line.startswith(name + "(" + fd + ")")):
            calls.append(name)
            if name in ("read", "pread64", "readv", "preadv"):
                read_bytes += max(0, int(line.rsplit("=", 1)[1].split()[0]))
            if name == "close":
                break
    return calls, read_bytes


def main():
    exe = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/patcher")
    work = tempfile.mkdtemp(prefix="patcher-bench-")
    try:
        ref = os.path.join(work, "ref_patch")
        subprocess.run(["cc", "-O2", "-static", "-s", "-o", ref,
                        os.path.join(HERE, "ref_patch.c")], check=True)
        commands = {"patcher": [exe], "static C": [ref],
                    "dd script": ["sh", os.path.join(HERE, "dd_patch.sh")]}
        names = list(commands)

        # The three must leave the same bytes, or the race is not fair. The
        # last one's result is the target the timed runs patch again.
        target = os.path.join(work, "DUKE3D.EXE")
        images = []
        for argv in commands.values():
            with open(target, "wb") as f:
                f.write(b"\xff" * TARGET_SIZE)
            subprocess.run(argv, cwd=work, check=True)
            images.append(open(target, "rb").read())
        if images.count(images[0]) != len(images):
            sys.exit("bench: the three commands leave different files")

        needed = [l.split()[1] for l in subprocess.run(
            ["objdump", "-p", exe], check=True, capture_output=True, text=True).stdout.splitlines()
            if l.split()[:1] == ["NEEDED"]]
        print(f"shared libraries it needs: {' '.join(needed) or 'none'}")

        calls, read_bytes = syscalls_on_target(exe, work)
        print(f"system calls on the target: {len(calls)} ({' '.join(calls)})")
        print(f"bytes read from the target: {read_bytes}")

        samples = {name: [] for name in names}
        for r in range(ROUNDS):
            order = names[r % len(names):] + names[:r % len(names)]
            out = os.path.join(work, "round.json")
            subprocess.run(["hyperfine", "-N", "--style", "none", "--warmup", "20",
                            "--runs", str(RUNS),
                            "--export-json", out] + [shlex.join(commands[n]) for n in order],
                           cwd=work, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE)  # outlier warnings; kept on failure
            for name, result in zip(order, json.load(open(out))["results"]):
                samples[name].extend(result["times"])
        median = {n: statistics.median(t) for n, t in samples.items()}
        for name in names:
            print(f"{name:10} median {median[name] * 1e6:8.0f} us over {len(samples[name])} runs")

        ok = len(calls) <= MAX_TARGET_CALLS and read_bytes == 0 and not needed
        ratio = median["patcher"] / median["static C"]
        ok &= ratio <= C_RATIO
        print(f"patcher / static C: {ratio:.3f} (bar: at most {C_RATIO:.2f})")
        speedup = median["dd script"] / median["patcher"]
        ok &= speedup >= DD_SPEEDUP
        print(f"dd script / patcher: {speedup:.1f} (bar: at least {DD_SPEEDUP:.0f})")
        print("bars: " + ("all met" if ok else "MISSED"))
        return 0 if ok else 1
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
