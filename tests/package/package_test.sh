#!/usr/bin/env bash
# Builds the packages, runs lintian on them, unpacks them into a scratch root (dpkg -x) and runs the command
# line and a pkg-config consumer from there. Environment: SOURCE_DIR PACKAGE_BUILD VERSION.
set -euo pipefail
export LC_ALL=C.UTF-8
scratch=$(mktemp -d "${TMPDIR:-/tmp}/qorvex-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "package_test: $*" >&2
  exit 1
}

cmake -S "$SOURCE_DIR" -B "$PACKAGE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DQORVEX_WERROR=ON -DQORVEX_BUILD_TESTS=OFF -DQORVEX_BUILD_BENCH=OFF >/dev/null
ninja -C "$PACKAGE_BUILD" -j"$(nproc)" qorvex qorvex_cli lumast qorvex_man_pages lumast_icons >/dev/null
"$SOURCE_DIR/packaging/make_debs" "$PACKAGE_BUILD" "$scratch/debs" >/dev/null
arch=$(dpkg --print-architecture)
debs=()
for package in libqorvex1 libqorvex-dev qorvex lumast; do
  deb=$scratch/debs/${package}_${VERSION}_$arch.deb
  [ -f "$deb" ] || fail "no $deb"
  debs+=("$deb")
done

if command -v lintian >/dev/null; then
  lintian --fail-on error,warning --tag-display-limit 0 "${debs[@]}" || fail "lintian reports the above"
else
  echo "package_test: lintian is not installed (scripts/setup installs it): packages not checked by it"
fi

# Each package holds what its name says, and no file is in two of them.
contents() { dpkg-deb -c "$scratch/debs/${1}_${VERSION}_$arch.deb" | awk '$1 !~ /^d/ {print $6}'; }
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
expect_in() {
  local package=$1 path
  shift
  for path in "$@"; do
    contents "$package" | grep -qx "\./$path" || fail "$package does not hold $path"
  done
}
expect_in libqorvex1 "usr/lib/$multiarch/libqorvex.so.1.*" usr/share/doc/libqorvex1/copyright
expect_in libqorvex-dev usr/include/qorvex.h "usr/lib/$multiarch/libqorvex.so" \
  "usr/lib/$multiarch/pkgconfig/qorvex.pc" "usr/lib/$multiarch/cmake/qorvex/qorvexConfig.cmake"
expect_in qorvex usr/bin/qorvex usr/share/man/man1/qorvex.1.gz usr/share/bash-completion/completions/qorvex
expect_in lumast usr/bin/lumast usr/share/applications/lumast.desktop usr/share/man/man1/lumast.1.gz
duplicates=$(for p in libqorvex1 libqorvex-dev qorvex lumast; do contents "$p"; done | grep -v '/usr/share/doc/' |
  sort | uniq -d)
[ -z "$duplicates" ] || fail "in two packages: $duplicates"
dpkg-deb -f "$scratch/debs/qorvex_${VERSION}_$arch.deb" Depends | grep -q "libqorvex1 (>= $VERSION)" ||
  fail "qorvex does not depend on libqorvex1"
dpkg-deb -f "$scratch/debs/qorvex_${VERSION}_$arch.deb" Depends | grep -qi qt && fail "the command line pulls in Qt"

# Unpacked into a scratch root: the command line and a pkg-config consumer run from there on its library.
root=$scratch/root
for deb in "${debs[@]}"; do dpkg -x "$deb" "$root"; done
libdir=$root/usr/lib/$multiarch
sample=$SOURCE_DIR/samples/sample.iso
out=$(LD_LIBRARY_PATH=$libdir "$root/usr/bin/qorvex" --version)
[ "$out" = "qorvex $VERSION (engine version 100)" ] || fail "qorvex --version: $out"
LD_LIBRARY_PATH=$libdir "$root/usr/bin/qorvex" ls "$sample" | grep -q 'README.TXT' || fail "qorvex ls"
out=$(env -i "$root/usr/bin/lumast" --version)
[ "$out" = "lumast $VERSION" ] || fail "lumast --version: $out"

export PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$libdir/pkgconfig
[ "$(pkg-config --modversion qorvex)" = "$VERSION" ] || fail "pkg-config --modversion qorvex"
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Werror -o "$scratch/consumer" "$SOURCE_DIR/tests/install/consumer/consumer.c" \
  $(pkg-config --cflags --libs qorvex)
LD_LIBRARY_PATH=$libdir "$scratch/consumer" "$sample" | grep -qx 'file \\README.TXT 35' || fail "the consumer"

# Installed by dpkg into a root of its own and purged: nothing of them is left behind.
installed=$scratch/installed
mkdir -p "$installed/var/lib/dpkg/info" "$installed/var/lib/dpkg/updates"
touch "$installed/var/lib/dpkg/status" "$installed/var/lib/dpkg/available"
dpkg_root=(dpkg --root="$installed" --force-depends --force-script-chrootless --log=/dev/null)
"${dpkg_root[@]}" -i "${debs[@]}" >/dev/null 2>&1 || fail "dpkg -i into a scratch root"
[ -x "$installed/usr/bin/qorvex" ] || fail "dpkg -i installed no qorvex"
"${dpkg_root[@]}" --purge lumast qorvex libqorvex-dev libqorvex1 >/dev/null || fail "dpkg --purge"
left=$(find "$installed" -mindepth 1 ! -path "$installed/var" ! -path "$installed/var/lib" ! -path "$installed/var/lib/dpkg*")
[ -z "$left" ] || fail "left after dpkg --purge: $left"
