#!/usr/bin/env python3
"""Packs a staged folder into OUT (.tar.gz or .zip) and writes OUT.sha256
beside it, as `sha256sum -c` reads it; or checks a package made so.

Usage: archive.py STAGE OUT
       archive.py --check PACKAGE FILE...

The same folder gives the same bytes wherever, whenever and by whomever it
is packed: entries in sorted order, owned by 0:0, mode 0755 for folders and
programs and 0644 for the rest, every time SOURCE_DATE_EPOCH or, when that is
unset, 1980-01-01 (the earliest a zip can hold); no time or name in the gzip
header.

--check passes a package that holds exactly these files, in the order they
are packed, under a top folder of the package's name, and whose .sha256
names the package alone, as it lies beside it, with its digest; it prints
what differs and exits 1 otherwise.
"""
import gzip
import hashlib
import os
import pathlib
import sys
import tarfile
import time
import zipfile


def digest(path):
    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()


def check(package, files):
    """What the package must hold, listed as it is read: each folder before
    what it holds, modes, owners other than 0:0, and the .sha256's text."""
    top = os.path.basename(package).removesuffix(".tar.gz").removesuffix(".zip")
    want, seen = [], set()
    for name in files:
        parts = f"{top}/{name}".split("/")
        for i in range(1, len(parts)):
            folder = "/".join(parts[:i]) + "/"
            if folder not in seen:
                seen.add(folder)
                want.append(f"0755 {folder}")
        want.append(f"{'0755' if name.startswith('bin/') else '0644'} {top}/{name}")
    if package.endswith(".zip"):
        got = [f"{i.external_attr >> 16 & 0o7777:04o} {i.filename}" for i in zipfile.ZipFile(package).infolist()]
    else:
        members = tarfile.open(package).getmembers()
        got = [f"{m.mode:04o} {m.name}{'/' if m.isdir() else ''}" for m in members]
        got += [f"owner {m.uid}:{m.gid} {m.name}" for m in members if (m.uid, m.gid) != (0, 0)]
    want.append(f"{digest(package)}  {os.path.basename(package)}\n")
    got.append(pathlib.Path(package + ".sha256").read_text())
    if got != want:
        print(f"{package} holds:", *got, "but must hold:", *want, sep="\n")
        sys.exit(1)
    sys.exit(0)


def pack(stage, out):
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

    with open(out + ".sha256", "w") as f:
        f.write(f"{digest(out)}  {os.path.basename(out)}\n")


if __name__ == "__main__":
    if sys.argv[1] == "--check":
        check(sys.argv[2], sys.argv[3:])
    pack(*sys.argv[1:])
