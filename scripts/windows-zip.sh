#!/usr/bin/env bash
# Packs the Windows build (make windows) into one zip for Windows admins: the
# three programs, the DLLs they load, an example configuration with Windows
# line ends, the admin's README and the operations guide. Used by
# `make windows-zip`.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:-build-windows}
version=$(sed -n 's/.*kVersionText = "\([0-9.]*\)".*/\1/p' src/base/limits.h)
name="acserver-${version}-windows-x64"
stage="$dir/$name"
rm -rf "$stage" "$dir/$name.zip"
mkdir -p "$stage/docs"
for program in acserver acserver-unban acserver-bans; do
  x86_64-w64-mingw32-strip -o "$stage/$program.exe" "$dir/$program.exe"
done
cp "$dir"/*.dll "$stage"/ 2>/dev/null || true
# Notepad and the admin's tools expect CR LF.
sed 's/$/\r/' packaging/windows/README.txt >"$stage/README.txt"
sed 's/$/\r/' packaging/zelk_config.example.txt >"$stage/zelk_config.example.txt"
cp docs/operations.md docs/web-api.md "$stage/docs/"
(cd "$dir" && zip -qr "$name.zip" "$name")
rm -rf "$stage"
ls -l "$dir/$name.zip"
