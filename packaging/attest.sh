#!/bin/sh
# Makes one builder's attestation of a release: builds the release again from this checkout (which
# must be at the commit its BUILDINFO names), exactly as packaging/verify-release.sh does, with the
# release's own Authenticode signatures put back, and only when every file matches, signs the
# release's SHA256SUMS with the builder's OpenPGP key into
#   ATTESTATIONS/<version>/<builder>/SHA256SUMS.asc
# a layout in which many builders' attestations of many releases are collected side by side (one
# folder a builder, each holding only its signature; the sums are the release's own).
# Usage: packaging/attest.sh RELEASE_FOLDER BUILDER KEY [ATTESTATIONS]   (default: ./attestations)
#   BUILDER: a name of letters, digits, '.', '_' and '-'; KEY: the builder's OpenPGP key (sqop).
# Exits 0 when it attested; 1 when the release is not this source's build (nothing is written);
# 2 when it could not check or sign.
set -u
cannot() { echo "$1" >&2 && exit 2; }
[ $# -eq 3 ] || [ $# -eq 4 ] ||
  cannot "usage: $0 RELEASE_FOLDER BUILDER KEY [ATTESTATIONS]"
release=$1 builder=$2 key=$3 attestations=${4:-attestations}
printf '%s\n' "$builder" | grep -qx '[A-Za-z0-9][A-Za-z0-9._-]*' ||
  cannot "a builder's name is letters, digits, '.', '_' and '-': $builder"
command -v sqop >/dev/null || cannot "attesting needs sqop, which is not installed"
[ -f "$key" ] || cannot "no such key: $key"
# The key signs before hours of building are spent.
echo probe | sqop sign --as=text "$key" >/dev/null 2>&1 || cannot "the key in $key does not sign"

"$(dirname "$0")/verify-release.sh" "$release"
status=$?
[ $status -eq 0 ] || exit $status

version=$(sed -n 's/^Version: //p' "$release/BUILDINFO")
folder=$attestations/$version/$builder
mkdir -p "$folder" || cannot "$folder cannot be made"
sqop sign --as=text "$key" <"$release/SHA256SUMS" >"$folder/SHA256SUMS.asc.new" &&
  mv "$folder/SHA256SUMS.asc.new" "$folder/SHA256SUMS.asc" ||
  { rm -f "$folder/SHA256SUMS.asc.new" && cannot "SHA256SUMS could not be signed"; }
echo "attested: $folder/SHA256SUMS.asc"
