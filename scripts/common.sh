# Shared by the scripts: paths, the project's own Wine prefix and a display.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUILLET_BUILD:-$here/build}"
export WINEPREFIX="${QUILLET_WINEPREFIX:-$build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installers: the program needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

configure_build() { # folder, cmake arguments...
  local dir=$1; shift
  # Configured every time, so that a new option reaches an old build folder.
  cmake -S "$here" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
}

build_windows() { # triple, folder, extra cmake arguments...
  local triple=$1 dir=$2; shift 2
  configure_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-$triple.cmake" \
    -DQUILLET_DEPS="$build/deps/$triple" "$@"
}

ensure_prefix() {
  # A prefix made before 32-bit Wine was installed fails under it ("could not
  # load kernel32.dll"): it is made anew.
  if [ -x /usr/lib/wine/wine ] && [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/.wine32" ]; then
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the Wine prefix in $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    [ ! -x /usr/lib/wine/wine ] || touch "$WINEPREFIX/.wine32"
  fi
  # Without a window manager, Wine waits two seconds for every managed window
  # to be withdrawn; unmanaged windows close at once.
  if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
  fi
}

# Starts Xvfb on a free display when there is no display.
ensure_display() {
  if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    trap 'wineserver -k >/dev/null 2>&1; kill $xvfb_pid 2>/dev/null' EXIT
  fi
}
