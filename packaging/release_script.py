"""What the release's scripts share: how they stop, and what they ask dpkg about the build
machine (which Debian package installed a file, and an installed package's version)."""
import os
import subprocess
import sys
import urllib.parse


def fail(line):
    print(line, file=sys.stderr)
    sys.exit(1)


def owner(path, failure):
    """The Debian package that installed `path`; without one, the script stops with `failure`."""
    try:
        listed = subprocess.run(["dpkg", "-S", os.path.realpath(path)], capture_output=True, text=True,
                                check=True).stdout
    except (subprocess.CalledProcessError, OSError):
        fail(failure)
    return listed.split(":")[0]


def purl_part(text):
    """`text` percent-encoded as a package URL's namespace, name or version is: everything but
    letters, digits and . - _ ~ (a '+' of a Debian version as %2B), the colon left as it is."""
    return urllib.parse.quote(text, safe=":")


def installed(package, failure):
    """The version and the package URL of the installed Debian package `package` (a name, or
    name:architecture where several architectures may be installed); when it is not installed, the
    script stops with `failure`."""
    try:
        version, arch = subprocess.run(["dpkg-query", "-W", "-f", "${Version} ${Architecture}", package],
                                       capture_output=True, text=True, check=True).stdout.split()
    except (subprocess.CalledProcessError, ValueError, OSError):
        fail(failure)
    name = package.split(":")[0]
    return version, f"pkg:deb/debian/{purl_part(name)}@{purl_part(version)}?arch={arch}"
