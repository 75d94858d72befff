#!/usr/bin/env bash
# The Debian package as `make deb` builds it, installed into a throw-away root
# with dpkg: the three programs, both units, the sysusers file, the example
# configuration as a conffile and the docs are where they belong, and the
# installed program runs. Skipped (77) without dpkg-deb or cpack.
set -euo pipefail
build_dir=$1
command -v dpkg-deb >/dev/null && command -v cpack >/dev/null || { echo "dpkg-deb or cpack missing"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build_dir" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/acserver_*.deb)
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The libraries the package depends on are on this host, not in the new root.
dpkg --root="$root" --force-depends --force-not-root --log=/dev/null -i "$deb" >/dev/null
for path in usr/bin/acserver usr/bin/acserver-unban usr/bin/acserver-bans \
            usr/lib/systemd/system/acserver.service usr/lib/systemd/system/acserver@.service \
            usr/lib/sysusers.d/acserver.conf etc/acserver/zelk_config.example.txt \
            usr/share/doc/acserver/operations.md usr/share/acserver/grafana-dashboard.json \
            usr/share/acserver/acserver-alerts.yml; do
  [ -e "$root/$path" ] || { echo "missing after install: /$path"; exit 1; }
done
grep -qx "/etc/acserver/zelk_config.example.txt" "$root/var/lib/dpkg/info/acserver.conffiles" \
  || { echo "the example configuration is no conffile"; exit 1; }
dpkg-deb -f "$deb" Depends | grep -q libmicrohttpd || { echo "no library dependencies"; exit 1; }
version=$("$root/usr/bin/acserver" --version)
echo "$version" | grep -q "4\." || { echo "acserver --version said: $version"; exit 1; }
echo "installed $(basename "$deb"): $version"
