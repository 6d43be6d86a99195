#!/usr/bin/env bash
# Usage: install_test.sh CMAKE BUILD_DIR
# Installs BUILD_DIR with DESTDIR staging (the install builds what is
# missing) and checks the installed tree: the links in bin/ reach the
# programs and their config.txt, the window starts with a file to open,
# sends that file to the simulated bootloader, has the class its desktop
# entry names and tells its version without a display,
# the desktop entry and manual pages are well formed, the shell completion
# completes, and every device template loads and is accepted or refused for
# download as its comments say.
set -uo pipefail
cmake_command=$1
build=$2

work=$(mktemp -d)
xvfb=
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
root=$work/root
usr=$root/usr
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Runs a command, keeping its output in $work/out and $work/err; sets $status.
run() {
  "$@" >"$work/out" 2>"$work/err"
  status=$?
}

# The install builds what it installs: a manual page that a partial build
# never made is made by the install itself.
install_tree() {
  rm -f "$build/man/zentrel.1.gz"
  DESTDIR=$root "$cmake_command" --install "$build" --prefix /usr >"$work/install.log" 2>&1 \
    || { cat "$work/install.log" >&2; echo "FAIL: cmake --install" >&2; exit 1; }
}

check_layout() {
  local program target
  for program in zentrel zentrel-cli zentrel-sim; do
    [ -x "$usr/lib/quorvel-zentrel/$program" ] || fail "$program is not installed in lib/quorvel-zentrel"
    target=$(readlink "$usr/bin/$program") || { fail "bin/$program is not a link"; continue; }
    [ "$target" = "../lib/quorvel-zentrel/$program" ] || fail "bin/$program links to $target"
  done
  [ -f "$usr/lib/quorvel-zentrel/config.txt" ] || fail "config.txt is not beside the programs"
  [ -f "$usr/share/icons/hicolor/scalable/apps/quorvel-zentrel.svg" ] || fail "the icon is not installed"
  for file in lib/udev/rules.d/60-quorvel-zentrel.rules share/mime/packages/quorvel-zentrel.xml \
    share/doc/quorvel-zentrel/copyright share/doc/quorvel-zentrel/changelog.gz; do
    [ -f "$usr/$file" ] || fail "$file is not installed"
  done
  compgen -G "$usr/share/metainfo/*.metainfo.xml" >/dev/null || fail "no AppStream metainfo is installed"
  for firmware in bootloader-p18f452.hex bootloader-p18f452.cod bootloader-p18f4620.hex; do
    [ -f "$usr/share/quorvel-zentrel/firmware/$firmware" ] || fail "$firmware is not installed"
  done
  for file in samples/hello.hex samples/hello.asm samples/config.txt; do
    [ -f "$usr/share/quorvel-zentrel/$file" ] || fail "$file is not installed"
  done
  [ -f "$usr/lib/systemd/system/zentrel-station@.service" ] || fail "the station's systemd unit is not installed"
}

# The README's chip demo, from what was installed alone: the hello sample
# into the bootloader on a simulated PIC18F452, which then runs it.
check_chip_demo() {
  local share=$usr/share/quorvel-zentrel sim device
  "$usr/bin/zentrel-sim" --chip p18f452 --firmware "$share/firmware/bootloader-p18f452.hex" \
    --config "$share/samples/config.txt" --once --expect "$share/samples/hello.hex" --run-after 0.5 \
    >"$work/chip.log" 2>&1 &
  sim=$!
  for _ in $(seq 100); do grep -q '^device ' "$work/chip.log" && break; sleep 0.1; done
  device=$(sed -n 's/^device //p' "$work/chip.log")
  run "$usr/bin/zentrel-cli" download "$share/samples/hello.hex" --config "$share/samples/config.txt" \
    --device "$device" --signal-timeout 20 --no-progress
  [ "$status" -eq 0 ] || fail "the chip demo's download failed: $(cat "$work/out" "$work/err")"
  wait "$sim" && grep -q "^program output: Hello" "$work/chip.log" \
    || fail "the simulated chip did not run the hello sample: $(cat "$work/chip.log")"
}

check_cli() {
  run "$usr/bin/zentrel-cli" check "$usr/share/quorvel-zentrel/samples/blink.hex"
  [ "$status" -eq 0 ] || fail "zentrel-cli check exits $status: $(cat "$work/err")"
  grep -q "Operation completed." "$work/out" || fail "zentrel-cli check does not report success"
}

# The window shows a message box and stays open whether the file loads or
# config.txt is missing, so being alive proves little. Opening the file
# argument stores its folder as the last folder, which happens only after
# the device description was read.
# Settings and lock of the window in the work folder; every port number
# names a missing device, so no real port is touched.
config=$work/config
runtime=$work/runtime
user_dirs() {
  mkdir -p "$config/Software/Quorvel Zentrel.ports" "$runtime" && chmod 700 "$runtime"
  for n in $(seq 12); do ln -sf "$work/absent" "$config/Software/Quorvel Zentrel.ports/COM$n"; done
}

check_window() {
  local pid ini=$config/Software/Quorvel\ Zentrel.ini samples=$usr/share/quorvel-zentrel/samples/
  (cd "$samples" && XDG_CONFIG_HOME=$config XDG_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=offscreen \
    exec timeout 60 "$usr/bin/zentrel" blink.hex) >"$work/window.log" 2>&1 &
  pid=$!
  for _ in $(seq 300); do
    grep -qsF "$samples" "$ini" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
  else
    fail "the installed zentrel ended by itself: $(cat "$work/window.log")"
  fi
  wait "$pid" 2>/dev/null
  grep -qsF "$samples" "$ini" \
    || fail "the installed zentrel did not open its file argument (settings: $(cat "$ini" 2>/dev/null))"

  run env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$usr/bin/zentrel" --version
  [ "$status" -eq 0 ] && grep -qE '^zentrel [0-9]+\.[0-9]+' "$work/out" \
    || fail "zentrel --version without a display: exit $status: $(cat "$work/out" "$work/err")"
}

# A virtual display of its own for the checks that need one: Xvfb picks a
# free number and tells it, so runs beside other displays never collide; it
# does not reset when its last client leaves, which would refuse the next.
start_display() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { fail "Xvfb did not start: $(cat "$work/xvfb.log")"; return 1; }
  export DISPLAY=:$(head -n 1 "$work/display")
}

# The id of the first top-level window whose name holds text, after waiting
# for it up to 30 s; "" if none came.
window_named() {
  local id
  for _ in $(seq 300); do
    id=$(xwininfo -root -tree | awk -v name="$1" 'index($0, name) { print $1; exit }')
    [ -n "$id" ] && break
    sleep 0.1
  done
  echo "$id"
}

# The window on the display, started from the samples folder with args.
start_window() {
  (cd "$usr/share/quorvel-zentrel/samples" && XDG_CONFIG_HOME=$config XDG_RUNTIME_DIR=$runtime \
    exec env -u QT_QPA_PLATFORM timeout 60 "$usr/bin/zentrel" "$@") >"$work/window.log" 2>&1 &
  window=$!
}

# The desktop matches the window to its entry by the window's class.
check_window_class() {
  local wanted class
  wanted=$(sed -n 's/^StartupWMClass=//p' "$usr/share/applications/quorvel-zentrel.desktop")
  start_window
  class=$(xprop -id "$(window_named '"Quorvel Zentrel - ')" WM_CLASS 2>&1)
  kill "$window" 2>/dev/null
  wait "$window" 2>/dev/null
  [[ $class == *"\"$wanted\""* ]] || fail "StartupWMClass=$wanted, but the window's class is: $class $(cat "$work/window.log")"
}

# What the window loaded from its file argument is what it sends: the user's
# keys dismiss the load's message box and press "Download HEX File" (Tab from
# "Open HEX File", then space); the installed simulator checks the transfer
# against the same file.
check_window_downloads() {
  local sim main box
  XDG_CONFIG_HOME=$config "$usr/bin/zentrel-sim" --as-port 2 --once \
    --config "$usr/lib/quorvel-zentrel/config.txt" \
    --expect "$usr/share/quorvel-zentrel/samples/blink.hex" >"$work/sim.log" 2>&1 &
  sim=$!
  for _ in $(seq 100); do grep -q "port COM2" "$work/sim.log" && break; sleep 0.1; done
  start_window blink.hex
  # The caption names the model once config.txt is read; the box comes after.
  main=$(window_named '"Quorvel Zentrel - ')
  box=$(window_named '"Quorvel Zentrel"')
  xdotool windowfocus --sync "$box" key Return
  sleep 0.5
  xdotool windowfocus --sync "$main" key Tab
  # The press counts once the bootloader's signal has been answered: press
  # again until the simulator has had its transfer.
  for _ in $(seq 20); do
    xdotool key space
    sleep 1
    kill -0 "$sim" 2>/dev/null || break
  done
  kill "$sim" "$window" 2>/dev/null
  wait "$sim"
  [ $? -eq 0 ] && grep -q "^verified:" "$work/sim.log" \
    || fail "the window did not send its file argument: $(cat "$work/sim.log" "$work/window.log")"
  wait "$window" 2>/dev/null
}

# Each row: the words typed (the last is being completed), then words that
# the completion must offer.
check_completion() {
  local row typed expected reply word
  local rows=(
    "zentrel-cli |check download"
    "zentrel-cli download --|--port --device --baud"
    "zentrel-cli download --reset |dtr rts"
    "zentrel-cli check |blink.hex chase.hex"
    "zentrel-sim --|--as-port --once --config"
  )
  for row in "${rows[@]}"; do
    typed=${row%%|*}
    expected=${row#*|}
    local -a words
    read -ra words <<<"$typed"
    [[ $typed == *" " ]] && words+=("")
    reply=$(cd "$usr/share/quorvel-zentrel/samples" && PATH=$usr/bin:$PATH bash -c '
      source "$1"; shift
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
      $(complete -p "$1" | sed -E "s/.*-F ([^ ]+).*/\1/")
      echo "${COMPREPLY[*]}"' _ "$usr/share/bash-completion/completions/${words[0]}" "${words[@]}")
    for word in $expected; do
      [[ " $reply " == *" $word "* ]] || fail "completing '$typed' offers '$reply', not $word"
    done
  done
}

check_desktop_and_manuals() {
  local page
  run desktop-file-validate "$usr/share/applications/quorvel-zentrel.desktop"
  [ "$status" -eq 0 ] && [ ! -s "$work/out" ] || fail "desktop-file-validate: $(cat "$work/out" "$work/err")"
  for page in zentrel zentrel-cli zentrel-sim; do
    page=$usr/share/man/man1/$page.1.gz
    gzip -t "$page" 2>/dev/null || { fail "$page is missing or not gzip"; continue; }
    gzip -dc "$page" | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z 2>"$work/err"
    [ ! -s "$work/err" ] || fail "$page: $(cat "$work/err")"
  done
}

value_of() {  # value_of KEY FILE: the last line that begins with KEY
  sed -n "s/^$1://p" "$2" | tail -n 1
}

# Layout sanity that a typo in a template would break.
check_template_values() {
  local template=$1 flash erase write boot
  flash=$(value_of flash "$template")
  erase=$(value_of eraseblock "$template")
  write=$(value_of programblock "$template")
  boot=$((16#$(value_of bootloader "$template")))
  [ $((flash % erase)) -eq 0 ] || fail "$template: flash is not whole erase blocks"
  [ $((erase % write)) -eq 0 ] || grep -q "^# Refused by the download: programblock:" "$template" \
    || fail "$template: the write block does not divide the erase block and no comment says so"
  [ $((boot % erase)) -eq 0 ] || fail "$template: the bootloader is not at an erase block"
  [ "$boot" -lt "$flash" ] || fail "$template: the bootloader lies past program memory"
}

# The frame of a small program: refused naming the value that the comment
# names, otherwise written.
check_template_frame() {
  local template=$1 program=$2 refused
  refused=$(sed -n 's/^# Refused by the download: \([a-z]*:[0-9]*\).*/\1/p' "$template")
  run "$usr/bin/zentrel-cli" frame --config "$template" --out "$work/frame.bin" "$program"
  if [ -n "$refused" ]; then
    [ "$status" -eq 3 ] || fail "$template: the frame was not refused (exit $status)"
    grep -q "$refused" "$work/err" || fail "$template: the refusal does not name $refused: $(cat "$work/err")"
    return
  fi
  [ "$status" -eq 0 ] || fail "$template: the frame was refused: $(cat "$work/err")"
  if grep -q "^# Above 64 KiB" "$template"; then
    run "$usr/bin/zentrel-cli" frame --config "$template" --out "$work/frame.bin" "$work/above64k.hex"
    [ "$status" -eq 3 ] && grep -q 65536 "$work/err" \
      || fail "$template: a program past 64 KiB was not refused (exit $status): $(cat "$work/err")"
  fi
}

check_templates() {
  local program=$work/program.hex template count=0 loads
  # Program memory only, as some parts have no data EEPROM for the samples' data.
  printf ':10000000000102030405060708090A0B0C0D0E0F78\r\n:00000001FF\r\n' >"$program"
  # One byte at 0x10000: a program area just past what the header announces.
  printf ':020000040001F9\r\n:0100000000FF\r\n:00000001FF\r\n' >"$work/above64k.hex"
  for template in "$usr"/share/quorvel-zentrel/devices/*.txt; do
    count=$((count + 1))
    run "$usr/bin/zentrel-cli" check --config "$template" "$program"
    # check runs the download's refusal too: a part the download refuses fails it (3).
    grep -q "^# Refused by the download:" "$template" && loads=3 || loads=0
    [ "$status" -eq "$loads" ] || fail "$template does not load a small program: $(cat "$work/err")"
    check_template_values "$template"
    check_template_frame "$template" "$program"
  done
  [ "$count" -ge 5 ] || fail "only $count device templates are installed"
}

install_tree
check_layout
check_cli
check_chip_demo
user_dirs
check_window
if start_display; then
  check_window_class
  check_window_downloads
fi
check_completion
check_desktop_and_manuals
check_templates
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installed tree checked"
