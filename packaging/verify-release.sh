#!/bin/sh
# Says whether a downloaded release is exactly what this checkout builds, plus its signatures:
# rebuilds the release from this source with the release's own signatures put back on the
# rebuilt exes and MSIs, then compares every file byte for byte: the exes in the zips first, then
# each file that SHA256SUMS lists, then SHA256SUMS itself. It takes the commit checked out here:
# check out the release's commit first (and give the SOURCE_DATE_EPOCH the release was built
# with, if it was given one). The release is the one `cmake --workflow --preset release` makes.
# Usage: packaging/verify-release.sh RELEASE_FOLDER
# Exits 0 when every file matches; 1, naming the first file that does not, otherwise.
set -eu
if [ $# -ne 1 ] || [ ! -f "$1/SHA256SUMS" ]; then
  echo "usage: $0 RELEASE_FOLDER (the folder that holds the release and its SHA256SUMS)"
  exit 1
fi
release=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
differs() {
  echo "$1 differs: the release is not this source's build plus its signatures"
  exit 1
}

# The published sums agree with the published files.
while read -r sum name; do
  [ -f "$release/$name" ] && [ "$(sha256sum <"$release/$name" | cut -d' ' -f1)" = "$sum" ] ||
    differs "$name (against SHA256SUMS)"
done <"$release/SHA256SUMS"

# The release's own signatures, taken off its exes and MSIs (a file without one has none).
for arch in win32 win64; do
  mkdir -p "$work/signatures/$arch" "$work/unpacked/$arch"
  zip=$(ls "$release"/tarnwick-*-$arch.zip)
  msi=$(ls "$release"/tarnwick-*-$arch.msi)
  (cd "$work/unpacked/$arch" && cmake -E tar xf "$zip")
  for file in "$work/unpacked/$arch/tarnwick.exe" "$work/unpacked/$arch/tarnwickw.exe" "$msi"; do
    osslsigncode extract-signature -in "$file" \
      -out "$work/signatures/$arch/$(basename "$file").p7" >/dev/null 2>&1 ||
      rm -f "$work/signatures/$arch/$(basename "$file").p7"
  done
done

# The same release, built from this commit as the release was: by the release preset, in a clone
# (the paths inside the build must be the same), with those signatures.
echo "rebuilding the release from $(git -C "$top" rev-parse --short HEAD) ..."
git clone -q "$top" "$work/source"
if ! (cd "$work/source" && cmake --preset release -DTARNWICK_SIGNATURES="$work/signatures" &&
  cmake --build --preset release && cpack --preset release) >"$work/build.log" 2>&1; then
  tail -n 20 "$work/build.log"
  echo "the release could not be rebuilt from this source"
  exit 1
fi

for arch in win32 win64; do
  for exe in tarnwick.exe tarnwickw.exe; do
    cmp -s "$work/unpacked/$arch/$exe" "$work/source/build/release/$arch/$exe" || differs "$exe of the $arch zip"
  done
done
while read -r sum name; do
  cmp -s "$release/$name" "$work/source/build/release/$name" || differs "$name"
done <"$release/SHA256SUMS"
cmp -s "$release/SHA256SUMS" "$work/source/build/release/SHA256SUMS" || differs SHA256SUMS
echo "every file of $release is this source's build plus its signatures"
