#!/usr/bin/env python3
"""Checks that the build remakes OUTPUT after any of INPUTS changes: for
each input in turn, the input is made newer than everything built (only its
time changes), then the build runs.

Usage: rebuild.py CMAKE BUILD_DIR OUTPUT INPUT...
"""
import os
import subprocess
import sys
import time

cmake, build, output, *inputs = sys.argv[1:]
stale = []
for path in inputs:
    now = time.time()
    os.utime(path, (now, now))
    subprocess.run([cmake, "--build", build], check=True, stdout=subprocess.DEVNULL)
    if os.path.getmtime(output) < now:
        stale.append(path)
print(f"{output} remade after a change to each of {inputs}" if not stale else
      f"{output} NOT remade after a change to {stale}")
sys.exit(1 if stale else 0)
