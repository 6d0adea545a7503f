#!/usr/bin/env bash
# Verifies the Authenticode signature of an installer and of every program and
# library in its package, against the CA given (else the system's CAs).
# Prints one line a file; fails when any file is unsigned or does not verify.
#   usage: verify-signatures.sh INSTALLER [CA_FILE]
set -uo pipefail
installer=$1 ca=${2:-}
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ca_option=()
[ -n "$ca" ] && ca_option=(-CAfile "$ca")

python3 "$here/package-files.py" "$installer" "$work/package" >/dev/null || exit 1
status=0 count=0
verify() {
  if osslsigncode verify "${ca_option[@]}" -in "$1" >"$work/log" 2>&1; then
    echo "verified  $2"
  else
    echo "FAILED    $2"; sed 's/^/    /' "$work/log" | grep -i "error\|mismatch\|no signature\|failed" | head -5
    status=1
  fi
  count=$((count + 1))
}
verify "$installer" "$(basename "$installer")"
while IFS= read -r -d '' file; do
  # Programs and libraries only: the documents of the package are not signed.
  [ "$(head -c 2 "$file")" = "MZ" ] || continue
  verify "$file" "package: ${file#"$work/package/"}"
done < <(find "$work/package" -type f -print0 | sort -z)
echo "$count files checked"
exit $status
