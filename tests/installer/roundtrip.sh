#!/usr/bin/env bash
# Installs the 64-bit setup silently into the test prefix, starts the
# installed program, uninstalls it silently with /PURGE and checks that
# nothing is left behind. Usage: roundtrip.sh <setup.exe>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"
setup=$1
ensure_display
ensure_prefix

dir="$WINEPREFIX/drive_c/Program Files/Quillet"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quillet.lnk"
key='HKCU\Software\Marrowfield\Quillet'
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillet'
run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
failed=0
check() { # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}
has_key() { wine reg query "$1" >/dev/null 2>&1; }
no_key() { ! has_key "$1"; }
has_run_entry() { wine reg query "$run" /v Quillet >/dev/null 2>&1; }
main_window() { xdotool search --name "^Quillet 6" >/dev/null 2>&1; }
wait_for() { # seconds, command...
  local t=$1; shift
  for _ in $(seq $((t * 5))); do "$@" && return 0; sleep 0.2; done
  return 1
}

wine "$setup" /S
wait_for 30 test -f "$dir/Uninstall.exe" || true
check "program and help installed" test -f "$dir/quillet.exe" -a -f "$dir/quillet.chm"
check "Start-menu shortcut" test -f "$menu"
check "uninstaller registered" has_key "$uninstall"

# The installed program starts, and leaves settings and a run entry behind.
wine reg add "$key" /v HideSplash /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$key" /v NoVerCheck /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$key" /v QuickExit /t REG_DWORD /d 670 /f >/dev/null 2>&1
wine reg add "$run" /v Quillet /d "\"C:\\Program Files\\Quillet\\quillet.exe\"" /f >/dev/null 2>&1
wine "C:\\Program Files\\Quillet\\quillet.exe" &
check "installed program shows its window" wait_for 20 main_window
wine taskkill /im quillet.exe >/dev/null 2>&1 || true
wait $! 2>/dev/null || true

wine "$dir/Uninstall.exe" /S /PURGE
wait_for 30 test ! -e "$dir" || true
check "program folder removed" test ! -e "$dir"
check "shortcut removed" test ! -e "$menu"
check "uninstaller unregistered" no_key "$uninstall"
check "settings removed" no_key "$key"
check "run entry removed" eval '! has_run_entry'
exit $failed
