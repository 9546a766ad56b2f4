#!/usr/bin/env python3
"""Writes a software bill of materials (CycloneDX 1.6, JSON) for each file of the release: both
zips, both MSIs and the Debian package, as <file>.cdx.json beside it.

What the Windows packages hold comes from the build itself: the exes (with their SHA-256 and
the product's package URL), the licence, and every archive each exe's link map names, as a
component with its SHA-256 as read here, the version and the package URL of the Debian package
that provided it on this machine (dpkg), its licence from packaging/linked-archives.tsv, and a
dependency of the exe on it. An archive no row of that table describes stops the release. The
Debian package's SBOM holds the program and the packages its own Depends field names, each at the
version installed on this machine, which the package was built and tested against. PUBLISHER, who
releases it, is each SBOM's supplier and author, and the vendor in the product's package URLs;
CONTACT, an email address, is the supplier's contact and the product's security contact. Nothing
comes from the clock: the time is SOURCE_DATE_EPOCH and the serial number is derived from the
file's name, the version and that time, so two builds give the same bytes.

Usage: sbom.py STAGING VERSION EPOCH BUILD_DIR SOURCE_DIR PUBLISHER CONTACT
  STAGING: the folder of the release's files; BUILD_DIR: the release's build folder, whose win32/
  and win64/ sub-builds hold the exes and their link maps.
"""
import datetime
import hashlib
import io
import json
import os
import re
import subprocess
import sys
import tarfile
import uuid

sys.dont_write_bytecode = True  # nothing written into the source tree
from release_script import fail, installed, owner, purl_part  # noqa: E402

TOOL = "packaging/sbom.py"


def sha256(data):
    return [{"alg": "SHA-256", "content": hashlib.sha256(data).hexdigest()}]


def read(path):
    with open(path, "rb") as file:
        return file.read()


def linked_archives(map_path):
    """The paths of the archives and objects a link map says the linker took code from."""
    paths = []
    with open(map_path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            found = re.match(r"^(/[^ (]+\.a)\(|^LOAD (/[^ ]+\.o)$", line.rstrip("\n"))
            if found and (found.group(1) or found.group(2)) not in paths:
                paths.append(found.group(1) or found.group(2))
    return paths


def licence_table(source_dir):
    rows = []
    with open(os.path.join(source_dir, "packaging", "linked-archives.tsv"), encoding="utf-8") as lines:
        for line in lines:
            if line.strip() and not line.startswith("#"):
                pattern, _, licence = line.rstrip("\n").split("\t")
                rows.append((re.compile(pattern), licence))
    return rows


def product_url(kind, publisher, version, arch, path=""):
    """The package URL of this release's product: Debian's type for the Debian package, the generic
    one for Windows; its vendor is the publisher, lowercased (as a deb namespace must be) and
    percent-encoded; `path`, a file in the package, is its subpath."""
    subpath = "#" + "/".join(purl_part(part) for part in path.split("/")) if path else ""
    return f"pkg:{kind}/{purl_part(publisher.lower())}/tarnwick@{purl_part(version)}?arch={arch}{subpath}"


def document(name, data, version, epoch, publisher, contact, component, components, dependencies):
    moment = datetime.datetime.fromtimestamp(int(epoch), datetime.timezone.utc)
    serial = uuid.uuid5(uuid.NAMESPACE_URL, f"tarnwick:{name}:{version}:{epoch}")
    supplier = {"name": publisher, "contact": [{"email": contact}]}
    component = dict(component, **{"bom-ref": name, "name": "tarnwick", "version": version,
                                   "hashes": sha256(data),
                                   "licenses": [{"license": {"id": "MIT"}}],
                                   "supplier": supplier,
                                   "externalReferences": [{"type": "security-contact",
                                                           "url": f"mailto:{contact}"}]})
    return {
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "serialNumber": f"urn:uuid:{serial}",
        "version": 1,
        "metadata": {
            "timestamp": moment.strftime("%Y-%m-%dT%H:%M:%SZ"),
            "tools": {"components": [{"type": "application", "name": TOOL, "version": version}]},
            "authors": [{"name": publisher}],
            "supplier": supplier,
            "component": component,
        },
        "components": components,
        "dependencies": dependencies,
    }


def windows_bom(name, data, version, epoch, publisher, contact, build_dir, source_dir, table):
    arch = "win64" if "-win64." in name else "win32"
    # The architecture as winget names it.
    windows_arch = {"win32": "x86", "win64": "x64"}[arch]
    components, dependencies, archives = [], [], {}
    licence = read(os.path.join(source_dir, "LICENSE"))
    components.append({"type": "file", "bom-ref": "LICENSE", "name": "LICENSE",
                       "hashes": sha256(licence), "licenses": [{"license": {"id": "MIT"}}]})
    exes = ["tarnwick.exe", "tarnwickw.exe"]
    for exe in exes:
        components.append({"type": "application", "bom-ref": exe, "name": exe, "version": version,
                           "purl": product_url("generic", publisher, version, windows_arch, exe),
                           "hashes": sha256(read(os.path.join(build_dir, arch, exe))),
                           "licenses": [{"license": {"id": "MIT"}}]})
        linked = []
        for path in linked_archives(os.path.join(build_dir, arch, exe[:-4] + ".map")):
            archive = os.path.basename(path)
            licences = [licence for pattern, licence in table if pattern.fullmatch(archive)]
            if not licences:
                fail(f"{archive} is linked into {exe} ({arch}), and no component describes it: "
                     "add it to packaging/linked-archives.tsv")
            if archive not in archives:
                failure = f"no Debian package is known to have installed {path}"
                package = owner(path, failure)
                package_version, package_url = installed(package, failure)
                archives[archive] = {
                    "type": "library", "bom-ref": archive, "name": archive,
                    "version": package_version, "purl": package_url, "hashes": sha256(read(path)),
                    "licenses": [{"expression": licences[0]}],
                    "description": f"statically linked, from the Debian package {package}",
                }
            linked.append(archive)
        dependencies.append({"ref": exe, "dependsOn": sorted(linked)})
    components += [archives[archive] for archive in sorted(archives)]
    dependencies = ([{"ref": name, "dependsOn": exes + ["LICENSE"]}, {"ref": "LICENSE", "dependsOn": []}]
                    + dependencies + [{"ref": archive, "dependsOn": []} for archive in sorted(archives)])
    return document(name, data, version, epoch, publisher, contact, {"type": "application", "description":
                    f"Tarnwick for Windows ({arch}), as {'an MSI' if name.endswith('.msi') else 'a zip'}",
                    "purl": product_url("generic", publisher, version, windows_arch)},
                    components, dependencies)


def debian_bom(name, path, data, version, epoch, publisher, contact):
    try:
        depends = subprocess.run(["dpkg-deb", "-f", path, "Depends"], capture_output=True, text=True,
                                 check=True).stdout.strip()
        files = subprocess.run(["dpkg-deb", "--fsys-tarfile", path], capture_output=True,
                               check=True).stdout
        arch = subprocess.run(["dpkg-deb", "-f", path, "Architecture"], capture_output=True, text=True,
                              check=True).stdout.strip()
    except (subprocess.CalledProcessError, OSError):
        fail(f"{name} cannot be read with dpkg-deb")
    with tarfile.open(fileobj=io.BytesIO(files)) as tree:
        program = tree.extractfile("./usr/bin/tarnwick").read()
    components = [{"type": "application", "bom-ref": "/usr/bin/tarnwick", "name": "tarnwick",
                   "version": version, "hashes": sha256(program),
                   "purl": product_url("deb", publisher, version, arch, "usr/bin/tarnwick"),
                   "licenses": [{"license": {"id": "MIT"}}]}]
    needed = []
    for dependency in filter(None, (part.strip() for part in depends.split(","))):
        package = dependency.split()[0]
        needed.append(package)
        # The version the package was built and tested against, here; Depends says which others
        # it accepts.
        package_version, package_url = installed(f"{package}:{arch}",
                                                 f"{package}, which {name} depends on, is not installed here")
        components.append({"type": "library", "bom-ref": package, "name": package,
                           "version": package_version, "purl": package_url, "scope": "required",
                           "description": "linked dynamically; built and tested against this version; "
                                          f"the package's Depends: {dependency}"})
    dependencies = ([{"ref": name, "dependsOn": ["/usr/bin/tarnwick"]},
                     {"ref": "/usr/bin/tarnwick", "dependsOn": needed}]
                    + [{"ref": package, "dependsOn": []} for package in needed])
    # Debian does not ship this package: its vendor is the publisher.
    return document(name, data, version, epoch, publisher, contact, {"type": "application", "description":
                    f"Tarnwick for Debian ({arch}), as a Debian package",
                    "purl": product_url("deb", publisher, version, arch)},
                    components, dependencies)


def main():
    if len(sys.argv) != 8:
        fail("usage: sbom.py STAGING VERSION EPOCH BUILD_DIR SOURCE_DIR PUBLISHER CONTACT")
    staging, version, epoch, build_dir, source_dir, publisher, contact = sys.argv[1:]
    table = licence_table(source_dir)
    for name in sorted(os.listdir(staging)):
        if not re.search(r"\.(zip|msi|deb)$", name):
            continue
        path = os.path.join(staging, name)
        data = read(path)
        if name.endswith(".deb"):
            bom = debian_bom(name, path, data, version, epoch, publisher, contact)
        else:
            bom = windows_bom(name, data, version, epoch, publisher, contact, build_dir, source_dir, table)
        with open(path + ".cdx.json", "w", encoding="utf-8") as out:
            json.dump(bom, out, indent=2, sort_keys=True)
            out.write("\n")


main()
