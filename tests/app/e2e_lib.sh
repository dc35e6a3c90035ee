# Helpers shared by the end-to-end scripts of the front end (sourced).
# Needs: BIN (absolute path of cadport), WORK (scratch folder), SOCK (tmux
# socket name).

fails=0
unset TMUX  # a nested tmux would refuse to start from inside a tmux session
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
expect_eq() { [ "$1" = "$2" ] || fail "$3: expected [$2], got [$1]"; }
expect_has() { grep -qF -- "$2" "$1" || { fail "$3: [$2] missing in $1:"; cat -A "$1"; }; }
expect_no_leftovers() {  # expect_no_leftovers <dir> <what>
  local left
  left=$(find "$1" -maxdepth 1 -name '*~*' | head -5)
  [ -z "$left" ] || fail "$2: leftover files: $left"
}
finish() {
  if [ "$fails" -ne 0 ]; then
    echo "$fails check(s) failed"
    exit 1
  fi
  echo "all checks passed"
  exit 0
}

# plain <name> <args...>: runs cadport detached from any terminal, in WORK;
# leaves <name>.out, <name>.err and <name>.rc.
plain() {
  local name=$1; shift
  (cd "$WORK" && setsid -w "$BIN" "$@" > "$name.out" 2> "$name.err" < /dev/null; echo $? > "$name.rc")
}

# tmux_case <name> <args...>: runs cadport in a fresh 80x25 tmux pane in
# WORK; leaves <name>.screen (capture with colours), <name>.cursor (1 when
# the cursor is visible afterwards), <name>.rc and <name>.stdout.
tmux_case() {
  local name=$1; shift
  {
    printf 'cd %q || exit 1\n' "$WORK"
    printf '%q' "$BIN"
    local a
    for a in "$@"; do printf ' %q' "$a"; done
    printf ' > %q\n' "$name.stdout"
    printf 'echo $? > %q; mv %q %q\n' "$name.rc.tmp" "$name.rc.tmp" "$name.rc"
    printf 'printf MARK\nexec sleep 600\n'
  } > "$WORK/$name.run"
  tmux -L "$SOCK" new-session -d -s "$name" -x 80 -y 25 "bash --norc --noprofile $WORK/$name.run"
  local i
  for ((i = 0; i < 1200; i++)); do
    if [ -f "$WORK/$name.rc" ] && tmux -L "$SOCK" capture-pane -p -t "$name" | grep -q MARK; then break; fi
    sleep 0.1
  done
  tmux -L "$SOCK" capture-pane -e -p -t "$name" > "$WORK/$name.screen"
  tmux -L "$SOCK" display -p -t "$name" '#{cursor_flag}' > "$WORK/$name.cursor"
  tmux -L "$SOCK" kill-session -t "$name"
  [ -f "$WORK/$name.rc" ] || echo timeout > "$WORK/$name.rc"
}

# The marker printed after cadport must be in the default colours (only
# resets may precede it) and the cursor must be visible.
check_left_clean() {
  local name=$1
  local line
  line=$(grep MARK "$WORK/$name.screen" | sed -e 's/\x1b\[\(0\|39\|49\|\)m//g')
  case "$line" in
    MARK*) ;;
    *) fail "$name: terminal left coloured: $(printf '%s' "$line" | cat -A)" ;;
  esac
  expect_eq "$(cat "$WORK/$name.cursor")" 1 "$name: cursor visible afterwards"
}
