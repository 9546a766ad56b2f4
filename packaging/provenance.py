#!/usr/bin/env python3
"""Writes the release's provenance: an in-toto Statement (v1) with a SLSA provenance (v1)
predicate, whose subjects are the files SHA256SUMS lists with their SHA-256, and which says how
they were built: the build type (a page of this project's docs), the source's repository and
commit, the preset, SOURCE_DATE_EPOCH, the build tools with their Debian package versions, and
the builder's identity as the builder gives it (TARNWICK_BUILDER_ID). It is this builder's
statement, so it stays outside SHA256SUMS; the release signs it with its OpenPGP key.

Usage: provenance.py STAGING OUT VERSION EPOCH COMMIT REPOSITORY BUILDER COMPILER
  COMMIT as BUILDINFO gives it; REPOSITORY empty when the checkout names none; BUILDER empty
  when not set; COMPILER the native C++ compiler, whose Debian package is named.
"""
import json
import os
import re
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
from release_script import fail, installed, owner  # noqa: E402

BUILD_TYPE = "https://tarnwick.org/doc/development.md#provenance"
# What builds the release, besides the native compiler: by Debian package name.
TOOLS = ["cmake", "ninja-build", "g++-mingw-w64-i686-posix", "g++-mingw-w64-x86-64-posix",
         "mingw-w64-i686-dev", "mingw-w64-x86-64-dev", "wixl", "msitools", "dpkg"]


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
    source = {"name": "source", "digest": {"gitCommit": commit[:40]}}
    if repository:
        source["uri"] = f"git+{repository}@{commit[:40]}"
    if not re.fullmatch(r"[0-9a-f]{40}", commit[:40]):
        source = {"name": "source", "content": "", "annotations": {"commit": commit}}
    statement = {
        "_type": "https://in-toto.io/Statement/v1",
        "subject": subjects,
        "predicateType": "https://slsa.dev/provenance/v1",
        "predicate": {
            "buildDefinition": {
                "buildType": BUILD_TYPE,
                "externalParameters": {
                    "source": {"repository": repository or "not recorded: the checkout names no origin",
                               "commit": commit},
                    "preset": "release",
                    "SOURCE_DATE_EPOCH": epoch,
                    "version": version,
                },
                "resolvedDependencies": [source] + [package_uri(p) for p in [compiler_package] + TOOLS],
            },
            "runDetails": {
                "builder": {"id": builder or "urn:tarnwick:builder:not-set"},
            },
        },
    }
    with open(out, "w", encoding="utf-8") as file:
        json.dump(statement, file, indent=2, sort_keys=True)
        file.write("\n")


main()
