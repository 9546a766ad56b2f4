#!/bin/sh
# The verifiers that only npm has, at the versions their lockfiles pin: Sigstore's
# (@sigstore/verify) for the signing test and CycloneDX's cdx-validate (@cyclonedx/cdxgen, without
# its optional parts, binaries for its other commands) for the evidence test.
set -eu
cd "$(dirname "$0")"
(cd sigstore && npm ci --no-audit --no-fund >/dev/null)
(cd cdxgen && npm ci --omit=optional --ignore-scripts --no-audit --no-fund >/dev/null)
