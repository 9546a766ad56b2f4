// Verifies a Sigstore bundle with Sigstore's own verifier, offline, against the key of one X.509
// certificate: an empty trusted root, no transparency-log entry or time stamp asked for. The key
// is trusted under the hint the bundle names (a hint is unauthenticated): the signature decides.
// Usage: node verify.js BUNDLE CERT.pem   (exit 0 verified; 1 refused, saying why)
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const { bundleFromJSON } = require('@sigstore/bundle');
const { PublicKeyDetails, TrustedRoot } = require('@sigstore/protobuf-specs');
const { toSignedEntity, toTrustMaterial, Verifier } = require('@sigstore/verify');

const [bundlePath, certPath] = process.argv.slice(2);
const key = new crypto.X509Certificate(fs.readFileSync(certPath)).publicKey;
const details = { ec: 'PKIX_ECDSA_P256_SHA_256', ed25519: 'PKIX_ED25519',
  rsa: `PKIX_RSA_PKCS1V15_${key.asymmetricKeyDetails.modulusLength}_SHA256` }[key.asymmetricKeyType];
try {
  const bundle = bundleFromJSON(JSON.parse(fs.readFileSync(bundlePath, 'utf8')));
  const keys = { [bundle.verificationMaterial.content.publicKey.hint]:
    { rawBytes: key.export({ type: 'spki', format: 'der' }), keyDetails: PublicKeyDetails[details] } };
  const root = TrustedRoot.fromJSON({ mediaType: 'application/vnd.dev.sigstore.trustedroot+json;version=0.1' });
  new Verifier(toTrustMaterial(root, keys), { tlogThreshold: 0, ctlogThreshold: 0, timestampThreshold: 0 })
    .verify(toSignedEntity(bundle));
  console.log('verified');
} catch (error) {
  console.log(`refused: ${error.message}`);
  process.exit(1);
}
