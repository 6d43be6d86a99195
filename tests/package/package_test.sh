#!/usr/bin/env bash
# Usage: package_test.sh SOURCE_DIR WORK_DIR
# Builds the Debian package as scripts/build-deb.sh does (in WORK_DIR, kept
# between runs so that a rebuild is quick) and checks it as Debian would:
# lintian finds no error and no warning, the AppStream metainfo and the
# desktop entry validate, and the package holds what a user's system needs.
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

# Tags at the levels E (error) and W (warning) fail; I and below are shown.
lintian --no-tag-display-limit "$deb" >"$work/lintian.txt" 2>&1
cat "$work/lintian.txt"
if grep -qE '^[EW]: ' "$work/lintian.txt"; then fail "lintian reports errors or warnings"; fi

tree=$work/unpacked
rm -rf "$tree" && dpkg-deb -x "$deb" "$tree" || fail "the package does not unpack"
for file in \
  usr/share/doc/quorvel-zentrel/copyright \
  usr/share/doc/quorvel-zentrel/changelog.gz \
  usr/lib/udev/rules.d/60-quorvel-zentrel.rules \
  usr/share/bash-completion/completions/zentrel-cli \
  usr/share/bash-completion/completions/zentrel-sim \
  usr/share/mime/packages/quorvel-zentrel.xml \
  usr/share/applications/quorvel-zentrel.desktop \
  usr/share/quorvel-zentrel/firmware/bootloader-p18f452.hex; do
  [ -f "$tree/$file" ] || fail "the package has no /$file"
done
grep -q 'ATTR{latency_timer}="1"' "$tree"/usr/lib/udev/rules.d/60-quorvel-zentrel.rules \
  || fail "the udev rule does not set the latency timer"

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
