#!/bin/sh
# The release signed with a deployer's own keys, made for the test and thrown away with it: a CA,
# a PKCS#12 file, a SoftHSM2 token and an OpenPGP key. Builds the release from a clone of this
# commit, signed each way, checks what came out, the release check, and the refusals.
# Usage: tests/signing_test.sh   (needs what the release needs, and osslsigncode, softhsm2,
#        libengine-pkcs11-openssl, sqop, msitools, faketime, wine, and npm ci in tests/sigstore)
set -eu
. "$(dirname "$0")/checks.sh"
keys=$work/keys
# The throwaway keys: a CA with four signers (good, renewed, expired, for web servers only) as
# PKCS#12 files, the good one also in a legacy-encrypted file, under a CA for web servers only, and
# on a SoftHSM2 token; password files as Notepad writes them; OpenPGP keys, one protected.
make_keys() {
  mkdir -p "$keys/tokens" && cd "$keys"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=Test-CA \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
  printf 'secret\n' >password && printf 'wrong\n' >wrong && printf '1234' >pin && printf '9999' >bad-pin
  printf 'secret\r\n' >crlf && printf 'secret\n# the release key\n' >commented
  for signer in good:codeSigning: renewed:codeSigning: expired:codeSigning:2020-01-01 web:serverAuth:; do
    name=${signer%%:*} usage=${signer#*:} && date=${usage#*:} && usage=${usage%%:*}
    openssl req -newkey rsa:2048 -nodes -keyout $name.key -out $name.csr -subj /CN=$name 2>/dev/null
    printf 'extendedKeyUsage=%s\nkeyUsage=critical,digitalSignature\n' $usage >$name.ext
    ${date:+faketime $date} openssl x509 -req -in $name.csr -CA ca.pem -CAkey ca.key \
      -CAcreateserial -days 1 -extfile $name.ext -out $name.pem 2>/dev/null
    openssl pkcs12 -export -inkey $name.key -in $name.pem -certfile ca.pem -passout file:password -out $name.p12
  done
  # Keys of the other kinds a Sigstore bundle may or may not be signed with, under the same CA.
  for key in "p256 ec -pkeyopt ec_paramgen_curve:P-256" "p384 ec -pkeyopt ec_paramgen_curve:P-384" "ed25519 ed25519"; do
    set -- $key && name=$1 && shift
    openssl req -newkey "$@" -nodes -keyout $name.key -out $name.csr -subj /CN=$name 2>/dev/null
    openssl x509 -req -in $name.csr -CA ca.pem -CAkey ca.key -days 1 -extfile good.ext -out $name.pem 2>/dev/null
    openssl pkcs12 -export -inkey $name.key -in $name.pem -certfile ca.pem -passout file:password -out $name.p12
  done
  openssl pkcs12 -export -legacy -inkey good.key -in good.pem -certfile ca.pem -passout file:password -out legacy.p12
  openssl req -newkey rsa:2048 -nodes -keyout tls.key -out tls.csr -subj /CN=TLS-CA 2>/dev/null
  printf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign\nextendedKeyUsage=serverAuth\n' >tls.ext
  openssl x509 -req -in tls.csr -CA ca.pem -CAkey ca.key -days 1 -extfile tls.ext -out tls.pem 2>/dev/null
  openssl x509 -req -in good.csr -CA tls.pem -CAkey tls.key -CAcreateserial -days 1 -extfile good.ext \
    -out under-tls.pem 2>/dev/null && cat tls.pem ca.pem >tls-chain.pem
  openssl pkcs12 -export -inkey good.key -in under-tls.pem -certfile tls-chain.pem -passout file:password -out under-tls.p12
  printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$keys/tokens" >"$SOFTHSM2_CONF"
  softhsm2-util --init-token --free --label tarnwick --so-pin 4321 --pin 1234 >/dev/null
  openssl pkcs8 -topk8 -nocrypt -in good.key -out good.p8 && cat good.pem ca.pem >chain.pem
  softhsm2-util --import good.p8 --token tarnwick --label signer --id 01 --pin 1234 >/dev/null
  sqop generate-key "Tarnwick test <release@example.org>" >openpgp.key
  sqop extract-cert <openpgp.key >openpgp.cert
  sqop generate-key --with-key-password=password "Tarnwick test <protected@example.org>" >protected.key
  cp good.p12 current.p12 && cp good.p12 'closing]==]bracket.p12' && cp openpgp.key 'a"quote.key'
  printf '[ca]\ndefault_ca=crl\n[crl]\ndatabase=index\ndefault_md=sha256\ndefault_crl_days=2\n' >crl.cnf && : >index
  openssl ca -config crl.cnf -gencrl -keyfile ca.key -cert ca.pem -out ca.crl 2>/dev/null
}
export SOFTHSM2_CONF=$keys/softhsm2.conf
make_keys

git clone -q "$top" "$work/source"
release=$work/source/build/release/dist
p12="TARNWICK_SIGN_PKCS12=$keys/current.p12 TARNWICK_SIGN_PASSWORD_FILE=$keys/password"
token="TARNWICK_SIGN_PKCS11_MODULE=/usr/lib/softhsm/libsofthsm2.so TARNWICK_SIGN_CERTS=$keys/chain.pem"
token="$token TARNWICK_SIGN_PKCS11_KEY=pkcs11:token=tarnwick;object=signer TARNWICK_SIGN_PASSWORD_FILE=$keys/pin"
# Builds the release in the clone, with the settings given; the old release goes first, the
# build's caches stay, so that nothing of an earlier signing can linger unseen.
build() {
  rm -rf "$release"
  (cd "$work/source" && env "$@" cmake --workflow --preset release >"$work/log" 2>&1)
}
# Every exe and MSI of the release verifies against the test's CA (exes from the zips and MSIs),
# signed by SIGNER (good when not given).
signed() {
  rm -rf "$work/out" && mkdir -p "$work/out" && cd "$work/out"
  for arch in win32 win64; do
    mkdir zip-$arch && (cd zip-$arch && cmake -E tar xf "$release"/tarnwick-*-$arch.zip)
    msiextract -C msi-$arch "$release"/tarnwick-*-$arch.msi >/dev/null
  done
  ls "$release"/*.msi >files && find zip-* msi-* -name '*.exe' >>files && [ "$(wc -l <files)" -eq 10 ] || return 1
  while IFS= read -r file; do
    osslsigncode verify -CAfile "$keys/ca.pem" -in "$file" 2>&1 | grep -q "Subject: /CN=${1:-good}$" || return 1
  done <files
}
runs_under_wine() { # no configuration in the fresh prefix: the run ends with -1
  status=0
  "$top/cmake/wine-run" "$work/wine" /usr/lib/wine/wine64 "$work/out/zip-win64/tarnwick.exe" || status=$?
  [ $status -eq 255 ]
}
provenance_verifies() { statement=$(ls "$release"/*.intoto.json) && sqop verify "$statement.asc" "$keys/openpgp.cert" <"$statement"; }
pgp_verifies() { sqop verify "$release/SHA256SUMS.asc" "$keys/openpgp.cert" <"$release/SHA256SUMS"; }
pgp_fails_on_change() { ! { echo x | cat "$release/SHA256SUMS" - | sqop verify "$release/SHA256SUMS.asc" "$keys/openpgp.cert"; }; }
# Sigstore's own verifier (npm @sigstore/verify, installed by `npm ci` in tests/sigstore): BUNDLE CERT.
sigstore() { node "$top/tests/sigstore/verify.js" "$@"; }
# The release's copy with CHANGE: the payload of its bundle (the builder the Statement names), its
# BUILDINFO with its sums made to fit, or nothing.
bundle_copy() {
  rm -rf "$work/b" && cp -r "$release" "$work/b" && bundle=$(ls "$work/b"/*.sigstore.json)
  case $1 in
  payload) python3 -c 'import base64, json, sys; bundle = json.load(open(sys.argv[1])); e = bundle["dsseEnvelope"]
e["payload"] = base64.b64encode(base64.b64decode(e["payload"]).replace(b"not-set", b"elsewhere")).decode()
json.dump(bundle, open(sys.argv[1], "w"))' "$bundle" ;;
  file) echo changed >>"$work/b/BUILDINFO" && resum "$work/b" BUILDINFO ;;
  esac
}
sigstore_refuses() { bundle_copy "$1" && ! sigstore "$bundle" "$2"; } # CHANGE CERT
check_refuses() { # CHANGE CERT PHRASE: the release check says PHRASE last, and ends with 1
  bundle_copy "$1" && status=0 && "$top/packaging/release_check.py" provenance --cert "$2" "$work/b" \
    >"$work/said" 2>&1 || status=$?
  [ $status -eq 1 ] && tail -n 1 "$work/said" | grep -qF -- "$3"
}
own_bundle() { # KEY: its bundle of the release's Statement, as the release writes one, verifies
  python3 "$top/packaging/sigstore_bundle.py" "$keys/$1.pem" "$keys/$1.p12" "" "" "$keys/password" \
    "$release"/*.intoto.json "$work/$1.json" && sigstore "$work/$1.json" "$keys/$1.pem"
}
# The release with one byte of its 64-bit tarnwick.exe changed, and its sums made to fit.
tampered_named() {
  rm -rf "$work/tampered" && cp -r "$release" "$work/tampered" && cd "$work/out/zip-win64"
  printf 'X' | dd of=tarnwick.exe bs=1 seek=4096 conv=notrunc 2>/dev/null
  zip=$(basename "$release"/tarnwick-*-win64.zip)
  cmake -E tar cf "$work/tampered/$zip" --format=zip -- $(ls)
  resum "$work/tampered" "$zip"
  "$top/packaging/release_check.py" verify "$work/tampered" | grep -q 'tarnwick.exe of the win64 zip differs'
}
# The release with one hostile entry of KIND added to its 64-bit zip, and its sums made to fit:
# refused as a release, and nothing written where the entry points.
hostile() {
  rm -rf "$work/hostile" "$work/outside" && cp -r "$release" "$work/hostile" && mkdir "$work/outside"
  zip=$(basename "$release"/tarnwick-*-win64.zip)
  python3 - "$work/hostile/$zip" "$1" "$work/outside" <<'EOF'
import sys, zipfile
path, kind, outside = sys.argv[1:]
with zipfile.ZipFile(path, "a") as archive:
    if kind == "encrypted":
        archive.writestr("doc/secret.md", "x")
    elif kind == "symlink":
        link = zipfile.ZipInfo("ln")
        link.create_system, link.external_attr = 3, 0o120777 << 16
        archive.writestr(link, outside)
        archive.writestr("ln/pwned", "x")
    else:
        archive.writestr(("/" if kind == "absolute" else "../" * 16) + outside.lstrip("/") + "/x", "x")
if kind == "encrypted":  # flagged as a password marks an entry, in both headers: zipfile writes none
    data = bytearray(open(path, "rb").read())
    central = data.rfind(b"doc/secret.md")
    data[central - 46 + 8] |= 1
    data[data.rfind(b"doc/secret.md", 0, central) - 30 + 6] |= 1
    open(path, "wb").write(data)
EOF
  resum "$work/hostile" "$zip" && status=0
  "$top/packaging/release_check.py" verify "$work/hostile" >"$work/said" || status=$?
  [ $status -eq 1 ] && grep -q "refused: the entry" "$work/said" && [ -z "$(ls -A "$work/outside")" ]
}
# Each signature verifies at the time it states, its certificate having been made after the commit.
valid_when_signed() {
  start=$(openssl x509 -in "$keys/good.pem" -noout -startdate | cut -d= -f2) && cd "$work/out" &&
    [ "$(date -u -d "$start" +%s)" -gt "$(git -C "$work/source" log -1 --format=%ct)" ] &&
    while IFS= read -r file; do
      time=$(osslsigncode verify -in "$file" 2>/dev/null | sed -n 's/^[[:space:]]*Signing time: //p')
      osslsigncode verify -CAfile "$keys/ca.pem" -time "$(date -u -d "$time" +%s)" -in "$file" || return 1
    done <files
}
changed() { # refused|said ...: configuring the clone with a tracked file changed
  echo changed >>"$work/source/README.md" && status=0 && "$@" || status=$?
  git -C "$work/source" checkout -q README.md && return $status
}
said() { # PHRASE SETTINGS...: configuring goes through, and says so
  phrase=$1 && shift && (cd "$work/source" && env "$@" cmake --preset release >"$work/log" 2>&1) &&
    grep -q "$phrase" "$work/log"
}
# The release with BUILDINFO naming another commit, its sums made to fit: not checked at all.
other_commit() {
  rm -rf "$work/other" && cp -r "$release" "$work/other" && status=0
  sed -i 's/^Commit: .*/Commit: 0123456789abcdef0123456789abcdef01234567/' "$work/other/BUILDINFO"
  resum "$work/other" BUILDINFO && "$top/packaging/release_check.py" verify "$work/other" >"$work/said" 2>&1 || status=$?
  [ $status -eq 2 ] && grep -q "git checkout 0123456789abcdef" "$work/said"
}
refused() { # PHRASE SETTINGS...: configuring stops with the line, the release is left untouched,
  # and the PIN 2468 is neither said nor written into the build's settings or commands
  phrase=$1 && shift && before=$(sha256sum "$release/SHA256SUMS")
  ! (cd "$work/source" && env "$@" cmake --preset release >"$work/log" 2>&1) &&
    grep -q "$phrase" "$work/log" && ! grep -q 2468 "$work/log" &&
    ! grep -rqs 2468 --include=build.ninja --include='*.cmake' "$work/source/build/release" &&
    [ "$(sha256sum "$release/SHA256SUMS")" = "$before" ]
}
no_digest() { # TEXT...: no SHA-256 of any TEXT (printf's format) under the build folders
  for text in "$@"; do ! grep -rqi "$(printf "$text" | sha256sum | cut -c1-64)" "$work/source/build" || return 1; done
}
private_settings() { # SETTINGS...: configuring writes the signing settings readable by their owner alone
  said "signing as" "$@" && [ "$(stat -c %a "$work/source/build/release"/signing-settings-win*.cmake)" = "$(printf '600\n600')" ]
}
hidden() { # skip-worktree|untracked: configuring, to be signed, with src/main.cc changed out of git's sight, or a src/syslog.h git does not track
  cd "$work/source" && if [ "$1" = untracked ]; then : >src/syslog.h; else echo '//' >>src/main.cc && git update-index --skip-worktree src/main.cc; fi
  status=0 && refused "uncommitted changes" $p12 || status=$?
  git update-index --no-skip-worktree src/main.cc && git checkout -q src/main.cc && rm -f src/syslog.h && return $status
}
# The settings file that configuring wrote, as the Windows builds sign with it, signs a script.
settings_sign() {
  said "signing as" "$@" && printf '# x\r\n' >"$work/probe.ps1" &&
    cmake -DSETTINGS="$work/source/build/release/signing-settings-win64.cmake" -DFILE="$work/probe.ps1" \
      -P "$work/source/packaging/sign.cmake" &&
    osslsigncode verify -CAfile "$keys/ca.pem" -in "$work/probe.ps1" 2>&1 | grep -q "Subject: /CN=good$"
}
# A key path holding a quote is, for CPack, which reads its settings as CMake code, the path given.
cpack_keeps_quote() {
  key=$keys/a\"quote.key && said "OpenPGP: signing" TARNWICK_OPENPGP_KEY="$key" &&
    printf 'include("%s")\nmessage("${CPACK_TARNWICK_OPENPGP_KEY}")\n' "$work/source/build/release/CPackConfig.cmake" >"$work/show.cmake" &&
    [ "$(cmake -P "$work/show.cmake" 2>&1)" = "$key" ]
}

check "PKCS#12: the release builds" build $p12 TARNWICK_OPENPGP_KEY="$keys/openpgp.key"
check "PKCS#12: every exe and MSI verifies" signed
check "no plaintext copy of the password is left" sh -c "! ls '$work/source/build/release/signing-checks' | grep -q PASSWORD"
check "no digest of the password is left under build/" no_digest secret 'secret\n'
check "PKCS#12: each verifies at the time it states, with a certificate newer than the commit" valid_when_signed
check "the release folder holds the release alone" sh -c "[ \$(ls '$release' | wc -l) -eq 17 ]"
check "the signed 64-bit exe runs under Wine" runs_under_wine
check "SHA256SUMS.asc verifies" pgp_verifies
check "SHA256SUMS.asc fails on changed sums" pgp_fails_on_change
check "the provenance's signature verifies" provenance_verifies
check "Sigstore's verifier accepts the provenance's bundle" sigstore "$release"/*.sigstore.json "$keys/good.pem"
check "the release check accepts the bundle" "$top/packaging/release_check.py" provenance \
  --cert "$keys/good.pem" "$release"
while read -r change cert phrase; do
  [ "$change" = file ] || check "Sigstore's verifier refuses the bundle: $change" sigstore_refuses "$change" "$keys/$cert"
  check "the release check refuses the bundle: $change" check_refuses "$change" "$keys/$cert" "$phrase"
done <<EOF
payload good.pem signature is not one of the certificate's key
file good.pem 'BUILDINFO' is not the file the provenance names
another-key renewed.pem signature is not one of the certificate's key
EOF
for key in p256 ed25519; do check "Sigstore's verifier accepts a bundle signed with the $key key" own_bundle $key; done
check "the release check accepts the release" "$top/packaging/release_check.py" verify --publisher-cert \
  "$keys/openpgp.cert" --ca "$keys/ca.pem" --crl "$keys/ca.crl" "$release"
check "it names an exe with one changed byte" tampered_named
for kind in parent absolute symlink encrypted; do
  check "it refuses a zip with an entry of kind $kind, writing nothing" hostile $kind
done
check "it refuses a release of another commit, naming it" other_commit
cp "$keys/renewed.p12" "$keys/current.p12"
check "a new key at the same path: the release builds" build $p12
check "a new key at the same path: every file is signed afresh" signed renewed
check "a second clone signs the same bytes" sh -c "rm -rf '$work/again' && git clone -q '$top' '$work/again' &&
  cd '$work/again' && env $p12 cmake --workflow --preset release >/dev/null 2>&1 &&
  cmp build/release/dist/SHA256SUMS '$release/SHA256SUMS'"
check "a second clone writes the same bundle (an RSA key)" cmp "$work/again/build/release/dist/"*.sigstore.json \
  "$release/"*.sigstore.json
check "PKCS#11, the OpenPGP key relative to the source tree: the release builds" build $token \
  TARNWICK_OPENPGP_KEY=../keys/openpgp.key
check "PKCS#11: every exe and MSI verifies" signed
check "PKCS#11: Sigstore's verifier accepts the provenance's bundle" sigstore "$release"/*.sigstore.json "$keys/good.pem"
check "a relative OpenPGP key: SHA256SUMS.asc verifies" pgp_verifies
check "no digest of the PIN is left under build/" no_digest 1234
stopped() { ! build $p12 TARNWICK_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/ && grep -q 'Could not sign' "$work/log" && ! grep -rqx secret "$work/source/build"; }
check "a release stopped by an unreachable time-stamp server leaves no copy of the password" stopped
check "unsigned again, at another time: the release builds" build SOURCE_DATE_EPOCH=1797000000
check "the release check takes the time from BUILDINFO" "$top/packaging/release_check.py" verify "$release"
check "unsigned again: no signature lingers" sh -c "! $(command -v osslsigncode) extract-signature \
  -in $release/$(cd "$release" && ls tarnwick-*-win64.msi) -out $work/none.p7"
check "a missing key file" refused "no such file" TARNWICK_SIGN_PKCS12="$keys/missing.p12" \
  TARNWICK_SIGN_PASSWORD_FILE="$keys/password"
check "a wrong password" refused "does not open" TARNWICK_SIGN_PKCS12="$keys/good.p12" \
  TARNWICK_SIGN_PASSWORD_FILE="$keys/wrong"
check "a token that refuses" refused "token refused" $token TARNWICK_SIGN_PASSWORD_FILE="$keys/bad-pin"
check "an expired certificate" refused "has expired" TARNWICK_SIGN_PKCS12="$keys/expired.p12" \
  TARNWICK_SIGN_PASSWORD_FILE="$keys/password"
check "a P-384 key, which Sigstore's verifier cannot check" refused "(an ECDSA key on secp384r1)" \
  TARNWICK_SIGN_PKCS12="$keys/p384.p12" TARNWICK_SIGN_PASSWORD_FILE="$keys/password"
check "a certificate not for code signing" refused "not for code signing" \
  TARNWICK_SIGN_PKCS12="$keys/web.p12" TARNWICK_SIGN_PASSWORD_FILE="$keys/password"
check "a checkout with uncommitted changes, to be signed" changed refused "uncommitted changes" $p12
check "a checkout with uncommitted changes, unsigned: a warning" changed said "uncommitted changes"
check "a checkout with an edit hidden by --skip-worktree, to be signed" hidden skip-worktree
check "a checkout with an untracked header in src/, to be signed" hidden untracked
check "the signing settings are readable by their owner alone" private_settings $p12
check "a time that is not a number" refused "not to a number of seconds" SOURCE_DATE_EPOCH=soon
check "a key path relative to the source tree" said "signing as .*, with $keys/good.p12" \
  TARNWICK_SIGN_PKCS12=../keys/good.p12 TARNWICK_SIGN_PASSWORD_FILE=../keys/password
check "a password file saved with CR LF" said "signing as" $p12 TARNWICK_SIGN_PASSWORD_FILE="$keys/crlf"
check "a password file with a comment line" said "signing as" $p12 TARNWICK_SIGN_PASSWORD_FILE="$keys/commented"
check "a legacy-encrypted PKCS#12 file" said "signing as" $p12 TARNWICK_SIGN_PKCS12="$keys/legacy.p12"
check "a chain under a CA for web servers only" refused "leaves out code signing" $p12 \
  TARNWICK_SIGN_PKCS12="$keys/under-tls.p12"
check "a protected OpenPGP key without its password" refused "does not sign" \
  TARNWICK_OPENPGP_KEY="$keys/protected.key"
check "a protected OpenPGP key with its password" said "OpenPGP: signing" \
  TARNWICK_OPENPGP_KEY="$keys/protected.key" TARNWICK_OPENPGP_PASSWORD_FILE="$keys/password"
check "no key: it says so" said "Authenticode: not signing (no key given)"
check "a misspelt setting" said "TARNWICK_SIGN_PFX is not a setting" TARNWICK_SIGN_PFX="$keys/good.p12"
check "a password file without a key" said "without a key" TARNWICK_SIGN_PASSWORD_FILE="$keys/password"
check "a key without its password file" refused "TARNWICK_SIGN_PASSWORD_FILE is not set" \
  TARNWICK_SIGN_PKCS12="$keys/good.p12"
for where in "at the end:token=tarnwick;object=signer;pin-value=2468" "first:pin-value=2468;token=tarnwick;object=signer" \
  "after &:token=tarnwick;object=signer?module-name=softhsm2&pin-value=2468" \
  "in capitals:token=tarnwick;object=signer;PIN-Source=file:2468"; do
  check "a PIN in the key's URI, ${where%%:*}, not repeated" refused "holds a PIN" $token \
    "TARNWICK_SIGN_PKCS11_KEY=pkcs11:${where#*:}"
done
check "a certificate as the OpenPGP key" refused "holds no secret key" TARNWICK_OPENPGP_KEY="$keys/openpgp.cert"
check "a setting holding a quote stays a value for CPack" cpack_keeps_quote
check "a setting holding ]==] stays a value" settings_sign $p12 TARNWICK_SIGN_PKCS12="$keys/closing]==]bracket.p12"
exit $failed
