#!/usr/bin/env bash
# Runs a Windows program in a fresh prefix made from a build's template prefix
# (made first if needed), outside CTest.
#   usage: wine-template-run.sh BUILD_DIR PROGRAM.exe [ARGS...]
set -eu
build=$(realpath "$1")
shift
here=$(dirname "$(realpath "$0")")
"$here/make-wine-template.sh" "$build/wine-template" >/dev/null
QUENDAL_WINE_TEMPLATE=$build/wine-template exec "$here/wine-run.sh" "$@"
