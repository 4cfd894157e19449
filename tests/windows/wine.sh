# shellcheck shell=bash
# A Wine prefix of a test's own. Sourced by wine_test.sh and run_in_wine.sh;
# run as the Windows suites' fixture (wine.sh make|stop PREFIX), it makes or
# stops one.

# wine_use PREFIX: no Mono or Gecko to offer (they would be downloaded), no
# debug output, and a UTF-8 locale so that Unix file names map to Windows ones.
wine_use() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
}

_wine_try_prefix() {
  wine_stop # a prefix left unfinished, and its server's socket folder
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  timeout 600 wine wineboot --init >"$1" 2>&1 || return 1
  if [ "${2:-}" = --no-display ]; then
    timeout 120 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$1" 2>&1 || return 1
  fi
  timeout 300 wineserver -w >>"$1" 2>&1
}

# wine_make_prefix LOG [--no-display]: makes it afresh, every Wine step
# bounded, its output in LOG; --no-display sends windows to Wine's null driver.
wine_make_prefix() {
  # wineboot fails inside Wine about once in thirty prefixes under load: once more.
  _wine_try_prefix "$@" && return 0
  echo "wine: making the Wine prefix failed, trying once more in a fresh one: $(tail -n 3 "$1")" >&2
  _wine_try_prefix "$@" && return 0
  echo "wine: making the Wine prefix failed twice: $(tail -n 3 "$1")" >&2
  return 1
}

# wine_stop: stops its wineserver, which outlives every program, and removes
# the socket folder it leaves in /tmp, which Debian's Wine names in the
# prefix's file "wineserver" (/tmp/wine-XXXXXX) and other Wine builds after
# the prefix folder (/tmp/.wine-UID/server-DEV-INODE). Other prefixes'
# servers and folders are left alone.
wine_stop() {
  [ -d "${WINEPREFIX:-}" ] || return 0
  local own server_dir dev inode
  read -r dev inode < <(stat -c '%d %i' "$WINEPREFIX")
  printf -v server_dir '/tmp/.wine-%s/server-%x-%x' "$(id -u)" "$dev" "$inode"
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  timeout 30 wineserver -w >/dev/null 2>&1 || true
  own=$(cat "$WINEPREFIX/wineserver" 2>/dev/null || true)
  case "$own" in wine-??????) rm -rf "/tmp/$own" ;; esac
  rm -rf "$server_dir"
  return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  wine_use "$2"
  case "$1" in
    make)
      unset DISPLAY WAYLAND_DISPLAY
      wine_make_prefix "$2.log" --no-display
      ;;
    stop) wine_stop ;;
  esac
fi
