#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix, quietly.
#   wine-run.sh PROGRAM [ARGS...]   run it
#   wine-run.sh --arch              print win32 or win64: what this machine's Wine runs
#   wine-run.sh --mingw-arch        print i686 or x86_64: the Windows build to run here
#   wine-run.sh --start-server      prepare the prefix and keep a wineserver up
#   wine-run.sh --stop-server       end that wineserver
#
# Wine runs 32-bit programs through a 32-bit Linux loader. On a kernel that
# cannot execute 32-bit Linux binaries only 64-bit Windows programs run, so the
# tests then use a 64-bit build of the same sources (see tools/test.sh).
#
# VAULTINE_WINE_DISPLAY=null prepares a prefix whose windows need no X display
# (Wine's null graphics driver), for tests that open dialogs of their own.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

wine_arch() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo win32; else echo win64; fi
}

arch=${VAULTINE_WINE_ARCH:-$(wine_arch)}
export WINEARCH=$arch
export WINEPREFIX=${WINEPREFIX:-$here/../build/wineprefix-$arch}
export WINEDEBUG=${WINEDEBUG:--all,err+module}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# With another locale Wine cannot map the working file's 0xEA byte to a name.
export LANG=C.UTF-8
if [ "$arch" = win64 ]; then
  export WINELOADER=/usr/lib/wine/wine64
  wine=/usr/lib/wine/wine64
else
  wine=/usr/lib/wine/wine
fi

prepare_prefix() {
  local ready=$WINEPREFIX/.vaultine-ready
  if [ ! -f "$ready" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot -i >/dev/null 2>&1
    # No crash dialog to hang on; Wine draws its own window frames.
    "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    if [ "${VAULTINE_WINE_DISPLAY:-}" = null ]; then
      "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
    fi
    wineserver -w
    touch "$ready"
  fi
  # Debian's Wine does not find the fonts it ships for a new prefix: without
  # them "MS Sans Serif" is measured as another font, so texts that fit on
  # Windows are cut, and the caption buttons show letters instead of symbols.
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  if [ -d /usr/share/wine/fonts ] && [ ! -f "$fonts/sserife.fon" ]; then
    mkdir -p "$fonts"
    cp -n /usr/share/wine/fonts/* "$fonts/"
  fi
}

case "${1:-}" in
  --arch)
    echo "$arch"
    ;;
  --mingw-arch)
    if [ "$arch" = win64 ]; then echo x86_64; else echo i686; fi
    ;;
  --start-server)
    prepare_prefix
    # Detached from our output, or CTest would wait for the server to exit.
    # The first program also starts Wine's own background services, which
    # keep the output they inherit open: start them here, with none.
    wineserver -p </dev/null >/dev/null 2>&1
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1
    ;;
  --stop-server)
    wineserver -k 2>/dev/null || true
    ;;
  *)
    prepare_prefix
    exec "$wine" "$@"
    ;;
esac
