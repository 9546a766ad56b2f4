#!/bin/sh
# Says whether a downloaded release is exactly what this checkout builds, plus its signatures:
# reads what the release says it was built from (BUILDINFO), rebuilds the release from this
# checkout, which must be at that commit, with the release's own signatures put back on the
# rebuilt exes and MSIs, then compares every file byte for byte: the exes in the zips first, then
# each file that SHA256SUMS lists, then SHA256SUMS itself. The release is the folder
# build/release/dist/ that `cmake --workflow --preset release` makes.
#
# The release is untrusted input: nothing in it is unpacked where it says, run, or trusted for a
# path. Only the two exes are read out of each zip, by their exact names, into files named here;
# a zip with any other kind of entry is refused.
#
# This check does not say who signed: a release built from the same source and signed by anyone
# passes. Give the publisher's OpenPGP certificate (--publisher-cert) to check SHA256SUMS.asc,
# and a CA file (--ca) to check the Authenticode signatures of the exes and MSIs, before the rest.
#
# Usage: packaging/verify-release.sh [--publisher-cert CERT] [--ca CA_FILE] RELEASE_FOLDER
# Exits 0 when the release is this source's build plus its signatures; 1 when it is not (naming
# the first file that is not); 2 when the check could not run (usage, a missing tool, a checkout at
# another commit, a rebuild that failed).
set -u
cannot() { echo "$1" >&2 && exit 2; }
refuse() { echo "$1" && exit 1; }
differs() { refuse "$1 differs: the release is not this source's build plus its signatures"; }

cert= ca=
while [ $# -gt 1 ]; do
  case $1 in
  --publisher-cert) cert=$2 ;;
  --ca) ca=$2 ;;
  *) break ;;
  esac
  shift 2
done
[ $# -eq 1 ] && [ -d "$1" ] ||
  cannot "usage: $0 [--publisher-cert CERT] [--ca CA_FILE] RELEASE_FOLDER (the folder of SHA256SUMS)"
for tool in git cmake sha256sum osslsigncode python3 ${cert:+sqop}; do
  command -v $tool >/dev/null || cannot "the check needs $tool, which is not installed"
done
release=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -f "$release/SHA256SUMS" ] || refuse "$release has no SHA256SUMS"

# The signer first, when the caller says who it must be.
if [ -n "$cert" ]; then
  sqop verify "$release/SHA256SUMS.asc" "$cert" <"$release/SHA256SUMS" >/dev/null 2>&1 ||
    refuse "SHA256SUMS.asc is not a signature of SHA256SUMS by the certificate $cert"
fi

# The published sums agree with the published files. A name must be a plain file name: the sums
# are no more trusted than the rest.
listed=" SHA256SUMS SHA256SUMS.asc "
while read -r sum name; do
  printf '%s\n' "$sum" | grep -qx '[0-9a-f]\{64\}' && printf '%s\n' "$name" | grep -qx '[A-Za-z0-9][A-Za-z0-9._+~-]*' ||
    refuse "SHA256SUMS holds a line that is not a sum and a file name: $sum $name"
  [ -f "$release/$name" ] && [ ! -L "$release/$name" ] || refuse "$name is listed in SHA256SUMS, and missing"
  [ "$(sha256sum <"$release/$name" | cut -d' ' -f1)" = "$sum" ] || differs "$name (against SHA256SUMS)"
  listed="$listed$name "
done <"$release/SHA256SUMS"
unlisted=
for file in "$release"/* "$release"/.[!.]*; do
  [ -e "$file" ] || [ -L "$file" ] || continue
  case $listed in *" ${file##*/} "*) ;; *) unlisted="$unlisted ${file##*/}" ;; esac
done

# What it was built from, in the form the release writes it.
field() { sed -n "s/^$1: //p" "$release/BUILDINFO" 2>/dev/null | head -n 1; }
case $listed in *" BUILDINFO "*) ;; *) refuse "SHA256SUMS does not list BUILDINFO: the release does not say what it was built from" ;; esac
version=$(field Version) commit=$(field Commit) epoch=$(field SOURCE_DATE_EPOCH) publisher=$(field Publisher)
printf '%s\n' "$version" | grep -qx '[0-9]\{1,9\}\.[0-9]\{1,9\}\.[0-9]\{1,9\}' || refuse "BUILDINFO names no version"
printf '%s\n' "$epoch" | grep -qx '[0-9]\{1,12\}' || refuse "BUILDINFO names no SOURCE_DATE_EPOCH"
printf '%s\n' "$publisher" | LC_ALL=C grep -qx '[ -~]\{1,256\}' || refuse "BUILDINFO names no publisher"
printf '%s\n' "$commit" | grep -qx '[0-9a-f]\{40\}' ||
  cannot "the release was built from \"$commit\", not from a commit: it cannot be built again here"
head=$(git -C "$top" rev-parse HEAD 2>/dev/null) || cannot "$top is not a git checkout"
[ "$head" = "$commit" ] ||
  cannot "this checkout is at $head, the release was built from $commit: run 'git checkout $commit' first"

# The release's own signatures, taken off its exes and MSIs (a file without one has none). Each
# zip's entries are checked before anything is read out of it.
for arch in win32 win64; do
  zip=$release/tarnwick-$version-$arch.zip msi=$release/tarnwick-$version-$arch.msi
  mkdir -p "$work/signatures/$arch" "$work/exes/$arch"
  [ -f "$zip" ] && [ -f "$msi" ] || refuse "the release lacks the $arch zip or MSI of version $version"
  python3 - "$zip" "$work/exes/$arch" <<'EOF' || exit 1
import re, stat, sys, zipfile
zip_path, out = sys.argv[1], sys.argv[2]
known = re.compile(r"(LICENSE|README\.md|CHANGELOG\.md|THIRD-PARTY-NOTICES\.txt|Tarnwick\.example\.cfg"
                   r"|Tarnwick\.task\.xml|tarnwick\.exe|tarnwickw\.exe|doc/([a-z-]+\.md)?)")
def refuse(why):
    print(f"{zip_path.rsplit('/', 1)[-1]}: {why}")
    sys.exit(1)
try:
    archive = zipfile.ZipFile(zip_path)
    entries = archive.infolist()
except (OSError, zipfile.BadZipFile) as error:
    refuse(f"not a zip that can be read ({error})")
names = [entry.filename for entry in entries]
for entry in entries:
    if stat.S_ISLNK(entry.external_attr >> 16):
        refuse(f"refused: the entry {entry.filename!r} is a symbolic link")
    if not known.fullmatch(entry.filename):
        refuse(f"refused: the entry {entry.filename!r} is not one of the release's files")
    if names.count(entry.filename) > 1:
        refuse(f"refused: the entry {entry.filename!r} is there twice")
for exe in ("tarnwick.exe", "tarnwickw.exe"):
    if exe not in names:
        refuse(f"{exe} is missing")
    if archive.getinfo(exe).file_size > 64 << 20:
        refuse(f"{exe} is far larger than any release's")
    with open(f"{out}/{exe}", "wb") as copy:
        copy.write(archive.read(exe))
EOF
  for file in "$work/exes/$arch/tarnwick.exe" "$work/exes/$arch/tarnwickw.exe" "$msi"; do
    name=${file##*/}
    if [ -n "$ca" ]; then
      osslsigncode verify -CAfile "$ca" -in "$file" >/dev/null 2>&1 ||
        refuse "$name ($arch) has no Authenticode signature that $ca vouches for"
    fi
    osslsigncode extract-signature -in "$file" -out "$work/signatures/$arch/$name.p7" >/dev/null 2>&1 ||
      rm -f "$work/signatures/$arch/$name.p7"
  done
done

# The same release, built from this commit as the release was: by the release preset, in a clone
# (the paths inside the build must be the same), at its time, with those signatures.
echo "rebuilding the release from ${commit%"${commit#???????}"} at SOURCE_DATE_EPOCH=$epoch ..."
git clone -q -c advice.detachedHead=false "$top" "$work/source" || cannot "the checkout could not be cloned"
# No key or setting of the caller's own environment may reach the rebuild.
if ! (cd "$work/source" && for setting in $(env | sed -n 's/^\(TARNWICK_[A-Z0-9_]*\)=.*/\1/p'); do
  unset "$setting"
done && export SOURCE_DATE_EPOCH="$epoch" TARNWICK_PUBLISHER="$publisher" &&
  cmake --preset release -DTARNWICK_SIGNATURES="$work/signatures" &&
  cmake --build --preset release && cpack --preset release) >"$work/build.log" 2>&1; then
  tail -n 20 "$work/build.log" >&2
  cannot "the release could not be rebuilt from this source"
fi
rebuilt=$work/source/build/release
for arch in win32 win64; do
  for exe in tarnwick.exe tarnwickw.exe; do
    cmp -s "$work/exes/$arch/$exe" "$rebuilt/$arch/$exe" || differs "$exe of the $arch zip"
  done
done
while read -r sum name; do
  cmp -s "$release/$name" "$rebuilt/dist/$name" || differs "$name"
done <"$release/SHA256SUMS"
cmp -s "$release/SHA256SUMS" "$rebuilt/dist/SHA256SUMS" || differs SHA256SUMS

if [ -n "$unlisted" ]; then
  echo "every file that SHA256SUMS lists is this source's build plus its signatures;"
  echo "not part of the release, and not checked:$unlisted"
else
  echo "every file of $release is this source's build plus its signatures"
fi
[ -n "$cert" ] || echo "who signed was not checked: give --publisher-cert with the publisher's OpenPGP certificate"
[ -n "$ca" ] || echo "whose Authenticode signatures these are was not checked: give --ca with the publisher's CA file"
exit 0
