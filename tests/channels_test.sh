#!/bin/sh
# The channels of a release signed with a throwaway OpenPGP key and given a download address,
# through their real consumers where one runs here: apt-get against the release's APT repository,
# in a private state folder (the machine's own sources, lists and status untouched), and the winget
# manifests against Microsoft's published schemas, with the checks `winget validate` adds.
# Usage: tests/channels_test.sh   (needs what the release needs, and apt-utils, sqop, msitools,
#        python3-jsonschema and python3-yaml)
set -eu
. "$(dirname "$0")/checks.sh"
chmod 755 "$work" # apt's sandbox user reads the repository
sqop generate-key "Tarnwick channels test <channels@example.org>" >"$work/key"
sqop generate-key "Someone else <else@example.org>" | sqop extract-cert >"$work/other.asc"
# An earlier release's package, for the pool's history.
mkdir -p "$work/earlier/DEBIAN" "$work/history"
printf 'Package: tarnwick\nVersion: 1.0.0\nArchitecture: %s\nMaintainer: Test <t@example.org>\nDescription: earlier\n' \
  "$(dpkg --print-architecture)" >"$work/earlier/DEBIAN/control"
dpkg-deb -b "$work/earlier" "$work/history/tarnwick_1.0.0.deb" >/dev/null
git clone -q "$top" "$work/source"
publisher='Example Org; & Co.'
(cd "$work/source" && TARNWICK_OPENPGP_KEY="$work/key" TARNWICK_APT_HISTORY="$work/history" TARNWICK_PUBLISHER="$publisher" \
  TARNWICK_DOWNLOAD_URL=https://downloads.example.org/tarnwick cmake --workflow --preset release >"$work/log" 2>&1)
dist=$work/source/build/release/dist
deb=$(cd "$dist" && ls tarnwick_*.deb)

# apt-get with state of its own, which believes that the machine's packages and the earlier
# tarnwick are installed, and reads one source: the release's example, pointed at REPOSITORY and
# KEYRING.
apt_get() { # REPOSITORY KEYRING ARGUMENTS...
  state=$work/state && rm -rf "$state" && mkdir -p "$state/lists/partial" "$state/sources" "$state/cache/archives/partial"
  sed -e "s|^URIs: .*|URIs: file:$1|" -e "s|^Signed-By: .*|Signed-By: $2|" "$dist/apt/tarnwick.sources" \
    >"$state/sources/tarnwick.sources"
  { awk -v RS= -v ORS='\n\n' '!/^Package: tarnwick\n/' /var/lib/dpkg/status
    printf 'Package: tarnwick\nStatus: install ok installed\nVersion: 1.0.0\nArchitecture: %s\n' "$(dpkg --print-architecture)"
    printf 'Maintainer: Test <t@example.org>\nDescription: earlier\n\n'
  } >"$state/status"
  cat >"$state/apt.conf" <<EOF
Dir::State "$state"; Dir::State::status "$state/status"; Dir::Cache "$state/cache";
Dir::Etc::SourceList "/dev/null"; Dir::Etc::SourceParts "$state/sources";
Dir::Etc::TrustedParts "$state/sources"; Debug::NoLocking "1";
EOF
  shift 2 && export APT_CONFIG="$state/apt.conf"
  apt-get update >"$state/said" 2>&1 && ! grep -q '^[WEN]:' "$state/said" && apt-get "$@"
}
repo=$dist/apt keyring=$dist/apt/tarnwick-archive-keyring.asc
downloads() { # the package apt resolves to has the release's package's hash
  apt_get "$repo" "$keyring" install -y --download-only --print-uris tarnwick |
    grep -q "/pool/main/t/tarnwick/$deb' $deb [0-9]* MD5Sum:$(md5sum <"$dist/$deb" | cut -c1-32)\$"
}
upgrades() { apt_get "$repo" "$keyring" -s upgrade | grep -q "^Inst tarnwick \[1.0.0\] ($(echo "$deb" | cut -d_ -f2) "; }
other_key() { ! apt_get "$repo" "$work/other.asc" -s upgrade && grep -q NO_PUBKEY "$work/state/said"; }
changed() {
  cp -r "$repo" "$work/changed" && cd "$work/changed/dists/stable/main/binary-amd64" &&
    echo 'Tag: changed' >>Packages && gzip -9nkf Packages && ! apt_get "$work/changed" "$keyring" -s upgrade
}
winget() {
  /usr/bin/python3 - "$top/packaging/schemas/winget-1.12.0" "$dist" <<'EOF'
import glob, hashlib, json, jsonschema, os, subprocess, sys, yaml
schemas, dist = sys.argv[1:]
folder, = glob.glob(f"{dist}/winget/Tarnwick.Tarnwick/*")
files = {"version": "Tarnwick.Tarnwick.yaml", "installer": "Tarnwick.Tarnwick.installer.yaml",
         "defaultLocale": "Tarnwick.Tarnwick.locale.en-US.yaml"}
assert sorted(os.listdir(folder)) == sorted(files.values())
for kind, name in files.items():
    schema = json.load(open(f"{schemas}/manifest.{kind}.1.12.0.json"))
    manifest = yaml.safe_load(open(f"{folder}/{name}"))
    jsonschema.Draft7Validator(schema, format_checker=jsonschema.FormatChecker()).validate(manifest)
installers = yaml.safe_load(open(f"{folder}/{files['installer']}"))["Installers"]
assert sorted(i["Architecture"] for i in installers) == ["x64", "x86"]
for installer in installers:
    msi = f"{dist}/{installer['InstallerUrl'].rsplit('/', 1)[1]}"
    assert installer["InstallerSha256"] == hashlib.sha256(open(msi, "rb").read()).hexdigest().upper()
    table = subprocess.run(["msiinfo", "export", msi, "Property"], capture_output=True, text=True).stdout
    assert f"ProductCode\t{installer['ProductCode']}" in table.splitlines()
EOF
}

check "apt-get updates from the repository, without a warning, and downloads the release's package" downloads
check "apt-get offers the release's package as an upgrade of the earlier one" upgrades
check "apt-get refuses the repository checked with another key" other_key
check "apt-get refuses a changed Packages" changed
check "the winget manifests are valid and fit the MSIs" winget
check "no download address, no winget manifests" sh -c "cd '$work/source' && cmake --preset release 2>&1 |
  grep -q 'winget: no manifests (no TARNWICK_DOWNLOAD_URL given)'"
check "a download address that is not https:// is refused" sh -c "cd '$work/source' &&
  ! TARNWICK_DOWNLOAD_URL=http://example.org cmake --preset release >'$work/said' 2>&1 && grep -q 'must be an https://' '$work/said'"
# The publisher as Windows' Apps list and winget show it; winget's values as the schemas allow.
manufacturer() {
  for msi in "$dist"/*.msi; do msiinfo export "$msi" Property | tr -d '\r' | grep -qxF "Manufacturer	$publisher" || return 1; done
}
winget_publisher() { # PUBLISHER FOLDER: a YAML reader finds PUBLISHER in the package's manifest, written in ASCII
  /usr/bin/python3 -c 'import glob, sys, yaml
texts = [open(name, "rb").read() for name in glob.glob(sys.argv[2] + "/*/*/*.locale.en-US.yaml")]
assert len(texts) == 1 and yaml.safe_load(texts[0])["Publisher"] == sys.argv[1] and texts[0].isascii()' "$@"
}
apps_entries() { [ "$(cat "$dist"/winget/*/*/*.installer.yaml | grep -cxF "    Publisher: \"$publisher\"")" -eq 2 ]; }
escaped() { odd=$(printf 'A\302\233\177\302\205\342\200\250B') && "$top/packaging/winget.py" write "$dist" "$work/escaped" \
  "$(sed -n 's/^Version: //p' "$dist/BUILDINFO")" https://example.org Example.Odd "$odd" && winget_publisher "$odd" "$work/escaped"; }
refused() { ! "$top/packaging/winget.py" check 1.0.0 https://example.org "$1" Pub 2>"$work/said" && grep -q PackageIdentifier "$work/said"; }
check "the MSIs' Manufacturer is the release's publisher" manufacturer
check "the release with its publisher is its source's build" sh -c "'$work/source/packaging/verify-release.sh' '$dist' >'$work/said' 2>&1"
check "winget's publisher is the release's" winget_publisher "$publisher" "$dist/winget"
check "winget's apps entries name the MSIs' Manufacturer" apps_entries
check "a publisher with C1 controls, DEL and U+2028 reaches winget escaped" escaped
check "a winget identifier with a part over 32 characters is refused" refused "Example.$(printf '%033d' 0)"
check "a winget identifier of more than 8 parts is refused" refused A.B.C.D.E.F.G.H.I
check "a publisher with a line separator is refused" sh -c "cd '$work/source' && ! TARNWICK_PUBLISHER='$(printf 'A\342\200\250B')' \
  cmake --preset release >'$work/said' 2>&1 && grep -q 'TARNWICK_PUBLISHER must be 1 to 256 printable ASCII' '$work/said'"
exit $failed
