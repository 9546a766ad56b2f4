#!/bin/sh
# The channels of a release signed with a throwaway OpenPGP key and given a download address,
# through their real consumers where one runs here: apt-get against the release's APT repository,
# in a private state folder (nothing of the machine's apt read or changed, but for a copy of
# apt-transport-in-toto's own file; its method logs to /tmp/intoto.log), and the winget manifests
# against Microsoft's published schemas, with the checks `winget validate` adds. The repository is
# the next version's, made from the release as doc/development.md says, keeping the first one's pool.
# Usage: tests/channels_test.sh   (needs what the release needs, and apt-utils, sqop, msitools,
#        python3-jsonschema, python3-yaml, gnupg, in-toto, apt-transport-in-toto and faketime)
set -eu
. "$(dirname "$0")/checks.sh"
chmod 755 "$work" # apt's sandbox user reads the repository
# The release's key made by gpg, as in-toto needs it (sqop signs with it too), and the builders'.
gpg_() { gpg --homedir "$work/gnupg" --batch --no-tty "$@"; }
mkdir -m 700 "$work/gnupg" && for who in publisher builder1 builder2 stranger; do
  gpg_ --passphrase '' --quick-gen-key "$who" ed25519 sign never 2>/dev/null; done
gpg_ --armor --export-secret-keys publisher >"$work/key" && gpg_ --armor --export-secret-keys stranger >"$work/stranger.key"
mkdir "$work/builders" && gpg_ --export builder1 >"$work/builders/1.asc" && gpg_ --export builder2 >"$work/builders/2.asc"
sqop generate-key "Someone else <else@example.org>" | sqop extract-cert >"$work/other.asc"
release() { # FOLDER SETTINGS...
  (cd "$1" && shift && env TARNWICK_OPENPGP_KEY="$work/key" "$@" \
    TARNWICK_DOWNLOAD_URL=https://downloads.example.org/tarnwick cmake --workflow --preset release >"$work/log" 2>&1)
}
publisher='Example Org; & Co.'
git clone -q "$top" "$work/source" &&
  release "$work/source" TARNWICK_PUBLISHER="$publisher" TARNWICK_SECURITY_CONTACT=security@example.org
first=$work/source/build/release/dist
old=$(cd "$first" && ls tarnwick_*.deb) arch=$(dpkg --print-architecture)
version=$(dpkg-deb -f "$first/$old" Version) && next=$(echo "$version" | awk -F. '{ print $1 "." $2 "." $3 + 1 }')
git clone -q "$work/source" "$work/next" && (cd "$work/next" &&
  sed -i "s/^project(Tarnwick VERSION $version /project(Tarnwick VERSION $next /" CMakeLists.txt &&
  sed -i "0,/^## /s//## $next ($(date -u +%F))\n\nThe next release.\n\n&/" CHANGELOG.md &&
  git -c user.name=Test -c user.email=test@example.org commit -qam "Release $next")
release "$work/next" TARNWICK_APT_HISTORY="$first/apt" TARNWICK_INTOTO_BUILDERS="$work/builders" \
  TARNWICK_INTOTO_THRESHOLD=2 TARNWICK_INTOTO_EXPIRES="$(date -u -d '30 days' +%F)"
dist=$work/next/build/release/dist
deb=$(cd "$dist" && ls tarnwick_*.deb)
# The first release installed, with what it depends on and recommends at the versions it asks for:
# the test's own world, nothing of the machine's.
{ dpkg-deb -f "$first/$old" Package Version Architecture Maintainer Depends Recommends Description
  printf 'Status: install ok installed\n\n'
  dpkg-deb -f "$first/$old" Depends Recommends | sed 's/^[A-Za-z]*: //' | tr , '\n' | awk -v arch="$arch" '{
    sub(/\|.*/, ""); v = match($0, /\(>= [^)]*\)/) ? substr($0, RSTART + 4, RLENGTH - 5) : 1
    printf "Package: %s\nVersion: %s\nArchitecture: %s\nStatus: install ok installed\n\n", $1, v, arch }'
} >"$work/status"

# apt-get with state of its own, that status and the release's preferences, which reads one source:
# the release's, pointed at REPOSITORY and KEYRING.
apt_get() { # REPOSITORY KEYRING ARGUMENTS...
  state=$work/state && rm -rf "$state" && mkdir -p "$state/lists/partial" "$state/sources" "$state/cache/archives/partial"
  uri=file:$1 && case $1 in intoto:*) uri=$1 ;; esac
  sed -e "s|^URIs: .*|URIs: $uri|" -e "s|^Signed-By: .*|Signed-By: $2|" "$dist/apt/tarnwick.sources" \
    >"$state/sources/tarnwick.sources"
  mkdir "$state/preferences" && cp "$dist/apt/tarnwick.pref" "$state/preferences/"
  cat >"$state/apt.conf" <<EOF
Dir::State "$state"; Dir::State::status "$work/status"; Dir::Cache "$state/cache";
Dir::Etc::SourceList "/dev/null"; Dir::Etc::SourceParts "$state/sources";
Dir::Etc::TrustedParts "$state/sources"; Dir::Etc::Preferences "/dev/null";
Dir::Etc::PreferencesParts "$state/preferences"; Debug::NoLocking "1"; APT::Architectures { "$arch"; };
Dir::Etc::Parts "${parts:-/dev/null}"; Dir::Etc::main "/dev/null"; ${more:-}
EOF
  shift 2 && export APT_CONFIG="$state/apt.conf"
  apt-get update >"$state/said" 2>&1 && ! grep -q '^[WEN]:' "$state/said" && apt-get "$@"
}
repo=$dist/apt keyring=$dist/apt/tarnwick-archive-keyring.asc
downloads() { # the package apt resolves to has the release's package's hash
  apt_get "$repo" "$keyring" install -y --download-only --print-uris tarnwick |
    grep -q "/pool/main/t/tarnwick/$deb' $deb [0-9]* MD5Sum:$(md5sum <"$dist/$deb" | cut -c1-32)\$"
}
upgrades() { apt_get "$repo" "$keyring" -s upgrade | grep -q "^Inst tarnwick \[$version\] ($next "; }
other_key() { ! apt_get "$repo" "$work/other.asc" -s upgrade && grep -q NO_PUBKEY "$work/state/said"; }
changed() {
  cp -r "$repo" "$work/changed" && cd "$work/changed/dists/stable/main/binary-$arch" &&
    echo 'Tag: changed' >>Packages && gzip -9nkf Packages && ! apt_get "$work/changed" "$keyring" -s upgrade
}
# A package of another name, newer than the one installed, for the history and for planting.
mkdir -p "$work/xdg/DEBIAN" && printf 'Package: xdg-utils\nVersion: 1.1\nArchitecture: %s\nMaintainer: T <t@example.org>\nDescription: x\n' \
  "$arch" >"$work/xdg/DEBIAN/control" && dpkg-deb -b "$work/xdg" "$work/xdg-utils_1.1.deb" >/dev/null
planted() { # signed into the repository by the key's holder, and kept out by the preferences
  cp -r "$repo" "$work/planted" && cd "$work/planted/dists/stable" && cp "$work/xdg-utils_1.1.deb" ../../pool/main/t/tarnwick &&
    (cd ../.. && apt-ftparchive packages pool) >"main/binary-$arch/Packages" && gzip -9nkf "main/binary-$arch/Packages" &&
    head=$(sed '/^MD5Sum:/,$d' Release) && rm ./*Release* && { echo "$head" && apt-ftparchive release . | sed -n '/^MD5Sum:/,$p'; } |
    sqop inline-sign --as=clearsigned "$work/key" >"$work/InRelease" && mv "$work/InRelease" . &&
    apt_get "$work/planted" "$keyring" -s upgrade >"$work/said" && grep -q '^Inst tarnwick ' "$work/said" &&
    ! grep -q '^Inst xdg-utils' "$work/said" && apt-cache policy xdg-utils | grep -q '^ *1.1 -1$'
}
history() { # FILE...: $work/history, the first release's repository with FILE... in its pool, signed again with the key
  rm -rf "$work/history" && cp -r "$first/apt" "$work/history" && { [ $# -eq 0 ] || cp -P "$@" "$work/history/pool/main/t/tarnwick/"; } &&
    (cd "$work/history" && apt-ftparchive packages pool) >"$work/history/dists/stable/main/binary-$arch/Packages" &&
    cd "$work/history/dists/stable" && head=$(sed '/^MD5Sum:/,$d' Release) && rm ./*Release* &&
    { echo "$head" && apt-ftparchive release . | sed -n '/^MD5Sum:/,$p'; } >"$work/Release" && mv "$work/Release" . &&
    sqop inline-sign --as=clearsigned "$work/key" <Release >InRelease
}
history_refused() { # SAID: the next release with $work/history as its history stops and says SAID
  cd "$work/next" && TARNWICK_OPENPGP_KEY="$work/key" TARNWICK_APT_HISTORY="$work/history" cmake --preset release >/dev/null &&
    ! (cd build/release && cpack) >"$work/said" 2>&1 && tr -s '\n ' '  ' <"$work/said" | grep -q "HISTORY: .*$1"
}
refused() { history "$1" && history_refused "$2"; } # FILE SAID: with FILE signed into the history
unsigned() { history && cp "$work/tarnwick_0.0.1.deb" "$work/history/pool/main/t/tarnwick/" && history_refused "$1"; }
tarnwick_deb() { # VERSION: $work/tarnwick_VERSION.deb, as dpkg-deb builds it
  mkdir -p "$work/t-$1/DEBIAN" && sed "s/^Package: .*/Package: tarnwick/; s/^Version: .*/Version: $1/" "$work/xdg/DEBIAN/control" \
    >"$work/t-$1/DEBIAN/control" && dpkg-deb -b "$work/t-$1" "$work/tarnwick_$1.deb" >/dev/null
}
two_controls() ( # $work/two.deb: tarnwick 1.4.0 to dpkg-deb, 9.9.9 to apt-ftparchive (which reads the last control member)
  mkdir -p "$work/two/a" "$work/two/b" && cd "$work/two" && sed 's/^Package: .*/Package: tarnwick/; s/^Version: .*/Version: 1.4.0/' \
    "$work/xdg/DEBIAN/control" >a/control && sed 's/1.4.0/9.9.9/' a/control >b/control && echo 2.0 >debian-binary &&
    tar czf control.tar.gz -C a ./control && tar cf control.tar -C b ./control && tar czf data.tar.gz -T /dev/null &&
    ar rc "$work/two.deb" debian-binary control.tar.gz data.tar.gz control.tar
)
texts() { # FOLDER: no text there but the changelogs names the first release's version
  find "$1" \( -name CHANGELOG.md -o -name changelog.gz \) -delete && find "$1" -name '*.gz' -exec gunzip {} + &&
    ! grep -rIlE "(^|[^0-9.])$(echo "$version" | sed 's/\./\\./g')([^0-9]|\$)" "$1"
}
deb_texts() { dpkg-deb -x "$dist/$deb" "$work/deb" && texts "$work/deb"; }
zip_texts() {
  for zip in "$dist"/*.zip; do z=$work/zips/${zip##*/} && mkdir -p "$z" && (cd "$z" && cmake -E tar xf "$zip"); done && texts "$work/zips"
}
both() { [ "$(grep -h ^Version: "$repo/dists/stable/main/binary-$arch/Packages")" = "$(printf 'Version: %s\n' "$version" "$next")" ]; }
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
check "apt-get offers the next release's package as an upgrade of the first one" upgrades
check "the next release's repository holds both releases" both
check "apt-get refuses the repository checked with another key" other_key
check "apt-get refuses a changed Packages" changed
check "a package of another name signed into the repository is not offered" planted
check "the winget manifests are valid and fit the MSIs" winget
check "no download address, no winget manifests" sh -c "cd '$work/source' && cmake --preset release 2>&1 |
  grep -q 'winget: no manifests (no TARNWICK_DOWNLOAD_URL given)'"
check "a download address that is not https:// is refused" sh -c "cd '$work/source' &&
  ! TARNWICK_DOWNLOAD_URL=http://example.org cmake --preset release >'$work/said' 2>&1 && grep -q 'must be an https://' '$work/said'"
# The publisher as Windows' Apps list and winget show it; winget's values as the schemas allow.
manufacturer() {
  for msi in "$first"/*.msi; do msiinfo export "$msi" Property | tr -d '\r' | grep -qxF "Manufacturer	$publisher" || return 1; done
}
winget_publisher() { # PUBLISHER FOLDER: a YAML reader finds PUBLISHER in the package's manifest, written in ASCII
  /usr/bin/python3 -c 'import glob, sys, yaml
texts = [open(name, "rb").read() for name in glob.glob(sys.argv[2] + "/*/*/*.locale.en-US.yaml")]
assert len(texts) == 1 and yaml.safe_load(texts[0])["Publisher"] == sys.argv[1] and texts[0].isascii()' "$@"
}
apps_entries() { [ "$(cat "$first"/winget/*/*/*.installer.yaml | grep -cxF "    Publisher: \"$publisher\"")" -eq 2 ]; }
escaped() { odd=$(printf 'A\302\233\177\302\205\342\200\250B') && "$top/packaging/winget.py" write "$first" "$work/escaped" \
  "$(sed -n 's/^Version: //p' "$first/BUILDINFO")" https://example.org Example.Odd "$odd" && winget_publisher "$odd" "$work/escaped"; }
winget_refused() { ! "$top/packaging/winget.py" check 1.0.0 https://example.org "$1" Pub 2>"$work/said" && grep -q PackageIdentifier "$work/said"; }
check "the MSIs' Manufacturer is the release's publisher" manufacturer
check "the .deb's Maintainer is the publisher, quoted, at the security contact" \
  test "$(dpkg-deb -f "$first/$old" Maintainer)" = "\"$publisher\" <security@example.org>"
check "lintian finds no error or warning in the .deb with that Maintainer" lintian --fail-on error,warning "$first/$old"
check "the release with its publisher is its source's build" sh -c "'$work/source/packaging/release_check.py' verify '$first' >'$work/said' 2>&1"
check "winget's publisher is the release's" winget_publisher "$publisher" "$first/winget"
check "winget's apps entries name the MSIs' Manufacturer" apps_entries
check "a publisher with C1 controls, DEL and U+2028 reaches winget escaped" escaped
check "a winget identifier with a part over 32 characters is refused" winget_refused "Example.$(printf '%033d' 0)"
check "a winget identifier of more than 8 parts is refused" winget_refused A.B.C.D.E.F.G.H.I
check "a publisher with a line separator is refused" sh -c "cd '$work/source' && ! TARNWICK_PUBLISHER='$(printf 'A\342\200\250B')' \
  cmake --preset release >'$work/said' 2>&1 && grep -q 'TARNWICK_PUBLISHER must be 1 to 256 printable ASCII' '$work/said'"
check "a security contact that is not an email address is refused" sh -c "cd '$work/source' &&
  ! TARNWICK_SECURITY_CONTACT='security at example.org' cmake --preset release >'$work/said' 2>&1 &&
  grep -q 'TARNWICK_SECURITY_CONTACT must be an email address' '$work/said'"
check "the next release's .deb names the first one's version in no text but its changelogs" deb_texts
check "the next release's zips name the first one's version in no text but their changelogs" zip_texts
cp "$first/$old" "$work/$deb" && ln -s "$first/$old" "$work/link.deb"
check "a history package with the name of the release's own is refused" refused "$work/$deb" "name of the release's own"
check "a history package of another name is refused" refused "$work/xdg-utils_1.1.deb" "'xdg-utils', not of tarnwick"
check "a history package that is a link is refused" refused "$work/link.deb" "not a regular file"
tarnwick_deb 0.0.1 && tarnwick_deb "$version-0" && two_controls
check "a history package with two control members is refused" refused "$work/two.deb" "members are"
check "a history package the repository's key never signed is refused" unsigned "never signed"
check "a history version that dpkg holds equal to another is refused" refused "$work/tarnwick_$version-0.deb" "a second time"
check "the served pool as the history is refused, naming the repository to give" sh -c "cd '$work/next' && ! TARNWICK_OPENPGP_KEY='$work/key' \
  TARNWICK_APT_HISTORY='$first/apt/pool/main/t/tarnwick' cmake --preset release >'$work/said' 2>&1 && tr -s '\n ' '  ' <'$work/said' | grep -qF 'give $first/apt '"

# apt-transport-in-toto set up as doc/deploy.md says, from the next release's apt/ files, in a client folder:
# the real apt-get and method install into a root of its own, the repository and the builders' links served
# over loopback HTTP. The links are in-toto-run's over the release's files by bare name (SHA256SUMS and what
# it lists), as attest's are; `changed` is a builder's over a .deb of other bytes, which `resigned` serves.
link() { # NAME KEY FOLDER: builder NAME's folder, with KEY's link over the files in FOLDER
  l=$work/srv/$1/sources/tarnwick/$next && k=$(gpg_ --with-colons -k "$2" | awk -F: '/^fpr/ { print $10; exit }') &&
    mkdir -p "$l" && (cd "$l" && in-toto-run -n rebuild -x -g "$k" --gpg-home "$work/gnupg" --base-path "$3" \
    -p SHA256SUMS $(cut -c67- "$3/SHA256SUMS") && mv rebuild.*.link metadata)
}
cp -r "$dist" "$work/other" && dpkg-deb -R "$dist/$deb" "$work/rebuilt" && echo >>"$work/rebuilt/usr/share/doc/tarnwick/README.md" &&
  dpkg-deb -b "$work/rebuilt" "$work/other/$deb" >/dev/null && (resum "$work/other" "$deb")
link one builder1 "$dist" && link two builder2 "$dist" && link changed builder2 "$work/other" && link stranger stranger "$dist"
cp -r "$repo" "$work/srv/apt" && cp -r "$repo" "$work/srv/resigned" && cd "$work/srv/resigned" && cp "$work/other/$deb" pool/main/t/tarnwick/ &&
  p=dists/stable/main/binary-$arch/Packages && apt-ftparchive packages pool >$p && gzip -9nkf $p && cd dists/stable &&
  head=$(sed '/^MD5Sum:/,$d' Release) && rm ./*Release* && { echo "$head" && apt-ftparchive release . | sed -n '/^MD5Sum:/,$p'; } |
  sqop inline-sign --as=clearsigned "$work/key" >InRelease && cd "$top"
"$top/packaging/release_check.py" layout "$work/builders" 2 "$(date -u -d '30 days' +%F)" "$work/stranger.key" "$work/stranger.layout" >/dev/null
/usr/bin/python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$work/srv" >"$work/server" 2>&1 & server=$!
trap 'kill "$server"; for g in "$work/gnupg" "$work/client/gnupg"; do gpgconf --homedir "$g" --kill all; done; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
for _ in $(seq 50); do port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$work/server") && [ -n "$port" ] && break; sleep 0.2; done
c=$work/client layout=$dist/apt/tarnwick.layout
client() { # LAYOUT BUILDER...: the release's client files in place, naming these builders (and Debian's file, given $debian)
  rm -rf "$c" && mkdir -p "$c/parts" "$c/root/var/lib/dpkg/info" "$c/root/var/lib/dpkg/updates" && mkdir -m 700 "$c/gnupg" &&
    cp "$work/status" "$c/root/var/lib/dpkg/" && cp "$1" "$c/tarnwick.layout" && shift &&
    ${debian:+cp /etc/apt/apt.conf.d/intoto "$c/parts/"} &&
    gpg --homedir "$c/gnupg" --batch --import "$dist/apt/tarnwick-archive-keyring.asc" 2>/dev/null &&
    sed "s|/etc/intoto/tarnwick/|$c/|" "$dist/apt/zz-tarnwick-intoto" >"$c/parts/zz-tarnwick-intoto" &&
    for b; do sed -i "/^APT::Intoto::Rebuilders {/a \"http://127.0.0.1:$port/$b\";" "$c/parts/zz-tarnwick-intoto"; done
}
through() { # REPOSITORY ARGUMENTS...: apt-get through the method, into the client's root
  r=$1 && shift && parts=$c/parts more="Dir::State::status \"$c/root/var/lib/dpkg/status\";
    DPkg::Options { \"--root=$c/root\"; };" apt_get "intoto://127.0.0.1:$port/$r" "$keyring" "$@" >"$c/said" 2>&1
}
has() { dpkg-query --admindir="$c/root/var/lib/dpkg" -W -f '${Version} ${Status}' tarnwick | grep -qx "$1 install ok installed"; }
installs() {
  debian=1 client "$layout" one two && through apt install -y tarnwick && has "$next" &&
    [ -x "$c/root/usr/bin/tarnwick" ] && through apt purge -y tarnwick && ! has "$next" && [ ! -e "$c/root/usr/bin/tarnwick" ]
}
kept_out() { # LAYOUT REPOSITORY BUILDER...: refused by in-toto, nothing downloaded, the first release still installed
  l=$1 r=$2 && shift 2 && client "$l" "$@" && ! through "$r" install -y tarnwick &&
    grep -q "In-toto verification for .* failed" "$c/said" && ! ls "$work/state/cache/archives/"*.deb && has "$version"
}
expired() { # apt-get a day after the layout's last
  mkdir "$work/late" && printf '#!/bin/sh\nexec faketime -f +31d /usr/bin/apt-get "$@"\n' >"$work/late/apt-get" &&
    chmod +x "$work/late/apt-get" && PATH=$work/late:$PATH && kept_out "$layout" apt one two
}
debian_one() { grep -q 'NoFail {"true"}' /etc/apt/apt.conf.d/intoto && debian=1 kept_out "$layout" apt one; }
check "in-toto: two builders' links meet a threshold of two, Debian's file beside the release's: installed, then purged" installs
check "in-toto: one builder's link, for a threshold of two, is refused" kept_out "$layout" apt one
check "in-toto: a builder's link over a changed .deb is refused" kept_out "$layout" apt one changed
check "in-toto: a link by a key the layout does not name is refused" kept_out "$layout" apt one stranger
check "in-toto: the repository re-signed with its key to serve other bytes is refused" kept_out "$layout" resigned one two
check "in-toto: an expired layout refuses every install" expired
check "in-toto: a layout signed by a key the configuration does not name is refused" kept_out "$work/stranger.layout" apt one two
check "in-toto: Debian's own file, NoFail on, beside the release's does not let one link through" debian_one
check "in-toto: a release key that sqop made is refused before the build, naming what works" sh -c "cd '$work/source' &&
  sqop generate-key x >'$work/sqop.key' && ! TARNWICK_OPENPGP_KEY='$work/sqop.key' TARNWICK_INTOTO_BUILDERS='$work/builders' \
  TARNWICK_INTOTO_THRESHOLD=2 TARNWICK_INTOTO_EXPIRES=2099-01-01 cmake --preset release >'$work/said' 2>&1 &&
  tr -s '\n ' '  ' <'$work/said' | grep -q 'by in-toto.*gpg --quick-gen-key NAME ed25519 sign'"
exit $failed
