#!/bin/bash
# End-to-end checks of a conversion with the real cadport binary: what the
# user sees (plain and on a terminal), exit statuses, and that an existing
# set survives every failure (unreadable drawing, write failure, signals)
# with no backup or temporary file left behind.
set -u
BIN=$(realpath "${1:?usage: conversion_e2e.sh <cadport binary>}")
DATA=$(realpath "$(dirname "$0")/../data/app")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/cadport_conv.XXXXXX")
SOCK="cadport-conv-$$"
PY=/usr/bin/python3
holder=
cleanup() {
  [ -n "$holder" ] && kill "$holder" 2>/dev/null
  tmux -L "$SOCK" kill-server >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT
. "$(dirname "$0")/e2e_lib.sh"
cd "$WORK" || exit 1

old_set() {  # old_set <base>: a set whose bytes are checked afterwards
  local e
  for e in shp shx dbf; do printf 'old %s' "$e" > "$1.$e"; done
}
expect_old_set() {  # expect_old_set <base> <what>
  local e
  for e in shp shx dbf; do
    printf 'old %s' "$e" | cmp -s - "$1.$e" || fail "$2: $1.$e was changed"
  done
}

cp "$DATA/mixed.dxf" a.dxf
cp "$DATA/garbage.dxf" bad.dxf
cp "$DATA/empty.dxf" empty.dxf
# 3000 lines: a main file of about 260 KB.
awk 'BEGIN { print "0\nSECTION\n2\nENTITIES"
             for (i = 0; i < 3000; i++) printf "0\nLINE\n8\n0\n10\n%d\n20\n0\n11\n%d\n21\n1\n", i, i
             print "0\nENDSEC\n0\nEOF" }' > lines.dxf

# --- Plain output. --------------------------------------------------------
plain ok a
expect_eq "$(cat ok.rc)" 0 "cadport a"
expect_has ok.out "Creating  »»  $WORK/a.shp" "target line with the absolute path"
expect_has ok.out "Done" "Done"
expect_has ok.out "Skipped 2 points (a shapefile holds one kind)" "skipped kinds"
for e in shp shx dbf; do [ -f "a.$e" ] || fail "a.$e not written"; done
count=$($PY -c 'import shapefile,sys; print(len(shapefile.Reader(sys.argv[1])))' a.shp 2>&1)
expect_eq "$count" 2 "pyshp reads the records"
if command -v ogrinfo >/dev/null; then
  ogr=$(ogrinfo -ro -so -al a.shp 2>/dev/null | sed -n 's/^Feature Count: //p')
  expect_eq "$ogr" 2 "ogrinfo reads the records"
fi
expect_no_leftovers "$WORK" "cadport a"

old_set b
plain over -O a b
expect_eq "$(cat over.rc)" 0 "cadport -O a b"
expect_has over.out "Overwriting   »»  $WORK/b.shp" "overwrite verb with three blanks"
printf 'old shp' | cmp -s - b.shp && fail "b.shp not overwritten"
expect_no_leftovers "$WORK" "overwrite"

old_set c
plain bad -o bad c
expect_eq "$(cat bad.rc)" 1 "unreadable drawing"
expect_has bad.out "Error while converting" "error line"
expect_has bad.out "Failed" "Failed on the bar line"
expect_has bad.err "Exception EGIS_Exception in module cadport at 00000000." "uncaught-error report"
expect_has bad.err "bad.dxf" "report names the drawing"
expect_old_set c "unreadable drawing"
expect_no_leftovers "$WORK" "unreadable drawing"

old_set e
plain empty -o empty e
expect_eq "$(cat empty.rc)" 1 "drawing without shapes"
expect_has empty.out "Nothing to convert" "nothing to convert"
expect_eq "$(cat empty.err)" "" "no report for an empty drawing"
expect_old_set e "drawing without shapes"

old_set w
(ulimit -f 64; plain full -o lines w)
expect_eq "$(cat full.rc)" 1 "write failure"
expect_has full.out "Error while converting" "write failure error line"
expect_old_set w "write failure"
expect_no_leftovers "$WORK" "write failure"

# --- Signals. ---------------------------------------------------------------
# cadport's standard output is a FIFO whose buffer is already full, so its
# first write (the banner) blocks; the signal arrives while it waits, and
# the run must then end at its first progress point.
blocked_in_write() {  # blocked_in_write <pid>
  local i
  for ((i = 0; i < 600; i++)); do
    grep -q pipe_write "/proc/$1/wchan" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}
if [ ! -r /proc/self/wchan ]; then
  echo "no /proc/<pid>/wchan: signal checks skipped"
else
  for sig in TERM INT HUP; do
    case $sig in TERM) want=143 ;; INT) want=130 ;; HUP) want=129 ;; esac
    old_set "s$sig"
    rm -f fifo && mkfifo fifo
    exec 3<>fifo
    head -c 65536 /dev/zero >&3 2>/dev/null
    # TERM=dumb: plain output even when the tests run on a terminal.
    TERM=dumb "$BIN" -o lines "s$sig" > fifo 2> "s$sig.err" < /dev/null 3>&- &
    pid=$!
    if ! blocked_in_write $pid; then
      fail "SIG$sig: cadport never blocked in its first write"
    fi
    kill -$sig $pid
    tr -d '\0' < fifo > "s$sig.out" 3>&- &
    reader=$!
    wait $pid
    rc=$?
    exec 3>&-
    wait $reader 2>/dev/null
    expect_eq "$rc" "$want" "SIG$sig exit status"
    expect_has "s$sig.out" "Failed" "SIG$sig ends through the error path"
    expect_old_set "s$sig" "SIG$sig"
    expect_no_leftovers "$WORK" "SIG$sig"
  done

  # A second signal ends the program at once, even while it is stuck.
  rm -f fifo && mkfifo fifo
  exec 3<>fifo
  head -c 65536 /dev/zero >&3 2>/dev/null
  TERM=dumb "$BIN" -o lines twice > fifo 2> /dev/null < /dev/null 3>&- &
  pid=$!
  blocked_in_write $pid || fail "second signal: cadport never blocked"
  kill -TERM $pid
  sleep 0.2
  kill -INT $pid
  wait $pid
  rc=$?
  exec 3>&-
  case $rc in 130 | 143) ;; *) fail "second signal: exit status $rc" ;; esac
fi

# --- On a terminal. ------------------------------------------------------------
if command -v tmux >/dev/null; then
  tmux_case tok -o a t
  expect_eq "$(cat tok.rc)" 0 "terminal: conversion"
  expect_has tok.screen "Creating  »»  $WORK/t.shp" "terminal: target line"
  expect_has tok.screen "Done" "terminal: Done"
  expect_has tok.screen "Skipped 2 points" "terminal: skipped line"
  check_left_clean tok

  old_set tb
  tmux_case tbad -o bad tb
  expect_eq "$(cat tbad.rc)" 1 "terminal: unreadable drawing"
  expect_has tbad.screen $'\x1b[34m\x1b[43mError while converting' "terminal: error line"
  expect_has tbad.screen "Failed" "terminal: Failed"
  expect_has tbad.screen "Exception EGIS_Exception in module cadport at 00000000." "terminal: report"
  # The report stands below the error line, never over it.
  order=$(grep -n -e "Error while converting" -e "Exception EGIS" tbad.screen | cut -d: -f1 | tr '\n' ' ')
  set -- $order
  [ $# -eq 2 ] && [ "$1" -lt "$2" ] || fail "terminal: report not below the error line ($order)"
  check_left_clean tbad
  expect_old_set tb "terminal: unreadable drawing"
fi
finish
