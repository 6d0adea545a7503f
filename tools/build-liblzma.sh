#!/usr/bin/env bash
# Builds liblzma as a static library for one MinGW target from Debian's
# xz-utils source package. The source is fetched with apt through a private
# deb-src list under the build folder, so the machine's own apt configuration
# is left alone. A finished build is reused: it is keyed by the source version.
# Several targets build at the same time: their configuration steps run one
# compiler at a time each.
#   usage: build-liblzma.sh BUILD_DIR TARGET_TRIPLET...
set -euo pipefail
build=$(realpath -m "$1")
shift
apt_dir=$build/apt
src_dir=$build/liblzma/src

targets=()
for target in "$@"; do
  out=$build/liblzma/$target
  [ -f "$out/lib/liblzma.a" ] && [ -f "$out/include/lzma.h" ] || targets+=("$target")
done
[ ${#targets[@]} -gt 0 ] || exit 0

fetch_source() {
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$src_dir"
  echo "deb-src http://deb.debian.org/debian bookworm main" > "$apt_dir/sources.list"
  local opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
              -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
              -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root" -qq)
  apt-get "${opts[@]}" update
  (cd "$src_dir" && apt-get "${opts[@]}" source xz-utils >/dev/null)
}

if ! ls -d "$src_dir"/xz-utils-*/ >/dev/null 2>&1; then
  echo "Fetching xz-utils source package"
  fetch_source
fi
xz_src=$(ls -d "$src_dir"/xz-utils-*/ | head -n 1)

build_target() {
  local target=$1 work=$build/liblzma/build-$1 out=$build/liblzma/$1
  echo "Building liblzma for $target"
  rm -rf "$work"
  cmake -G Ninja -S "$xz_src" -B "$work" -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_C_COMPILER="$target-gcc" -DCMAKE_RC_COMPILER="$target-windres" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF >"$work.log" 2>&1 \
    || { cat "$work.log"; return 1; }
  cmake --build "$work" --target liblzma -j 2 >>"$work.log" 2>&1 || { tail -50 "$work.log"; return 1; }
  mkdir -p "$out/lib" "$out/include"
  cp "$work/liblzma.a" "$out/lib/"
  cp -r "$xz_src/src/liblzma/api/lzma.h" "$xz_src/src/liblzma/api/lzma" "$out/include/"
  rm -rf "$work"
}
pids=()
for target in "${targets[@]}"; do
  build_target "$target" &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
