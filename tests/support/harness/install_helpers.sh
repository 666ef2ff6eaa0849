# Shell helpers of the install test (tests/install/install_test.sh), sourced after it has set $scratch (a
# private scratch folder), $sample and the build's variables (PREFIX, DATADIR, ...).

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# expect_lines OUTPUT LINE...: every LINE is a line of OUTPUT.
expect_lines() {
  local output=$1 line
  shift
  for line in "$@"; do
    grep -qxF -- "$line" <<<"$output" || fail "missing line \"$line\" in:"$'\n'"$output"
  done
}

# The engine library a program loads (LD_DEBUG), as a real path; the program is stopped once it has (lumast
# would run on), or after 20 seconds.
loaded_engine() {
  local log=$scratch/ld.$RANDOM file="" pid tries
  LD_DEBUG=files LD_DEBUG_OUTPUT=$log "$@" >/dev/null 2>&1 &
  pid=$!
  for ((tries = 0; tries < 200; tries++)); do
    file=$(sed -n 's/.*calling init: \(.*libqorvex\.so\.[0-9]*\)$/\1/p' "$log".* 2>/dev/null | head -n1)
    [ -n "$file" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # The program may have ended between the last look and the liveness check: look once more.
  [ -n "$file" ] || file=$(sed -n 's/.*calling init: \(.*libqorvex\.so\.[0-9]*\)$/\1/p' "$log".* 2>/dev/null | head -n1)
  rm -f "$log".*
  [ -n "$file" ] && readlink -f "$file"
}

# Sample files of every type lumast opens, and of the types the MIME file adds, made here.
make_typed_samples() {
  local dir=$1
  mkdir -p "$dir"
  cp "$sample" "$dir/disc.iso"
  printf '\0\377\377\377\377\377\377\377\377\377\377\0\0\2\0\1' >"$dir/disc.bin"
  cp "$dir/disc.bin" "$dir/rawsectors"            # magic only
  head -c 2352 /dev/zero >"$dir/AUDIO.BIN"        # no magic: the name alone
  head -c 4096 /dev/zero >"$dir/disc.nrg"
  printf 'MEDIA DESCRIPTOR\1\5' >"$dir/disc.mds"
  cp "$dir/disc.mds" "$dir/descriptor"
  head -c 4096 /dev/zero >"$dir/disc.mdf"
  head -c 4096 /dev/zero >"$dir/disc.cdi"
  printf '[CloneCD]\r\nVersion=3\r\n' >"$dir/disc.ccd"
  cp "$dir/disc.ccd" "$dir/clonecd"
  printf 'FILE "disc.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n' >"$dir/disc.cue"
  printf 'CD_ROM\n\nTRACK MODE1_RAW\nDATAFILE "disc.bin"\n' >"$dir/disc.toc"
}

# complete WORDS...: the completions bash offers for the last word, one a line, sorted, run in the folder
# "$scratch/files"; with bash-completion loaded as an interactive shell has it.
complete_words() {
  (cd "$scratch/files" && bash --norc --noprofile -c '
    [ -f /usr/share/bash-completion/bash_completion ] && . /usr/share/bash-completion/bash_completion
    . "$0"
    complete -p qorvex >/dev/null || exit 1
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _qorvex qorvex "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}"' "$PREFIX/$DATADIR/bash-completion/completions/qorvex" "$@" | sort)
}
