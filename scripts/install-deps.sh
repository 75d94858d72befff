#!/usr/bin/env bash
# Installs what building and testing acserver needs on a fresh Debian machine:
# the compiler, CMake, GoogleTest, libmicrohttpd for the web console (and
# cpp-httplib, the tests' HTTP client, with the openssl tool for their
# certificate), SQLite for the ban records, libsodium
# for the console's password hashes, libcurl and the CA certificates for the
# notifications, libpq and a
# PostgreSQL server for the shared ban base and its tests, the locales that the
# stamp tests use, ss (iproute2) for the demo's port check, Chromium for the
# web console's browser test, promtool (Debian's prometheus package) for the
# check of /metrics, and gcc-multilib/g++-multilib for the 32-bit game server of
# the engine tests. With --run only what building the programs and the
# demo's simulators needs (`make run`). With --fuzz also clang and its
# libFuzzer runtime, for scripts/fuzz.sh (CI); the program and `make test`
# never need them.
# Idempotent and quick when everything is already there.
set -euo pipefail

mode=${1:-}
need=()
need_bare=()
# What building the programs and the simulators needs (`make run` installs
# only this, with --run).
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v make >/dev/null 2>&1 || need+=(make)
command -v pkg-config >/dev/null 2>&1 || need+=(pkg-config)
[ -f /usr/include/microhttpd.h ] || need+=(libmicrohttpd-dev)
# The shared ban base is built with libpq.
[ -f /usr/include/postgresql/libpq-fe.h ] || need+=(libpq-dev)
# The local record base of bans (acserver.db) is an SQLite database.
[ -f /usr/include/sqlite3.h ] || need+=(libsqlite3-dev)
# The web console's accounts keep argon2id password hashes (libsodium).
[ -f /usr/include/sodium.h ] || need+=(libsodium-dev)
# The notifications to the admins' chat are posted with libcurl; HTTPS
# receivers are checked against the system's certificates.
ls /usr/include/*/curl/curl.h >/dev/null 2>&1 || need+=(libcurl4-openssl-dev)
[ -f /etc/ssl/certs/ca-certificates.crt ] || need+=(ca-certificates)
# make run checks with ss that the demo's ports are free before it starts.
command -v ss >/dev/null 2>&1 || need+=(iproute2)

if [ "$mode" = "--windows" ]; then
  # The Windows build (make windows, make windows-test): the mingw-w64 cross
  # compiler with POSIX threads, wine to run the result, dpkg-source for
  # Debian's source packages of the Windows libraries, zip for the
  # admin's archive.
  command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64-posix)
  command -v wine >/dev/null 2>&1 || need+=(wine wine64)
  command -v dpkg-source >/dev/null 2>&1 || need+=(dpkg-dev)
  command -v zip >/dev/null 2>&1 || need+=(zip)
fi
if [ "$mode" != "--run" ] && [ "$mode" != "--windows" ]; then
  # The tests: GoogleTest, and cpp-httplib's client for the web console.
  [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
  [ -f /usr/include/httplib.h ] || need+=(libcpp-httplib-dev)
  # The HTTPS test of the web console makes a throw-away certificate with the
  # openssl tool (cpp-httplib's client speaks TLS through libssl).
  command -v openssl >/dev/null 2>&1 || need+=(openssl)
  # A PostgreSQL server for the shared base's tests (they start a throw-away
  # cluster of their own).
  ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || need+=(postgresql)
  command -v localedef >/dev/null 2>&1 || need+=(locales)
  # The check that docs/operations.md lists every line the programs write.
  command -v python3 >/dev/null 2>&1 || need+=(python3)
  # The browser test of the web console (tests/web/browser_test.cpp) loads the
  # page in headless Chromium; without it that test is skipped.
  command -v chromium >/dev/null 2>&1 || need+=(chromium)
  # The engine tests build a real 32-bit game server (ReHLDS, ../shared/engine).
  dpkg -s gcc-multilib >/dev/null 2>&1 || need+=(gcc-multilib)
  dpkg -s g++-multilib >/dev/null 2>&1 || need+=(g++-multilib)
  # The Debian package test installs the .deb into a throw-away root.
  command -v dpkg-deb >/dev/null 2>&1 || need+=(dpkg)
  # promtool checks the real program's /metrics (tests/web/web_api_test.cpp)
  # and the alert rules in packaging/; Debian ships it only in the whole
  # prometheus package (about 20 MB), whose recommended node exporter is not
  # wanted here. Without it those tests are skipped.
  command -v promtool >/dev/null 2>&1 || need_bare+=(prometheus)
fi
if [ "$mode" = "--fuzz" ]; then
  command -v clang++ >/dev/null 2>&1 || need+=(clang)
  if ! command -v clang++ >/dev/null 2>&1 ||
     [ ! -f "$(clang++ -print-file-name="libclang_rt.fuzzer-$(uname -m).a")" ]; then
    need+=(libclang-rt-dev)
  fi
fi

if [ $((${#need[@]} + ${#need_bare[@]})) -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing ${need[*]} ${need_bare[*]}; run as root or install them with apt-get" >&2
    exit 1
  fi
  echo "install-deps: installing ${need[*]} ${need_bare[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  [ ${#need[@]} -eq 0 ] || apt-get install -y -qq "${need[@]}" >/dev/null
  if [ ${#need_bare[@]} -gt 0 ]; then
    apt-get install -y -qq --no-install-recommends "${need_bare[@]}" >/dev/null
    # The package enables and starts a Prometheus server (port 9090); only its
    # promtool is wanted, and nothing else asked for that server.
    if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
      systemctl disable --now prometheus >/dev/null 2>&1 || true
    fi
  fi
fi

# The date and time stamps follow the locale; the tests compare three of them.
# A locale that cannot be made here is skipped by the tests with a message.
if [ "$mode" != "--run" ] && [ "$mode" != "--windows" ] && [ "$(id -u)" -eq 0 ]; then
  for loc in en_US ru_RU; do
    if ! locale -a 2>/dev/null | grep -qi "^${loc}\.utf-\?8$"; then
      localedef -i "$loc" -f UTF-8 "${loc}.UTF-8" 2>/dev/null || echo "install-deps: could not generate ${loc}.UTF-8" >&2
    fi
  done
fi
