# What the release's test scripts share, sourced after `set -eu`: `top`, the source tree; `work`, a
# folder of the test's own, removed at the end (kept when KEEP is set); and `check`, which runs one
# case in a subshell and says how it went, `failed` becoming 1 when it failed; `resum`, for the
# cases that change a release's file and make its sums fit.
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failed=0
check() { # NAME COMMAND...
  name=$1 && shift
  if ("$@") >/dev/null 2>&1; then echo "ok: $name"; else echo "FAILED: $name" && failed=1; fi
}
resum() { # FOLDER FILE: SHA256SUMS made to fit the changed FILE
  cd "$1" && sums=$(grep -v "  $2\$" SHA256SUMS && sha256sum "$2") &&
    printf '%s\n' "$sums" | LC_ALL=C sort -k2 >SHA256SUMS
}
