# Runs Windows programs of the build under Wine on the private display of desktop.sh.
#
#   source tests/e2e/lib/desktop.sh tests/e2e/lib/wine.sh
#   wine_e2e_enter "TOOL ..." "EXE ..."  # checks what the test needs, enters its namespace
#   wine_prefix_init DIR            # a fresh prefix (WINEPREFIX); wine_stop ends its wineserver
#   wine_desktop DIR                # Xvfb, HOME and a fresh prefix in DIR (needs WINTOOL); sets
#                                   # WINE_USER (its user), WINE_ROAMING (APPDATA) and WINE_APPDIR
#                                   # (C:\Corvane)
#   wine_app_start EXE LOGFILE      # like app_start: sets APP_PID and APP_WID
#   app_log                         # the log pane's text, read by WINTOOL (wintool.exe log)
#   wine_box CAPTION                # prints a message box's text and buttons, presses OK
#   failx MESSAGE                   # the windows, the log pane, the program's output; then fail
# app_click, app_wait_log and app_close of desktop.sh work on the Wine window as they are.

WINE=${WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
WINESERVER=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
WINTOOL=${WINTOOL:-}
export WINEDEBUG=-all
# Wine would otherwise copy the shortcuts it sees being made into the user's real desktop menus.
export WINEDLLOVERRIDES=winemenubuilder.exe=d

# For a test that runs itself again in a private network and mount namespace (netns.sh), with
# bin, url, skip and fail of its own: skips without the TOOLS or wine64, fails without the EXES of
# the Windows build, then enters the namespace.
wine_e2e_enter() { # "TOOL ..." "EXE ..."
  local tool exe
  for tool in $1; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps.sh installs it)"
  done
  [ -x "$WINE" ] || skip "no wine64 (scripts/deps.sh installs it)"
  for exe in $2; do
    [ -f "$bin/$exe" ] || fail "no $bin/$exe (scripts/build-windows.sh builds it)"
  done
  CORVANE_WIN_BIN=$(cd "$bin" && pwd) netns_enter "$url"
}

wine_prefix_init() {
  export WINEPREFIX=$1
  "$WINE" wineboot -i >"$WINEPREFIX.boot.log" 2>&1 && "$WINESERVER" -w || return
  # A fresh prefix links Desktop, Documents, ... to the real home folder; the installer writes its
  # shortcuts there. Real folders of the prefix's own take their place.
  local link
  for link in "$WINEPREFIX"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm "$link" && mkdir "$link"; fi
  done
}

wine_stop() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] && "$WINESERVER" -k 2>/dev/null
  return 0
}

# The Windows user name of the prefix (its profile folder under drive_c/users).
wine_user() {
  local d
  for d in "$WINEPREFIX"/drive_c/users/*; do
    [ "$(basename "$d")" != Public ] && [ -d "$d/AppData" ] && { basename "$d"; return 0; }
  done
  return 1
}

# The installer's desktop: a display, a home folder and a prefix, with the installer's folder.
wine_desktop() {
  export HOME=$1/home
  mkdir -p "$HOME"
  xvfb_start || fail "Xvfb did not start"
  wine_prefix_init "$1/prefix" || fail "wineboot failed: $(cat "$1/prefix.boot.log")"
  WINE_USER=$(wine_user) || fail "the prefix has no user profile"
  WINE_ROAMING=$WINEPREFIX/drive_c/users/$WINE_USER/AppData/Roaming
  WINE_APPDIR=$WINEPREFIX/drive_c/Corvane
  mkdir -p "$WINE_APPDIR"
  # Keeps the server and the desktop up between two runs of the installer: Wine ends them shortly
  # after their last program, and a program starting just then fails. The installer starts once
  # the desktop is open, not while it opens.
  wine_hold "$WINTOOL" "$1/hold.out" window || fail "the Wine desktop did not open: $(cat "$1/hold.out")"
}

# Starts WINTOOL hold [window] in the background and waits (at most a minute) for its "ready";
# a hold that could not make its window (a desktop slow to start on a busy machine) is started
# again.
wine_hold() { # WINTOOL OUT [window]
  local i pid
  for ((i = 0; i < 600; i++)); do
    if [ -z "${pid:-}" ] || ! kill -0 "$pid" 2>/dev/null; then
      "$WINE" "$1" hold ${3:+"$3"} </dev/null >"$2" 2>&1 &
      pid=$!
    fi
    grep -q ready "$2" && return 0
    sleep 0.1
  done
  return 1
}

wine_app_start() {
  APP_OUT=$2
  "$WINE" "$1" >"$2" 2>&1 &
  APP_PID=$!
  APP_WID=$(timeout 120 xdotool search --sync --onlyvisible --name "^$APP_TITLE\$" | head -1)
  [ -n "$APP_WID" ] || {
    echo "the installer window did not appear" >&2
    app_whereabouts >&2
    return 1
  }
}

app_log() {
  "$WINE" "$WINTOOL" log 2>/dev/null | tr -d '\r'
}

wine_box() {
  timeout 30 xdotool search --sync --onlyvisible --name "^$1\$" >/dev/null || return 1
  "$WINE" "$WINTOOL" box "$1" 2>/dev/null | tr -d '\r'
}

failx() {
  echo "--- windows:"
  xwininfo -root -tree | grep -F '("' | grep -v "has no name"
  echo "--- log pane:"
  app_log
  echo "--- program output:"
  cat "${APP_OUT:-/dev/null}"
  fail "$*"
}
