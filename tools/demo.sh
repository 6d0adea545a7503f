#!/usr/bin/env bash
# Runs the setup program the way an administrator would, in a fresh Wine
# prefix of its own that is removed afterwards: a command-line error, an
# unattended installation, what it left on the machine, and its removal.
#   usage: demo.sh PATH/TO/QuendalInstaller.exe
set -u
exe=$(realpath "$1")
prefix=$(mktemp -d "${TMPDIR:-/tmp}/quendal-demo.XXXXXX")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap 'wineserver -k >/dev/null 2>&1; wineserver -w; rm -rf "$prefix"' EXIT
quiet() { grep -v -e 'wine32 is missing' -e 'multiarch needs' -e 'dpkg --add-architecture' -e 'apt-get install wine32'; }

# The registry view the installer writes to: the 32-bit one for the shipping
# build (on 64-bit Windows), the 64-bit one for the x86-64 build.
if python3 -c 'import sys,struct; d=open(sys.argv[1],"rb").read(4096); pe=struct.unpack_from("<I",d,0x3C)[0]; sys.exit(struct.unpack_from("<H",d,pe+4)[0]!=0x14C)' "$exe"; then
  view=/reg:32 width="32-bit shipping build"
else
  view=/reg:64 width="x86-64 build"
fi
echo "== The installer: $exe ($width)"
echo "== A fresh Wine prefix: $prefix"
wineboot -i >/dev/null 2>&1
wineserver -w
drive_c=$prefix/drive_c

# The command as it would be typed at a Windows prompt: an argument with a
# space in double quotes.
shown() {
  local arg line=""
  for arg in "$@"; do
    case "$arg" in *" "*) line+=" \"$arg\"";; *) line+=" $arg";; esac
  done
  printf '%s' "$line"
}
run() {
  echo
  echo "== C:\\> QuendalInstaller.exe$(shown "$@")"
  wine "$exe" "$@" 2>&1 | quiet | tr -d '\r'
  echo "== exit code: ${PIPESTATUS[0]}"
}
# A refused command line: its message, and the usage text after it in brief.
run_refused() {
  echo
  echo "== C:\\> QuendalInstaller.exe$(shown "$@")"
  local out code
  out=$(wine "$exe" "$@" 2>&1 | quiet | tr -d '\r'; exit "${PIPESTATUS[0]}")
  code=$?
  sed -n '1,/^$/p' <<<"$out" | sed '/^$/d'
  echo "   (then the usage text, $(sed -n '/^$/,$p' <<<"$out" | sed '1d' | wc -l) lines)"
  echo "== exit code: $code"
}
run_refused -installDir='C:\Program Files\Quendal-Demo' -site=Quendal-Other -acceptEULA
run -installDir='C:\Program Files\Quendal-Demo' -acceptEULA -startService

echo
echo "== Installed files"
(cd "$drive_c/Program Files/Quendal-Demo" && find . -type f | sort | sed 's|^\./|  |')
echo
echo "== Shortcuts"
find "$drive_c" -name 'Quendal-Demo Control Panel.lnk' -o -name 'Uninstall Quendal-Demo.lnk' | sed "s|$drive_c|  C:|"
echo
echo "== The service"
wine sc query Quendal-Demo 2>&1 | quiet | tr -d '\r' | grep -E 'SERVICE_NAME|STATE' | sed 's/^ */  /'
echo
echo "== The uninstall entry"
wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quendal-Demo' $view 2>&1 | quiet | tr -d '\r' \
  | grep -v UninstallParam | sed '/^$/d'
echo
echo "== Its uninstall parameter list, one parameter a line"
wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quendal-Demo' /v UninstallParam $view 2>&1 \
  | quiet | tr -d '\r' | grep UninstallParam | sed 's/.*REG_SZ *//' | sed 's/" "/"\n"/g; s/yes "/yes\n"/' | sed 's/^/  /'
echo
echo "== Removing it with its quiet uninstall command, as deployment tools do (last lines)"
echo "== C:\\> \"C:\\Program Files\\Quendal-Demo\\uninst.exe\" Quendal-Demo -unat"
wine 'C:\Program Files\Quendal-Demo\uninst.exe' Quendal-Demo -unat 2>&1 | quiet | tr -d '\r' | tail -n 3
echo "== exit code: ${PIPESTATUS[0]} (it waits for the copy that does the work)"
echo "== left in the installation folder (the server's own data):"
(cd "$drive_c/Program Files/Quendal-Demo" 2>/dev/null && find . | sort | sed 's|^\./|  |; s|^\.$|  .|')
