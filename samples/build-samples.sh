#!/usr/bin/env bash
# Assembles the sample programs into the Intel HEX files beside them.
# Usage: samples/build-samples.sh [OUTPUT_FOLDER]   (default: samples/)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$(mkdir -p "${1:-$here}" && cd "${1:-$here}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for source in "$here"/*.asm; do
  name="$(basename "$source" .asm)"
  # gpasm also writes a listing and a .cod file next to the HEX; keep only the HEX.
  (cd "$here" && gpasm --quiet -a inhx32 -o "$work/$name.hex" "$name.asm")
  cp "$work/$name.hex" "$out/$name.hex"
  echo "$out/$name.hex"
done
