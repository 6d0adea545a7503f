#!/usr/bin/env bash
# Builds everything into one folder: liblzma for both targets, the x86-64
# build, then the shipping 32-bit build (whose package takes its selector-2
# files from the x86-64 build). Signs as the environment says:
#   SIGN_CERT, SIGN_KEY   certificate and key (PEM); SIGN_PASS_FILE its password
#                         (or the token's PIN); SIGN_KEY may be a PKCS#11 URI
#                         ("pkcs11:..."), a key in a hardware token, with
#   PKCS11_MODULE         the token's PKCS#11 module, and
#   PKCS11_ENGINE         OpenSSL's PKCS#11 engine (Debian's by default)
#   TIMESTAMP_URL         RFC 3161 timestamp server (else the signing time is
#                         SOURCE_DATE_EPOCH)
#   SIGN_CA               the CA the build's verification trusts
#   SIGNATURES            a release's signatures to attach instead (check-release)
#   SOURCE_DATE_EPOCH     the one time a build may record
#   XZ_SOURCE             a folder holding an unpacked xz-utils source to use
#                         instead of fetching it
# WHAT is everything (all, the default), or only the installers a demo runs,
# configured as for everything so that a later full build goes on from there:
# installer64 (the x86-64 installer) or installers (both installers; the
# 32-bit one's package takes files from the x86-64 build).
#   usage: build.sh BUILD_DIR TESTS(ON|OFF) JOBS [all|installer64|installers]
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source_dir=$(dirname "$here")
build=$(realpath -m "$1") tests=$2 jobs=$3 what=${4:-all}
targets=()
case "$what" in
  all) ;;
  installer64|installers) targets=(--target QuendalInstaller);;
  *) echo "build.sh: unknown WHAT '$what'" >&2; exit 2;;
esac

if [ -n "${XZ_SOURCE:-}" ] && ls -d "$XZ_SOURCE"/xz-utils-*/ >/dev/null 2>&1 && [ ! -d "$build/liblzma/src" ]; then
  mkdir -p "$build/liblzma/src"
  cp -r "$XZ_SOURCE"/xz-utils-*/ "$build/liblzma/src/"
fi
if [ "$what" = installer64 ]; then
  "$here/build-liblzma.sh" "$build" x86_64-w64-mingw32
else
  "$here/build-liblzma.sh" "$build" i686-w64-mingw32 x86_64-w64-mingw32
fi

abs() { [ -n "$1" ] && realpath -m "$1" || true; }
# A key in a token is named, not a file.
key_ref() { case "$1" in pkcs11:*) printf '%s' "$1";; *) abs "$1";; esac; }
common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DQUENDAL_TESTS="$tests"
        -DQUENDAL_SIGN_CERT="$(abs "${SIGN_CERT:-}")" -DQUENDAL_SIGN_KEY="$(key_ref "${SIGN_KEY:-}")"
        -DQUENDAL_SIGN_PASS_FILE="$(abs "${SIGN_PASS_FILE:-}")" -DQUENDAL_TIMESTAMP_URL="${TIMESTAMP_URL:-}"
        -DQUENDAL_SIGN_CA="$(abs "${SIGN_CA:-}")" -DQUENDAL_SIGNATURES="$(abs "${SIGNATURES:-}")"
        -DQUENDAL_SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-}"
        -DQUENDAL_PKCS11_MODULE="$(abs "${PKCS11_MODULE:-}")" -DQUENDAL_PKCS11_ENGINE="$(abs "${PKCS11_ENGINE:-}")")
# A build folder already configured with the same settings is not configured
# again: building it runs CMake by itself when a CMake file has changed.
configure() {  # BUILD_FOLDER CMAKE_ARGS...
  local dir=$1 want
  shift
  want=$(printf '%s\n' "$@" | sha256sum | cut -d' ' -f1)
  if [ -f "$dir/CMakeCache.txt" ] && [ "$(cat "$dir/.configured" 2>/dev/null)" = "$want" ]; then
    return 0
  fi
  rm -f "$dir/.configured"
  # A folder made by another generator cannot be configured for this one.
  if [ -f "$dir/CMakeCache.txt" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$dir/CMakeCache.txt"; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
  fi
  cmake -S "$source_dir" -B "$dir" "$@" >/dev/null && echo "$want" > "$dir/.configured"
}
configure "$build/win64" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-x86_64.cmake" \
  "${common[@]}" -DQUENDAL_LIBLZMA="$build/liblzma/x86_64-w64-mingw32"
# The 32-bit build is configured while the x86-64 one builds.
win32_configured=
if [ "$what" != installer64 ]; then
  configure "$build/win32" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-i686.cmake" \
    "${common[@]}" -DQUENDAL_PROGRAMS64="$build/win64/package" \
    -DQUENDAL_LIBLZMA="$build/liblzma/i686-w64-mingw32" &
  win32_configured=$!
fi
cmake --build "$build/win64" -j "$jobs" "${targets[@]}"
[ "$what" = installer64 ] && exit 0
wait "$win32_configured"
cmake --build "$build/win32" -j "$jobs" "${targets[@]}"
