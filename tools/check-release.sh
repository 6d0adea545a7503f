#!/usr/bin/env bash
# Shows that installers come from these sources: builds the sources again,
# from a copy at another path into a fresh folder (liblzma included, without
# the tests), with the installers' own signatures attached where the build
# would sign (the signed bytes cannot be made without the key; attaching
# checks each digest), then compares each installer with the rebuilt one of
# its architecture, byte for byte. Where one differs, says which file of its
# package does.
#   usage: check-release.sh WORK_DIR JOBS INSTALLER...
# Environment: XZ_SOURCE, an unpacked xz-utils source package to reuse;
# LIBLZMA_BUILT, the liblzma folder of the build being checked (make test):
# a liblzma there that an earlier check rebuilt at another path to the same
# bytes, from the same source with the same script and compilers, is taken
# as it is instead of being built again. Everything else is always rebuilt.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source_dir=$(dirname "$here")
work=$(realpath -m "$1") jobs=$2
shift 2
start=$(date +%s)

rm -rf "$work"
mkdir -p "$work/src" "$work/signatures/x86" "$work/signatures/x64"
machine() {  # x86 or x64, from the PE header
  python3 "$here/package-files.py" --machine "$1"
}
build_of() {  # the build folder that makes an installer of this machine
  [ "$1" = x86 ] && echo "$work/build/win32" || echo "$work/build/win64"
}
extract_signature() {  # FILE OUT: nothing when the file is unsigned
  rm -f "$2"  # osslsigncode does not write over a file
  osslsigncode extract-signature -in "$1" -out "$2" >/dev/null 2>&1 || rm -f "$2"
}

# Each installer's signatures, and those of the programs and libraries in its
# package, filed by the build that makes each file.
n=0 arches=()
for installer in "$@"; do
  n=$((n + 1))
  arch=$(machine "$installer")
  arches[$n]=$arch
  extract_signature "$installer" "$work/signatures/$arch/QuendalInstaller.exe.sig"
  python3 "$here/package-files.py" "$installer" "$work/release$n" >/dev/null
  for platform in both x86 x64; do
    [ -d "$work/release$n/$platform" ] || continue
    builder=$arch
    [ "$platform" = x64 ] && builder=x64
    for file in "$work/release$n/$platform"/*.exe "$work/release$n/$platform"/*.dll; do
      [ -f "$file" ] && extract_signature "$file" "$work/signatures/$builder/$(basename "$file").sig"
    done
  done
done

# The source files as they are now, uncommitted ones included; nothing ignored.
(cd "$source_dir" && git ls-files -z --cached --others --exclude-standard | xargs -0 tar -cf - --) | tar -xf - -C "$work/src"
echo "== Building $work/src into $work/build"
# Where an installer's rebuilt package differs from its released one.
package_differences() {  # RELEASED_DIR REBUILT(installer or package.bin) OUT_DIR
  python3 "$here/package-files.py" "$2" "$3" >/dev/null && diff -rq "$1" "$3" | sed 's/^/    /' || true
}
# What a liblzma is made from: its source, the script, the compilers.
liblzma_key() {  # TARGET
  { echo "$xz_digest"; cat "$source_dir/tools/build-liblzma.sh"; "$1-gcc" --version; cmake --version
  } | sha256sum | cut -d' ' -f1
}
liblzma_targets=()
if [ -n "${LIBLZMA_BUILT:-}" ] && [ -n "${XZ_SOURCE:-}" ]; then
  xz_digest=$(cd "$XZ_SOURCE" && find xz-utils-*/ -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum | sha256sum)
  for target in i686-w64-mingw32 x86_64-w64-mingw32; do
    built=$LIBLZMA_BUILT/$target
    [ -f "$built/lib/liblzma.a" ] || continue
    key=$(liblzma_key "$target")
    if [ "$(cat "$built/proven" 2>/dev/null)" = "$key" ]; then
      mkdir -p "$work/build/liblzma/$target"
      cp -r "$built/lib" "$built/include" "$work/build/liblzma/$target/"
      echo "== liblzma for $target: the build's own, rebuilt before to the same bytes from the same source"
    else
      liblzma_targets+=("$target:$key")
    fi
  done
fi

if ! SIGNATURES=$work/signatures "$work/src/tools/build.sh" "$work/build" OFF "$jobs" >"$work/build.log" 2>&1; then
  grep "sign.sh: " "$work/build.log" || tail -40 "$work/build.log"
  for ((n = 1; n <= $#; n++)); do
    package=$(build_of "${arches[$n]}")/package.bin
    [ -f "$package" ] && package_differences "$work/release$n" "$package" "$work/rebuilt$n"
  done
  echo "check-release.sh: not built from these sources: the rebuild stopped ($work/build.log)"
  exit 1
fi

# A liblzma rebuilt here to the same bytes need not be rebuilt next time.
for entry in "${liblzma_targets[@]}"; do
  target=${entry%%:*}
  if cmp -s "$work/build/liblzma/$target/lib/liblzma.a" "$LIBLZMA_BUILT/$target/lib/liblzma.a"; then
    echo "${entry#*:}" > "$LIBLZMA_BUILT/$target/proven"
    echo "== liblzma for $target: rebuilt to the same bytes"
  else
    echo "== liblzma for $target: rebuilt to other bytes (the installers decide)"
  fi
done

status=0 n=0
for installer in "$@"; do
  n=$((n + 1))
  arch=${arches[$n]}
  rebuilt=$(build_of "$arch")/QuendalInstaller.exe
  if cmp -s "$installer" "$rebuilt"; then
    echo "same      $installer ($arch): $(sha256sum <"$installer" | cut -d' ' -f1)"
  else
    echo "DIFFERS   $installer ($arch), rebuilt as $rebuilt"
    status=1
    package_differences "$work/release$n" "$rebuilt" "$work/rebuilt$n"
  fi
done
echo "== $# installer(s) checked in $(( $(date +%s) - start )) s"
if [ $status -ne 0 ]; then
  echo "check-release.sh: not the same bytes; the rebuild is kept in $work"
  exit 1
fi
rm -rf "$work"
