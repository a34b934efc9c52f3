#!/usr/bin/env bash
# The program as its users meet it, one check a run:
#   cli PROGRAM VERSION        the command line
#   man PROGRAM MANPAGE        the manual page against the program
#   install BUILD_DIR MANPAGE VERSION SOURCE_DIR HARDENED
#                              `cmake --install` and the Debian package
#   session PROGRAM            a calculation typed at a terminal
#   progress PROGRAM           the progress line of --progress at a terminal
#   ends PROGRAM               an alarm, SIGINT and SIGTERM while the progress line shows
# The checks at a terminal need tmux; without it they are skipped (status 77).
# Usage: program_test.sh CHECK ARGS...
set -u
check=$1
shift
prog=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
tmp=$(mktemp -d)
socks=()
trap 'for sock in "${socks[@]}"; do tm kill-server 2>/dev/null; done; rm -rf "$tmp"' EXIT
fail=0
bad() { echo "FAIL $*"; fail=1; }

# run STDIN ARGS...: runs the program, leaving $tmp/out, $tmp/err and $status;
# runs STDIN ARGUMENTS does the same with the string ARGUMENTS split at blanks.
run() {
  printf '%s' "$1" | "$prog" "${@:2}" >"$tmp/out" 2>"$tmp/err"
  status=$?
}
runs() {
  local argv
  read -r -a argv <<<"$2"
  run "$1" "${argv[@]}"
}
# ends STATUS WHAT: the last run ended with STATUS, nothing on standard error.
ends() {
  [ "$status" = "$1" ] || bad "$2: status $status, expected $1"
  [ ! -s "$tmp/err" ] || bad "$2: wrote to standard error: $(cat "$tmp/err")"
}
# same WHAT FILE: the last run ended well with the output FILE holds.
same() {
  ends 0 "$1"
  cmp -s "$2" "$tmp/out" || bad "$1: the output differs from that of $2"
}
# refused WHAT TEXT [REGEX]: the last run ended with status 2, nothing on
# standard output and one line on standard error that holds TEXT and matches
# REGEX, by default the usage line.
refused() {
  [ "$status" = 2 ] && [ ! -s "$tmp/out" ] && [ "$(wc -l <"$tmp/err")" = 1 ] && grep -qF -- "$2" "$tmp/err" &&
    grep -q "${3:-^fixcalc: .*usage: fixcalc }" "$tmp/err" ||
    bad "$1: status $status, $(wc -c <"$tmp/out") bytes out, error '$(cat "$tmp/err")'; expected 2, none, a line with $2"
}

# FILE arguments ("-" for standard input) run the calculator on their
# concatenation (without arguments, on standard input: every case); --help
# and --version answer on standard output; --progress changes nothing when
# standard error is not a terminal; an unknown option, a bad thread count or
# a FILE that cannot be opened is refused in one line with status 2.
check_cli() {
  local version=$2 args named files want
  cd "$tmp" || exit 1
  printf '20\n1\n1' >a
  printf '4\n2\n' >b
  printf '1\n-3\n' >./-x  # 11 with the end of a: A*(-3), status 255
  run $'10\n1\n14\n2\n' --help
  ends 0 --help
  head -1 "$tmp/out" | grep -q '^Usage: fixcalc ' || bad "--help: no usage line first"
  grep -q -- --version "$tmp/out" || bad "--help: does not mention --version"
  ! grep -q 'No: ' "$tmp/out" || bad "--help: ran the calculator"
  for code in $(seq 1 23); do
    grep -Eq "(^| )$code [A-Za-z]" "$tmp/out" || bad "--help: command $code not listed"
  done
  run '' --version
  ends 0 --version
  [ "$(head -1 "$tmp/out")" = "fixcalc $version" ] || bad "--version printed '$(cat "$tmp/out")', not first the line 'fixcalc $version'"
  grep -q '^Copyright (c) [0-9]' "$tmp/out" && grep -q 'MIT licence' "$tmp/out" ||
    bad "--version does not name the copyright and the MIT licence: '$(cat "$tmp/out")'"

  # Not understood: the argument named is the first other than --progress
  # (a bad count, the count); a thread count that is not 1 to 1024.
  for args in -h -v --helpx --HELP '--help extra' '--version --help' '--progress --version' '--progress -q' \
    '--threads 0' '--threads -1' '--threads x' '--threads 1025' '--threads 99999999999999999999' \
    '--threads=' '--threads=2x' '--threads +2' '--progress --threads 0.5' --threads; do
    named=${args#--progress }
    [[ $named != --threads?* ]] || named=${named#--threads[ =]}
    named=${named%% *}
    runs $'10\n1\n14\n2\n' "$args"
    refused "arguments '$args'" "'$named'"
  done
  for named in 0 -2 two ' 2'; do
    FIXCALC_THREADS=$named run $'10\n1\n14\n2\n'
    refused "FIXCALC_THREADS='$named'" "FIXCALC_THREADS '$named'"
    FIXCALC_THREADS=$named run $'10\n1\n14\n2\n' a
    refused "FIXCALC_THREADS='$named' with a FILE" "FIXCALC_THREADS '$named'"
  done

  # The first file ends inside a number, and "EOF met" comes only at the end
  # of the last one; after "--", "-x" is a file.
  for args in a 'a b' 'a - b' '- a b' 'a b -' 'a - - b' 'a -- -x'; do
    read -r -a files <<<"${args/ -- / }"  # for cat, which reads "-" as the program does
    printf '23\n2\n' | cat -- "${files[@]}" | "$prog" >"$tmp/want"
    want=$?
    runs $'23\n2\n' "$args"
    ends "$want" "files '$args'"
    cmp -s "$tmp/out" "$tmp/want" || bad "files '$args': output differs from that of their concatenation"
  done
  mkdir dir
  run $'10\n1\n14\n2\n' a none - dir
  [ "$status" = 2 ] && [ ! -s "$tmp/out" ] || bad "unopenable files: status $status, $(wc -c <"$tmp/out") bytes out"
  printf 'fixcalc: none: No such file or directory\nfixcalc: dir: Is a directory\n' | cmp -s - "$tmp/err" ||
    bad "unopenable files: standard error is '$(cat "$tmp/err")'"

  # The same output for every thread count (--threads N, or FIXCALC_THREADS
  # as the cases set it, the option first) on a script whose long products
  # share their work out (sqrt(2) to 10^5 decimals: transforms of 2^15
  # entries, runs of more than 500 truncated passes).
  local script=$'100000\n11\n16\n2\n2\n22\n-1\n'
  [ -z "${FIXCALC_TEST_EMULATED:-}" ] || script=$'1000\n11\n16\n2\n2\n22\n-1\n'
  printf '%s' "$script" | "$prog" >"$tmp/want"
  for args in '--threads 1' '--threads 2' '--threads=3' '--threads 1024' '--threads 02'; do
    runs "$script" "$args"
    same "$args" "$tmp/want"
  done
  FIXCALC_THREADS='' run "$script"
  same "FIXCALC_THREADS empty" "$tmp/want"
  FIXCALC_THREADS=x run "$script" --threads 1
  same "FIXCALC_THREADS=x with --threads 1" "$tmp/want"

  # FIXCALC_UNITS: a name the build does not hold is refused with a list of
  # those it holds, each of which gives the default's bytes or is refused
  # where the processor lacks the units; an empty value is the default.
  local units_in=$'3000\n11\n14\n12\n10\n3\n15\n2\n' names name
  run "$units_in"
  ends 0 "FIXCALC_UNITS unset"
  cp "$tmp/out" "$tmp/default"
  FIXCALC_UNITS=avx9 run "$units_in"
  refused "FIXCALC_UNITS=avx9" "fixcalc: FIXCALC_UNITS=avx9: no such units (this build has " ')$'
  names=$(sed -n 's/^.*(this build has \(.*\))$/\1/p' "$tmp/err")
  grep -qw plain <<<"$names" || bad "FIXCALC_UNITS: plain is not among the names '$names'"
  for name in $names ''; do
    FIXCALC_UNITS=$name run "$units_in"
    if [ "$status" = 0 ]; then
      same "FIXCALC_UNITS=$name" "$tmp/default"
    else
      refused "FIXCALC_UNITS=$name" "fixcalc: FIXCALC_UNITS=$name: the processor lacks these units" 'units$'
    fi
  done

  # A command of more than a second, beside the same without --progress
  # (under an emulator, 10^4 decimals took 14 s and 3 10^4 130 s).
  local long=$'30000\n20\n17\n163\n2\n22\n-1\n'
  [ -z "${FIXCALC_TEST_EMULATED:-}" ] || long=$'10000\n20\n17\n163\n2\n22\n-1\n'
  printf '%s' "$long" | "$prog" >"$tmp/want" &
  run "$long" --progress
  wait
  same "--progress" "$tmp/want"
}

# The manual renders without warnings, has the usual sections, and lists in
# COMMANDS each command with the line the program echoes for it.
check_man() {
  local page=$2 warnings text section documented echoed names name
  command -v groff >/dev/null || { echo "FAIL groff is not installed (scripts/setup.sh installs groff-base)"; exit 1; }
  warnings=$(groff -man -Tutf8 -ww "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || bad "groff warns about $page:"$'\n'"$warnings"
  text=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)
  for section in NAME SYNOPSIS DESCRIPTION COMMANDS NUMBERS OUTPUT ENVIRONMENT 'EXIT STATUS' EXAMPLES; do
    grep -qx "$section" <<<"$text" || bad "no section $section"
  done
  # Every name of units that the build holds, as the refusal of another lists them.
  names=$(printf '' | FIXCALC_UNITS=- "$prog" 2>&1 | sed -n 's/.*(this build has \(.*\))$/\1/p')
  [ -n "$names" ] || bad "no list of units in the refusal of FIXCALC_UNITS=-"
  for name in $names; do
    grep -qw -- "$name" <<<"$text" || bad "the manual does not name the units $name"
  done
  # The tags of COMMANDS as rendered; codes outside 1 to 23 echo only their number.
  documented=$(echo "No: 0"
               awk '/^COMMANDS$/ { on = 1; next } /^[A-Z]/ { on = 0 }
                    on && /^ +No: / { sub(/^ +/, ""); print }' <<<"$text"
               echo "No: 24")
  echoed=$(for code in $(seq 0 24); do printf '0\n1\n%d\n' "$code" | "$prog" | grep '^No: '; done)
  [ "$(cut -d' ' -f2 <<<"$echoed")" = "$(seq 0 24)" ] || bad "the program does not echo each code 0 to 24 once"
  [ "$documented" = "$echoed" ] ||
    bad "the manual's COMMANDS differ from the program's echoes (- manual, + program):"$'\n'"$(diff <(echo "$documented") <(echo "$echoed"))"
}

# The program, the compressed manual page, the licence and the changelog
# installed in a fresh prefix where a shell and man find them; a Debian
# package of the same under /usr that depends on GMP and that lintian accepts
# without an error or a warning (when HARDENED is 1, without a note on
# hardening). All of them, and CHANGELOG.md, of the project's VERSION.
check_install() {
  local build=$1 page=$2 version=$3 source=$4 hardened=$5 log deb newest status
  # holds ROOT PREFIX WHAT: only the program, which computes and tells its
  # version, the manual, the licence and the changelog.
  holds() {
    local files doc=$1/$2share/doc/fixcalc
    files=$(cd "$1" && find . -type f | sort)
    [ "$files" = "$(printf './%s\n' "$2bin/fixcalc" "$2share/doc/fixcalc/changelog.gz" \
                      "$2share/doc/fixcalc/copyright" "$2share/man/man1/fixcalc.1.gz")" ] ||
      bad "$3 holds other files than the program, its manual page, licence and changelog:"$'\n'"$files"
    printf '0\n1\n1\n7\n2\n-1\n' | "$1/$2bin/fixcalc" | grep -qx '          7 ' || bad "$3: the program does not compute"
    [ "$("$1/$2bin/fixcalc" --version | head -1)" = "fixcalc $version" ] || bad "$3: the program is not version $version"
    gzip -dc "$1/$2share/man/man1/fixcalc.1.gz" >"$tmp/page"
    cmp -s "$tmp/page" "$page" && head -1 "$page" | grep -q "^\.TH FIXCALC 1 [-0-9]* \"fixcalc $version\" " ||
      bad "$3: the manual page is not $page of version $version"
    # The changelog in the format dpkg reads, newest entry first.
    gzip -dc "$doc/changelog.gz" >"$tmp/changelog" &&
      [ "$(dpkg-parsechangelog -l "$tmp/changelog" -S Version 2>&1)" = "$version" ] ||
      bad "$3: the changelog's newest entry is not version $version:"$'\n'"$(head -3 "$tmp/changelog")"
    # The licence's text as LICENSE has it, below its title and copyright line.
    grep -qx 'License: Expat' "$doc/copyright" &&
      grep -qx "Copyright: $(sed -n 's/^Copyright (c) //p' "$source/LICENSE")" "$doc/copyright" &&
      sed -n 's/^ //p' "$doc/copyright" | sed 's/^\.$//' | cmp -s - <(tail -n +5 "$source/LICENSE") ||
      bad "$3: the copyright file does not hold the MIT (Expat) licence of LICENSE"
  }
  newest=$(sed -n 's/^## \([^ ]*\) (.*/\1/p' "$source/CHANGELOG.md" | head -1)
  [ "$newest" = "$version" ] || bad "the newest version in CHANGELOG.md is '$newest', not the project's $version"
  log=$(cmake --install "$build" --prefix "$tmp/prefix" 2>&1) || { echo "FAIL cmake --install:"$'\n'"$log"; exit 1; }
  holds "$tmp/prefix" "" "the installation"
  if command -v man >/dev/null &&
    [ "$(man -M "$tmp/prefix/share/man" -w fixcalc 2>/dev/null)" != "$tmp/prefix/share/man/man1/fixcalc.1.gz" ]; then
    bad "man -M PREFIX/share/man does not find fixcalc(1)"
  fi
  command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null ||
    { echo "FAIL dpkg-dev is not installed (scripts/setup.sh installs it)"; exit 1; }
  log=$(cd "$build" && cpack -G DEB -B "$tmp/package" 2>&1) || { echo "FAIL cpack -G DEB:"$'\n'"$log"; exit 1; }
  deb=$(echo "$tmp"/package/fixcalc_*.deb)
  [ -f "$deb" ] || { echo "FAIL no package in $tmp/package: $(ls "$tmp/package")"; exit 1; }
  dpkg-deb -x "$deb" "$tmp/unpacked"
  holds "$tmp/unpacked" usr/ "the package"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || bad "the package is version $(dpkg-deb -f "$deb" Version), not $version"
  grep -Eq '(^|, )libgmp10( |,|$)' <<<"$(dpkg-deb -f "$deb" Depends)" || bad "the package does not depend on libgmp10"
  [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] && [ -n "$(dpkg-deb -f "$deb" Description)" ] ||
    bad "the package has no Maintainer or no Description"
  if command -v lintian >/dev/null; then
    # lintian warns on standard error when run as root; its findings are on standard output.
    log=$(lintian -I --fail-on error,warning "$deb" 2>"$tmp/lintian.err")
    status=$?
    [ $status = 0 ] && { [ "$hardened" != 1 ] || ! grep -q ': hardening-' <<<"$log"; } ||
      bad "lintian (status $status) finds fault with the package:"$'\n'"$log"$'\n'"$(cat "$tmp/lintian.err")"
  else
    echo "lintian is not installed (scripts/setup.sh installs it): the package is not checked by it"
  fi
}

# At a terminal: the program runs in a tmux pane, on a server of its own.
tm() { tmux -S "$sock" -f /dev/null "$@"; }
# The pane's text, history included, without trailing blanks, trailing empty
# lines, or the line tmux adds when the program has ended.
screen() {
  tm capture-pane -p -S - -t calc | sed -e 's/ *$//' -e '/^Pane is dead/d' | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'
}
fail_with() {
  echo "FAIL ($how) $1"$'\n'"--- screen ---"$'\n'"$(screen)"$'\n'"--------------"
  exit 1
}
# pane DESCRIPTION SCRIPT [ARGS...]: runs the shell commands SCRIPT in a fresh
# pane, with the program as $0, $1 the file for its exit status, ARGS from $2.
# The tmux server may outlive this script: a program that spins for ever is
# stopped after five minutes of processor time.
pane() {
  how=$1 seen=''
  rm -f "$tmp/status"
  sock=$tmp/tmux-${#socks[@]}
  socks+=("$sock")
  tm start-server \; set-option -g remain-on-exit on \; new-session -d -s calc -x 100 -y 60 \
    bash -c "ulimit -t 300; $2" "$prog" "$tmp/status" "${@:3}" || fail_with "tmux could not start the program"
}
# waits SECONDS COMMAND...: waits up to SECONDS for COMMAND to succeed.
waits() {
  local end=$((SECONDS + $1))
  until "${@:2}"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.05
  done
}
shows() { [ "$(screen)" = "$1" ]; }
# The screen shows at last what the program writes without --progress.
shows_plain() {
  waits 10 shows "$(sed 's/ *$//' "$tmp/plain.out")" ||
    fail_with "the screen at the end is not the output without --progress (- without, + screen):"$'\n'"$(diff "$tmp/plain.out" <(screen))"
}
# Waits up to SECONDS for the program to end with STATUS (default 0), as the
# shell that ran it says: tmux does not always know it when the pane has died.
ends_well() {
  waits "$1" test -s "$tmp/status" || fail_with "the program did not end"
  [ "$(cat "$tmp/status")" = "${2:-0}" ] || fail_with "exit status $(cat "$tmp/status"), expected ${2:-0}"
}

# type_line TEXT SHOWN: types TEXT and Enter, then waits until the screen
# shows what was there, then SHOWN (the rest of the echoed line, the answer).
type_line() {
  seen+=$2
  tm send-keys -t calc -l -- "$1"
  tm send-keys -t calc Enter
  waits 10 shows "$seen" ||
    fail_with "after typing '$1' the screen is not as expected (- expected, + screen):"$'\n'"$(diff <(echo "$seen") <(screen))"
}

# Before each line is typed the screen shows the echo and result of the
# previous one: with the output on the terminal, piped through another program
# (where only the program's own flushing shows the echoes in time), and after
# a file holding the precision pair.
session() {
  pane "$@"
  sleep 0.2
  if [ $# -gt 2 ]; then
    seen=$'\nD: 20\nE: 1'
  else
    [ -z "$(screen)" ] || fail_with "the program printed something before any input"
    type_line 20 '20'
    type_line 1 $'\n1\n\nD: 20\nE: 1'
  fi
  type_line 14 $'\n\n14\nNo: 14 A := PI;'
  type_line 2 $'\n\n2\nNo: 2 write(A);\n          3.14159 26535 89793 23847'
  type_line 1 $'\n\n1\nNo: 1 A := r;'  # the echo shows before the argument is typed
  type_line 2.5 $'2.5\n\nr := 2.5'
  type_line 11 $'\n\n11\nNo: 11 A := A*r;'
  type_line 4 $'4\n\nr := 4'
  type_line 2 $'\n\n2\nNo: 2 write(A);\n         10.00000 00000 00000 00000'
  type_line 22 $'\n\n22\nNo: 22 stop'
  type_line -1 '-1'
  ends_well 10
}
check_session() {
  printf '20\n1\n' >"$tmp/pair.in"
  session "output on the terminal" '"$0"; echo $? >"$1"'
  session "output piped" 'set -o pipefail; "$0" | cat; echo $? >"$1"'
  session "a file, then the terminal" '"$0" --progress "$2" -; echo $? >"$1"' "$tmp/pair.in"
}

# logged_pane DESCRIPTION SCRIPT [ARGS...]: pane, with every byte the program
# writes to the terminal kept in $tmp/log. SCRIPT starts once the log is open.
logged_pane() {
  : >"$tmp/log"
  rm -f "$tmp/status.go"
  pane "$1" 'until [ -e "$1.go" ]; do sleep 0.05; done; '"$2" "${@:3}"
  tm pipe-pane -O -t calc "cat >>'$tmp/log'" || fail_with "tmux could not log the pane"
  touch "$tmp/status.go"
}
# first_drawn PATTERN LINE: replays in a fresh pane the log up to the end
# (ESC [ K, ESC 8) of the first progress line holding PATTERN, and waits until
# its last line matches the regular expression LINE: the same check however
# long the line stayed.
first_drawn() {
  python3 - "$tmp/log" "$tmp/replay" "$1" <<'PY' || fail_with "no progress line holding '$1' was drawn"
import sys
log = open(sys.argv[1], "rb").read()
at = log.find(sys.argv[3].encode())
end = log.find(b"\x1b[K\x1b8", at) if at >= 0 else -1
if end < 0:
    sys.exit(1)
open(sys.argv[2], "wb").write(log[: end + 5])
PY
  pane "$how (replayed)" 'cat "$2"; exec sleep 300' "$tmp/replay"
  last_line() { [[ $(screen | tail -1) =~ $1 ]]; }
  waits 10 last_line "$2" || fail_with "the progress line is not the last line on the screen"
}

# --progress on command 17, drawn at once (FIXCALC_PROGRESS_DELAY=0): the
# exponential's terms show on the last line, right below the echo of the
# argument, and at the end the screen shows the output without the option.
# With the output in a file the progress line is all there is, and it goes
# after the command.
check_progress() {
  local how plain line='^No: 17 A := exp\(PI\*sqrt\(r\)\);  exp term [0-9]+ of ~[0-9]+ \([0-9]+%\)  [0-9]+ s$'
  printf '20000\n20\n17\n163\n22\n-1\n' >"$tmp/long.in"
  "$prog" <"$tmp/long.in" >"$tmp/plain.out" &
  plain=$!
  logged_pane "--progress" 'FIXCALC_PROGRESS_DELAY=0 "$0" --progress "$2"; echo $? >"$1"' "$tmp/long.in"
  ends_well 60
  wait $plain || fail_with "without --progress the program ended with status $?"
  # tmux may show the end of the output a moment after the program has ended.
  shows_plain
  waits 10 grep -q 'No: 22' "$tmp/log" || fail_with "the log of the terminal is incomplete"
  first_drawn 'exp term' "$line"
  [ "$(screen | tail -2 | head -1)" = "r := 163" ] || fail_with "the progress line is not right below the output"

  head -4 "$tmp/long.in" >"$tmp/open.in"
  logged_pane "--progress, output in a file" \
    'FIXCALC_PROGRESS_DELAY=0 "$0" --progress "$2" - >"$1.out"; echo $? >"$1"' "$tmp/open.in"
  waits 60 grep -q 'exp term' "$tmp/log" || fail_with "no progress line while command 17 ran"
  waits 60 shows '' || fail_with "the progress line stays after the command"
  [ ! -s "$tmp/status" ] || fail_with "the program did not wait for the terminal"
  tm send-keys -t calc -l -- $'22\n-1\n'
  ends_well 10
  cmp -s "$tmp/status.out" "$tmp/plain.out" || fail_with "the output differs from that without --progress"
  first_drawn 'exp term' "$line"
  [ "$(screen | grep -c .)" = 1 ] || fail_with "more than the progress line on the screen"
}

# The ends of a program whose progress line shows, each leaving the screen as
# without the option: an alarm (status 255); Ctrl-C and SIGTERM erase the
# line and die of the signal (130, 143), an ignored SIGINT stays ignored. The
# program is held there by its output, a pipe nobody reads.
check_ends() {
  local how held='^No: 2 write\(A\);  [0-9]+ s$'
  printf '20000\n10\n16\n163\n' >"$tmp/alarm.in"  # E too small for the passes
  "$prog" <"$tmp/alarm.in" >"$tmp/plain.out"
  [ $? = 255 ] || { echo "FAIL $tmp/alarm.in does not end with an alarm"; exit 1; }
  logged_pane "an alarm" 'FIXCALC_PROGRESS_DELAY=0 "$0" --progress "$2"; echo $? >"$1"' "$tmp/alarm.in"
  ends_well 60 255
  shows_plain
  waits 10 grep -q 'sqrt pass' "$tmp/log" || fail_with "no progress line was drawn before the alarm"

  printf '200000\n1\n2\n' >"$tmp/big.in"  # 240 kB of zeros: more than a pipe holds
  held() { [ "$(screen | grep -c .)" = 1 ] && [[ $(screen | tail -1) =~ $held ]]; }
  mkfifo "$tmp/status.fifo"
  pane "Ctrl-C" 'stty -echoctl; trap : INT; exec 3<>"$1.fifo"
    FIXCALC_PROGRESS_DELAY=0 "$0" --progress "$2" >"$1.fifo"; echo $? >"$1"' "$tmp/big.in"
  waits 30 held || fail_with "no progress line while the output was held"
  tm send-keys -t calc C-c
  ends_well 10 130
  waits 10 shows '' || fail_with "the progress line stays after the program"

  pane "SIGTERM, SIGINT ignored" 'exec 3<>"$1.fifo"
    FIXCALC_PROGRESS_DELAY=0 "$0" --progress "$2" >"$1.fifo" & echo $! >"$1.pid"; wait $!; echo $? >"$1"' "$tmp/big.in"
  waits 30 held || fail_with "no progress line while the output was held"
  waits 10 test -s "$tmp/status.pid" || fail_with "the shell did not say which process the program is"
  kill -INT "$(cat "$tmp/status.pid")"  # ignored: the shell started it in the background
  kill -TERM "$(cat "$tmp/status.pid")"
  ends_well 10 143
  waits 10 shows '' || fail_with "the progress line stays after the program"
}

case $check in
  session | progress | ends)
    command -v tmux >/dev/null || { echo "SKIP: tmux is not installed (scripts/setup.sh installs it)"; exit 77; }
    unset TMUX ;;
esac
"check_$check" "$@"
exit $fail
