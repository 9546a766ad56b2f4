#!/usr/bin/env python3
"""Writes the release's provenance: an in-toto Statement (v1) with a SLSA provenance (v1)
predicate, whose subjects are the files SHA256SUMS lists with their SHA-256, and which says how
they were built: the build type (a page of this project's docs), the source's repository and
commit, the preset, SOURCE_DATE_EPOCH, the build tools with their Debian package versions, and
the builder's identity as the builder gives it (TARNWICK_BUILDER_ID). It is this builder's
statement, so it stays outside SHA256SUMS; the release signs it with its OpenPGP key.

Usage: provenance.py STAGING OUT VERSION EPOCH COMMIT REPOSITORY BUILDER COMPILER
  COMMIT as BUILDINFO gives it; REPOSITORY the checkout's origin as git gives it, empty when it
  names none; BUILDER empty when not set; COMPILER the native C++ compiler, whose Debian package
  is named.
"""
import json
import os
import re
import sys
import urllib.parse

sys.dont_write_bytecode = True  # nothing written into the source tree
from release_script import fail, installed, owner  # noqa: E402

# Versioned, as a type identifier should be: the version changes when what the parameters mean does.
BUILD_TYPE = "https://tarnwick.org/buildtypes/release/v1"
# What builds the release, besides the native compiler: by Debian package name.
TOOLS = ["cmake", "ninja-build", "g++-mingw-w64-i686-posix", "g++-mingw-w64-x86-64-posix",
         "mingw-w64-i686-dev", "mingw-w64-x86-64-dev", "wixl", "msitools", "dpkg"]


def public_address(origin):
    """The address of the origin as anyone may read it, or None for one that names no place
    others can reach (none, a local path, a file: URL, a remote helper's <transport>::<address>).
    A CI clone's origin often carries a token: the user and password, the query and the fragment
    are left out, and an address from which something that may be a credential cannot be taken
    out stops the provenance, without being printed."""
    refused = "The checkout's origin cannot be written into the provenance without what may be a credential " \
        "(git remote get-url origin): give it a plain address"
    if re.match(r"[A-Za-z][A-Za-z0-9+.-]*::", origin):
        # git hands what follows :: to its helper git-remote-<transport>, to which it may mean
        # anything: to ext::, a command line to run (which may hold a key's path or a token).
        return None
    scp = re.fullmatch(r"(?:([^@/]*)@)?([^@/:]+):(.*)", origin)
    if "://" not in origin and scp:
        # git's [user@]host:path, for ssh; read as hosting services read it, from the top
        user, host, path = scp.groups()
        if user and ":" in user:
            fail(refused)
        scheme, netloc = "ssh", host
        path = path if path.startswith("/") else "/" + path
    elif re.match(r"[A-Za-z][A-Za-z0-9+.-]*://", origin):
        parts = urllib.parse.urlsplit(origin)
        scheme, netloc, path = parts.scheme, parts.netloc.rpartition("@")[2], parts.path
        if scheme == "file":
            return None
    else:
        return None
    # What is left: a host (and port), and a path; an @ in it would be read as the commit's place
    # in git+<address>@<commit>, and is most likely a user that was not taken for one.
    host = re.fullmatch(r"([A-Za-z0-9.-]+|\[[0-9A-Fa-f:.]+\])(:[0-9]*)?", netloc)
    if not host or "@" in path:
        fail(refused)
    # At least "/": after a bare host, the @ of git+<address>@<commit> would make the host a user.
    path = urllib.parse.quote(path or "/", safe="/:!$&'()*+,;=~%")
    # Scheme and host in lower case, as a resource URI must be.
    return f"{scheme.lower()}://{netloc.lower()}{path}"


def package_uri(package):
    _, url = installed(package, f"the build tool {package} is not an installed Debian package")
    return {"name": package, "uri": url}


def main():
    if len(sys.argv) != 9:
        fail("usage: provenance.py STAGING OUT VERSION EPOCH COMMIT REPOSITORY BUILDER COMPILER")
    staging, out, version, epoch, commit, repository, builder, compiler = sys.argv[1:]
    subjects = []
    with open(os.path.join(staging, "SHA256SUMS"), encoding="utf-8") as sums:
        for line in sums:
            digest, name = line.rstrip("\n").split("  ", 1)
            subjects.append({"name": name, "digest": {"sha256": digest}})
    compiler_package = owner(compiler, f"no Debian package is known to have installed the compiler {compiler}")
    address = public_address(repository)
    # The source is a dependency only as a commit: changed source, or none known, is no commit's,
    # and stays out of the dependencies (the parameters say what it was).
    sources = []
    if re.fullmatch(r"[0-9a-f]{40}", commit):
        sources = [{"name": "source", "digest": {"gitCommit": commit}}]
        if address:
            sources[0]["uri"] = f"git+{address}@{commit}"
    if address:
        repository = address
    elif repository:
        repository = "not recorded: the origin is no address others can reach"
    else:
        repository = "not recorded: the checkout names no origin"
    statement = {
        "_type": "https://in-toto.io/Statement/v1",
        "subject": subjects,
        "predicateType": "https://slsa.dev/provenance/v1",
        "predicate": {
            "buildDefinition": {
                "buildType": BUILD_TYPE,
                "externalParameters": {
                    "source": {"repository": repository, "commit": commit},
                    "preset": "release",
                    "SOURCE_DATE_EPOCH": epoch,
                    "version": version,
                },
                "resolvedDependencies": sources + [package_uri(p) for p in [compiler_package] + TOOLS],
            },
            "runDetails": {
                "builder": {"id": builder or "urn:tarnwick:builder:not-set"},
            },
        },
    }
    with open(out, "w", encoding="utf-8") as file:
        json.dump(statement, file, indent=2, sort_keys=True)
        file.write("\n")


if __name__ == "__main__":
    main()
