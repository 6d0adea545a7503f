#!/usr/bin/env bash
# Makes the Wine prefix that every test starts from, once per build: a fresh
# prefix with the prompts and desktop integration that would disturb a test
# run switched off. Reused while Wine's version stays the same.
#   usage: make-wine-template.sh DIR
set -euo pipefail
dir=$(realpath -m "$1")
stamp=$dir/.quendal-template
# The stamp records whether Wine's 32-bit half was there: a prefix made
# without it cannot start 32-bit programs ("could not load kernel32.dll").
if [ -x /usr/lib/wine/wine ]; then half=wow64; else half=64-only; fi
# And whether Wine's own fonts (Debian's fonts-wine) went into it.
wine_fonts=/usr/share/wine/fonts
if [ -f "$wine_fonts/marlett.ttf" ]; then fonts=wine-fonts-copied; else fonts=no-wine-fonts; fi
# And the CA the build signs with, which the prefix trusts as a machine's
# roots hold its publisher's: a signature is then checked as on a machine
# that trusts the signer (the build's own CMake cache names the CA).
ca=""
cache=$(dirname "$dir")/CMakeCache.txt
if [ -f "$cache" ]; then
  ca=$(sed -n 's/^QUENDAL_SIGN_CA:[A-Z]*=//p' "$cache")
fi
if [ -n "$ca" ] && [ -f "$ca" ]; then
  trusted="trusts-$(openssl x509 -in "$ca" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')"
else
  ca="" trusted=trusts-none
fi
version="$(wine --version) unmanaged aedebug-both-views $half $fonts quiet-services no-device-buses $trusted"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; then
  exit 0
fi
rm -rf "$dir"
export WINEPREFIX=$dir WINEDEBUG=-all
# No Mono or Gecko download prompts, no menu entries on the host.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wineboot -i >/dev/null 2>&1
wineserver -w
reg() { wine reg "$@" >/dev/null 2>&1; }
reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /t REG_SZ /d '' /f
# A crashing test program must end, not wait in a crash dialog or a debugger.
reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
# HKLM\Software has two views when the 32-bit half is there: clear both.
reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f /reg:64 || true
reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f /reg:32 || true
# The virtual display has no window manager; windows Wine would hand to one
# wait for it in vain each time they close.
reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
# What a test machine does not use is not started with every session: the
# event log, the network drivers, device arrival. None of them is the
# product's; a session then starts in about a quarter less processor time.
for service in Eventlog NDIS nsiproxy PlugPlay; do
  reg add "HKLM\\System\\CurrentControlSet\\Services\\$service" /v Start /t REG_DWORD /d 4 /f /reg:64
done
# Wine's HID and USB buses are loaded with every session whatever their start
# type says, in a driver process of their own; without their entries that
# process is not started: a session then takes a third less processor time.
for service in winebus wineusb winehid; do
  reg delete "HKLM\\System\\CurrentControlSet\\Services\\$service" /f /reg:64
done
# Debian's Wine does not look for its own fonts where fonts-wine puts them;
# in the Windows fonts folder it finds them: Tahoma for the dialogs, Marlett
# for the caption buttons (without it they show as the letters "0 1 r").
if [ "$fonts" = wine-fonts-copied ]; then
  cp "$wine_fonts"/* "$dir/drive_c/windows/Fonts/"
fi
if [ -n "$ca" ]; then
  # A certificate in the machine's root store: the key is its SHA-1
  # thumbprint, the value "Blob" its serialized form (property 0x20, the
  # encoded certificate). Both registry views, as each width reads its own.
  thumb=${trusted#trusts-}
  blob=$(openssl x509 -in "$ca" -outform DER | python3 -c '
import struct, sys
der = sys.stdin.buffer.read()
sys.stdout.write((struct.pack("<III", 0x20, 1, len(der)) + der).hex())')
  for view in 64 32; do
    reg add "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumb" /v Blob /t REG_BINARY \
      /d "$blob" /f /reg:$view || [ "$view" = 32 ]
  done
fi
wineserver -w
if [ "$half" = wow64 ] && [ ! -f "$dir/drive_c/windows/syswow64/kernel32.dll" ]; then
  echo "make-wine-template.sh: the prefix has no 32-bit system folder" >&2
  exit 1
fi
echo "$version" > "$stamp"
echo "Wine template prefix ready: $dir"
