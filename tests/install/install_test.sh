#!/usr/bin/env bash
# Usage: install_test.sh CMAKE BUILD_DIR
# Installs BUILD_DIR with DESTDIR staging and checks the installed tree: the
# links in bin/ reach the programs and their config.txt, the window starts,
# the desktop entry and manual pages are well formed, and every device
# template loads and is accepted or refused for download as its comments say.
set -uo pipefail
cmake_command=$1
build=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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

install_tree() {
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
  for firmware in bootloader-p18f452.hex bootloader-p18f452.cod bootloader-p18f4620.hex; do
    [ -f "$usr/share/quorvel-zentrel/firmware/$firmware" ] || fail "$firmware is not installed"
  done
}

check_cli() {
  run "$usr/bin/zentrel-cli" check "$usr/share/quorvel-zentrel/samples/blink.hex"
  [ "$status" -eq 0 ] || fail "zentrel-cli check exits $status: $(cat "$work/err")"
  grep -q "Operation completed." "$work/out" || fail "zentrel-cli check does not report success"
}

# The window shows a message box and stays open when config.txt is missing,
# so being alive proves little; reading the last folder, which writes its
# default (the program folder) to the settings, happens only after the
# device description was read.
check_window() {
  local config=$work/config runtime=$work/runtime pid ini
  mkdir -p "$config" "$runtime" && chmod 700 "$runtime"
  ini="$config/Software/Quorvel Zentrel.ini"
  XDG_CONFIG_HOME=$config XDG_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=offscreen \
    timeout 60 "$usr/bin/zentrel" >"$work/window.log" 2>&1 &
  pid=$!
  for _ in $(seq 300); do
    grep -qs "usr/lib/quorvel-zentrel/" "$ini" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
  else
    fail "the installed zentrel ended by itself: $(cat "$work/window.log")"
  fi
  wait "$pid" 2>/dev/null
  grep -qs "usr/lib/quorvel-zentrel/" "$ini" \
    || fail "the installed zentrel did not get past reading config.txt (settings: $(cat "$ini" 2>/dev/null))"
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
  local program=$work/program.hex template count=0
  # Program memory only, as some parts have no data EEPROM for the samples' data.
  printf ':10000000000102030405060708090A0B0C0D0E0F78\r\n:00000001FF\r\n' >"$program"
  # One byte at 0x10000: a program area just past what the header announces.
  printf ':020000040001F9\r\n:0100000000FF\r\n:00000001FF\r\n' >"$work/above64k.hex"
  for template in "$usr"/share/quorvel-zentrel/devices/*.txt; do
    count=$((count + 1))
    run "$usr/bin/zentrel-cli" check --config "$template" "$program"
    [ "$status" -eq 0 ] || fail "$template does not load a small program: $(cat "$work/err")"
    check_template_values "$template"
    check_template_frame "$template" "$program"
  done
  [ "$count" -ge 5 ] || fail "only $count device templates are installed"
}

install_tree
check_layout
check_cli
check_window
check_desktop_and_manuals
check_templates
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installed tree checked"
