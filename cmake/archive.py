#!/usr/bin/env python3
"""Packs a staged folder into OUT (.tar.gz or .zip) and writes OUT.sha256
beside it, as `sha256sum -c` reads it.

Usage: archive.py STAGE OUT

The same folder gives the same bytes wherever, whenever and by whomever it
is packed: entries in sorted order, owned by 0:0, mode 0755 for folders and
programs and 0644 for the rest, every time SOURCE_DATE_EPOCH or, when that is
unset, 1980-01-01 (the earliest a zip can hold); no time or name in the gzip
header.
"""
import gzip
import hashlib
import os
import pathlib
import sys
import tarfile
import time
import zipfile

stage, out = sys.argv[1:]
epoch = int(os.environ.get("SOURCE_DATE_EPOCH", 315532800))
entries = []  # (name in the archive, path, mode), folders before what they hold
for folder, dirs, files in os.walk(stage):
    dirs.sort()
    if folder != stage:
        entries.append((os.path.relpath(folder, stage) + "/", folder, 0o755))
    for name in sorted(files):
        path = os.path.join(folder, name)
        entries.append((os.path.relpath(path, stage), path, 0o755 if os.access(path, os.X_OK) else 0o644))

if out.endswith(".zip"):
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, path, mode in entries:
            folder = name.endswith("/")
            info = zipfile.ZipInfo(name, time.gmtime(epoch)[:6])
            info.create_system = 3  # Unix, so that the modes below are read
            info.external_attr = ((0o040000 if folder else 0o100000) | mode) << 16
            info.compress_type = zipfile.ZIP_STORED if folder else zipfile.ZIP_DEFLATED
            archive.writestr(info, b"" if folder else pathlib.Path(path).read_bytes())
else:
    with open(out, "wb") as raw, gzip.GzipFile("", "wb", 9, raw, mtime=0) as packed, \
            tarfile.open(fileobj=packed, mode="w", format=tarfile.USTAR_FORMAT) as archive:
        for name, path, mode in entries:
            info = archive.gettarinfo(path, name.rstrip("/"))
            info.mode, info.mtime, info.uid, info.gid, info.uname, info.gname = mode, epoch, 0, 0, "root", "root"
            if info.isfile():
                with open(path, "rb") as f:
                    archive.addfile(info, f)
            else:
                archive.addfile(info)

with open(out, "rb") as f:
    digest = hashlib.sha256(f.read()).hexdigest()
with open(out + ".sha256", "w") as f:
    f.write(f"{digest}  {os.path.basename(out)}\n")
