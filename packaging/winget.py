#!/usr/bin/env python3
"""Writes the release's winget manifests (Windows Package Manager, multi-file form, manifest
version 1.12.0) into OUT/<identifier>/<version>/: the version file, the installer file with both
MSIs as released (x86 and x64: the x64 one serves Windows 11 on Arm too) and the defaultLocale
file. Each MSI's SHA-256 is that of the file in the release, and its ProductCode, UpgradeCode and
Manufacturer are read from its Property table (msiinfo, Debian package msitools).

Every value is checked against the published schemas (packaging/schemas/winget-1.12.0: their
types, patterns, lengths and choices) before a file is written, and is written as a double-quoted
YAML text in ASCII, every other character escaped: no hash or code reads as a number, and no YAML
reader refuses or changes a character of a publisher's name.

Usage: winget.py check VERSION DOWNLOAD_URL IDENTIFIER PUBLISHER
       winget.py write RELEASE OUT VERSION DOWNLOAD_URL IDENTIFIER PUBLISHER
  check: the values alone, before the build (the MSIs' hashes and codes stand in as placeholders);
  DOWNLOAD_URL: the https:// address of the folder the MSIs will be in, their names appended.
"""
import argparse
import hashlib
import json
import os
import re
import subprocess
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
from release_script import fail  # noqa: E402

MANIFEST_VERSION = "1.12.0"
LOCALE = "en-US"
SCHEMAS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "schemas", f"winget-{MANIFEST_VERSION}")
# What each manifest's schema file is called, and the name its yaml-language-server line gives it.
KINDS = {"version": "version", "installer": "installer", "defaultLocale": "defaultlocale"}
# The schema's pattern says this, less readably.
HINTS = {"PackageIdentifier": "2 to 8 parts joined by dots, each 1 to 32 characters, none a space or "
                              "any of \\/:*?\"<>|"}
TYPES = {"string": str, "array": list, "object": dict, "boolean": bool, "integer": int, "number": (int, float),
         "null": type(None)}


def conforms(value, schema, definitions, where):
    """Stops the script with one line naming `where` when `value` breaks `schema`: its type, its
    pattern, its length, its choices, the keys it allows, and so on into every item and key."""
    schema = definitions[schema["$ref"].rsplit("/", 1)[1]] if "$ref" in schema else schema
    kinds = schema.get("type", [])
    kinds = [kinds] if isinstance(kinds, str) else kinds
    if kinds and not any(isinstance(value, TYPES[kind]) for kind in kinds):
        fail(f"winget: {where} must be {' or '.join(kinds)}: {value!r}")
    if isinstance(value, str):
        if any(0xD800 <= ord(char) <= 0xDFFF for char in value):
            fail(f"winget: {where} is not UTF-8 text: {value!r}")
        low, high = schema.get("minLength", 0), schema.get("maxLength")
        if len(value) < low or high is not None and len(value) > high:
            limits = f"{low} to {high}" if high is not None else f"at least {low}"
            fail(f"winget: {where} must be {limits} characters long, not {len(value)}: {value!r}")
        # The schema's regular expressions are ECMAScript's, whose final $ is the text's end.
        pattern = re.sub(r"(?<!\\)\$$", r"\\Z", schema.get("pattern", ""))
        if not re.search(pattern, value):
            rule = HINTS.get(where.rsplit(".", 1)[-1], f"as the pattern {schema['pattern']} says")
            fail(f"winget: {where} must be {rule}: {value!r}")
    if "enum" in schema and value not in schema["enum"]:
        fail(f"winget: {where} must be one of {', '.join(schema['enum'])}: {value!r}")
    if isinstance(value, list):
        if len(value) > schema.get("maxItems", len(value)):
            fail(f"winget: {where} holds more than {schema['maxItems']} items")
        for position, item in enumerate(value):
            conforms(item, schema.get("items", {}), definitions, f"{where}[{position}]")
    if isinstance(value, dict):
        for key, item in value.items():
            if key not in schema.get("properties", {}):
                fail(f"winget: {where} has no field {key}")
            conforms(item, schema["properties"][key], definitions, f"{where}.{key}" if where else key)


def quoted(text):
    """`text` as a double-quoted YAML scalar in ASCII: printable ASCII as it is, every other
    character escaped (YAML 1.1 and 1.2 readers both take \\u and \\U)."""
    escaped = []
    for char in text:
        if char in '"\\':
            escaped.append("\\" + char)
        elif " " <= char <= "~":
            escaped.append(char)
        else:
            escaped.append(f"\\u{ord(char):04X}" if ord(char) <= 0xFFFF else f"\\U{ord(char):08X}")
    return '"' + "".join(escaped) + '"'


def msi_properties(path):
    try:
        table = subprocess.run(["msiinfo", "export", path, "Property"], capture_output=True, text=True,
                               check=True).stdout
    except (subprocess.CalledProcessError, OSError):
        fail(f"the product code of {os.path.basename(path)} cannot be read (msiinfo, Debian package msitools)")
    properties = dict(line.split("\t", 1) for line in table.splitlines() if "\t" in line)
    if not properties.get("ProductCode", "").startswith("{"):
        fail(f"{os.path.basename(path)} has no ProductCode")
    for name in ("UpgradeCode", "Manufacturer", "ProductVersion"):
        if not properties.get(name):
            fail(f"{os.path.basename(path)} has no {name}")
    return properties


def manifests(version, url, identifier, publisher, installers):
    """The three manifests, each as its kind and its fields in order."""
    common = [("PackageIdentifier", identifier), ("PackageVersion", version)]
    return [
        ("version", common + [("DefaultLocale", LOCALE), ("ManifestType", "version"),
                              ("ManifestVersion", MANIFEST_VERSION)]),
        ("installer", common + [
            ("InstallerType", "msi"),
            ("Scope", "machine"),
            # msiexec asks for the rights a per-machine package needs by itself.
            ("ElevationRequirement", "elevatesSelf"),
            # The MSI's own launch condition: Windows 7 (6.1) or later.
            ("MinimumOSVersion", "6.1.0.0"),
            ("UpgradeBehavior", "install"),
            ("Installers", installers),
            ("ManifestType", "installer"), ("ManifestVersion", MANIFEST_VERSION)]),
        ("defaultLocale", common + [
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
            ("ManifestType", "defaultLocale"), ("ManifestVersion", MANIFEST_VERSION)]),
    ]


def checked(kinds_and_fields):
    """Stops at the first value a manifest's schema refuses."""
    for kind, fields in kinds_and_fields:
        schema_path = os.path.join(SCHEMAS, f"manifest.{kind}.{MANIFEST_VERSION}.json")
        with open(schema_path, encoding="utf-8") as file:
            schema = json.load(file)
        conforms(dict(fields), schema, schema.get("definitions", {}), "")
    return kinds_and_fields


def write(path, kind, fields):
    """A manifest file: `fields` in order, every value a quoted text, a list of mappings as a YAML
    block sequence."""
    lines = [f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{KINDS[kind]}.{MANIFEST_VERSION}.schema.json", ""]

    def mapping(pairs, indent, item):
        column = indent + "  " if item else indent
        for position, (key, value) in enumerate(pairs):
            prefix = indent + "- " if item and position == 0 else column
            if isinstance(value, list):
                lines.append(f"{prefix}{key}:")
                for entry in value:
                    mapping(list(entry.items()), column, True)
            else:
                lines.append(f"{prefix}{key}: {quoted(value)}")

    mapping(fields, "", False)
    with open(path, "w", encoding="ascii", newline="\n") as file:
        file.write("\n".join(lines) + "\n")


def installer(arch, url, name, digest, properties):
    return {
        "Architecture": arch,
        "InstallerUrl": f"{url.rstrip('/')}/{name}",
        "InstallerSha256": digest,
        "ProductCode": properties["ProductCode"],
        "AppsAndFeaturesEntries": [{
            "DisplayName": "Tarnwick",
            "Publisher": properties["Manufacturer"],
            "DisplayVersion": properties["ProductVersion"],
            "ProductCode": properties["ProductCode"],
            "UpgradeCode": properties["UpgradeCode"],
        }],
    }


def main():
    parser = argparse.ArgumentParser(description="The release's winget manifests.")
    commands = parser.add_subparsers(dest="command", required=True)
    check = commands.add_parser("check", help="check the values before the build")
    write_command = commands.add_parser("write", help="write the manifests of the MSIs in RELEASE into OUT")
    write_command.add_argument("release")
    write_command.add_argument("out")
    for command in (check, write_command):
        for name in ("version", "url", "identifier", "publisher"):
            command.add_argument(name)
    arguments = parser.parse_args()
    version, url, identifier = arguments.version, arguments.url, arguments.identifier
    if not url.startswith("https://"):
        fail(f"the download address must be https://: {url!r}")
    names = (("x86", f"tarnwick-{version}-win32.msi"), ("x64", f"tarnwick-{version}-win64.msi"))
    if arguments.command == "check":
        code = "{00000000-0000-0000-0000-000000000000}"
        placeholder = {"ProductCode": code, "UpgradeCode": code, "ProductVersion": version,
                       "Manufacturer": arguments.publisher}
        checked(manifests(version, url, identifier, arguments.publisher,
                          [installer(arch, url, name, "0" * 64, placeholder) for arch, name in names]))
        return
    installers = []
    for arch, name in names:
        path = os.path.join(arguments.release, name)
        with open(path, "rb") as msi:
            digest = hashlib.sha256(msi.read()).hexdigest().upper()
        installers.append(installer(arch, url, name, digest, msi_properties(path)))
    files = checked(manifests(version, url, identifier, arguments.publisher, installers))
    folder = os.path.join(arguments.out, identifier, version)
    os.makedirs(folder, exist_ok=True)
    suffixes = {"version": "", "installer": ".installer", "defaultLocale": f".locale.{LOCALE}"}
    for kind, fields in files:
        write(os.path.join(folder, f"{identifier}{suffixes[kind]}.yaml"), kind, fields)


main()
