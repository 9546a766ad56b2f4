#!/usr/bin/python3
"""Checks a release that came from elsewhere, as a user or as one of several builders:

  verify [--publisher-cert CERT] [--ca CA_FILE [--crl CRL_FILE] [--ignore-cdp | --ignore-crl]] RELEASE
      whether the release folder RELEASE is exactly what this checkout builds, plus its signatures:
      reads what it was built from (BUILDINFO), takes the release's own Authenticode signatures off
      its exes and MSIs, rebuilds the release from this checkout (which must be at that commit) with
      those signatures put back, and compares every file byte for byte. With --publisher-cert,
      SHA256SUMS.asc must be that OpenPGP certificate's signature; with --ca, every exe and MSI must
      verify under that CA (osslsigncode verify -CAfile; --crl, --ignore-cdp and --ignore-crl are
      passed on to it as -CRLfile, -ignore-cdp and -ignore-crl).
  attest [the options of verify] RELEASE BUILDER KEY [ATTESTATIONS]
      verify, and only when every file matches, write the builder's in-toto link of the release
      (step rebuild; as products SHA256SUMS and each file it lists, by bare name, with the SHA-256
      of the bytes checked), signed with the builder's OpenPGP key KEY through in-toto (gpg), to
      ATTESTATIONS/<builder>/sources/tarnwick/<version>/metadata (./attestations by default), where
      apt-transport-in-toto asks a rebuilder for it. KEY is a secret key whose primary key signs
      (gpg --quick-gen-key NAME ed25519 sign), tried before the rebuild.
  layout CERTS THRESHOLD EXPIRES KEY OUT
      write to OUT an in-toto layout signed with the OpenPGP secret key KEY: a step rebuild that at
      least THRESHOLD of the builders' keys, one per certificate file in the folder CERTS, must each
      have signed a link of, and an inspection that matches every file checked with that step's
      products and allows no other (as apt-transport-in-toto checks a .deb); it expires at EXPIRES,
      a day (YYYY-MM-DD, its start in UTC) or a time (YYYY-MM-DDTHH:MM:SSZ).
  attestations RELEASE ATTESTATIONS CERTS THRESHOLD
  attestations --layout LAYOUT --layout-cert CERT RELEASE ATTESTATIONS
      whether the release's files match its SHA256SUMS and in-toto's verifier accepts them with the
      builders' links ATTESTATIONS/*/sources/tarnwick/<version>/metadata: against a layout the check
      makes of the certificates in CERTS (one key per file) and THRESHOLD, or against the signed
      LAYOUT, whose signature CERT must verify.
  provenance --cert CERT RELEASE
      whether the release's provenance as a Sigstore bundle (tarnwick-<version>.intoto.sigstore.json)
      is signed by the key of the publisher's X.509 certificate CERT (PEM) over DSSE's
      pre-authentication encoding, holds an in-toto Statement of a SLSA provenance of this
      project's build type, and names every file of the release with its SHA-256.

Exits 0 yes; 1 no (the last line says why); 2 when it could not check: usage, a missing tool, an
input of the checker's own that cannot be read, a checkout at another commit, a rebuild that failed,
a stop by Ctrl-C, SIGTERM or SIGHUP (a further one while it cleans up is let pass), a tool (gpg,
sqop, git, osslsigncode) that ran longer than 2 minutes, a builders' check that ran longer than 10
minutes; and -h or --help, which print the usage and are no verdict.

Everything read from outside (the release, the attestations, the certificates and keys) is read by
one reader: each file opened once, without following a link at any step of its path, only when it
is a regular file, and read whole into memory; the sums, signatures and files that are hashed,
compared, signed and verified are those bytes, handed to the tools on standard input or as copies
in a private work folder. Nothing in a zip is unpacked where it says, and nothing of the release is
run. Every name from outside is printed as Python's repr shows it.
"""
import argparse
import base64
import dataclasses
import errno
import hashlib
import io
import json
import lzma
import os
import re
import secrets
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

sys.dont_write_bytecode = True  # nothing written into the checkout
from provenance import BUILD_TYPE  # noqa: E402
import sigstore_bundle  # noqa: E402

TOP = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
FILE_LIMIT = 256 << 20  # far beyond any file of a release
RELEASE_LIMIT = 1 << 30  # and beyond any whole release
KEY_LIMIT = 60 << 10  # far beyond a key or certificate of one builder
SIGNATURE_LIMIT = 1 << 20
# A release lists a dozen files in lines of under 100 bytes, about 1 KiB; 64 KiB would hold some
# 700 such lines, and a SHA256SUMS refused for its size costs next to nothing to read.
SUMS_LIMIT = 64 << 10
# A release's zip holds 13 entries (six files, the pages of doc/, the two exes) in a central
# directory of about 1.2 KiB: these bounds leave room for many more pages, and a zip beyond them
# is refused from its end record, before its central directory is read.
ZIP_ENTRIES = 100
ZIP_DIRECTORY_LIMIT = 64 << 10
# A builder's link names a dozen files in a few KiB; this holds hundreds, and keeps a planted
# megabyte from the parsers.
LINK_LIMIT = 64 << 10
LINK_FILES = LINK_LIMIT // 100  # the files a link of that size can name (each takes more)
LAYOUT_LIMIT = 256 << 10  # a layout holds each builder's public key
TOOL_LIMIT = 120  # seconds for one run of gpg, sqop, osslsigncode or git (the rebuild's steps have none)
CHECK_LIMIT = 600  # seconds for the whole builders' check
STEP = "rebuild"  # the step of the layout, and the name in each builder's link
# The release's files, as the rebuild step's products: one layout serves every version.
PRODUCTS = ("SHA256SUMS", "BUILDINFO", "tarnwick_*.deb", "tarnwick-*.zip", "tarnwick-*.msi", "*.cdx.json")
SUM_LINE = re.compile(rb"([0-9a-f]{64})  ([A-Za-z0-9][A-Za-z0-9._+~-]*)\n")
# A line of `sqop verify`: the signature's time, the signing (sub)key's fingerprint, the primary key's,
# then perhaps words of sqop's own; a line of any other form (a warning, say) names no key.
VERIFIED = re.compile(rb"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z ([0-9A-F]{40}|[0-9A-F]{64}) "
                      rb"([0-9A-F]{40}|[0-9A-F]{64})(?: .*)?")
BUILDER = re.compile(r"[A-Za-z0-9][A-Za-z0-9._-]*")
ZIP_ENTRY = re.compile(r"(LICENSE|README\.md|CHANGELOG\.md|THIRD-PARTY-NOTICES\.txt|Tarnwick\.example\.cfg"
                       r"|Tarnwick\.task\.xml|tarnwick\.exe|tarnwickw\.exe|doc/([a-z-]+\.md)?)")
EXES = ("tarnwick.exe", "tarnwickw.exe")
ARCHES = ("win32", "win64")
# osslsigncode's options that the checkers pass on, with the version that brought each.
CRL_FLAGS = {"ignore_cdp": ("-ignore-cdp", "2.8"), "ignore_crl": ("-ignore-crl", "2.9")}


class CannotCheck(Exception):
    """The check could not run (exit 2): its message is the one line said."""


class Unfit(Exception):
    """A name that is missing, a link, or not a plain file or folder: the caller says what follows."""


# --- The reader ---

def open_folder(path, at=None, create=False, missing_ok=False):
    """A descriptor of the folder `path` (relative to the folder descriptor `at`, or to the current
    folder), reached one component at a time without following a link; with `create`, missing
    components are made; with `missing_ok`, None when one is missing. Raises Unfit when a
    component is missing, a link or not a folder."""
    folder = os.open("/" if path.startswith("/") else ".", os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC,
                     dir_fd=None if path.startswith("/") else at)
    try:
        for part in filter(None, path.split("/")):
            if create:
                try:
                    os.mkdir(part, 0o755, dir_fd=folder)
                except FileExistsError:
                    pass
            try:
                found = os.stat(part, dir_fd=folder, follow_symlinks=False)
            except FileNotFoundError:
                if missing_ok:
                    os.close(folder)
                    return None
                raise Unfit(f"{path!r} does not exist") from None
            if stat.S_ISLNK(found.st_mode):
                raise Unfit(f"{part!r} in {path!r} is a link")
            if not stat.S_ISDIR(found.st_mode):
                raise Unfit(f"{part!r} in {path!r} is not a folder")
            try:
                inner = os.open(part, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_CLOEXEC, dir_fd=folder)
            except OSError as error:
                if error.errno in (errno.ELOOP, errno.ENOTDIR, errno.ENOENT):
                    raise Unfit(f"{part!r} in {path!r} changed while it was opened") from None
                raise
            os.close(folder)
            folder = inner
    except BaseException:
        os.close(folder)
        raise
    return folder


def read_file(folder, name, limit=FILE_LIMIT):
    """The bytes of the regular file `name` in the folder descriptor `folder`, opened once without
    following a link and without waiting (a FIFO or a device is never opened). Raises Unfit when
    it is missing, a link, not a regular file, or larger than `limit`."""
    try:
        found = os.stat(name, dir_fd=folder, follow_symlinks=False)
    except FileNotFoundError:
        raise Unfit(f"{name!r} is missing") from None
    if stat.S_ISLNK(found.st_mode):
        raise Unfit(f"{name!r} is a link")
    if not stat.S_ISREG(found.st_mode):
        raise Unfit(f"{name!r} is not a regular file")
    try:
        fd = os.open(name, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC, dir_fd=folder)
    except OSError as error:
        if error.errno in (errno.ELOOP, errno.ENOENT):
            raise Unfit(f"{name!r} changed while it was opened") from None
        raise
    try:
        opened = os.fstat(fd)
        if not stat.S_ISREG(opened.st_mode) or (opened.st_dev, opened.st_ino) != (found.st_dev, found.st_ino):
            raise Unfit(f"{name!r} changed while it was opened")
        chunks, size = [], 0
        while chunk := os.read(fd, min(1 << 20, limit + 1 - size)):
            size += len(chunk)
            if size > limit:
                raise Unfit(f"{name!r} is larger than {sized(limit)}")
            chunks.append(chunk)
        return b"".join(chunks)
    finally:
        os.close(fd)


def sized(limit):
    """A limit in bytes as said: in MiB, or in KiB below 1 MiB."""
    return f"{limit >> 20} MiB" if limit >= 1 << 20 else f"{limit >> 10} KiB"


def read_path(path, what):
    """The bytes of the user's file `path` (`what` it is, for the message), read as above; anything
    else stops the check."""
    folder_path, name = os.path.split(path)
    if name in ("", ".", ".."):
        raise CannotCheck(f"{what}: {path!r} is not a file")
    try:
        folder = open_folder(folder_path or ".")
        try:
            return read_file(folder, name)
        finally:
            os.close(folder)
    except Unfit as unfit:
        raise CannotCheck(f"{what} {path!r} cannot be read: {unfit}") from None


def names_in(folder):
    """The names in the folder descriptor `folder`, sorted."""
    return sorted(os.listdir(folder))


# --- The private work folder and the tools ---

def work_folder():
    """A new folder only this user can open, in TMPDIR (/tmp when not set); stops the check when
    it cannot be made there."""
    base = os.environ.get("TMPDIR") or "/tmp"
    try:
        return os.path.abspath(tempfile.mkdtemp(prefix="tarnwick-check.", dir=base))
    except OSError as error:
        raise CannotCheck(f"no private work folder can be made in {base!r} (TMPDIR): {error.strerror}") from None


# Writes data into a new file of the work folder, readable by this user alone; its path.
private = sigstore_bundle.private


def need(*tools):
    for tool in tools:
        if not shutil.which(tool):
            raise CannotCheck(f"the check needs {tool}, which is not installed")


def run(command, data=b"", **options):
    """Runs `command` with `data` on its standard input, for TOOL_LIMIT seconds at most; the
    finished process, outputs captured."""
    try:
        return subprocess.run(command, input=data, capture_output=True, timeout=TOOL_LIMIT, **options)
    except subprocess.TimeoutExpired:
        raise CannotCheck(f"{command[0]} took longer than {TOOL_LIMIT} s, and was stopped") from None
    except OSError as error:
        raise CannotCheck(f"{command[0]} could not be run: {error.strerror}") from None


def last_line(process):
    """What a tool that failed said: its first line that names an error, or else its last line."""
    lines = [line.strip() for line in (process.stderr + process.stdout).decode("utf-8", "replace").splitlines()]
    lines = [line for line in lines if line]
    return next((line for line in lines if "error" in line.lower()), lines[-1] if lines else "")


def signed_by(work, name, signature, cert, data):
    """The primary fingerprints of the keys of `cert` that made a signature in `signature` over
    `data` (empty when none did). sqop prints, for each good signature, its time, the signing
    (sub)key's fingerprint and the primary key's."""
    sig_path = private(work, name + ".asc", signature)
    done = run(["sqop", "verify", sig_path, cert], data)
    os.unlink(sig_path)
    if done.returncode != 0:
        return []
    lines = (VERIFIED.fullmatch(line) for line in done.stdout.split(b"\n"))
    return sorted({found[2].decode() for found in lines if found})


# --- in-toto and the keys it signs with ---

def intoto():
    """Debian's in-toto modules, their tools bounded by TOOL_LIMIT; stops the check when missing."""
    try:
        import in_toto.exceptions
        import in_toto.models.layout
        import in_toto.models.link
        import in_toto.models.metadata
        import in_toto.settings
        import in_toto.verifylib
        import securesystemslib.gpg.functions
        import securesystemslib.settings
    except ImportError:
        raise CannotCheck("the check needs Debian's in-toto and python3-securesystemslib, which are not "
                          "installed") from None
    securesystemslib.settings.SUBPROCESS_TIMEOUT = TOOL_LIMIT  # each gpg it runs (3 s by default)
    in_toto.settings.LINK_CMD_EXEC_TIMEOUT = TOOL_LIMIT  # the inspection's command
    return in_toto


def told(error):
    """What in-toto or gpg said in `error`, in one line, escaped."""
    return repr(" ".join(str(error).split())[:300])


def gnupg_home(work):
    """A GnuPG home of the check's own in the work folder, where every key and certificate is
    imported: in-toto signs and reads keys through gpg, which finds them by GNUPGHOME (in-toto
    would cut a --homedir at its spaces). The caller's own keyring is never read."""
    home = os.path.join(work, "gnupg")
    os.mkdir(home, 0o700)
    # No gpg it runs may wait for a pass phrase: a key that has one is refused.
    private(home, "gpg.conf", b"batch\nno-tty\npinentry-mode error\n")
    os.environ["GNUPGHOME"] = home
    return home


def stop_gnupg(work):
    """Ends the gpg-agent that signing started for the check's GnuPG home, if any."""
    home = os.path.join(work, "gnupg")
    if os.path.isdir(home) and shutil.which("gpgconf"):
        try:
            subprocess.run(["gpgconf", "--homedir", home, "--kill", "gpg-agent"], capture_output=True, timeout=30)
        except (OSError, subprocess.TimeoutExpired):
            pass  # the work folder goes all the same


def gpg(home, *arguments, data=b""):
    return run(["gpg", "--homedir", home, "--batch", "--no-tty", "--with-colons", *arguments], data)


def primaries(home, data):
    """The primary keys in the OpenPGP key or certificate `data`, each as (fingerprint, whether
    it is secret, its own capabilities), read by gpg without importing it."""
    shown = gpg(home, "--import-options", "show-only", "--import", data=data)
    keys, record = [], None
    for line in shown.stdout.decode("utf-8", "replace").splitlines():
        fields = line.split(":")
        if fields[0] in ("pub", "sec", "sub", "ssb"):
            record = fields
        elif fields[0] == "fpr" and record and record[0] in ("pub", "sec") and len(fields) > 9:
            keys.append((fields[9].lower(), record[0] == "sec", record[11] if len(record) > 11 else ""))
            record = None
    return keys


def one_key(home, data, what, shown, secret=False):
    """Imports the key or certificate `data` (`what` it is, read from `shown`) into the check's
    GnuPG home; its primary fingerprint. Stops the check unless it holds exactly one primary key,
    which signs: one file is one builder's vote, and in-toto signs with the primary key (it drops
    the signing subkeys of the keys sqop makes, whose primary cannot sign)."""
    keys = primaries(home, data)
    if len(keys) != 1:
        raise CannotCheck(f"{what} {shown!r} holds {len(keys)} OpenPGP keys, and one is asked: "
                          "one file, one builder's key")
    fingerprint, is_secret, abilities = keys[0]
    if secret and not is_secret:
        raise CannotCheck(f"{what} {shown!r} is not a secret key")
    if "s" not in abilities:
        raise CannotCheck(f"{what} {shown!r} cannot be used by in-toto: its primary key does not sign "
                          "(as in a key sqop made); make one with 'gpg --quick-gen-key NAME ed25519 sign'")
    imported = gpg(home, "--import", data=data)
    if imported.returncode != 0:
        raise CannotCheck(f"{what} {shown!r} cannot be read by gpg: {last_line(imported)!r}")
    return fingerprint


def public_key(home, fingerprint, what, shown):
    """The public key of `fingerprint`, imported, as in-toto reads it (with the subkeys it keeps)."""
    intoto()
    import securesystemslib.gpg.functions
    try:
        return securesystemslib.gpg.functions.export_pubkey(fingerprint)
    except Exception as error:
        raise CannotCheck(f"{what} {shown!r} cannot be read by in-toto: {told(error)}") from None


def sign(metablock, fingerprint, what):
    """Signs the in-toto `metablock` with the imported key `fingerprint` through in-toto (gpg)."""
    try:
        return metablock.sign_gpg(fingerprint)
    except Exception as error:
        raise CannotCheck(f"{what} could not be signed through in-toto: {told(error)}") from None


def signing_key(home, data, what, shown):
    """Imports the secret key `data` and tries it: a probe signed through in-toto must verify with
    the public key in-toto reads back, as a link or a layout will. Its primary fingerprint; stops
    the check, in one line, on a key in-toto cannot use."""
    fingerprint = one_key(home, data, what, shown, secret=True)
    tools = intoto()
    probe = tools.models.metadata.Metablock(signed=tools.models.link.Link(name="probe"))
    sign(probe, fingerprint, f"a probe with {what} {shown!r}")
    try:
        probe.verify_signature(public_key(home, fingerprint, what, shown))
    except Exception as error:
        raise CannotCheck(f"{what} {shown!r} cannot be used by in-toto: its signature does not verify "
                          f"({told(error)})") from None
    return fingerprint


def read_certs(path, work, home):
    """The builders' keys of the certificates in the folder `path` (each file not named with a
    leading '.'), each imported, as (file name, primary fingerprint) pairs; stops the check on a
    link, anything but files and folders, or a file that holds other than one key."""
    try:
        folder = open_folder(path)
    except Unfit as unfit:
        raise CannotCheck(f"no folder of certificates: {unfit}") from None
    certs = []
    try:
        for name in names_in(folder):
            if name.startswith(".") or stat.S_ISDIR(os.stat(name, dir_fd=folder, follow_symlinks=False).st_mode):
                continue
            try:
                data = read_file(folder, name, KEY_LIMIT)
            except Unfit as unfit:
                raise CannotCheck(f"in the folder of certificates {path!r}: {unfit}") from None
            certs.append((name, one_key(home, data, "the certificate", os.path.join(path, name))))
    finally:
        os.close(folder)
    if not certs:
        raise CannotCheck(f"no certificate in {path!r}")
    return certs


def builders_keys(home, certs, path):
    """The public keys of `certs`, once each, by fingerprint; says which file each came from."""
    keys = {}
    for name, fingerprint in certs:
        if fingerprint in keys:
            print(f"counted once: {name!r} (the key {fingerprint.upper()}, as {keys[fingerprint][0]!r})")
            continue
        keys[fingerprint] = (name, public_key(home, fingerprint, "the certificate", os.path.join(path, name)))
        print(f"builder: {name!r} (the key {fingerprint.upper()})")
    return {fingerprint: key for fingerprint, (name, key) in keys.items()}


def make_layout(keys, threshold, expires, signer):
    """The layout, signed with the imported key `signer`: a step `rebuild` that `threshold` of the
    builders' `keys` must each have done, producing the release's files and from nothing; and an
    inspection, run in the folder of the files checked, that matches each file there with that
    step's products and allows no other. apt-transport-in-toto runs it in a folder of the .deb it
    downloaded and the links (which in-toto leaves out of what it records, as *.link*), and
    substitutes no parameters, so the rules are globs."""
    tools = intoto()
    layout = tools.models.layout
    step = layout.Step(name=STEP, threshold=threshold, pubkeys=sorted(keys), expected_command=[],
                       expected_materials=[["DISALLOW", "*"]],
                       expected_products=[*(["CREATE", pattern] for pattern in PRODUCTS), ["DISALLOW", "*"]])
    # Debian's own rebuild layouts name their inspection so, and run /usr/bin/true.
    inspection = layout.Inspection(name="verify-reprobuilds", run=["/usr/bin/true"], expected_products=[],
                                   expected_materials=[["MATCH", "*", "WITH", "PRODUCTS", "FROM", STEP],
                                                       ["DISALLOW", "*"]])
    try:
        made = layout.Layout(steps=[step], inspect=[inspection], keys=keys, expires=expires,
                             readme="Tarnwick's release: rebuilt byte for byte by enough builders")
        metablock = tools.models.metadata.Metablock(signed=made)
    except Exception as error:
        raise CannotCheck(f"no layout can be made: {told(error)}") from None
    sign(metablock, signer, "the layout")
    return metablock


def expiry(text):
    """in-toto's form of the time EXPIRES, a day (its start, UTC) or a time in ISO 8601 form;
    stops the check when it is not one, or not in the future."""
    import datetime
    for form in ("%Y-%m-%d", "%Y-%m-%dT%H:%M:%SZ", "%Y-%m-%dT%H:%M:%S%z"):
        try:
            when = datetime.datetime.strptime(text, form)
            break
        except ValueError:
            continue
    else:
        raise CannotCheck(f"the expiry is a day (YYYY-MM-DD) or a time (YYYY-MM-DDTHH:MM:SSZ): {text!r}")
    when = when.replace(tzinfo=when.tzinfo or datetime.timezone.utc).astimezone(datetime.timezone.utc)
    if when <= datetime.datetime.now(datetime.timezone.utc):
        raise CannotCheck(f"the expiry {text!r} has passed")
    return when.strftime("%Y-%m-%dT%H:%M:%SZ")


def threshold_of(text):
    if not re.fullmatch(r"[1-9][0-9]{0,5}", text):
        raise CannotCheck(f"the threshold is a whole number from 1: {text!r}")
    return int(text)


def replace_file(path, data):
    """Writes `data` as the file `path` by renaming a new file of the check's own over it, in its
    folder reached without following a link; refuses a `path` that is a link or not a file."""
    folder_path, name = os.path.split(path)
    if name in ("", ".", ".."):
        raise CannotCheck(f"{path!r} is not a file name")
    try:
        folder = open_folder(folder_path or ".")
    except Unfit as unfit:
        raise CannotCheck(f"{path!r} cannot be written: {unfit}") from None
    try:
        try:
            mode = os.stat(name, dir_fd=folder, follow_symlinks=False).st_mode
            if not stat.S_ISREG(mode):
                raise CannotCheck(f"{path!r} cannot be written: it is {'a link' if stat.S_ISLNK(mode) else 'not a file'}")
        except FileNotFoundError:
            pass
        place(folder, name, data)
    finally:
        os.close(folder)


# --- The release ---

@dataclasses.dataclass
class Release:
    path: str
    sums: bytes  # SHA256SUMS, as read once
    files: dict  # each file SHA256SUMS lists: its bytes, as read once and found to match
    unlisted: list  # the names in the folder that SHA256SUMS does not list
    folder: int = -1
    version: str = ""
    commit: str = ""
    epoch: str = ""
    publisher: str = ""
    contact: str = ""
    exes: dict = dataclasses.field(default_factory=dict)  # (arch, exe): its bytes out of the zip


def read_release(path):
    """The release in the folder `path`: (Release, None) when each file SHA256SUMS lists is a
    regular file there with its sum and BUILDINFO names a version and a time; else (None, why)."""
    try:
        folder = open_folder(path)
    except Unfit as unfit:
        raise CannotCheck(f"no release folder: {unfit}") from None
    try:
        sums = read_file(folder, "SHA256SUMS", SUMS_LIMIT)
    except Unfit as unfit:
        return None, f"the release's SHA256SUMS: {unfit}"
    listed = {}
    # One line at a time, the first bad one ending it: no list of every line is made first.
    for line in io.BytesIO(sums):
        found = SUM_LINE.fullmatch(line)
        if not found:
            shown = repr(line[:200]) + (" ..." if len(line) > 200 else "")
            return None, f"SHA256SUMS holds a line that is not a sum and a file name: {shown}"
        name = found[2].decode()
        if name in listed or name in ("SHA256SUMS", "SHA256SUMS.asc"):
            return None, f"SHA256SUMS lists {name!r} twice, or its own name"
        listed[name] = found[1].decode()
    files, total = {}, 0
    for name, digest in listed.items():
        try:
            files[name] = read_file(folder, name)
        except Unfit as unfit:
            return None, f"{unfit}, and SHA256SUMS lists it"
        total += len(files[name])  # kept as it goes: summed again for each file, a long list took hours
        if total > RELEASE_LIMIT:
            return None, f"the files SHA256SUMS lists are larger than {RELEASE_LIMIT >> 20} MiB together"
        if hashlib.sha256(files[name]).hexdigest() != digest:
            return None, f"{name} differs from its line in SHA256SUMS: the release's files do not match its sums"
    unlisted = [name for name in names_in(folder)
                if name not in listed and name not in ("SHA256SUMS", "SHA256SUMS.asc")]
    release = Release(path, sums, files, unlisted, folder)
    if "BUILDINFO" not in files:
        return None, "SHA256SUMS does not list BUILDINFO: the release does not say what it was built from"
    info = files["BUILDINFO"].decode("utf-8", "replace").splitlines()
    field = lambda key: next((line[len(key) + 2:] for line in info if line.startswith(key + ": ")), "")
    release.version, release.commit, release.epoch = field("Version"), field("Commit"), field("SOURCE_DATE_EPOCH")
    release.publisher, release.contact = field("Publisher"), field("Security-Contact")
    if not re.fullmatch(r"[0-9]{1,9}\.[0-9]{1,9}\.[0-9]{1,9}", release.version):
        return None, "BUILDINFO names no version"
    if not re.fullmatch(r"[0-9]{1,12}", release.epoch):
        return None, "BUILDINFO names no SOURCE_DATE_EPOCH"
    # The publisher is built into the MSIs and SBOMs, so the rebuild needs it; as the release
    # takes it, printable ASCII alone.
    if not re.fullmatch(r"[ -~]{1,256}", release.publisher):
        return None, "BUILDINFO names no publisher"
    # The security contact too, as the release takes it; a release from before it had none.
    if release.contact and not re.fullmatch(r"[A-Za-z0-9._+-]+@[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+", release.contact):
        return None, "BUILDINFO names a security contact that is not an email address"
    return release, None


def read_zip(release, arch):
    """Checks the zip of `arch` entry by entry and keeps its two exes in `release.exes`; why it is
    refused, or None."""
    zip_name = f"tarnwick-{release.version}-{arch}.zip"
    data = release.files[zip_name]
    # The end record, read before the central directory is: the record zipfile takes when it is
    # the last 22 bytes (no comment after it, no ZIP64 locator before it), as a release's zip has.
    end = data[-22:]
    if len(end) < 22 or end[:4] != b"PK\x05\x06" or end[20:] != b"\0\0" or data[-42:-38] == b"PK\x06\x07":
        return f"{zip_name}: refused: it does not end in a plain end record (no comment, no ZIP64)"
    on_disk, count, directory = struct.unpack("<HHI", end[8:16])
    if count > ZIP_ENTRIES or on_disk != count or directory > ZIP_DIRECTORY_LIMIT:
        return (f"{zip_name}: refused: its end record states {count} entries in {directory} bytes, "
                f"beyond a release's {ZIP_ENTRIES} in {sized(ZIP_DIRECTORY_LIMIT)}")
    try:
        archive = zipfile.ZipFile(io.BytesIO(data))
        entries = archive.infolist()
        if len(entries) != count:
            return f"{zip_name}: refused: it holds {len(entries)} entries, and its end record states {count}"
        names = set()
        for entry in entries:
            if entry.flag_bits & 0x1:
                return f"{zip_name}: refused: the entry {entry.filename!r} is encrypted"
            if stat.S_ISLNK(entry.external_attr >> 16):
                return f"{zip_name}: refused: the entry {entry.filename!r} is a symbolic link"
            if not ZIP_ENTRY.fullmatch(entry.filename):
                return f"{zip_name}: refused: the entry {entry.filename!r} is not one of the release's files"
            # A set, not a count of each: a zip of a million entries must not take hours.
            if entry.filename in names:
                return f"{zip_name}: refused: the entry {entry.filename!r} is there twice"
            names.add(entry.filename)
        for exe in EXES:
            if exe not in names:
                return f"{zip_name}: {exe} is missing"
            with archive.open(exe) as member:
                data = member.read((64 << 20) + 1)
            if len(data) > 64 << 20:
                return f"{zip_name}: {exe} is far larger than any release's"
            release.exes[arch, exe] = data
    # bz2 says a bad stream with OSError, lzma with its own error.
    except (zipfile.BadZipFile, RuntimeError, NotImplementedError, zlib.error, lzma.LZMAError, EOFError,
            ValueError, OSError) as error:
        return f"{zip_name}: not a zip that can be read ({str(error)!r})"
    return None


def crl_options(args, work):
    """osslsigncode's options for the CRLs the caller gave; stops when this osslsigncode lacks one."""
    options = []
    if args.crl:
        options += ["-CRLfile", private(work, "crl", read_path(args.crl, "the CRL file"))]
    usage = run(["osslsigncode", "-h"])
    for key, (flag, since) in CRL_FLAGS.items():
        if getattr(args, key):
            if flag.encode() not in usage.stdout + usage.stderr:
                raise CannotCheck(f"this osslsigncode has no {flag}, which came in osslsigncode {since}")
            options.append(flag)
    return options


def examine(args, work):
    """Everything verify checks before the rebuild, in order: the publisher's signature, the sums,
    BUILDINFO, the commit, each zip's entries, the Authenticode signatures under the CA; and the
    release's signatures taken off its exes and MSIs into work/signatures. (Release, None), or
    (None, why the release is not this source's build)."""
    need("git", "cmake", "cpack", "osslsigncode", *(["sqop"] if args.publisher_cert else []))
    cert = read_path(args.publisher_cert, "the publisher's certificate") if args.publisher_cert else None
    ca = private(work, "ca.pem", read_path(args.ca, "the CA file")) if args.ca else None
    if not ca and (args.crl or args.ignore_cdp or args.ignore_crl):
        raise CannotCheck("--crl, --ignore-cdp and --ignore-crl go with --ca")
    crl = crl_options(args, work) if ca else []
    release, why = read_release(args.release)
    if why:
        return None, why
    if cert:
        try:
            signature = read_file(release.folder, "SHA256SUMS.asc", SIGNATURE_LIMIT)
        except Unfit as unfit:
            return None, f"the release's SHA256SUMS.asc: {unfit}"
        keys = signed_by(work, "sums", signature, private(work, "publisher.cert", cert), release.sums)
        if not keys:
            return None, (f"SHA256SUMS.asc is not a signature of SHA256SUMS by the certificate "
                          f"{args.publisher_cert!r}")
        print(f"SHA256SUMS.asc: signed by the key {', '.join(keys)} of {args.publisher_cert!r}")
    if not re.fullmatch(r"[0-9a-f]{40}", release.commit):
        raise CannotCheck(f"the release was built from {release.commit!r}, not from a commit: "
                          "it cannot be built again here")
    head = run(["git", "-C", TOP, "rev-parse", "HEAD"])
    if head.returncode != 0:
        raise CannotCheck(f"{TOP!r} is not a git checkout")
    head = head.stdout.decode().strip()
    if head != release.commit:
        raise CannotCheck(f"this checkout is at {head}, the release was built from {release.commit}: "
                          f"run 'git checkout {release.commit}' first")
    for arch in ARCHES:
        names = [f"tarnwick-{release.version}-{arch}.{kind}" for kind in ("zip", "msi")]
        if not all(name in release.files for name in names):
            return None, f"the release lacks the {arch} zip or MSI of version {release.version}"
        why = read_zip(release, arch)
        if why:
            return None, why
        os.makedirs(os.path.join(work, "signatures", arch))
        for name in (*EXES, names[1]):
            data = release.exes[arch, name] if name in EXES else release.files[name]
            path = private(work, f"{arch}-{name}", data)
            if ca:
                done = run(["osslsigncode", "verify", "-CAfile", ca, *crl, "-in", path])
                if done.returncode != 0:
                    return None, (f"{name} ({arch}) has no Authenticode signature that {args.ca!r} vouches for "
                                  f"(osslsigncode: {last_line(done)!r})")
            signature = os.path.join(work, "signatures", arch, name + ".p7")
            if run(["osslsigncode", "extract-signature", "-in", path, "-out", signature]).returncode != 0 \
                    and os.path.exists(signature):
                os.unlink(signature)
    return release, None


def rebuild(release, work):
    """Builds the release again as it was built (the release preset, in a clone, at its time, with
    its signatures) and compares it with the release byte for byte; why it differs, or None."""
    print(f"rebuilding the release from {release.commit[:7]} at SOURCE_DATE_EPOCH={release.epoch} ...")
    source = os.path.join(work, "source")
    if run(["git", "clone", "-q", "-c", "advice.detachedHead=false", TOP, source]).returncode != 0:
        raise CannotCheck("the checkout could not be cloned")
    # A known environment, not the caller's less a list: what changes a build is read from more
    # variables than any list names (dpkg-buildflags's DEB_*, the compilers' CFLAGS, CXXFLAGS,
    # LDFLAGS, CPATH and the like, CMake's CC, CXX and CMAKE_*, and Tarnwick's own TARNWICK_*),
    # and a rebuild that differs for any of them says nothing about the release. Only the tools
    # are found where the caller finds them; HOME is the work folder's, so that no dotfile of the
    # caller's (dpkg's user buildflags.conf, say) reaches the build either.
    home = os.path.join(work, "home")
    os.mkdir(home, 0o700)
    env = {"PATH": os.environ.get("PATH", os.defpath), "HOME": home, "LC_ALL": "C.UTF-8", "TZ": "UTC",
           "SOURCE_DATE_EPOCH": release.epoch, "TARNWICK_PUBLISHER": release.publisher,
           "TMPDIR": work}  # the compilers' temporary files go with the work folder too
    if release.contact:
        env["TARNWICK_SECURITY_CONTACT"] = release.contact
    with open(os.path.join(work, "build.log"), "wb") as log:
        for step in (["cmake", "--preset", "release", f"-DTARNWICK_SIGNATURES={work}/signatures"],
                     ["cmake", "--build", "--preset", "release"], ["cpack", "--preset", "release"]):
            # In a process group of its own, ended with the check: a signal that stops the check
            # reaches the check alone, and would leave the compilers writing on.
            process = subprocess.Popen(step, cwd=source, env=env, stdout=log, stderr=subprocess.STDOUT,
                                       start_new_session=True)
            try:
                process.wait()
            finally:
                if process.returncode is None:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()
            if process.returncode != 0:
                with open(log.name, "rb") as said:
                    sys.stderr.write(b"\n".join(said.read().splitlines()[-20:]).decode("utf-8", "replace") + "\n")
                raise CannotCheck("the release could not be rebuilt from this source")
    rebuilt = os.path.join(source, "build", "release")
    differs = " differs: the release is not this source's build plus its signatures"

    def built(*parts):
        try:
            with open(os.path.join(rebuilt, *parts), "rb") as file:
                return file.read()
        except FileNotFoundError:
            return None

    for (arch, exe), data in release.exes.items():
        if built(arch, exe) != data:
            return f"{exe} of the {arch} zip{differs}"
    for name, data in release.files.items():
        if built("dist", name) != data:
            return f"{name}{differs}"
    if built("dist", "SHA256SUMS") != release.sums:
        return f"SHA256SUMS{differs}"
    return None


def notes(release, args):
    """The lines said before a verdict of yes: what was not checked."""
    lines = []
    if release.unlisted:
        lines.append(f"not part of the release, and not checked: {' '.join(map(repr, release.unlisted))}")
    if not getattr(args, "publisher_cert", None):
        lines.append("who signed was not checked: give --publisher-cert with the publisher's OpenPGP certificate")
    if not getattr(args, "ca", None):
        lines.append("whose Authenticode signatures these are was not checked: "
                     "give --ca with the publisher's CA file")
    return lines


# --- The commands: each returns 0 or 1, its verdict the last line it prints ---

def verify(args, work):
    release, why = examine(args, work)
    why = why or rebuild(release, work)
    if why:
        print(why)
        return 1
    for line in notes(release, args):
        print(line)
    if release.unlisted:
        print(f"every file that SHA256SUMS lists in {args.release!r} is this source's build plus its signatures")
    else:
        print(f"every file of {args.release!r} is this source's build plus its signatures")
    return 0


def attestation_folder(attestations, parts, create):
    """A descriptor of the builder's folder ATTESTATIONS/<parts>, made where missing with `create`;
    without it, None while a folder on the way is still missing. Raises Unfit when a folder on the
    way is a link, or the builder's folder holds a link or anything but files."""
    top = open_folder(attestations, create=create, missing_ok=not create)
    if top is None:
        return None
    try:
        folder = open_folder("/".join(parts), at=top, create=create, missing_ok=not create)
    finally:
        os.close(top)
    if folder is None:
        return None
    for name in names_in(folder):
        mode = os.stat(name, dir_fd=folder, follow_symlinks=False).st_mode
        if not stat.S_ISREG(mode):
            os.close(folder)
            raise Unfit(f"{name!r} in the builder's folder is {'a link' if stat.S_ISLNK(mode) else 'not a file'}")
    return folder


def place(folder, name, data):
    """Writes `data` as `name` into the folder descriptor `folder` by an exclusive create; an
    earlier file is replaced only by renaming a file made here over it."""
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC
    made = name
    try:
        fd = os.open(made, flags, 0o644, dir_fd=folder)
    except FileExistsError:
        if not stat.S_ISREG(os.stat(name, dir_fd=folder, follow_symlinks=False).st_mode):
            raise Unfit(f"{name!r} is not a file") from None
        made = f".{name}.{secrets.token_hex(8)}"
        fd = os.open(made, flags, 0o644, dir_fd=folder)
    try:
        with os.fdopen(fd, "wb") as out:
            out.write(data)
            out.flush()
            os.fsync(out.fileno())
        if made != name:
            os.rename(made, name, src_dir_fd=folder, dst_dir_fd=folder)
    except OSError:
        if made != name:
            os.unlink(made, dir_fd=folder)
        raise


def builder_link(release, fingerprint):
    """The builder's in-toto link of the release: step `rebuild`, no materials and no command, and
    as products SHA256SUMS and each file it lists, by bare name, with the SHA-256 of the bytes
    checked; signed with the imported key `fingerprint`. Every builder's link of one release
    records the same, as in-toto asks of the links it counts towards a threshold."""
    tools = intoto()
    products = {"SHA256SUMS": {"sha256": hashlib.sha256(release.sums).hexdigest()}}
    products.update((name, {"sha256": hashlib.sha256(data).hexdigest()}) for name, data in release.files.items())
    link = tools.models.metadata.Metablock(signed=tools.models.link.Link(name=STEP, products=products))
    sign(link, fingerprint, "the link")
    if len(repr(link)) > LINK_LIMIT:
        raise CannotCheck(f"the link of {len(products)} files is larger than the builders' check reads "
                          f"({LINK_LIMIT >> 10} KiB)")
    return repr(link).encode()


def attest(args, work):
    if not BUILDER.fullmatch(args.builder):
        raise CannotCheck(f"a builder's name is letters, digits, '.', '_' and '-': {args.builder!r}")
    need("gpg")
    key = read_path(args.key, "the builder's key")
    if len(key) > KEY_LIMIT:
        raise CannotCheck(f"the builder's key {args.key!r} is larger than any OpenPGP key")
    # The key signs through in-toto before hours of building are spent.
    fingerprint = signing_key(gnupg_home(work), key, "the builder's key", args.key)
    release, why = examine(args, work)
    if why:
        print(why)
        return 1
    if len(release.files) >= LINK_FILES:
        raise CannotCheck(f"the release lists {len(release.files)} files, more than a link the builders' check "
                          f"reads can name")
    # Served as it stands, the builder's folder is the address apt-transport-in-toto asks.
    parts = (args.builder, "sources", "tarnwick", release.version)
    shown = os.path.join(args.attestations, *parts, "metadata")
    try:
        # Looked at, not made: a release that is not this source's build leaves nothing behind.
        folder = attestation_folder(args.attestations, parts, create=False)
    except Unfit as unfit:
        raise CannotCheck(f"no attestation can be written to {shown!r}: {unfit}") from None
    if folder is not None:
        os.close(folder)
    why = rebuild(release, work)
    if why:
        print(why)
        return 1
    link = builder_link(release, fingerprint)
    try:
        folder = attestation_folder(args.attestations, parts, create=True)
        try:
            place(folder, "metadata", link)
        finally:
            os.close(folder)
    except Unfit as unfit:
        raise CannotCheck(f"no attestation can be written to {shown!r}: {unfit}") from None
    for line in notes(release, args):
        print(line)
    print(f"attested: {shown!r}, the in-toto link of {len(release.files) + 1} files signed by the key "
          f"{fingerprint.upper()}")
    return 0


def layout(args, work):
    threshold, expires = threshold_of(args.threshold), expiry(args.expires)
    need("gpg")
    key = read_path(args.key, "the layout's key")
    if len(key) > KEY_LIMIT:
        raise CannotCheck(f"the layout's key {args.key!r} is larger than any OpenPGP key")
    home = gnupg_home(work)
    signer = signing_key(home, key, "the layout's key", args.key)
    keys = builders_keys(home, read_certs(args.certs, work, home), args.certs)
    if threshold > len(keys):
        raise CannotCheck(f"a threshold of {threshold} can never be met by the {len(keys)} builders' keys "
                          f"in {args.certs!r}")
    replace_file(args.out, repr(make_layout(keys, threshold, expires, signer)).encode())
    print(f"layout: {args.out!r}, step {STEP!r} by {threshold} of {len(keys)} builders, expires {expires}, "
          f"signed by the key {signer.upper()}")
    return 0


def builders_links(args, release, keys, links):
    """Reads each builder's link of the release, ATTESTATIONS/<builder>/sources/tarnwick/<version>/
    metadata, once, and keeps in the folder `links` (named as in-toto looks for them) those signed
    by a key of `keys` (the layout's, by fingerprint, with their subkeys), one per key; says of
    each what became of it. The fingerprints kept."""
    tools = intoto()
    owner = {}  # each key and subkey: its primary key
    for fingerprint, key in keys.items():
        owner[fingerprint] = fingerprint
        owner.update((subkey, fingerprint) for subkey in key.get("subkeys", {}))
    where = ("sources", "tarnwick", release.version, "metadata")
    looked_for = os.path.join(args.attestations, "<builder>", *where)
    try:
        top = open_folder(args.attestations)
    except Unfit as unfit:
        raise CannotCheck(f"no attestations: {unfit} (looked for {looked_for!r})") from None
    agreed = {}  # primary fingerprint: the first builder whose link it signed
    try:
        for builder in names_in(top):
            try:
                folder = open_folder(f"{builder}/{'/'.join(where[:-1])}", at=top)
                try:
                    data = read_file(folder, where[-1], LINK_LIMIT)
                finally:
                    os.close(folder)
            except Unfit as unfit:
                print(f"not counted: {builder!r}: {unfit}")
                continue
            try:
                block = json.loads(data)
                signatures = block["signatures"]
                link = tools.models.metadata.Metablock(signatures=signatures,
                                                       signed=tools.models.link.Link.read(block["signed"]))
                if len(signatures) != 1:
                    raise ValueError(f"it carries {len(signatures)} signatures, and a builder's link one")
                if link.signed.name != STEP:
                    raise ValueError(f"its step is {link.signed.name!r}, not {STEP!r}")
                signer = signatures[0]["keyid"]
            except CannotCheck:
                raise
            except Exception as error:
                print(f"not counted: {builder!r}: not a builder's in-toto link ({told(error)})")
                continue
            if signer not in owner:
                print(f"did not verify: {builder!r} (signed by the key {str(signer).upper()!r}, which the layout "
                      f"does not name)")
                continue
            try:
                link.verify_signature(keys[owner[signer]])
            except CannotCheck:
                raise
            except Exception as error:
                print(f"did not verify: {builder!r} ({told(error)})")
                continue
            fingerprint = owner[signer]
            if fingerprint in agreed:
                print(f"counted once: {builder!r} (signed by the key {fingerprint.upper()}, as {agreed[fingerprint]!r})")
                continue
            agreed[fingerprint] = builder
            private(links, tools.models.link.FILENAME_FORMAT.format(step_name=STEP, keyid=signer), data)
            print(f"attested: {builder!r} (signed by the key {fingerprint.upper()})")
    finally:
        os.close(top)
    return agreed


def too_long(signum, frame):
    signal.alarm(1)  # again, should a handler of another's that takes any exception catch this one
    raise CannotCheck(f"could not check: the check took longer than {CHECK_LIMIT} s, and was stopped")


def attestations(args, work):
    signal.signal(signal.SIGALRM, too_long)
    signal.alarm(CHECK_LIMIT)
    try:
        return check_attestations(args, work)
    finally:
        signal.alarm(0)


def check_attestations(args, work):
    given = (args.certs, args.threshold)
    if args.layout and any(given) or not args.layout and not all(given) or bool(args.layout) != bool(args.layout_cert):
        raise CannotCheck("give either CERTS and THRESHOLD, or --layout and --layout-cert")
    threshold = threshold_of(args.threshold) if args.threshold else None
    need("gpg")
    tools = intoto()
    home = gnupg_home(work)
    if args.layout:
        data = read_path(args.layout, "the layout")
        if len(data) > LAYOUT_LIMIT:
            raise CannotCheck(f"the layout {args.layout!r} is larger than {LAYOUT_LIMIT >> 10} KiB")
        cert = read_path(args.layout_cert, "the layout's certificate")
        signer = one_key(home, cert, "the layout's certificate", args.layout_cert)
        signer_key = {signer: public_key(home, signer, "the layout's certificate", args.layout_cert)}
        try:
            block = json.loads(data)
            policy = tools.models.metadata.Metablock(signatures=block["signatures"],
                                                     signed=tools.models.layout.Layout.read(block["signed"]))
        except Exception as error:
            raise CannotCheck(f"the layout {args.layout!r} is not an in-toto layout ({told(error)})") from None
        try:  # before any key of the layout is used
            tools.verifylib.verify_layout_signatures(policy, signer_key)
            tools.verifylib.verify_layout_expiration(policy.signed)
        except Exception as error:
            print(f"in-toto's verifier refuses the layout {args.layout!r}: {type(error).__name__}: "
                  f"{told(error)}")
            return 1
        keys = policy.signed.keys
    else:
        keys = builders_keys(home, read_certs(args.certs, work, home), args.certs)
        # The user's own trust, in a layout of the check's own, signed by a key made for it.
        made = gpg(home, "--passphrase", "", "--quick-gen-key", "the check's own layout", "ed25519", "sign", "1d")
        signer = next((key for key, secret, _ in primaries(home, gpg(home, "--export-secret-keys").stdout)), None)
        if made.returncode != 0 or not signer:
            raise CannotCheck(f"no key for the check's own layout could be made: {last_line(made)!r}")
        signer_key = {signer: public_key(home, signer, "the check's own key", home)}
        import datetime
        tomorrow = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=1)
        policy = make_layout(keys, threshold, tomorrow.strftime("%Y-%m-%dT%H:%M:%SZ"), signer)
    release, why = read_release(args.release)
    if why:
        print(why)
        return 1
    # in-toto's verifier would record and match each of them, to no end.
    if len(release.files) >= LINK_FILES:
        print(f"{args.release!r} lists {len(release.files)} files, more than a builder's link of at most "
              f"{LINK_LIMIT >> 10} KiB can name: no builder's link can count")
        return 1
    links = os.path.join(work, "links")
    os.mkdir(links)
    agreed = builders_links(args, release, keys, links)
    if release.unlisted:
        print(f"not part of the release, and not checked: {' '.join(map(repr, release.unlisted))}")
    # in-toto's verifier runs the inspection in the folder it is in and records what it finds there
    # (following links, skipping FIFOs), so it runs on a copy of the bytes read, in the work folder.
    copy = os.path.join(work, "release")
    os.mkdir(copy)
    private(copy, "SHA256SUMS", release.sums)
    for name, data in release.files.items():
        private(copy, name, data)
    step = next((step for step in policy.signed.steps if step.name == STEP), None)
    asked = step.threshold if step else 0
    here = os.getcwd()
    os.chdir(copy)
    try:
        tools.verifylib.in_toto_verify(policy, signer_key, link_dir_path=links, persist_inspection_links=False)
    except CannotCheck:
        raise
    except Exception as error:  # the layout's signature, its expiry, a threshold, a rule, the inspection
        if isinstance(error, tools.exceptions.LinkNotFoundError) or \
                isinstance(error, tools.exceptions.ThresholdVerificationError) and len(agreed) < asked:
            print(f"only {len(agreed)} builders agree on {args.release!r}, and {asked} are asked "
                  f"(in-toto: {told(error)})")
        else:
            print(f"in-toto's verifier refuses {args.release!r}: {type(error).__name__}: {told(error)}")
        return 1
    finally:
        os.chdir(here)
    print(f"{len(agreed)} builders agree on {args.release!r} (at least {asked} asked): in-toto's verifier "
          f"accepts its files")
    return 0


# --- The provenance as a Sigstore bundle ---

def decoded(text):
    """The bytes of the base64 `text`, standard or URL-safe (DSSE takes either), or None."""
    if not isinstance(text, str):
        return None
    try:
        return base64.b64decode(text.translate(str.maketrans("-_", "+/")) + "=" * (-len(text) % 4), validate=True)
    except ValueError:
        return None


def read_bundle(release, name, kind, public_pem):
    """The Statement in the Sigstore bundle `name` of the release, once the envelope's one
    signature verifies with the key `public_pem` (of `kind`) over DSSE's pre-authentication
    encoding of its payload: (Statement, None), or (None, why it is refused)."""
    try:
        bundle = json.loads(read_file(release.folder, name))
    except Unfit as unfit:
        return None, f"the release's Sigstore bundle: {unfit}"
    except (ValueError, RecursionError):
        return None, f"{name!r} is not JSON"
    if not isinstance(bundle, dict) or bundle.get("mediaType") != sigstore_bundle.MEDIA_TYPE:
        return None, f"{name!r} is not a Sigstore bundle v0.3 ({sigstore_bundle.MEDIA_TYPE!r})"
    envelope = bundle.get("dsseEnvelope")
    if not isinstance(envelope, dict):
        return None, f"{name!r} holds no DSSE envelope"
    if envelope.get("payloadType") != sigstore_bundle.PAYLOAD_TYPE:
        return None, (f"the envelope's payload type is {envelope.get('payloadType')!r}, not "
                      f"{sigstore_bundle.PAYLOAD_TYPE!r}")
    signatures = envelope.get("signatures")
    if not isinstance(signatures, list) or len(signatures) != 1 or not isinstance(signatures[0], dict):
        return None, "the envelope holds not exactly one signature"
    payload, signature = decoded(envelope.get("payload")), decoded(signatures[0].get("sig"))
    if not payload or not signature:
        return None, "the envelope's payload or signature is not base64"
    if not sigstore_bundle.verifies(kind, public_pem, sigstore_bundle.pae(sigstore_bundle.PAYLOAD_TYPE, payload),
                                    signature):
        return None, "the envelope's signature is not one of the certificate's key over its payload"
    try:
        return json.loads(payload), None
    except (ValueError, RecursionError):
        return None, "the envelope's payload is not JSON"


def unlike_release(statement, release):
    """Why the Statement is not a provenance of the release's files, or None: its types, its
    build type, and each subject one of the files SHA256SUMS lists (as read once, and found to match
    their sums) with that file's SHA-256, every such file named."""
    field = lambda value, key: value.get(key) if isinstance(value, dict) else None
    for key, value, expected in (("_type", field(statement, "_type"), "https://in-toto.io/Statement/v1"),
                                 ("predicateType", field(statement, "predicateType"), "https://slsa.dev/provenance/v1"),
                                 ("buildType", field(field(field(statement, "predicate"), "buildDefinition"),
                                                     "buildType"), BUILD_TYPE)):
        if value != expected:
            return f"the Statement's {key} is {value!r}, not {expected!r}"
    subjects = field(statement, "subject")
    if not isinstance(subjects, list):
        return "the Statement lists no subjects"
    named = set()
    for subject in subjects:
        name, digest = field(subject, "name"), field(field(subject, "digest"), "sha256")
        if not isinstance(name, str) or not isinstance(digest, str):
            return f"the Statement holds a subject without a name and a SHA-256: {repr(subject)[:200]}"
        if name not in release.files:
            return f"the provenance names {name!r}, which SHA256SUMS does not list"
        if hashlib.sha256(release.files[name]).hexdigest() != digest:
            return f"{name!r} is not the file the provenance names: its SHA-256 differs"
        named.add(name)
    missing = [name for name in release.files if name not in named]
    if missing:
        return f"the provenance does not name {missing[0]!r}, which SHA256SUMS lists"
    return None


def provenance(args, work):
    need("openssl")
    cert = read_path(args.cert, "the publisher's certificate")
    kind, key, public_pem = sigstore_bundle.public_key(cert)
    if not kind:
        raise CannotCheck(f"the publisher's certificate {args.cert!r} holds {key}: a Sigstore bundle's "
                          f"key is {sigstore_bundle.KEY_TYPES}")
    release, why = read_release(args.release)
    if why:
        print(why)
        return 1
    name = f"tarnwick-{release.version}.intoto.sigstore.json"
    statement, why = read_bundle(release, name, kind, public_pem)
    why = why or unlike_release(statement, release)
    if why:
        print(why)
        return 1
    others = [other for other in release.unlisted if other != name]
    if others:
        print(f"not part of the release, and not checked: {' '.join(map(repr, others))}")
    print(f"{name!r} is signed by the key of {args.cert!r}, and its provenance names every file of "
          f"{args.release!r} with its SHA-256")
    return 0


STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)


def let_signals_pass():
    """Blocks the stop signals for the rest of the check, which only cleans up from here on: a
    second signal (Ctrl-C twice, a closing terminal's SIGHUP and then the shell's) must not cut
    that short and leave the work folder, and one held back is dropped when the check exits."""
    signal.pthread_sigmask(signal.SIG_BLOCK, STOP_SIGNALS)


def stopped(signum, frame):
    # Blocked now, yet here: it came before the blocking did, and is let pass.
    if signum in signal.pthread_sigmask(signal.SIG_BLOCK, []):
        return
    let_signals_pass()
    raise KeyboardInterrupt


def main():
    if sys.stdout is None:  # no verdict could be said
        print("could not check: standard output is closed", file=sys.stderr)
        return 2
    sys.stdout.reconfigure(line_buffering=True, errors="backslashreplace")
    # Stopped by Ctrl-C, by kill, by timeout or with its terminal, the check still removes its
    # work folder; a signal ignored (as nohup ignores SIGHUP) stays ignored.
    for number in STOP_SIGNALS:
        if signal.getsignal(number) != signal.SIG_IGN:
            signal.signal(number, stopped)
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    verifying = argparse.ArgumentParser(add_help=False)
    verifying.add_argument("--publisher-cert", metavar="CERT", help="the publisher's OpenPGP certificate")
    verifying.add_argument("--ca", metavar="CA_FILE", help="the CA the Authenticode signatures must chain to")
    verifying.add_argument("--crl", metavar="CRL_FILE", help="CRLs for the CA (osslsigncode -CRLfile)")
    fetching = verifying.add_mutually_exclusive_group()
    fetching.add_argument("--ignore-cdp", action="store_true", help="osslsigncode -ignore-cdp (2.8 and later)")
    fetching.add_argument("--ignore-crl", action="store_true", help="osslsigncode -ignore-crl (2.9 and later)")
    command = commands.add_parser("verify", parents=[verifying],
                                  help="whether a release is this checkout's build")
    command.add_argument("release", metavar="RELEASE")
    command.set_defaults(run=verify)
    command = commands.add_parser("attest", parents=[verifying], help="a builder's attestation of a release")
    command.add_argument("release", metavar="RELEASE")
    command.add_argument("builder", metavar="BUILDER")
    command.add_argument("key", metavar="KEY")
    command.add_argument("attestations", metavar="ATTESTATIONS", nargs="?", default="attestations")
    command.set_defaults(run=attest)
    command = commands.add_parser("layout", help="an in-toto layout of the builders who must agree")
    for name in ("CERTS", "THRESHOLD", "EXPIRES", "KEY", "OUT"):
        command.add_argument(name.lower(), metavar=name)
    command.set_defaults(run=layout)
    command = commands.add_parser("attestations", help="whether enough builders attest a release")
    command.add_argument("--layout", metavar="LAYOUT", help="a signed in-toto layout, instead of CERTS and THRESHOLD")
    command.add_argument("--layout-cert", metavar="CERT", help="the OpenPGP certificate that signed LAYOUT")
    command.add_argument("release", metavar="RELEASE")
    command.add_argument("attestations", metavar="ATTESTATIONS")
    command.add_argument("certs", metavar="CERTS", nargs="?")
    command.add_argument("threshold", metavar="THRESHOLD", nargs="?")
    command.set_defaults(run=attestations)
    command = commands.add_parser("provenance", help="whether a release's Sigstore bundle is its provenance, "
                                  "signed by the publisher's X.509 key")
    command.add_argument("--cert", metavar="CERT", required=True, help="the publisher's X.509 certificate (PEM)")
    command.add_argument("release", metavar="RELEASE")
    command.set_defaults(run=provenance)
    try:
        args = parser.parse_args()
    except SystemExit as done:
        # -h and --help end with 0, which here would read as "verified": help is no verdict.
        return 2 if done.code == 0 else done.code
    work = None
    try:
        try:
            work = work_folder()
            return args.run(args, work)
        finally:
            let_signals_pass()
    except CannotCheck as error:
        print(error, file=sys.stderr)
    except OSError as error:
        print(f"could not check: {error.strerror} ({error.filename!r})", file=sys.stderr)
    except KeyboardInterrupt:
        print("could not check: interrupted", file=sys.stderr)
    except Exception as error:  # a fault of the checker's own is still no verdict
        print(f"could not check: an internal error of the checker ({type(error).__name__}: {error!r})",
              file=sys.stderr)
    finally:
        if work:
            stop_gnupg(work)
            shutil.rmtree(work, ignore_errors=True)
    return 2


if __name__ == "__main__":
    sys.exit(main())
