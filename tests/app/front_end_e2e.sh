#!/bin/bash
# End-to-end checks of the cadport front end: the real binary without a
# terminal (plain output) and on a terminal (tmux), for the banner colours,
# the usage text, the refusals and their exit statuses, and a terminal left
# with a visible cursor and default colours.
set -u
BIN=$(realpath "${1:?usage: front_end_e2e.sh <cadport binary>}")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/cadport_fe.XXXXXX")
SOCK="cadport-fe-$$"
cleanup() {
  tmux -L "$SOCK" kill-server >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT
. "$(dirname "$0")/e2e_lib.sh"

cd "$WORK" || exit 1
printf '0\nEOF\n' > a.dxf
: > taken.shp

# --- Without a terminal: plain lines on standard output. -----------------
plain usage
expect_eq "$(cat usage.rc)" 2 "no argument"
expect_has usage.out "    cadport [-o]  <dxffile> [shapefile]" "usage text"
expect_has usage.out "               DXF to SHP converter v1.0                     " "banner"
if grep -q $'\x1b' usage.out; then fail "plain output holds escape sequences"; fi
if grep -q $'\r' usage.out; then fail "plain output holds carriage returns"; fi
plain help --help
expect_eq "$(cat help.rc)" 0 "--help"
expect_has help.out "Usage:" "--help shows usage"
plain lone -o
expect_eq "$(cat lone.rc)" 2 "lone -o"
expect_has lone.out "Usage:" "lone -o shows usage"
plain four a b c d
expect_eq "$(cat four.rc)" 2 "four arguments"
plain missing nothere
expect_eq "$(cat missing.rc)" 2 "missing input"
expect_has missing.out "File not found: nothere.dxf" "missing input message"
plain taken a taken
expect_eq "$(cat taken.rc)" 2 "existing shapefile"
expect_has taken.out "Can't overwrite: taken.shp" "refusal message"
expect_eq "$(cat taken.err)" "" "nothing on standard error"
[ -s taken.shp ] && fail "the refused target was touched"

# --- On a terminal (tmux). ---------------------------------------------------
if ! command -v tmux >/dev/null; then
  echo "tmux missing: terminal checks skipped"
else
  tmux_case tusage
  expect_eq "$(cat tusage.rc)" 2 "terminal: no argument"
  expect_has tusage.screen $'\x1b[32m               DXF to SHP converter v1.0' "title in green"
  expect_has tusage.screen $'\x1b[36m               ' "contact line in cyan"
  expect_has tusage.screen "Usage:" "usage on the terminal"
  expect_eq "$(cat tusage.stdout)" "" "terminal: standard output stays empty"
  check_left_clean tusage

  tmux_case ttaken a taken
  expect_eq "$(cat ttaken.rc)" 2 "terminal: existing shapefile"
  expect_has ttaken.screen $'\x1b[34m\x1b[43mCan\'t overwrite: taken.shp' "error line blue on brown"
  check_left_clean ttaken

  tmux_case thelp -h
  expect_eq "$(cat thelp.rc)" 0 "terminal: -h"
  check_left_clean thelp
fi
finish
