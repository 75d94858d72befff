#!/usr/bin/env bash
# Builds the Windows (x86_64, mingw-w64) libraries that acserver links against
# -- SQLite, libmicrohttpd, libsodium, libcurl, GoogleTest/GoogleMock and libpq --
# from Debian's bookworm source packages, with Debian's patches applied, into
# one prefix for cmake/mingw-w64.cmake (ACSERVER_WINDOWS_DEPS). Nothing is
# downloaded from anywhere but the Debian archive, through apt: every version
# is pinned and every .dsc must match the SHA-256 held below (dpkg-source then
# checks the tarballs against the .dsc), so a build cannot silently pick up
# other code.
#
# Everything but libpq is built as static libraries only: the Windows
# programs are linked with -static, so each .exe carries its libraries (no DLL
# search-path surprises on the admin's server, nothing to keep in step when
# copying a program over). libpq is a DLL, the only way PostgreSQL's build
# makes it for Windows; it ships beside the programs.
#
# The prefix is ${ACSERVER_WINDOWS_DEPS:-$XDG_CACHE_HOME/acserver/windows-deps/<key>},
# <key> being a hash of this script: an unchanged script reuses its finished
# prefix at once, a changed one builds a new prefix. A prefix counts as
# finished only once its stamp is written; the libraries are installed into a
# staging directory that is renamed into place at the end, then linked and run
# (under wine, when present) in a small check program before the stamp.
#
# Prints the prefix as the last line of stdout; progress goes to stderr, each
# library's build output to its own log (its end is shown when it fails).
# JOBS sets the make parallelism (default: the number of processors).
set -euo pipefail

script=$(readlink -f "${BASH_SOURCE[0]}")
root=$(cd "$(dirname "$script")/.." && pwd)
toolchain=$root/cmake/mingw-w64.cmake
key=$(sha256sum "$script" | cut -c1-12)
prefix=$(realpath -m "${ACSERVER_WINDOWS_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/acserver/windows-deps/$key}")
jobs=${JOBS:-$(nproc)}
host=x86_64-w64-mingw32
cc=$host-gcc-posix
stamp_name=.windows-deps-stamp

# Source packages: name, version (as in bookworm) and the SHA-256 of its .dsc.
sources=(
  "sqlite3       3.40.1-2+deb12u2   ee3459ae9d00939741c7708fc1b8ce1bde12d8c3fb1dfa005bbbc8651d884e23"
  "libmicrohttpd 0.9.75-6           c0f8a9cd77c41285d2d48fc68bbee2e460a55042fcd5d3f6b9946c017d4b6846"
  "libsodium     1.0.18-1+deb12u1   2c23c57b5a9385dab5a1916014c9b5f2cdd7dadeb8a35b28c1bfb603ce7095c4"
  "curl          7.88.1-10+deb12u15 2744f12e3aef161c0361743fa1b318296b122e566e47f381e4a63320fbcc23f4"
  "googletest    1.12.1-0.2         cc90251040c145be18d5090787d9ec79e48217c6cef3ae78eb20f0e31551404c"
  "postgresql-15 15.18-0+deb12u1    d940b57dd029ef0712212164410fcb51854c883f3fc0c3a11486acdfd2ca5947"
)
# What building needs on the Linux side: dpkg-source, the cross compilers,
# the build tools, autoreconf for libsodium (its Debian source has no
# configure script), and a native compiler plus tclsh for SQLite's
# amalgamation generator.
build_packages=(dpkg-dev g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix make cmake pkg-config
                autoconf automake libtool gcc libc6-dev tcl)
src_list=/etc/apt/sources.list.d/acserver-src.sources

log() { echo "windows-deps: $*" >&2; }
die() { log "$*"; exit 1; }

is_finished() { [ "$(cat "$1/$stamp_name" 2>/dev/null)" = "$key" ]; }

if is_finished "$prefix"; then
  echo "$prefix"
  exit 0
fi

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    die "need root for: $*"
  fi
}

# One build at a time per prefix; the second waits and then finds it done.
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if is_finished "$prefix"; then
  echo "$prefix"
  exit 0
fi

started=$SECONDS

missing=()
for p in "${build_packages[@]}"; do
  dpkg-query -W -f '${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done

sources_known() {
  local name version sum
  for entry in "${sources[@]}"; do
    read -r name version sum <<<"$entry"
    apt-cache showsrc --only-source "$name" 2>/dev/null | grep -qxF "Version: $version" || return 1
  done
}

if ! sources_known; then
  if [ ! -e "$src_list" ]; then
    log "adding $src_list (deb-src for bookworm)"
    printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm' \
      'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
      as_root tee "$src_list" >/dev/null
  fi
  log "apt-get update"
  as_root apt-get update -qq >&2
  sources_known || die "the pinned source versions are no longer in the archive: update the versions and .dsc checksums in $script"
fi
if [ ${#missing[@]} -gt 0 ]; then
  log "installing ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/acserver-windows-deps.XXXXXX")
logs=$work/logs
mkdir -p "$logs" "$work/src"
stage=$(dirname "$prefix")/.$(basename "$prefix").part.$$
dest=$stage$prefix   # make install DESTDIR=$stage puts the files here
keep_work=1
cleanup() {
  rm -rf "$stage"
  if [ "$keep_work" = 1 ]; then log "build tree and logs kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# Runs one build step in a subshell with its output in $logs/<name>.log; on
# failure shows the log's end and stops.
step() {
  local name=$1 t0=$SECONDS rc
  shift
  log "$name ..."
  set +e
  (set -e; "$@") >"$logs/$name.log" 2>&1
  rc=$?
  set -e
  if [ $rc -ne 0 ]; then
    log "$name failed; the end of $logs/$name.log:"
    tail -n 80 "$logs/$name.log" >&2
    exit 1
  fi
  log "$name done in $((SECONDS - t0)) s"
}

fetch() {
  cd "$work/src"
  # apt's download sandbox user must be able to write here.
  if [ "$(id -u)" -eq 0 ] && id _apt >/dev/null 2>&1; then
    chmod 755 "$work"
    chown _apt "$work/src"
  fi
  local name version sum specs=()
  for entry in "${sources[@]}"; do
    read -r name version sum <<<"$entry"
    specs+=("$name=$version")
  done
  apt-get source --download-only --only-source "${specs[@]}"
  for entry in "${sources[@]}"; do
    read -r name version sum <<<"$entry"
    echo "$sum  ${name}_$version.dsc" | sha256sum -c - ||
      { echo "${name}_$version.dsc does not have the expected SHA-256" >&2; exit 1; }
    dpkg-source -x "${name}_$version.dsc" "$name"
  done
}

# The amalgamation (sqlite3.c) is generated by native tools, then compiled
# once with the cross compiler. The options follow Debian's own build where
# they change behaviour; load_extension and FTS are left out, the programs
# need neither.
build_sqlite3() {
  mkdir "$work/sqlite3-gen" && cd "$work/sqlite3-gen"
  "$work/src/sqlite3/configure" --disable-tcl --disable-readline --disable-load-extension
  make -j"$jobs" sqlite3.c
  $cc -O2 -fno-strict-aliasing -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION \
    -DSQLITE_SECURE_DELETE -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_UNLOCK_NOTIFY \
    -DSQLITE_LIKE_DOESNT_MATCH_BLOBS -DSQLITE_USE_URI=1 -DSQLITE_MAX_SCHEMA_RETRY=25 \
    -DSQLITE_MAX_VARIABLE_NUMBER=250000 -DSQLITE_ENABLE_MATH_FUNCTIONS \
    -c sqlite3.c -o sqlite3.o
  mkdir -p "$dest/lib/pkgconfig" "$dest/include"
  rm -f "$dest/lib/libsqlite3.a"
  $host-ar rcs "$dest/lib/libsqlite3.a" sqlite3.o
  cp sqlite3.h sqlite3ext.h "$dest/include/"
  local version
  version=$(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' sqlite3.h)
  cat >"$dest/lib/pkgconfig/sqlite3.pc" <<EOF
prefix=$prefix
exec_prefix=\${prefix}
libdir=\${exec_prefix}/lib
includedir=\${prefix}/include

Name: SQLite
Description: SQL database engine
Version: $version
Libs: -L\${libdir} -lsqlite3
Cflags: -I\${includedir}
EOF
}

# Plain HTTP with Windows threads (configure's --with-threads=w32 check is
# broken in 0.9.75; "auto" picks w32 threads for a native Windows host, which
# is checked below).
build_libmicrohttpd() {
  mkdir "$work/mhd" && cd "$work/mhd"
  "$work/src/libmicrohttpd/configure" --host=$host --build="$(gcc -dumpmachine)" CC=$cc CFLAGS=-O2 \
    --prefix="$prefix" --disable-shared --enable-static --disable-dependency-tracking \
    --disable-https --without-gnutls --with-threads=auto --disable-doc --disable-examples \
    --disable-curl --disable-nls
  grep -q 'Threading lib: *w32' config.log || { echo "configure did not choose W32 threads" >&2; exit 1; }
  make -j"$jobs" -C src/microhttpd
  make -C src/microhttpd install DESTDIR="$stage"
  make -C src/include install DESTDIR="$stage"
  make install-pkgconfigDATA DESTDIR="$stage"
  # The library needs Winsock; its .pc leaves that out. This prefix is
  # static only, so the system libraries belong in Libs.
  sed -i 's/^Libs: .*/& -lws2_32/' "$dest/lib/pkgconfig/libmicrohttpd.pc"
}

build_libsodium() {
  cd "$work/src/libsodium"
  autoreconf -fi
  mkdir "$work/sodium" && cd "$work/sodium"
  "$work/src/libsodium/configure" --host=$host --build="$(gcc -dumpmachine)" CC=$cc CFLAGS=-O2 \
    --prefix="$prefix" --disable-shared --enable-static --disable-dependency-tracking
  make -j"$jobs" -C src/libsodium
  make -C src/libsodium install DESTDIR="$stage"
  make install-pkgconfigDATA DESTDIR="$stage"
}

# HTTP and HTTPS only, TLS through Windows' schannel (the system's certificate
# store), name resolution in Windows threads, no optional libraries. The
# shipped configure is used as is (maintainer mode is off): Debian's patches
# to configure.ac and Makefile.am only concern its Linux flavours, the ones to
# lib/ are compiled in.
build_curl() {
  mkdir "$work/curl" && cd "$work/curl"
  "$work/src/curl/configure" --host=$host --build="$(gcc -dumpmachine)" CC=$cc CFLAGS=-O2 \
    --prefix="$prefix" --disable-shared --enable-static --disable-dependency-tracking \
    --with-schannel --without-openssl --without-gnutls --without-wolfssl --without-mbedtls \
    --without-bearssl --without-rustls --without-nss \
    --without-libpsl --without-brotli --without-zstd --without-zlib --without-nghttp2 \
    --without-nghttp3 --without-ngtcp2 --without-quiche --without-msh3 --without-libidn2 \
    --without-winidn --without-libssh2 --without-libssh --without-wolfssh --without-librtmp \
    --without-libgsasl --without-gssapi --without-hyper --without-ca-bundle --without-ca-path \
    --disable-pthreads --enable-threaded-resolver --disable-manual \
    --disable-ldap --disable-ldaps --disable-rtsp --disable-dict --disable-telnet --disable-tftp \
    --disable-pop3 --disable-imap --disable-smb --disable-smtp --disable-gopher --disable-mqtt \
    --disable-ftp --disable-file
  make -j"$jobs" -C lib
  make -C lib install DESTDIR="$stage"
  make -C include install DESTDIR="$stage"
  make install-pkgconfigDATA DESTDIR="$stage"
}

# The PostgreSQL client library alone, for the shared ban base, from the
# server's source: PostgreSQL's build makes libpq for Windows only as a DLL
# (libpq.dll, with its import library), which ships beside the programs.
# Without TLS (no OpenSSL for Windows here) and without the optional
# libraries the client does not need.
build_libpq() {
  mkdir "$work/pg" && cd "$work/pg"
  "$work/src/postgresql-15/configure" --host=$host --build="$(gcc -dumpmachine)" CC=$cc CFLAGS=-O2 \
    --prefix="$prefix" --without-readline --without-zlib --without-icu --without-openssl \
    --without-ldap --without-gssapi --without-perl --without-python --without-tcl --without-llvm
  make -j"$jobs" -C src/include
  make -j"$jobs" -C src/common
  make -j"$jobs" -C src/port
  make -j"$jobs" -C src/interfaces/libpq
  make -C src/include install DESTDIR="$stage"
  make -C src/interfaces/libpq install DESTDIR="$stage"
}

build_googletest() {
  cmake -S "$work/src/googletest" -B "$work/gtest" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DACSERVER_WINDOWS_DEPS="$dest" -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  cmake --build "$work/gtest" -j "$jobs"
  DESTDIR="$stage" cmake --install "$work/gtest"
}

# Links one call into each library the way the project's CMake finds them
# (pkg-config modules, find_package(GTest)), then runs it under wine.
check_prefix() {
  mkdir "$work/check" && cd "$work/check"
  cat >CMakeLists.txt <<'EOF'
cmake_minimum_required(VERSION 3.16)
project(windows_deps_check CXX)
find_package(PkgConfig REQUIRED)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(MICROHTTPD REQUIRED IMPORTED_TARGET libmicrohttpd)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
pkg_check_modules(LIBCURL REQUIRED IMPORTED_TARGET libcurl)
find_package(GTest REQUIRED)
add_executable(check check.cpp)
target_compile_features(check PRIVATE cxx_std_20)
target_link_libraries(check PRIVATE GTest::gmock GTest::gtest PkgConfig::LIBCURL PkgConfig::MICROHTTPD
                                    PkgConfig::SODIUM PkgConfig::SQLITE3)
EOF
  cat >check.cpp <<'EOF'
#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <microhttpd.h>
#include <sodium.h>
#include <sqlite3.h>

#include <cstring>
#include <string>

namespace {

MHD_Result Answer(void*, MHD_Connection* connection, const char*, const char*, const char*, const char*, size_t*,
                  void**) {
  static char body[] = "ok";
  MHD_Response* response = MHD_create_response_from_buffer(2, body, MHD_RESPMEM_PERSISTENT);
  MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return result;
}

size_t Collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

TEST(WindowsDeps, SqliteIsThreadSafeAndWorks) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_threadsafe(), 1);
  EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES (1);", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

TEST(WindowsDeps, SodiumHashesPasswords) {
  ASSERT_GE(sodium_init(), 0);
  char hash[crypto_pwhash_STRBYTES];
  ASSERT_EQ(crypto_pwhash_str(hash, "secret", 6, crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE), 0);
  EXPECT_EQ(crypto_pwhash_str_verify(hash, "secret", 6), 0);
  EXPECT_NE(crypto_pwhash_str_verify(hash, "wrong", 5), 0);
}

// A request from libcurl to the daemon over loopback: both libraries'
// sockets and threads work.
TEST(WindowsDeps, CurlFetchesFromMicrohttpd) {
  MHD_Daemon* daemon = MHD_start_daemon(MHD_USE_AUTO_INTERNAL_THREAD | MHD_USE_ERROR_LOG, 0, nullptr, nullptr,
                                        &Answer, nullptr, MHD_OPTION_THREAD_POOL_SIZE, 2u, MHD_OPTION_END);
  ASSERT_NE(daemon, nullptr);
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK);
  CURL* curl = curl_easy_init();
  ASSERT_NE(curl, nullptr);
  std::string body;
  std::string url = "http://127.0.0.1:" + std::to_string(info->port) + "/";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 10000L);
  EXPECT_EQ(curl_easy_perform(curl), CURLE_OK);
  EXPECT_EQ(body, "ok");
  curl_easy_cleanup(curl);
  curl_global_cleanup();
  MHD_stop_daemon(daemon);
}

TEST(WindowsDeps, CurlSpeaksTlsThroughSchannel) {
  const curl_version_info_data* version = curl_version_info(CURLVERSION_NOW);
  EXPECT_THAT(std::string(version->ssl_version), testing::HasSubstr("Schannel"));
  EXPECT_NE(version->features & CURL_VERSION_ASYNCHDNS, 0);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
EOF
  cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DACSERVER_WINDOWS_DEPS="$prefix" \
    -DCMAKE_BUILD_TYPE=Release
  cmake --build build -j "$jobs"
  if command -v wine >/dev/null 2>&1; then
    WINEDEBUG=-all timeout 300 wine build/check.exe
  else
    echo "wine is not installed: the check program was linked but not run" >&2
  fi
}

step fetch fetch
step sqlite3 build_sqlite3
step libmicrohttpd build_libmicrohttpd
step libsodium build_libsodium
step curl build_curl
step googletest build_googletest
step libpq build_libpq

# libtool archives only name paths of this build; nothing here reads them.
rm -f "$dest"/lib/*.la
mkdir -p "$dest/share/windows-deps"
cp "$logs"/*.log "$dest/share/windows-deps/"
if [ -e "$prefix" ]; then
  mv "$prefix" "$stage.old"
  rm -rf "$stage.old"
fi
mv "$dest" "$prefix"

step check check_prefix
cp "$logs/check.log" "$prefix/share/windows-deps/"
echo "$key" >"$prefix/$stamp_name"
keep_work=0
log "finished in $((SECONDS - started)) s: $prefix"
echo "$prefix"
