#!/usr/bin/env bash
# cmake --install into an empty prefix: the files a packager expects, each in its place; then
# a C caller built with pkg-config and one built with find_package(Vellum), each signing and
# verifying through the installed library, which the installed command registers.
#
#   install_test.sh BUILD_DIR LIBDIR WITH_DESK(0|1)
set -euo pipefail
build=$1 libdir=$2 desk=$3
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${VELLUM_TEST_TMP:-${TMPDIR:-/tmp}}/install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" || {
  cat "$scratch/install.log"; fail "cmake --install"; }
(cd "$prefix" && find . -type f -o -type l | sort)

expected=(
  bin/vellum
  "$libdir/libvellum.so.1" "$libdir/libvellum.so"
  "$libdir/libvellum-client.so.1" "$libdir/libvellum-client.so"
  include/vellum/vellum.h include/vellum/types.h include/vellum/types_c.h
  include/vellum/interfaces_c.h include/vellum/host.h include/vellum/client.h
  include/vellum/version.h include/vellum/vellum.idl
  "$libdir/pkgconfig/vellum.pc"
  "$libdir/cmake/Vellum/VellumConfig.cmake" "$libdir/cmake/Vellum/VellumConfigVersion.cmake"
  "$libdir/cmake/Vellum/VellumTargets.cmake"
  share/man/man1/vellum.1 share/bash-completion/completions/vellum
)
if [ "$desk" = 1 ]; then
  expected+=(bin/moravel-verify share/man/man1/moravel-verify.1
    share/applications/moravel-verify.desktop share/mime/packages/moravel-verify.xml
    share/icons/hicolor/scalable/apps/moravel-verify.svg)
fi
for f in "${expected[@]}"; do [ -e "$prefix/$f" ] || fail "missing $f"; done
[ "$(readlink "$prefix/$libdir/libvellum.so")" = libvellum.so.1 ] || fail "libvellum.so link"
dynamic=$(objdump -p "$prefix/$libdir/libvellum.so.1")
grep -q 'SONAME *libvellum\.so\.1$' <<<"$dynamic" || fail "soname of libvellum"
if [ "$desk" = 1 ]; then
  grep -q '^Exec=moravel-verify %f$' "$prefix/share/applications/moravel-verify.desktop" ||
    fail "the desktop entry takes no file"
fi
grep -q 'thumbprint' "$prefix/share/man/man1/vellum.1" || fail "vellum(1) lacks --thumbprint"

# A C caller built as the package's users build one.
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Werror -o "$scratch/by-pkg-config" "$here/sign_and_verify.c" \
  $(pkg-config --define-variable=prefix="$prefix" --cflags --libs vellum) || fail "build with pkg-config"
mkdir -p "$scratch/caller"
cat >"$scratch/caller/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(caller C)
find_package(Vellum 1 REQUIRED)
add_executable(by-find-package "$here/sign_and_verify.c")
set_property(TARGET by-find-package PROPERTY C_STANDARD 11)
target_link_libraries(by-find-package PRIVATE Vellum::vellum)
CMAKE
cmake -S "$scratch/caller" -B "$scratch/caller/build" -DCMAKE_PREFIX_PATH="$prefix" \
  >"$scratch/caller.log" || { cat "$scratch/caller.log"; fail "find_package(Vellum)"; }
cmake --build "$scratch/caller/build" >>"$scratch/caller.log" || {
  cat "$scratch/caller.log"; fail "build with find_package"; }

export LD_LIBRARY_PATH=$prefix/$libdir
bash "$here/round_trip.sh" --prefix "$prefix/bin/vellum" "$scratch/by-pkg-config"
bash "$here/round_trip.sh" --prefix "$prefix/bin/vellum" "$scratch/caller/build/by-find-package"
echo "install test: passed"
