#!/usr/bin/env python3
"""The APT repository's pool and its history: what an earlier release's repository served is
carried into the new pool only when the repository's own key signed it, every package of the pool
is a plain Debian package, and the index made of the pool lists exactly what the pool was given.

Usage: apt_history.py carry POOL ARCH OWN_DEB VERIFIER CERT ROWS [HISTORY]
       apt_history.py check PACKAGES ROWS
  carry: HISTORY is an earlier release's apt/ folder. Its dists/stable/InRelease must verify with
    CERT, the repository's certificate (VERIFIER: sqop, or gpgv for a gpg key); its
    main/binary-ARCH/Packages must have the SHA-256 that InRelease states; every .deb of its
    pool/main/t/tarnwick/ must be listed there with its SHA-256. Each is copied into POOL and the
    copy checked; OWN_DEB, the release's own package, already in POOL, is checked too. Writes the
    (package, version, file) rows the index must list into ROWS.
  check: PACKAGES, the index made of the pool, lists exactly the rows of ROWS.
Exits 0, or 1 with one line that names the file and why.
"""
import argparse
import base64
import hashlib
import os
import re
import stat
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
from release_script import fail  # noqa: E402

POOL = "pool/main/t/tarnwick/"
# deb(5): the members, in this order and no others; anything else is read differently by
# different readers (dpkg-deb takes the first control member, apt-ftparchive the last).
MEMBERS = [r"debian-binary", r"control\.tar(\.(gz|xz|zst))?", r"data\.tar(\.(gz|xz|zst|bz2|lzma))?"]


def read(path, what):
    """The bytes of the regular file `path`, opened without following a link."""
    try:
        handle = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK)
    except OSError as error:
        fail(f"TARNWICK_APT_HISTORY: {what}: not a regular file, or unreadable ({error.strerror})")
    with os.fdopen(handle, "rb") as file:
        if not stat.S_ISREG(os.fstat(file.fileno()).st_mode):
            fail(f"TARNWICK_APT_HISTORY: {what}: not a regular file")
        return file.read()


def stanzas(text):
    """The stanzas of a Packages or Release file, as dictionaries of their fields."""
    result = []
    for block in re.split(r"\n\s*\n", text.strip("\n")):
        fields, name = {}, None
        for line in block.split("\n"):
            if line[:1] in (" ", "\t") and name:
                fields[name] += "\n" + line
            elif ":" in line:
                name, value = line.split(":", 1)
                fields[name] = value.strip()
        result.append(fields)
    return result


def members(data):
    """Why the ar archive `data` is not exactly deb(5)'s three members, or None."""
    if not data.startswith(b"!<arch>\n"):
        return "not an ar archive"
    names, at = [], 8
    while at < len(data):
        header = data[at:at + 60]
        if len(header) < 60 or header[58:60] != b"`\n" or not header[48:58].strip().isdigit():
            return "an ar archive with a broken member header"
        size = int(header[48:58])
        names.append(header[:16].decode("latin-1").rstrip(" "))
        at += 60 + size + size % 2
    if at > len(data) + 1:
        return "an ar archive cut short"
    names = [name[:-1] if name.endswith("/") else name for name in names]
    if len(names) != 3 or not all(re.fullmatch(rule, name) for rule, name in zip(MEMBERS, names)):
        return (f"its members are {', '.join(map(repr, names))}, not debian-binary, one control.tar "
                "and one data.tar, in that order")
    return None


def field(path, name):
    done = subprocess.run(["dpkg-deb", "-f", path, name], capture_output=True, text=True)
    if done.returncode != 0:
        fail(f"TARNWICK_APT_HISTORY: {os.path.basename(path)!r}: dpkg-deb cannot read it")
    return done.stdout.strip()


def dpkg_holds(left, relation, right):
    return subprocess.run(["dpkg", "--compare-versions", left, relation, right]).returncode == 0


def unarmored(text):
    """The binary packets of an ASCII-armoured certificate (gpgv reads no armour)."""
    body = text.split("\n\n", 1)[1].split("-----END", 1)[0]
    return base64.b64decode("".join(line for line in body.split("\n") if not line.startswith("=")))


def signed_release(history, verifier, cert, work):
    """The text of the history's Release, as its InRelease signed by `cert`'s key holds it."""
    copy = os.path.join(work, "InRelease")
    with open(copy, "wb") as file:
        file.write(read(os.path.join(history, "dists/stable/InRelease"), "dists/stable/InRelease"))
    if verifier == "sqop":
        with open(copy, "rb") as signed:
            done = subprocess.run(["sqop", "inline-verify", cert], stdin=signed, capture_output=True)
        text = done.stdout
    else:
        keyring = os.path.join(work, "keyring.gpg")
        with open(cert) as armored, open(keyring, "wb") as file:
            file.write(unarmored(armored.read()))
        out = os.path.join(work, "Release")
        done = subprocess.run(["gpgv", "--keyring", keyring, "--output", out, copy], capture_output=True)
        text = open(out, "rb").read() if done.returncode == 0 else b""
    if done.returncode != 0:
        fail("TARNWICK_APT_HISTORY: dists/stable/InRelease is not signed with this release's OpenPGP key "
             "(an earlier release's repository, signed with the same key, is the history)")
    return text.decode("utf-8", "replace")


def carry(args):
    own_name = os.path.basename(args.own_deb)
    rows = [(field(args.own_deb, "Package"), field(args.own_deb, "Version"), POOL + own_name)]
    why = members(open(args.own_deb, "rb").read())
    if why:
        fail(f"APT repository: the release's own {own_name!r}: {why}")
    own_version = rows[0][1]
    if args.history:
        with tempfile.TemporaryDirectory() as work:
            release = stanzas(signed_release(args.history, args.verifier, args.cert, work))[0]
        index = f"main/binary-{args.arch}/Packages"
        sums = [line.split() for line in release.get("SHA256", "").split("\n")[1:]]
        sums = [entry for entry in sums if len(entry) == 3 and entry[2] == index]
        data = read(os.path.join(args.history, "dists/stable", index), f"dists/stable/{index}")
        if len(sums) != 1 or sums[0][0] != hashlib.sha256(data).hexdigest() or sums[0][1] != str(len(data)):
            fail(f"TARNWICK_APT_HISTORY: dists/stable/{index} is not the index its signed InRelease lists")
        listed = {}
        for entry in stanzas(data.decode("utf-8", "replace")):
            name = entry.get("Filename", "")[len(POOL):]
            if not entry.get("Filename", "").startswith(POOL) or not re.fullmatch(r"[A-Za-z0-9._+~-]+\.deb", name):
                fail(f"TARNWICK_APT_HISTORY: its Packages lists {entry.get('Filename')!r}, outside {POOL}")
            listed[name] = entry
        try:
            found = sorted(name for name in os.listdir(os.path.join(args.history, POOL)) if name.endswith(".deb"))
        except OSError as error:
            fail(f"TARNWICK_APT_HISTORY: no pool: {error.strerror}")
        for name in found:
            if not stat.S_ISREG(os.lstat(os.path.join(args.history, POOL, name)).st_mode):
                fail(f"TARNWICK_APT_HISTORY: {name!r}: not a regular file")
            if name not in listed:
                fail(f"TARNWICK_APT_HISTORY: {name!r}: not in its signed Packages, so never signed with "
                     "the repository's key")
        for name, entry in sorted(listed.items()):
            data = read(os.path.join(args.history, POOL, name), repr(name))
            if name == own_name:
                fail(f"TARNWICK_APT_HISTORY: {name!r}: the name of the release's own package")
            if hashlib.sha256(data).hexdigest() != entry.get("SHA256"):
                fail(f"TARNWICK_APT_HISTORY: {name!r}: not the package its signed Packages lists "
                     "(another SHA-256)")
            # What the repository will serve is the copy: it is what is checked.
            copy = os.path.join(args.pool, name)
            with open(copy, "xb") as file:
                file.write(data)
            why = members(data)
            package, version, arch = (field(copy, key) for key in ("Package", "Version", "Architecture"))
            twice = [row[1] for row in rows[1:] if dpkg_holds(version, "eq", row[1])]
            if why:
                pass
            elif package != "tarnwick":
                why = f"a package of {package!r}, not of tarnwick"
            elif arch not in (args.arch, "all"):
                why = f"for {arch!r}, not {args.arch}"
            elif not dpkg_holds(version, "lt", own_version):
                why = f"version {version!r}, not below the release's {own_version}"
            elif twice:
                why = f"version {version!r} a second time (dpkg holds it equal to {twice[0]!r})"
            elif (entry.get("Package"), entry.get("Version")) != (package, version):
                why = (f"{package} {version!r} to dpkg-deb, but {entry.get('Package')!r} "
                       f"{entry.get('Version')!r} in its signed Packages")
            if why:
                fail(f"TARNWICK_APT_HISTORY: {name!r}: {why}")
            rows.append((package, version, POOL + name))
            print(f"APT repository: the pool takes {name} (tarnwick {version}) from the history")
        if not listed:
            print("APT repository: no package in the history's signed Packages")
    with open(args.rows, "w") as file:
        file.writelines(line + "\n" for line in sorted(" ".join(row) for row in rows))


def check(args):
    made = sorted(" ".join((entry.get("Package", ""), entry.get("Version", ""), entry.get("Filename", "")))
                  for entry in stanzas(open(args.packages).read()))
    expected = open(args.rows).read().splitlines()
    if made != expected:
        fail(f"APT repository: Packages lists {', '.join(map(repr, made))}, not the pool's "
             f"{', '.join(map(repr, expected))}")


def main():
    parser = argparse.ArgumentParser(description="The APT repository's pool and its history.")
    commands = parser.add_subparsers(dest="command", required=True)
    carry_command = commands.add_parser("carry", help="carry the history's signed packages into POOL")
    for name in ("pool", "arch", "own_deb", "verifier", "cert", "rows"):
        carry_command.add_argument(name)
    carry_command.add_argument("history", nargs="?")
    check_command = commands.add_parser("check", help="PACKAGES lists exactly ROWS")
    check_command.add_argument("packages")
    check_command.add_argument("rows")
    args = parser.parse_args()
    carry(args) if args.command == "carry" else check(args)


if __name__ == "__main__":
    main()
