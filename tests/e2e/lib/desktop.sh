# Drives the installer's window on a private Xvfb display as a user would.
#
#   source tests/e2e/lib/desktop.sh
#   xvfb_start [NUMBER]             # sets DISPLAY (display :NUMBER, or a free one); stopped by xvfb_stop
#   app_start PROGRAM LOGFILE       # sets APP_PID and APP_WID (the installer window)
#   app_click X Y                   # a left click at window coordinates (the stored layout's pixels)
#   app_log                         # prints the log pane's text (select all, copy, read the clipboard)
#   app_close                       # the window's close button; waits for the program to end
#   install_log URL [signed]        # the log of an install with both boxes ticked
#   check_link FILE                 # a shortcut to the launcher, read with lnkinfo; failx on a fault

XVFB_PID=""
APP_PID=""
APP_WID=""
APP_TITLE="Corvane Installer - Updater"

xvfb_start() {
  local fifo
  fifo=$(mktemp -u "${TMPDIR:-/tmp}/corvane-xvfb-XXXXXX")
  mkfifo "$fifo"
  Xvfb ${1:+":$1"} -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  local n
  read -r -t 20 n <"$fifo" || { rm -f "$fifo"; echo "Xvfb did not start" >&2; return 1; }
  rm -f "$fifo"
  export DISPLAY=":$n"
}

xvfb_stop() {
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
  XVFB_PID=""
}

app_start() {
  # One device pixel per layout pixel, so the stored positions are where the controls are.
  QT_QPA_PLATFORM=xcb QT_ENABLE_HIGHDPI_SCALING=0 QT_SCALE_FACTOR=1 "$1" >"$2" 2>&1 &
  APP_PID=$!
  APP_WID=$(timeout 30 xdotool search --sync --onlyvisible --name "^$APP_TITLE\$" | head -1)
  [ -n "$APP_WID" ] || {
    echo "the installer window did not appear" >&2
    app_whereabouts >&2
    return 1
  }
}

# What a test that did not find the window saw instead: whether the program runs, and the named
# windows on the display.
app_whereabouts() {
  if kill -0 "$APP_PID" 2>/dev/null; then echo "the program still runs"; else echo "the program has ended"; fi
  xdotool search --name . 2>/dev/null | while read -r w; do
    echo "window $w: $(xdotool getwindowname "$w" 2>/dev/null)"
  done
}

app_click() {
  xdotool mousemove --window "$APP_WID" "$1" "$2" click 1
  sleep 0.2
}

app_log() {
  # Into the log pane (the middle of Memo1), then select all and copy.
  xdotool mousemove --window "$APP_WID" 200 300 click 1 key --window "$APP_WID" ctrl+a ctrl+c
  sleep 0.3
  timeout 5 xclip -o -selection clipboard 2>/dev/null | tr -d '\r'
}

# Waits up to $2 seconds for the log to contain the line $1 (as a whole line) $3 times (default 1).
app_wait_log() {
  local line=$1 limit=$2 times=${3:-1} i
  for ((i = 0; i < limit * 2; i++)); do
    [ "$(app_log | grep -cxF -- "$line")" -ge "$times" ] && return 0
    sleep 0.5
  done
  return 1
}

app_close() {
  python3 "$(dirname "${BASH_SOURCE[0]}")/xclose.py" "$APP_WID"
  local i
  for ((i = 0; i < 100; i++)); do
    kill -0 "$APP_PID" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$APP_PID" 2>/dev/null; then
    kill "$APP_PID"
    wait "$APP_PID" 2>/dev/null
    APP_PID=""
    echo "the installer did not end when its window was closed" >&2
    return 1
  fi
  local rc=0
  wait "$APP_PID" || rc=$?
  APP_PID=""
  return "$rc"
}

app_kill() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null && wait "$APP_PID" 2>/dev/null
  APP_PID=""
}

# The end of every installer end-to-end test: the window, Wine's server when the test started
# one, the display, nginx and the work folder $work.
e2e_cleanup() {
  app_kill
  if declare -F wine_stop >/dev/null; then wine_stop; fi
  xvfb_stop
  nginx_stop
  rm -rf "$work"
}

# The program's three files as the download server offers them, in a new folder $1; the
# archive is the test's own.
serve_program_files() {
  mkdir -p "$1"
  # Programs begin as Windows programs do: anything else is refused as no program.
  { printf MZ; head -c 69998 /dev/urandom; } >"$1/cvnloader.exe"
  { printf MZ; head -c 1499998 /dev/urandom; } >"$1/corvane-qt.exe"
  echo "1.2.3" >"$1/version.txt"
}

# Waits until the partial download $1 passes 2,000,000 bytes, then closes the window; KEPT is
# what the part holds then.
close_part_way() {
  local i
  for ((i = 0; i < 100; i++)); do
    [ "$(stat -c %s "$1" 2>/dev/null || echo 0)" -gt 2000000 ] && break
    sleep 0.2
  done
  [ "$i" -lt 100 ] || failx "the slow archive download did not get going"
  app_close || failx "closing the window during the archive download did not end the program cleanly"
  KEPT=$(stat -c %s "$1" 2>/dev/null) || fail "closing the window removed the partial archive"
}

# The log of a press of Next with both boxes ticked, downloading from base URL $1; with "signed"
# as $2, by a build with a publisher key.
install_log() {
  local url=$1
  [ "${2:-}" != signed ] || echo "getting signed file list ${url}SHA256SUMS
file list verified"
  echo "install program is checked
Downloading Launcher
Downloading : ${url}cvnloader.exe
Making Shortcut to your Desktop
Making Shortcut to your Start menu
Downloading cvn Wallet
app download is C:\\Corvane\\corvane-qt.exe
Downloading : version.txt
getting version info file ${url}/version.txt
Done.
install blockchain is checked
Downloading Blockchain
please note that this will take a while ...
once downloaded, click ok to accept the default location.
trying ${url}cvnchain.exe
unzipping blockchain - this will take a while...
Done."
}

# A shortcut to the launcher as the installer makes it; the script's failx reports a fault.
check_link() {
  local file=$1 info show
  info=$(lnkinfo "$file" 2>&1) || failx "lnkinfo cannot read $file: $info"
  grep -qxF $'\tLocal path\t\t\t: C:\\Corvane\\cvnloader.exe' <<<"$info" || failx "target of $file: $info"
  grep -qxF $'\tDescription\t\t\t: cvn QT Wallet' <<<"$info" || failx "description of $file: $info"
  grep -qE 'Command line arguments|Working directory' <<<"$info" && failx "arguments or folder in $file: $info"
  # lnkinfo 20181227 does not print the show command that is stored: read the header's own field.
  show=$(od -An -tu4 -j60 -N4 "$file" | tr -d ' ')
  [ "$show" = 5 ] || failx "show command of $file is $show"
}
