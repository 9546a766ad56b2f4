#!/usr/bin/env python3
"""The release's provenance as a Sigstore bundle (v0.3), signed with the release's X.509 key (the
one that signs its exes and MSIs: a PKCS#12 file, or a PKCS#11 token through OpenSSL's pkcs11
engine): a DSSE envelope whose payload is the in-toto Statement's bytes as provenance.py wrote them
(payload type application/vnd.in-toto+json), with one signature over DSSE's pre-authentication
encoding; the key named by a hint, the hex SHA-256 of its SubjectPublicKeyInfo (RFC 6962's key
ID); no transparency-log entry and no time stamp, so that the same keys and commit give the same
bytes (for RSA and Ed25519 keys: ECDSA signatures here are randomised).

Usage: sigstore_bundle.py CERT PKCS12 MODULE URI PASSWORD_FILE [STATEMENT OUT]
  the key is the PKCS#12 file PKCS12 or, when that is empty, the token's key URI through the
  PKCS#11 module MODULE, opened with the password (or PIN) on the first line of PASSWORD_FILE (the
  deployer's own file, read here and handed to openssl through a pipe); CERT (PEM, the signer's
  first) is its certificate. With STATEMENT and OUT, writes the bundle of STATEMENT to
  OUT; without, only checks. Either way it stops with one line, exit 1, when the certificate's key
  is not one Sigstore's verifier checks, or the key does not sign what that key verifies.
"""
import base64
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile

MEDIA_TYPE = "application/vnd.dev.sigstore.bundle.v0.3+json"
PAYLOAD_TYPE = "application/vnd.in-toto+json"
# What @sigstore/verify 3.1.1 checks: it verifies with Node.js's crypto.verify and no digest named,
# which hashes RSA and ECDSA with SHA-256 whatever the key (so a P-384 or P-521 signature, made with
# the digest of its size, fails); sizes as Sigstore's key details name them.
KEY_TYPES = "ECDSA P-256, Ed25519, or RSA (2048, 3072 or 4096 bits) with SHA-256"


def pae(payload_type, body):
    """DSSE's pre-authentication encoding of `body` (bytes) under `payload_type`."""
    kind = payload_type.encode()
    return b"DSSEv1 %d %s %d %s" % (len(kind), kind, len(body), body)


def openssl(args, data=b"", **options):
    """openssl with `args`, `data` on its standard input: the finished process, outputs captured."""
    return subprocess.run(["openssl", *args], input=data, capture_output=True, **options)


def piped(args, secret, data=b"", **options):
    """openssl with `args`, in which "{}" stands for a descriptor it reads the bytes `secret` from
    (a password, a key): through a pipe, so that no copy of a secret is ever written to disk."""
    read_end, write_end = os.pipe()
    try:
        os.write(write_end, secret)  # far less than a pipe holds
        os.close(write_end)
        write_end = -1
        args = [arg.replace("{}", str(read_end)) if arg in ("fd:{}", "/dev/fd/{}") else arg for arg in args]
        return openssl(args, data, pass_fds=(read_end,), **options)
    finally:
        os.close(read_end)
        if write_end >= 0:
            os.close(write_end)


def password_of(path):
    """The password (or PIN) in the file `path`: its first line, without its CR or LF, as the
    Authenticode signing reads it."""
    with open(path, "rb") as file:
        return re.match(rb"[^\r\n]*", file.read()).group(0) + b"\n"


def public_key(cert):
    """The key of the certificate `cert` (PEM bytes; the first when it holds a chain) as
    (kind, SubjectPublicKeyInfo as DER, as PEM), kind being "ec", "ed25519" or "rsa"; or
    (None, what the key is, None) for a key Sigstore's verifier cannot check."""
    text = openssl(["x509", "-noout", "-text"], cert)
    pem = openssl(["x509", "-noout", "-pubkey"], cert)
    if text.returncode != 0 or pem.returncode != 0:
        return None, "no X.509 certificate", None
    text = text.stdout.decode("utf-8", "replace")
    algorithm = re.search(r"Public Key Algorithm: (\S+)", text)
    bits = re.search(r"Public-Key: \(([0-9]+) bit\)", text)
    curve = re.search(r"ASN1 OID: (\S+)", text)
    algorithm, bits, curve = (found and found[1] for found in (algorithm, bits, curve))
    der = openssl(["pkey", "-pubin", "-outform", "DER"], pem.stdout).stdout
    if algorithm == "id-ecPublicKey" and curve == "prime256v1":
        return "ec", der, pem.stdout
    if algorithm == "ED25519":
        return "ed25519", der, pem.stdout
    if algorithm == "rsaEncryption" and bits in ("2048", "3072", "4096"):
        return "rsa", der, pem.stdout
    if algorithm == "id-ecPublicKey":
        return None, f"an ECDSA key on {curve}", None
    return None, f"a key of {algorithm}" + (f", {bits} bits" if bits else ""), None


def sign(kind, key, data):
    """The signature of `data` with `key` (PKCS12, MODULE, URI, PASSWORD_FILE above), as Sigstore's verifier reads
    it: RSA PKCS#1 v1.5 and ECDSA (DER) over its SHA-256, Ed25519 over the data itself. None when
    the key does not sign; the secret key is never written to disk."""
    with tempfile.TemporaryDirectory() as folder:
        # pkeyutl reads an Ed25519 message from a file alone: from a pipe it reads no byte.
        if kind == "ed25519":
            tool, how = "pkeyutl", ["-sign", "-rawin", "-in", private(folder, "message", data), "-inkey"]
        else:
            tool, how = "dgst", ["-sha256", "-sign"]
        pkcs12, module, uri, password = key
        if pkcs12:
            for legacy in ([], ["-legacy"]):  # older Windows exports, as signing.cmake opens them
                opened = piped(["pkcs12", *legacy, "-in", pkcs12, "-passin", "fd:{}", "-nocerts", "-nodes"],
                               password)
                if opened.returncode == 0:
                    break
            else:
                return None
            signed = piped([tool, *how, "/dev/fd/{}"], opened.stdout, data)
        else:
            # The engine reads its module from OpenSSL's configuration: a file of this step's own,
            # the path quoted, as a `$` or `"` in it would otherwise be read as the syntax's own.
            quoted = '"' + re.sub(r'([\\"$])', r"\\\1", module) + '"'
            config = private(folder, "openssl.cnf", b"openssl_conf = init\n[init]\nengines = engines\n"
                             b"[engines]\npkcs11 = pkcs11\n[pkcs11]\nengine_id = pkcs11\nMODULE_PATH = "
                             + quoted.encode() + b"\n")
            engine = ["-engine", "pkcs11", "-keyform", "engine", "-passin", "fd:{}"]
            signed = piped([tool, *engine, *how, uri], password, data, env={**os.environ, "OPENSSL_CONF": config})
    return signed.stdout if signed.returncode == 0 and signed.stdout else None


def private(folder, name, data):
    """Writes `data` into the new file `name` of the private folder `folder`; its path."""
    path = os.path.join(folder, name)
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC, 0o600), "wb") as out:
        out.write(data)
    return path


def verifies(kind, public_pem, data, signature):
    """Whether `signature` is the key's (`public_pem`, of `kind`) over `data`, as sign() makes it."""
    with tempfile.TemporaryDirectory() as folder:
        key, sig = private(folder, "key.pem", public_pem), private(folder, "signature", signature)
        if kind == "ed25519":
            message = private(folder, "message", data)
            args = ["pkeyutl", "-verify", "-pubin", "-inkey", key, "-rawin", "-in", message, "-sigfile", sig]
        else:
            args = ["dgst", "-sha256", "-verify", key, "-signature", sig]
        return openssl(args, data).returncode == 0


def hint(der):
    return hashlib.sha256(der).hexdigest()


def signed_pae(cert, key, body):
    """DSSE's signature of `body` with `key`, checked against the certificate `cert` (a path), and
    the certificate's key as public_key() gives it; stops with one line when either fails."""
    with open(cert, "rb") as file:
        kind, der, pem = public_key(file.read())
    if not kind:
        sys.exit(f"The release's X.509 key ({der}) cannot sign a provenance that Sigstore's verifier "
                 f"checks: it takes {KEY_TYPES}")
    data = pae(PAYLOAD_TYPE, body)
    signature = sign(kind, key, data)
    if not signature or not verifies(kind, pem, data, signature):
        sys.exit("The release's X.509 key does not sign, for the provenance's Sigstore bundle, what "
                     "its certificate's key verifies")
    return der, signature


def main():
    if len(sys.argv) not in (6, 8):
        sys.exit("usage: sigstore_bundle.py CERT PKCS12 MODULE URI PASSWORD_FILE [STATEMENT OUT]")
    cert, key = sys.argv[1], sys.argv[2:6]
    key[3] = password_of(key[3])
    if len(sys.argv) == 6:
        signed_pae(cert, key, b"Tarnwick: the key signs")
        return
    statement, out = sys.argv[6:]
    with open(statement, "rb") as file:
        body = file.read()
    der, signature = signed_pae(cert, key, body)
    bundle = {
        "mediaType": MEDIA_TYPE,
        "verificationMaterial": {"publicKey": {"hint": hint(der)}, "tlogEntries": []},
        "dsseEnvelope": {
            "payload": base64.b64encode(body).decode(),
            "payloadType": PAYLOAD_TYPE,
            "signatures": [{"sig": base64.b64encode(signature).decode()}],
        },
    }
    with open(out, "w", encoding="utf-8") as file:
        json.dump(bundle, file, indent=2, sort_keys=True)
        file.write("\n")


if __name__ == "__main__":
    main()
