#!/usr/bin/env bash
# Installs the build into a private prefix and checks the result the way its users meet it: a third-party
# program built against the library, the programs run from the prefix, the desktop entry, MIME types, man
# pages and shell completion checked by the desktop's own tools.
#
# install_test.sh CASE; the environment names the build (set by tests/install/CMakeLists.txt):
#   BUILD_DIR SOURCE_DIR PREFIX LIBDIR BINDIR DATADIR MANDIR VERSION SONAME LIBRARY_VERSION CLI HAVE_LUMAST PYTHONDIR
set -euo pipefail
export LC_ALL=C.UTF-8

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qorvex-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
sample=$SOURCE_DIR/samples/sample.iso
# fail, expect_lines, loaded_engine, make_typed_samples, complete_words
. "$SOURCE_DIR/tests/support/harness/install_helpers.sh"

# The files the engine lists on the sample image, as the consumer prints them.
expect_sample_listing() {
  expect_lines "$1" "tracks 1" "kind 2 label QORVEX_SAMPLE sectors 477 bytes 976896" "file \\README.TXT 35" \
    "file \\music\\track.dat 70000"
}

case_prefix() {
  rm -rf "$PREFIX"
  cmake --install "$BUILD_DIR" --prefix "$PREFIX" >/dev/null
  local lib=$PREFIX/$LIBDIR
  [ "$(readlink "$lib/libqorvex.so")" = "$SONAME" ] || fail "libqorvex.so does not link to $SONAME"
  [ -f "$lib/libqorvex.so.$LIBRARY_VERSION" ] || fail "no libqorvex.so.$LIBRARY_VERSION"
  readelf -d "$lib/$SONAME" | grep -q "Library soname: \[$SONAME\]" || fail "the library's soname is not $SONAME"
  for f in "$PREFIX"/include/qorvex.h "$PREFIX"/include/qorvex_ext.h "$lib/pkgconfig/qorvex.pc" \
    "$lib/cmake/qorvex/qorvexConfig.cmake" "$PREFIX/$BINDIR/qorvex"; do
    [ -f "$f" ] || fail "$f was not installed"
  done
  # Nothing of the source or build tree is named by the installed tree. Debug information names the
  # compiler's include folders by nature (packagers split it off), so programs are looked at without it.
  local view=$scratch/view f
  mkdir -p "$view"
  cp -a "$PREFIX/." "$view/"
  find "$view" -type f | while read -r f; do
    if [ "$(head -c4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ]; then objcopy --strip-debug "$f"; fi
  done
  if grep -rlE "$SOURCE_DIR/include|$BUILD_DIR/(bin|generated)" "$view"; then
    fail "installed files name the source or build tree"
  fi
}

case_pkgconfig() {
  export PKG_CONFIG_PATH=$PREFIX/$LIBDIR/pkgconfig
  [ "$(pkg-config --modversion qorvex)" = "$VERSION" ] || fail "pkg-config reports another version"
  # shellcheck disable=SC2046
  cc -std=c11 -Wall -Wextra -Werror -pedantic -o "$scratch/consumer" "$SOURCE_DIR/tests/install/consumer/consumer.c" \
    $(pkg-config --cflags --libs qorvex)
  local out
  out=$(LD_LIBRARY_PATH=$PREFIX/$LIBDIR "$scratch/consumer" "$sample")
  expect_sample_listing "$out"
  [ "$(loaded_engine env LD_LIBRARY_PATH="$PREFIX/$LIBDIR" "$scratch/consumer" "$sample")" = \
    "$(readlink -f "$PREFIX/$LIBDIR/$SONAME")" ] || fail "the consumer did not load the installed library"
}

case_cmake_package() {
  cmake -S "$SOURCE_DIR/tests/install/consumer" -B "$scratch/build" -G Ninja -DCMAKE_PREFIX_PATH="$PREFIX" \
    -DQORVEX_EXPECTED_VERSION="$VERSION" >/dev/null
  cmake --build "$scratch/build" >/dev/null
  expect_sample_listing "$("$scratch/build/consumer" "$sample")"
  # A release the installed one is not compatible with is refused.
  if cmake -S "$SOURCE_DIR/tests/install/consumer" -B "$scratch/newer" -G Ninja -DCMAKE_PREFIX_PATH="$PREFIX" \
    -DQORVEX_EXPECTED_VERSION=999.0 >/dev/null 2>&1; then
    fail "find_package(qorvex 999.0) accepted release $VERSION"
  fi
}

case_programs() {
  local engine
  engine=$(readlink -f "$PREFIX/$LIBDIR/$SONAME")
  # The command-line program runs from the prefix as it lies, on the installed library.
  local out
  out=$(env -u LD_LIBRARY_PATH "$PREFIX/$BINDIR/qorvex" --version)
  [ "$out" = "qorvex $VERSION (engine version 100)" ] || fail "qorvex --version printed \"$out\""
  [ "$(loaded_engine env -u LD_LIBRARY_PATH "$PREFIX/$BINDIR/qorvex" info "$sample")" = "$engine" ] ||
    fail "the installed qorvex did not load the installed library"
  [ "$HAVE_LUMAST" = 1 ] || return 0

  # --version and --help answer without a display: a window would need one.
  local -a no_display=(env -i PATH=/usr/bin:/bin HOME="$scratch")
  out=$("${no_display[@]}" "$PREFIX/$BINDIR/lumast" --version)
  [ "$out" = "lumast $VERSION" ] || fail "lumast --version printed \"$out\""
  "${no_display[@]}" "$PREFIX/$BINDIR/lumast" --help | grep -q -- "--version" || fail "lumast --help"

  # lumast, started as the desktop starts it (the entry's Exec line), finds the installed engine.
  local exec
  exec=$(sed -n 's/^Exec=//p' "$PREFIX/$DATADIR/applications/lumast.desktop")
  exec=${exec//%f/$sample}
  mkdir -p "$scratch/config"
  local -a desktop_env=(env -u LD_LIBRARY_PATH PATH="$PREFIX/$BINDIR:/usr/bin:/bin" HOME="$scratch"
    XDG_CONFIG_HOME="$scratch/config" QT_QPA_PLATFORM=offscreen)
  # shellcheck disable=SC2086
  [ "$(loaded_engine "${desktop_env[@]}" $exec)" = "$engine" ] || fail "lumast did not load $engine"

  # A program folder that holds the library itself (the build folder's layout) is searched first.
  mkdir -p "$scratch/beside"
  cp "$PREFIX/$BINDIR/lumast" "$scratch/beside/"
  cp "$BUILD_DIR/bin/$SONAME" "$scratch/beside/"
  [ "$(loaded_engine "${desktop_env[@]}" "$scratch/beside/lumast" "$sample")" = "$scratch/beside/$SONAME" ] ||
    fail "lumast did not load the library beside it"
}

case_python() {
  # The module finds the library of its own prefix: no search path, no QORVEX_LIBRARY.
  local site=$PREFIX/$PYTHONDIR
  local -a python=(env -u LD_LIBRARY_PATH -u QORVEX_LIBRARY PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 python3 -c
    'import sys, qorvex; sys.stdout.write(qorvex.index_line(sys.argv[1]))' "$sample")
  [ -f "$site/qorvex/py.typed" ] || fail "the module's py.typed was not installed"
  [ "$(loaded_engine "${python[@]}")" = "$(readlink -f "$PREFIX/$LIBDIR/$SONAME")" ] ||
    fail "the installed module did not load the installed library"
  [ "$("${python[@]}")" = "$("$PREFIX/$BINDIR/qorvex" index "$sample")" ] || fail "the module's index line"
}

case_desktop() {
  local entry=$PREFIX/$DATADIR/applications/lumast.desktop
  desktop-file-validate "$entry"
  expect_lines "$(cat "$entry")" "Name=ぽてりこ" "Exec=lumast %f" "Icon=lumast"
  grep -q "^GenericName\[ja\]=" "$entry" || fail "no Japanese generic name"
  # The icon the entry names, in every size, as the file names say.
  local icons=$PREFIX/$DATADIR/icons/hicolor
  xmllint --noout "$icons/scalable/apps/lumast.svg"
  local size png
  for size in 16 22 24 32 48 64 128 256; do
    png=$icons/${size}x$size/apps/lumast.png
    [ -f "$png" ] || fail "no $png"
    # PNG: signature, IHDR, then width and height as big-endian 32-bit numbers.
    [ "$(od -An -tx1 -j16 -N8 "$png" | tr -d ' \n')" = "$(printf '%08x%08x' "$size" "$size")" ] ||
      fail "$png is not $size x $size"
  done
}

case_mime() {
  local xml=$PREFIX/$DATADIR/mime/packages/qorvex.xml
  xmllint --noout "$xml"
  mkdir -p "$scratch/data/mime/packages" "$scratch/data/applications" "$scratch/home"
  cp "$xml" "$scratch/data/mime/packages/"
  update-mime-database "$scratch/data/mime"
  cp "$PREFIX/$DATADIR/applications/lumast.desktop" "$scratch/data/applications/"
  update-desktop-database "$scratch/data/applications"
  make_typed_samples "$scratch/files"

  local -a desktop_env=(env -i PATH=/usr/bin:/bin HOME="$scratch/home" XDG_DATA_HOME="$scratch/home"
    XDG_CONFIG_HOME="$scratch/home" XDG_DATA_DIRS="$scratch/data:/usr/share")
  local opened
  opened=$(sed -n 's/^MimeType=//p' "$scratch/data/applications/lumast.desktop" | tr ';' '\n')
  local file type expected
  while read -r file expected; do
    type=$("${desktop_env[@]}" xdg-mime query filetype "$scratch/files/$file")
    [ "$type" = "$expected" ] || fail "$file is $type, not $expected"
    # lumast opens it, and is what the desktop opens it with.
    grep -qxF "$type" <<<"$opened" || fail "the desktop entry does not list $type"
    [ "$("${desktop_env[@]}" xdg-mime query default "$type")" = lumast.desktop ] ||
      fail "lumast is not the application for $type"
  done <<'TYPES'
disc.iso application/x-cd-image
disc.bin application/x-raw-cd-image
rawsectors application/x-raw-cd-image
AUDIO.BIN application/x-raw-cd-image
disc.nrg application/x-nrg
disc.mds application/x-mds
descriptor application/x-mds
disc.mdf application/x-raw-cd-image
disc.cdi application/x-discjuggler-cd-image
disc.ccd application/x-ccd
clonecd application/x-ccd
disc.cue application/x-cue
disc.toc application/x-cdrdao-toc
TYPES
}

case_man() {
  local page warnings
  for page in qorvex lumast; do
    [ "$page" = lumast ] && [ "$HAVE_LUMAST" != 1 ] && continue
    warnings=$(MANWIDTH=80 man -l --warnings "$PREFIX/$MANDIR/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page.1 renders with warnings:"$'\n'"$warnings"
    # "man PAGE" finds it below the prefix.
    [ "$(MANPATH=$PREFIX/$MANDIR man -w "$page")" = "$PREFIX/$MANDIR/man1/$page.1.gz" ] || fail "man -w $page"
  done
  MANWIDTH=80 man -l "$PREFIX/$MANDIR/man1/qorvex.1.gz" 2>/dev/null | grep -q "qorvex $VERSION" ||
    fail "qorvex.1 does not carry version $VERSION"
}

case_completion() {
  make_typed_samples "$scratch/files"
  mkdir -p "$scratch/files/folder"
  touch "$scratch/files/notes.txt"
  [ "$(complete_words qorvex ex | tr '\n' ' ')" = "extract extract-part extract-track " ] ||
    fail "qorvex ex<TAB>: $(complete_words qorvex ex)"
  [ "$(complete_words qorvex ls disc.iso --fs "" | tr '\n' ' ')" = "auto iso joliet rockridge udf " ] ||
    fail "--fs values: $(complete_words qorvex ls disc.iso --fs "")"
  # Images and folders, whatever the case of the extension.
  local images
  images=$(complete_words qorvex --check-edc info "" | tr '\n' ' ')
  [ "$images" = "AUDIO.BIN disc.bin disc.ccd disc.cdi disc.cue disc.iso disc.mdf disc.mds disc.nrg disc.toc folder " ] ||
    fail "image files: $images"
  # Any file after -o.
  complete_words qorvex extract-track disc.iso 1 -o "" | grep -qxF notes.txt || fail "-o FILE does not offer files"
}

# Every command and option "qorvex --help" names is documented in the man page, offered by the completion,
# and every command is in README's command section.
case_docs() {
  make_typed_samples "$scratch/files"
  local manual readme
  manual=$(MANWIDTH=200 man -l "$PREFIX/$MANDIR/man1/qorvex.1.gz" 2>/dev/null)
  readme=$(cat "$SOURCE_DIR/README.md")
  local commands command options option
  commands=$("$CLI" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z-]*\) .*/\1/p')
  [ -n "$commands" ] || fail "no commands in qorvex --help"
  for command in $commands; do
    grep -qE "^ +$command( |$)" <<<"$manual" || fail "qorvex.1 does not describe the command $command"
    grep -qF "qorvex $command " <<<"$readme" || fail "README does not list the command $command"
    complete_words qorvex "${command:0:3}" | grep -qxF "$command" || fail "completion does not offer $command"
    # The options of the usage line and of the option lines ("  -q, --quiet  ...").
    options=$("$CLI" "$command" --help | sed -n -e 's/^Usage: qorvex [a-z-]* //p' -e 's/^  \(-[^ ]*\( --*[a-z-]*\)*\).*/\1/p' |
      grep -oE -- '(^|[[ ])--?[a-z][a-z-]*' | grep -oE -- '--?[a-z][a-z-]*' | sort -u)
    for option in $options; do
      grep -qE -- "(^|[ ,(])$option([ ,=]|$)" <<<"$manual" || fail "qorvex.1 does not describe $command $option"
      complete_words qorvex "$command" disc.iso "${option:0:2}" | grep -qxF -- "$option" ||
        fail "completion does not offer $option after $command"
    done
  done
}

# "--json" prints what qorvex.1 documents: valid JSON with exactly the documented members, and the raw bytes
# of a label that is not UTF-8 beside its replacement text.
case_json() {
  mkdir -p "$scratch/src"
  echo text >"$scratch/src/a.txt"
  genisoimage -quiet -V QORVEXLBL -J -o "$scratch/label.iso" "$scratch/src"
  python3 - "$scratch/label.iso" <<'PATCH'
import sys
path = sys.argv[1]
data = open(path, "rb").read()
open(path, "wb").write(data.replace(b"QORVEXLBL", b"QORVEX\xff\xfe\x80"))
PATCH
  "$CLI" info --json "$sample" >"$scratch/info.json"
  "$CLI" info --json "$scratch/label.iso" >"$scratch/label.json"
  "$CLI" tracks --json "$sample" >"$scratch/tracks.json"
  "$CLI" ls --json "$sample" >"$scratch/ls.json"
  "$CLI" ls --system --long --json "$sample" >"$scratch/parts.json"
  python3 - "$scratch" <<'CHECK'
import json, sys
folder = sys.argv[1]
def load(name):
    with open(f"{folder}/{name}", encoding="utf-8") as f:
        return json.load(f)
def members(objects, required, optional=()):
    assert isinstance(objects, list) and objects, objects
    for o in objects:
        assert set(required) <= o.keys() <= set(required) | set(optional), (sorted(o.keys()), required)
entry = ["name", "type", "fs", "kind", "size", "time", "date", "start", "sectors", "offset", "extent_index",
         "extent_count", "attributes", "directory", "hidden"]
for listing in ("ls.json", "parts.json"):
    members(load(listing), entry, ["name_hex"])
files = {e["name"]: e for e in load("ls.json")}
assert files["\\README.TXT"]["size"] == 35 and files["\\README.TXT"]["date"] == "2001-02-03T04:05:06Z", files
track = ["track", "session", "format", "sectors", "bytes", "default_fs", "file_systems"]
info = load("info.json")
members(info, track)
assert info[0]["default_fs"] == "joliet" and info[0]["sectors"] == 477, info
members(info[0]["file_systems"], ["fs", "label", "files", "system_parts"], ["label_hex"])
assert [f["fs"] for f in info[0]["file_systems"]] == ["iso", "joliet", "udf"], info
iso = load("label.json")[0]["file_systems"][0]
assert iso["fs"] == "iso" and iso["label"] == "QORVEX\ufffd\ufffd\ufffd", iso
assert iso["label_hex"] == "QORVEX".encode().hex() + "fffe80", iso
tracks = load("tracks.json")
members(tracks, ["session", "track", "format", "format_code", "first_held", "start", "end_held", "length",
                 "user_size"])
assert tracks[0]["format"] == "MODE1/2048" and tracks[0]["length"] == 477 and tracks[0]["user_size"] == 2048, tracks
CHECK
}

# The progress line: on a terminal during a long extraction, never with -q, never when stderr is not a terminal.
case_progress() {
  local image=$scratch/large.iso out=$scratch/track.bin
  cp "$sample" "$image"
  truncate -s 256M "$image"
  local start end tty_err
  start=$(date +%s%N)
  tty_err=$(script -qec "$(printf '%q ' "$CLI" extract-track "$image" 1 -o "$out")" /dev/null)
  end=$(date +%s%N)
  rm -f "$out"
  if [[ $tty_err == *%*MiB/s* ]]; then
    # One line, redrawn after each "\r" and ended once ("\r\n" from the terminal, its "\n" cut by $(...)).
    [[ $tty_err == $'\r'* && $tty_err == *$'\r' && $tty_err != *$'\n'* ]] ||
      fail "the progress line is not one redrawn line: $tty_err"
    [[ $tty_err == *"100.0%"* ]] || fail "the progress line does not end at 100%: $tty_err"
  elif (((end - start) / 1000000 > 1000)); then
    fail "no progress line on a terminal in $(((end - start) / 1000000)) ms"
  fi
  local quiet
  quiet=$(script -qec "$(printf '%q ' "$CLI" -q extract-track "$image" 1 -o "$out")" /dev/null)
  rm -f "$out"
  [ -z "$quiet" ] || fail "-q still printed: $quiet"
  "$CLI" extract-track "$image" 1 -o "$out" 2>"$scratch/err"
  [ ! -s "$scratch/err" ] || fail "progress printed to a file: $(cat "$scratch/err")"
}

"case_$1"
