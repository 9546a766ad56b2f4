"""What the release's scripts share: how they stop, and what they ask dpkg about the build
machine (which Debian package installed a file, and an installed package's version)."""
import os
import subprocess
import sys


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


def installed(package, failure):
    """The version and the package URL of the installed Debian package `package`; when it is not
    installed, the script stops with `failure`."""
    try:
        version, arch = subprocess.run(["dpkg-query", "-W", "-f", "${Version} ${Architecture}", package],
                                       capture_output=True, text=True, check=True).stdout.split()
    except (subprocess.CalledProcessError, ValueError, OSError):
        fail(failure)
    return version, f"pkg:deb/debian/{package}@{version}?arch={arch}"
