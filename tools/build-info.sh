#!/usr/bin/env bash
# What a build of these sources depends on beyond them: the commit, the time
# it records, and the versions of the Debian packages whose output ends up in
# the installer. Kept beside a release, so that whoever checks it against its
# sources (make check-release) can build with the same tools.
set -u
cd "$(dirname "$0")/.."
echo "commit: $(git rev-parse HEAD 2>/dev/null || echo unknown)$(git diff --quiet HEAD 2>/dev/null || echo ' (with uncommitted changes)')"
echo "SOURCE_DATE_EPOCH: ${SOURCE_DATE_EPOCH:-unset}"
for package in g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32 \
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 mingw-w64-i686-dev mingw-w64-x86-64-dev cmake ninja-build python3 \
    libpython3.11-stdlib liblzma5 ncurses-base librsvg2-bin icoutils imagemagick osslsigncode; do
  version=$(dpkg-query -W -f='${Version}\n' "$package" 2>/dev/null | sort -u | paste -sd, -) && [ -n "$version" ] && echo "$package: $version"
done
ls -d build/liblzma/src/xz-utils-*/ 2>/dev/null | sed 's|.*/xz-utils-|xz-utils source: |; s|/$||'
exit 0
