#!/usr/bin/env bash
# Verifies every signature of a release: both installers and everything in
# their packages (tools/verify-signatures.sh), against the CA given (else the
# system's CAs). Fails when any one fails, whichever installer it is in.
#   usage: verify-release.sh RELEASE_DIR [CA_FILE]
set -uo pipefail
release=$1 ca=${2:-}
here=$(dirname "$(realpath "$0")")
status=0
for build in win32 win64; do
  installer=$release/$build/QuendalInstaller.exe
  if [ ! -f "$installer" ]; then
    echo "FAILED    $installer: missing"; status=1; continue
  fi
  echo "== $build"
  "$here/verify-signatures.sh" "$installer" ${ca:+"$ca"} || status=1
done
[ $status -eq 0 ] && echo "All signatures verified." || echo "Some signatures did NOT verify: this is no release."
exit $status
