#!/usr/bin/env bash
# Usage: package_test.sh SOURCE_DIR WORK_DIR
# Builds the Debian packages as scripts/build-deb.sh does (in WORK_DIR, kept
# between runs so that a rebuild is quick) and checks them as Debian would:
# lintian finds no error and no warning, the AppStream metainfo, the desktop
# entry and the station's systemd unit validate, each package holds what a
# user's system needs, and the main one works without gpsim.
set -uo pipefail
source_dir=$1
work=$2
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

ZENTREL_NO_DEPS=1 bash "$source_dir/scripts/build-deb.sh" "$work" >"$work.log" 2>&1 \
  || { tail -40 "$work.log" >&2; echo "FAIL: the package does not build" >&2; exit 1; }
deb=$(ls "$work"/quorvel-zentrel_*.deb)
sim_deb=$(ls "$work"/quorvel-zentrel-sim_*.deb)

# Tags at the levels E (error) and W (warning) fail; I and below are shown.
for package in "$deb" "$sim_deb"; do
  lintian --no-tag-display-limit "$package" >"$work/lintian.txt" 2>&1
  cat "$work/lintian.txt"
  if grep -qE '^[EW]: ' "$work/lintian.txt"; then fail "lintian reports errors or warnings on $package"; fi
done

# Each package unpacked alone: the main one must work without the other.
tree=$work/unpacked
sim_tree=$work/unpacked-sim
rm -rf "$tree" "$sim_tree"
dpkg-deb -x "$deb" "$tree" || fail "the package does not unpack"
dpkg-deb -x "$sim_deb" "$sim_tree" || fail "the simulator's package does not unpack"
for file in \
  usr/share/doc/quorvel-zentrel/copyright \
  usr/share/doc/quorvel-zentrel/changelog.gz \
  usr/share/doc/quorvel-zentrel/examples/bench1.conf \
  usr/lib/udev/rules.d/60-quorvel-zentrel.rules \
  usr/lib/systemd/system/zentrel-station@.service \
  usr/share/bash-completion/completions/zentrel-cli \
  usr/share/mime/packages/quorvel-zentrel.xml \
  usr/share/applications/quorvel-zentrel.desktop \
  usr/share/quorvel-zentrel/samples/hello.hex \
  usr/share/quorvel-zentrel/samples/config.txt; do
  [ -f "$tree/$file" ] || fail "the package has no /$file"
done
for file in \
  usr/share/doc/quorvel-zentrel-sim/copyright \
  usr/share/doc/quorvel-zentrel-sim/changelog.gz \
  usr/share/man/man1/zentrel-sim.1.gz \
  usr/share/bash-completion/completions/zentrel-sim \
  usr/lib/quorvel-zentrel/zentrel-sim \
  usr/share/quorvel-zentrel/firmware/bootloader-p18f452.hex \
  usr/share/quorvel-zentrel/firmware/bootloader-p18f452.cod; do
  [ -e "$sim_tree/$file" ] || fail "the simulator's package has no /$file"
  [ ! -e "$tree/$file" ] || fail "the main package has /$file too"
done
for built in "$work"/bin/bootloader-*.hex "$work"/bin/bootloader-*.cod; do
  [ -f "$sim_tree/usr/share/quorvel-zentrel/firmware/${built##*/}" ] || fail "the simulator's package has no ${built##*/}"
done
rules=$tree/usr/lib/udev/rules.d/60-quorvel-zentrel.rules
grep -q 'ATTR{latency_timer}="1"' "$rules" || fail "the udev rule does not set the latency timer"
grep -q 'SUBSYSTEMS=="usb-serial", ENV{ID_MM_DEVICE_IGNORE}="1"' "$rules" \
  || fail "the udev rule does not keep ModemManager off USB serial adapters"

# The main package needs neither gpsim nor GTK, not even through another
# package; the simulator's needs gpsim.
depends=$(dpkg-deb -f "$deb" Depends)
closure=$(echo "$depends" | tr ',' '\n' | sed -E 's/[(|].*//; s/ //g' | grep . \
  | xargs apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances 2>/dev/null | grep -E '^\w' | sort -u)
[ -n "$closure" ] || fail "the main package's dependencies cannot be followed: $depends"
if grep -qE '^(gpsim|libgtk)' <<<"$closure"; then fail "the main package pulls in gpsim or GTK: $depends"; fi
dpkg-deb -f "$sim_deb" Depends | grep -q 'gpsim' || fail "the simulator's package does not depend on gpsim"
for program in zentrel zentrel-cli; do
  ! ldd "$tree/usr/lib/quorvel-zentrel/$program" | grep -q gpsim || fail "$program links gpsim"
done
samples=$tree/usr/share/quorvel-zentrel/samples
"$tree/usr/lib/quorvel-zentrel/zentrel-cli" check --config "$samples/config.txt" "$samples/hello.hex" >/dev/null \
  || fail "the main package alone cannot check its own sample"

# The station's unit as systemd reads it, with the program it starts.
unit=$work/zentrel-station@bench1.service
sed "s|/usr/bin/zentrel-cli|$tree/usr/lib/quorvel-zentrel/zentrel-cli|" \
  "$tree/usr/lib/systemd/system/zentrel-station@.service" >"$unit"
systemd-analyze verify --man=no "$unit" || fail "systemd-analyze verify rejects the station's unit"

metainfo=$(ls "$tree"/usr/share/metainfo/*.metainfo.xml 2>/dev/null)
if [ -z "$metainfo" ]; then
  fail "the package has no AppStream metainfo"
else
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate: $metainfo"
fi
desktop-file-validate "$tree/usr/share/applications/quorvel-zentrel.desktop" \
  || fail "desktop-file-validate"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package checked: $deb"
