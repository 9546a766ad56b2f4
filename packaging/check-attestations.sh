#!/bin/sh
# Says whether enough independent builders attest a release: the release's files must match its
# own SHA256SUMS, and at least THRESHOLD distinct builders' certificates from CERTS (a folder of
# OpenPGP certificates the user trusts, one file each) must verify a signature over that
# SHA256SUMS in ATTESTATIONS/<version>/<builder>/SHA256SUMS.asc, as packaging/attest.sh writes
# them. A builder counts once, however many folders its certificate verifies; a signature that no
# certificate of CERTS verifies does not count.
# Usage: packaging/check-attestations.sh RELEASE_FOLDER ATTESTATIONS CERTS THRESHOLD
# Exits 0 when enough builders agree; 1 when they do not, or the files do not match the sums;
# 2 when the check could not run.
set -u
cannot() { echo "$1" >&2 && exit 2; }
[ $# -eq 4 ] || cannot "usage: $0 RELEASE_FOLDER ATTESTATIONS CERTS THRESHOLD"
release=$1 attestations=$2 certs=$3 threshold=$4
printf '%s\n' "$threshold" | grep -qx '[1-9][0-9]*' || cannot "the threshold is a whole number from 1: $threshold"
[ -d "$certs" ] || cannot "no such folder of certificates: $certs"
command -v sqop >/dev/null || cannot "the check needs sqop, which is not installed"
sums=$release/SHA256SUMS
[ -f "$sums" ] || { echo "$release has no SHA256SUMS" && exit 1; }

# The release is what its sums say, each name a plain file of the folder.
if grep -vqx '[0-9a-f]\{64\}  [A-Za-z0-9][A-Za-z0-9._+~-]*' "$sums"; then
  echo "SHA256SUMS holds a line that is not a sum and a file name" && exit 1
fi
(cd "$release" && sha256sum --check --strict --quiet SHA256SUMS) || {
  echo "the release's files do not match its SHA256SUMS" && exit 1
}
version=$(sed -n 's/^Version: //p' "$release/BUILDINFO" 2>/dev/null | head -n 1)
printf '%s\n' "$version" | grep -qx '[0-9][0-9.]*' || { echo "BUILDINFO names no version" && exit 1; }

agreed=" " count=0
for signature in "$attestations/$version"/*/SHA256SUMS.asc; do
  [ -f "$signature" ] || continue
  builder=$(basename "$(dirname "$signature")") by=
  for cert in "$certs"/*; do
    [ -f "$cert" ] || continue
    if sqop verify "$signature" "$cert" <"$sums" >/dev/null 2>&1; then
      by=$(basename "$cert")
      break
    fi
  done
  if [ -z "$by" ]; then
    echo "did not verify: $builder (no certificate of $certs made this signature)"
  elif case $agreed in *" $by "*) true ;; *) false ;; esac; then
    echo "counted once: $builder (signed with $by, as another builder here)"
  else
    echo "agreed: $builder (certificate $by)"
    agreed="$agreed$by " count=$((count + 1))
  fi
done
if [ $count -ge "$threshold" ]; then
  echo "$count builders agree on $release (at least $threshold asked)"
  exit 0
fi
echo "only $count builders agree on $release, and $threshold are asked"
exit 1
