#!/usr/bin/env bash
# The packages built, checked by lintian, unpacked (dpkg -x) to run the command line and a pkg-config consumer,
# installed and purged. Environment: SOURCE_DIR PACKAGE_BUILD VERSION.
set -euo pipefail
export LC_ALL=C.UTF-8
scratch=$(mktemp -d "${TMPDIR:-/tmp}/qorvex-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package_test: $*" >&2 && exit 1; }

cmake -S "$SOURCE_DIR" -B "$PACKAGE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DQORVEX_WERROR=ON -DQORVEX_BUILD_TESTS=OFF -DQORVEX_BUILD_BENCH=OFF >/dev/null
ninja -C "$PACKAGE_BUILD" -j"$(nproc)" qorvex qorvex_cli lumast qorvex_man_pages lumast_icons
"$SOURCE_DIR/packaging/make_debs" "$PACKAGE_BUILD" "$scratch/debs" >/dev/null
arch=$(dpkg --print-architecture)
debs=("$scratch/debs/"{libqorvex1,libqorvex-dev,qorvex,lumast}"_${VERSION}_$arch.deb"
  "$scratch/debs/python3-qorvex_${VERSION}_all.deb")
ls "${debs[@]}" >/dev/null || fail "packages missing"

if command -v lintian >/dev/null; then
  lintian --fail-on error,warning --tag-display-limit 0 "${debs[@]}" || fail "lintian reports the above"
else
  echo "package_test: lintian is not installed (scripts/setup installs it): packages not checked by it"
fi

# The command line depends on the library package, not on Qt. (Files in two packages fail dpkg -i below.)
depends=$(dpkg-deb -f "$scratch/debs/qorvex_${VERSION}_$arch.deb" Depends)
[[ $depends == *"libqorvex1 (>= $VERSION)"* && $depends != *qt* ]] || fail "qorvex depends on $depends"
depends=$(dpkg-deb -f "$scratch/debs/python3-qorvex_${VERSION}_all.deb" Depends)
[ "$depends" = "libqorvex1 (= $VERSION), python3" ] || fail "python3-qorvex depends on $depends"

# Unpacked into a scratch root: the command line and a pkg-config consumer run from there on its library.
root=$scratch/root
for deb in "${debs[@]}"; do dpkg -x "$deb" "$root"; done
libdir=$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
sample=$SOURCE_DIR/samples/sample.iso
[ "$(LD_LIBRARY_PATH=$libdir "$root/usr/bin/qorvex" --version)" = "qorvex $VERSION (engine version 100)" ] || fail "qorvex"
LD_LIBRARY_PATH=$libdir "$root/usr/bin/qorvex" ls "$sample" | grep -q 'README.TXT' || fail "qorvex ls"
[ "$(env -i "$root/usr/bin/lumast" --version)" = "lumast $VERSION" ] || fail "lumast --version"
# The module from the root, on the library the loader finds there (the system's search, as installed), indexes
# the sample as the command line does.
python_root=$root/usr/lib/python3/dist-packages
[ -f "$python_root/qorvex/py.typed" ] || fail "python3-qorvex has no py.typed"
module_line=$(cd / && env -u QORVEX_LIBRARY LD_LIBRARY_PATH="$libdir" PYTHONPATH="$python_root" PYTHONDONTWRITEBYTECODE=1 \
  python3 -c 'import sys, qorvex; sys.stdout.write(qorvex.index_line(sys.argv[1]))' "$sample") || fail "import qorvex"
[ "$module_line" = "$(LD_LIBRARY_PATH=$libdir "$root/usr/bin/qorvex" index "$sample")" ] || fail "the module's index line"
[[ $module_line == *'"path":"\\README.TXT"'* ]] || fail "the module's index line lists no README.TXT"

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
"${dpkg_root[@]}" --purge python3-qorvex lumast qorvex libqorvex-dev libqorvex1 >/dev/null || fail "dpkg --purge"
left=$(find "$installed" -mindepth 1 ! -path "$installed/var" ! -path "$installed/var/lib" ! -path "$installed/var/lib/dpkg*")
[ -z "$left" ] || fail "left after dpkg --purge: $left"
