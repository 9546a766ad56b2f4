#!/usr/bin/env python3
"""Writes the release's winget manifests (Windows Package Manager, multi-file form, manifest
version 1.12.0) into OUT/<identifier>/<version>/: the version file, the installer file with both
MSIs as released (x86 and x64: the x64 one serves Windows 11 on Arm too) and the defaultLocale
file. Each MSI's SHA-256 is that of the file in the release, and its ProductCode and UpgradeCode
are read from its Property table (msiinfo, Debian package msitools). Every value is written as a
quoted YAML text, so that no hash or code is read as a number.

Usage: winget.py RELEASE OUT VERSION DOWNLOAD_URL IDENTIFIER PUBLISHER
  DOWNLOAD_URL: the https:// address the MSIs will be downloaded from, their names appended.
"""
import hashlib
import json
import os
import subprocess
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
from release_script import fail  # noqa: E402

MANIFEST_VERSION = "1.12.0"
LOCALE = "en-US"


def msi_properties(path):
    try:
        table = subprocess.run(["msiinfo", "export", path, "Property"], capture_output=True, text=True,
                               check=True).stdout
    except (subprocess.CalledProcessError, OSError):
        fail(f"the product code of {os.path.basename(path)} cannot be read (msiinfo, Debian package msitools)")
    properties = dict(line.split("\t", 1) for line in table.splitlines() if "\t" in line)
    if not properties.get("ProductCode", "").startswith("{"):
        fail(f"{os.path.basename(path)} has no ProductCode")
    return properties


def write(path, schema, fields):
    """A manifest file: `fields` in order, every value a quoted text, a list of mappings as a YAML
    block sequence."""
    lines = [f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{schema}.{MANIFEST_VERSION}.schema.json", ""]

    def mapping(pairs, indent, item):
        column = indent + "  " if item else indent
        for position, (key, value) in enumerate(pairs):
            prefix = indent + "- " if item and position == 0 else column
            if isinstance(value, list):
                lines.append(f"{prefix}{key}:")
                for entry in value:
                    mapping(list(entry.items()), column, True)
            else:
                lines.append(f"{prefix}{key}: {json.dumps(value, ensure_ascii=False)}")

    mapping(fields, "", False)
    with open(path, "w", encoding="utf-8", newline="\n") as file:
        file.write("\n".join(lines) + "\n")


def main():
    if len(sys.argv) != 7:
        fail("usage: winget.py RELEASE OUT VERSION DOWNLOAD_URL IDENTIFIER PUBLISHER")
    release, out, version, url, identifier, publisher = sys.argv[1:]
    if not url.startswith("https://"):
        fail(f"the download address must be https://: {url}")
    installers = []
    for arch, name in (("x86", f"tarnwick-{version}-win32.msi"), ("x64", f"tarnwick-{version}-win64.msi")):
        path = os.path.join(release, name)
        with open(path, "rb") as msi:
            digest = hashlib.sha256(msi.read()).hexdigest().upper()
        properties = msi_properties(path)
        installers.append({
            "Architecture": arch,
            "InstallerUrl": f"{url.rstrip('/')}/{name}",
            "InstallerSha256": digest,
            "ProductCode": properties["ProductCode"],
            "AppsAndFeaturesEntries": [{
                "DisplayName": "Tarnwick",
                "Publisher": properties.get("Manufacturer", "Tarnwick"),
                "DisplayVersion": version,
                "ProductCode": properties["ProductCode"],
                "UpgradeCode": properties["UpgradeCode"],
            }],
        })
    folder = os.path.join(out, identifier, version)
    os.makedirs(folder, exist_ok=True)
    common = [("PackageIdentifier", identifier), ("PackageVersion", version)]
    write(os.path.join(folder, f"{identifier}.yaml"), "version", common + [
        ("DefaultLocale", LOCALE), ("ManifestType", "version"), ("ManifestVersion", MANIFEST_VERSION)])
    write(os.path.join(folder, f"{identifier}.installer.yaml"), "installer", common + [
        ("InstallerType", "msi"),
        ("Scope", "machine"),
        # msiexec asks for the rights a per-machine package needs by itself.
        ("ElevationRequirement", "elevatesSelf"),
        # The MSI's own launch condition: Windows 7 (6.1) or later.
        ("MinimumOSVersion", "6.1.0.0"),
        ("UpgradeBehavior", "install"),
        ("Installers", installers),
        ("ManifestType", "installer"), ("ManifestVersion", MANIFEST_VERSION)])
    write(os.path.join(folder, f"{identifier}.locale.{LOCALE}.yaml"), "defaultlocale", common + [
        ("PackageLocale", LOCALE),
        ("Publisher", publisher),
        ("PackageName", "Tarnwick"),
        ("License", "MIT"),
        ("ShortDescription", "Starts the applications listed in C:\\Tarnwick.cfg, in one go, at log-on."),
        ("Description", "Tarnwick reads one configuration file, C:\\Tarnwick.cfg, one entry per line (a "
                        "program, document or URL, optionally with parameters), and asks the shell to "
                        "open every entry in file order, without waiting for any of them. It prints "
                        "nothing unless asked to, and its failures go to the event log."),
        ("Moniker", "tarnwick"),
        ("ManifestType", "defaultLocale"), ("ManifestVersion", MANIFEST_VERSION)])


main()
